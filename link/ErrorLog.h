#pragma once
// The error log: errorlog.txt in the start directory, one time-stamped line per
// event, appended and closed at once so that others may read it between entries.

#include <ctime>
#include <functional>
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
// Czech texts must already be code page 1250 (see Cp1250.h). The file is
// never opened through a symbolic link: when errorlog.txt is one (or cannot
// be opened at all), the line goes to standard error instead, after one line
// that says why.
void AppendErrorLog(const std::string& message);

// A failure somebody must act on (a result file that could not be written):
// the log line as AppendErrorLog writes it, and the same text on standard
// error, so that a service's journal shows it too.
void ReportErrorLog(const std::string& message);

// How standard error is written: the program passes its own writer (the
// journal's priorities), with `failure` true for ReportErrorLog's lines and
// false for log lines that could not go to the file. The text is UTF-8. By
// default (and after a null writer) the line is written to stderr as it is.
using StandardErrorWriter = std::function<void(bool failure, const std::string& utf8Line)>;
void SetStandardErrorWriter(StandardErrorWriter writer);
