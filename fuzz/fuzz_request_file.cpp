// A request file from its bytes to the commands of its batch: the file read
// into lines, the terminal line, every line classified, long lines split, and
// each command in the work buffer through EncodeCommand with the default
// settings. Input: the file's bytes.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "link/Coding.h"
#include "requests/RequestFile.h"
#include "requests/RequestLine.h"

namespace {

constexpr size_t kFirstCommandLength = 56;
constexpr size_t kContinuationHead = 14;

// The file lives in memory: an anonymous file reached by its /proc path.
class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("request.cfg", 0)) { Require(fd_ >= 0, "memfd_create"); }
  std::string Write(std::string_view bytes) const {
    Require(ftruncate(fd_, 0) == 0, "ftruncate");
    Require(pwrite(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()), "pwrite");
    return "/proc/self/fd/" + std::to_string(fd_);
  }

 private:
  int fd_;
};

void CheckSplit(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) {
    Require(line.find_first_of("\r\n") == std::string::npos, "no line end inside a line");
    joined += line + "\r\n";
  }
  Require(SplitLines(joined) == lines, "lines ended with CR LF split back into the same lines");
}

void CheckTerminalLine(const std::string& line) {
  const bool isTerminalLine = line.rfind("TERM", 0) == 0;
  Require(TerminalLineNumber(line).has_value() == isTerminalLine, "only a line starting with TERM names a terminal");
}

// One command as the batch hands it to the terminal: in the zero-filled work
// buffer, at most kWorkBufferSize - 1 bytes, never cut.
void SendCommand(const std::string& command) {
  Require(command.size() <= kMaxLineLength, "a command is never longer than the longest line");
  char work[kWorkBufferSize] = {};
  std::memcpy(work, command.data(), command.size());
  const int length = EncodeCommand(work, CodingSettings{}).Length;
  Require(length >= 0 && length < kWorkBufferSize, "payload within the work buffer");
}

void CheckLine(const std::string& line) {
  CheckTerminalLine(line);
  switch (ClassifyLine(line)) {
    case LineKind::Empty:
      Require(line.empty(), "only an empty line is Empty");
      return;
    case LineKind::Single:
      Require(!line.empty() && line.size() < kLongLineLength, "a single command is short");
      SendCommand(line);
      return;
    case LineKind::Long: {
      Require(line.size() >= kLongLineLength && line.size() <= kMaxLineLength, "long line length");
      const auto [record, continuation] = SplitLongLine(line);
      Require(record.size() == kFirstCommandLength + line.size() - kLongLineLength, "first command length");
      Require(continuation.size() == kContinuationHead + line.size() - kFirstCommandLength,
              "continuation length");
      Require(record[0] == line[0] && (continuation[0] == 'q' || continuation[0] == 'r'), "command letters");
      SendCommand(record);
      SendCommand(continuation);
      return;
    }
    case LineKind::Refused:
      Require(line.size() >= kLongLineLength, "only long lines are refused");
      Require(RefusedLineMessage(line).find(std::to_string(line.size())) != std::string::npos,
              "the refusal names the length");
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const MemoryFile file;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines{"untouched"};
  FileStamp stamp;
  Require(ReadLinesFile(file.Write(bytes), lines, &stamp) == FileRead::Read, "a regular file is read");
  Require(stamp.Size == static_cast<off_t>(size), "the stamp holds the size read");
  Require(lines == SplitLines(bytes), "the file gives the lines of its bytes");
  CheckSplit(lines);
  for (const std::string& line : lines) CheckLine(line);
  return 0;
}
