#include "requests/OutputFiles.h"

#include <cerrno>
#include <cstring>

#include "link/ErrorLog.h"
#include "link/FileReplace.h"

#include "link/StartFiles.h"

namespace {

// Replaces `path` whole with `bytes`. When that fails, the failure is
// reported with its reason and the file of an earlier job goes, so that no
// stale result stands beside the new status.
bool WriteFileAnew(const std::string& path, std::string_view bytes, const std::function<void()>& then = {}) {
  if (ReplaceFile(path, bytes, then)) return true;
  std::string message = "Soubor " + path + " nelze zapsat: " + std::strerror(errno);
  if (!RemoveFileDurably(path)) message += "; starý soubor nelze smazat: " + std::string(std::strerror(errno));
  ReportErrorLog(message, LogTag{"result-file", LogUrgency::Error});
  return false;
}

}  // namespace

std::string StatusText(int first, int second) { return std::to_string(first) + "," + std::to_string(second); }

bool WriteOutputFile(const std::string& name, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return WriteFileAnew(StartDirectory() + "/" + name, bytes);
}

bool WriteDumpFile(std::string_view block) { return WriteFileAnew(StartDirectory() + "/" + kDumpFileName, block); }

bool WriteStatusFile(int first, int second, const std::function<void()>& then) {
  return WriteFileAnew(StartDirectory() + "/" + kStatusFileName, StatusText(first, second) + "\r\n", then);
}
