#include "link/ErrorLog.h"

#include <cstdio>
#include <fstream>

namespace {
std::string& StartDirectoryStore() {
  static std::string directory = ".";
  return directory;
}
}  // namespace

void SetStartDirectory(const std::string& directory) { StartDirectoryStore() = directory; }

const std::string& StartDirectory() { return StartDirectoryStore(); }

std::string ErrorLogPath() { return StartDirectory() + "/errorlog.txt"; }

std::string FormatErrorLogLine(const std::tm& t, const std::string& message) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%04d %02d:%02d:%02d - ", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return stamp + message + "\r\n";
}

void AppendErrorLog(const std::string& message) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::ofstream file(ErrorLogPath(), std::ios::binary | std::ios::app);
  if (!file) return;
  file << FormatErrorLogLine(local, message);
}
