#include "config/StandardError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

bool StandardErrorIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  char rest = 0;
  if (std::sscanf(stream, "%llu:%llu%c", &device, &inode, &rest) != 2) return false;
  struct stat status {};
  if (::fstat(STDERR_FILENO, &status) != 0) return false;
  return static_cast<unsigned long long>(status.st_dev) == device &&
         static_cast<unsigned long long>(status.st_ino) == inode;
}

namespace {

std::string_view WithoutLineEnd(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string JournalLines(LogPriority priority, std::string_view text) {
  const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
  text = WithoutLineEnd(text);
  std::string lines;
  for (size_t start = 0;;) {
    const size_t end = text.find('\n', start);
    lines += prefix;
    lines += text.substr(start, end == std::string_view::npos ? end : end - start);
    lines += '\n';
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

void WriteStandardError(LogPriority priority, std::string_view text) {
  const std::string lines =
      StandardErrorIsJournal() ? JournalLines(priority, text) : std::string(WithoutLineEnd(text)) + '\n';
  std::fwrite(lines.data(), 1, lines.size(), stderr);
  std::fflush(stderr);
}
