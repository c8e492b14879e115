#pragma once

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a byte to read on the returned descriptor, so that the
// program's own event loop can close its window the ordinary way and save what it keeps. Returns
// -1 when the descriptor cannot be made (the signals then keep their default effect).
int WatchTerminationSignals();

}  // namespace platform
