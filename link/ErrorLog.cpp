#include "link/ErrorLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "link/Cp1250.h"
#include "link/StartFiles.h"

namespace {

std::string& StartDirectoryStore() {
  static std::string directory = ".";
  return directory;
}

void WritePlainLine(bool, const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

StandardErrorWriter& Writer() {
  static StandardErrorWriter writer = WritePlainLine;
  return writer;
}

void ToStandardError(bool failure, const std::string& cp1250Line) { Writer()(failure, Utf8FromCp1250(cp1250Line)); }

LogEntryWriter& EntryWriter() {
  static LogEntryWriter writer;
  return writer;
}

// The terminal and port of the innermost LogAbout.
int aboutTerminal = 0;
int aboutPort = 0;

// True when the entry writer took the line.
bool ToEntryWriter(const std::string& cp1250Line, LogTag tag) {
  if (!EntryWriter()) return false;
  if (tag.Port == 0) tag.Port = aboutPort;
  return EntryWriter()(LogEntry{Utf8FromCp1250(cp1250Line), tag, aboutTerminal});
}

// Appends the whole line or nothing of it; never through a symbolic link,
// never blocking on a FIFO planted there. False with errno set.
bool AppendToFile(const std::string& path, const std::string& line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const ssize_t written = ::write(fd, line.data(), line.size());
  const int error = errno;
  ::close(fd);
  errno = error;
  return written == static_cast<ssize_t>(line.size());
}

bool unavailableSaid = false;

// The line with the local time into the log; false (errno set) when the file
// did not take it.
bool AppendLogLine(const std::string& message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  if (!AppendToFile(ErrorLogPath(), FormatErrorLogLine(local, message))) return false;
  unavailableSaid = false;
  return true;
}

// Why the log could not take a line: said on standard error once, and again
// only after the log has worked in between.
void SayUnavailable(int error) {
  if (unavailableSaid) return;
  unavailableSaid = true;
  const std::string why = error == ELOOP ? "is a symbolic link; it is not followed" : std::strerror(error);
  ToStandardError(false, ErrorLogPath() + ": " + why + ". Log lines go to standard error.");
}

}  // namespace

void SetStartDirectory(const std::string& directory) { StartDirectoryStore() = directory; }

const std::string& StartDirectory() { return StartDirectoryStore(); }

std::string ErrorLogPath() { return StartDirectory() + "/" + kErrorLogFileName; }

std::string FormatErrorLogLine(const std::tm& t, const std::string& message) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d - ", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return stamp + message + "\r\n";
}

bool AppendErrorLog(const std::string& message, const LogTag& tag) {
  const bool logged = AppendLogLine(message);
  if (!logged) SayUnavailable(errno);
  const bool taken = ToEntryWriter(message, tag);
  if (!taken && !logged) ToStandardError(false, message);
  return taken;
}

void ReportErrorLog(const std::string& message, const LogTag& tag) {
  if (!AppendLogLine(message)) SayUnavailable(errno);
  LogTag failure = tag;
  failure.Urgency = LogUrgency::Error;
  if (!ToEntryWriter(message, failure)) ToStandardError(true, message);
}

LogAbout::LogAbout(int terminal, int port) : terminal_(aboutTerminal), port_(aboutPort) {
  aboutTerminal = terminal;
  aboutPort = port;
}

LogAbout::~LogAbout() {
  aboutTerminal = terminal_;
  aboutPort = port_;
}

void SetLogEntryWriter(LogEntryWriter writer) { EntryWriter() = std::move(writer); }

void SetStandardErrorWriter(StandardErrorWriter writer) {
  Writer() = writer ? std::move(writer) : StandardErrorWriter(WritePlainLine);
}
