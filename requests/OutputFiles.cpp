#include "requests/OutputFiles.h"

#include <cstdio>

#include "link/ErrorLog.h"

namespace {

constexpr char kStatusFileName[] = "rudazo.sta";

// Creates `path` anew with `bytes`; logs the path when that fails.
bool WriteFileAnew(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file != nullptr && std::fclose(file) != 0) written = false;
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
