#pragma once

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a byte to read on the returned descriptor, so that the
// program's own event loop can close its window the ordinary way and save what it keeps. Returns
// -1 when the descriptor cannot be made (the signals then keep their default effect).
int WatchTerminationSignals();

// Reads the bytes waiting on that descriptor, so a watcher of it is told of a signal once.
void AcknowledgeTerminationSignals(int fd);

}  // namespace platform
