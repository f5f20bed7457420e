#pragma once
// The error log: errorlog.txt in the start directory, one time-stamped line per
// event, appended and closed at once so that others may read it between entries.

#include <ctime>
#include <string>

// The process's current directory at start-up: base of the request, output,
// status and error-log files. Set once by the program entry (and by tests).
void SetStartDirectory(const std::string& directory);
const std::string& StartDirectory();

// StartDirectory() + "/errorlog.txt".
std::string ErrorLogPath();

// "%02d/%02d/%04d %02d:%02d:%02d - %s" followed by CR LF.
std::string FormatErrorLogLine(const std::tm& localTime, const std::string& message);

// Appends one line with the local time. The message is written byte for byte:
// Czech texts must already be code page 1250 (see Cp1250.h). A file that cannot
// be opened drops the entry silently.
void AppendErrorLog(const std::string& message);
