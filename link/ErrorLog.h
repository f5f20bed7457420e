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

// How much a log line asks of a person, as syslog priorities: Error, a
// person must act (a result that could not be written, a capacity too
// small); Warning, a person should look (a port or terminal lost, a refused
// line); Notice and Info, the program's course.
enum class LogUrgency { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// What a line is about, for a journal that files lines by fields: the kind
// of event ("port", "link", "request-file", ...) and its urgency, and the
// COM port (1-8) when the line names one; 0 takes the port of LogAbout.
struct LogTag {
  const char* Event = "program";
  LogUrgency Urgency = LogUrgency::Notice;
  int Port = 0;
};

// Appends one line with the local time. The message is written byte for byte:
// Czech texts must already be code page 1250 (see Cp1250.h). The file is
// never opened through a symbolic link: when errorlog.txt is one (or cannot
// be opened at all), the line goes to standard error instead (unless the
// entry writer took it), after one line that says why. True when the entry
// writer took the line (see SetLogEntryWriter).
bool AppendErrorLog(const std::string& message, const LogTag& tag = {});

// A failure somebody must act on (a result file that could not be written):
// the log line as AppendErrorLog writes it, and the same text on standard
// error (or to the entry writer, always with LogUrgency::Error), so that a
// service's journal shows it too.
void ReportErrorLog(const std::string& message, const LogTag& tag = {});

// The terminal (1-4) and COM port (1-8) that the lines logged while it lives
// are about; 0 for none. Nests: the one before comes back at its end.
class LogAbout {
 public:
  LogAbout(int terminal, int port);
  ~LogAbout();
  LogAbout(const LogAbout&) = delete;
  LogAbout& operator=(const LogAbout&) = delete;

 private:
  int terminal_, port_;
};

// Every log line with what it is about, for a service's journal. The text is
// UTF-8. True when the entry was taken: the line then does not go to
// standard error besides. No writer (the default, and after a null one):
// nothing is taken.
struct LogEntry {
  std::string Utf8Line;
  LogTag Tag;
  int Terminal = 0;
};
using LogEntryWriter = std::function<bool(const LogEntry& entry)>;
void SetLogEntryWriter(LogEntryWriter writer);

// How standard error is written: the program passes its own writer (the
// journal's priorities), with `failure` true for ReportErrorLog's lines and
// false for log lines that could not go to the file. The text is UTF-8. By
// default (and after a null writer) the line is written to stderr as it is.
using StandardErrorWriter = std::function<void(bool failure, const std::string& utf8Line)>;
void SetStandardErrorWriter(StandardErrorWriter writer);
