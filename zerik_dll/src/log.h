// The library log and the silent trace sink.
#pragma once

#include <string>

namespace zerik {

// Stamps the line with the local time, sends it to the debugger output and
// appends it to the log file. Returns 0 whatever happens.
int LibraryLog(const char* format, ...);

// Takes short user notices and discards them.
void Trace(const char* format, ...);

// Where the log file is: ZERIK_LOG, else
// ${XDG_STATE_HOME:-$HOME/.local/state}/zerik/zerik_dll.log.
std::string LogFilePath();

// Closes the log file so that the next line opens the path anew (tests
// point ZERIK_LOG elsewhere between cases).
void ReopenLogFile();

}  // namespace zerik
