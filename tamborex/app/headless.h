#pragma once

#include "platform/command_line.h"

class CSession;

// `tamborex --headless`: the bank in the working folder played with no window system at all.
// Messages go to standard error; SIGTERM, SIGINT and SIGHUP save the bank as Quit does. The exit
// status: 1 when what had to be written at the end could not be.
int RunHeadless(int argc, char** argv, const platform::CommandLine& line);

// The same run on a session made by the caller, inside a QCoreApplication that exists already.
int RunHeadlessSession(CSession& session);
