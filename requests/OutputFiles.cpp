#include "requests/OutputFiles.h"

#include "link/ErrorLog.h"
#include "link/FileReplace.h"

namespace {

constexpr char kStatusFileName[] = "rudazo.sta";

// Replaces `path` whole with `bytes`; logs the path when that fails.
bool WriteFileAnew(const std::string& path, const std::string& bytes) {
  const bool written = ReplaceFile(path, bytes);
  if (!written) AppendErrorLog("Soubor " + path + " nelze zapsat");
  return written;
}

}  // namespace

std::string StatusText(int first, int second) { return std::to_string(first) + "," + std::to_string(second); }

bool WriteOutputFile(const std::string& name, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return WriteFileAnew(StartDirectory() + "/" + name, bytes);
}

bool WriteStatusFile(int first, int second) {
  return WriteFileAnew(StartDirectory() + "/" + kStatusFileName, StatusText(first, second) + "\r\n");
}
