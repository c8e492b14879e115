#pragma once

#include "platform/command_line.h"

// `tamborex --headless`: the bank in the working folder played with no window system at all.
// Messages go to standard error; SIGTERM, SIGINT and SIGHUP save the bank as Quit does. Under a
// session manager (NSM_URL) the session is opened, saved and ended by it. The exit status.
int RunHeadless(int argc, char** argv, const platform::CommandLine& line);
