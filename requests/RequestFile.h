#pragma once
// Reading a request file (or a command file) into lines. The bytes stay as
// they are (code page 1250); lines end with CR LF, LF or CR, the last line
// needs no end, and an empty file has no lines.

#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

enum class FileRead {
  Read,          // the lines are in memory
  Vanished,      // no such file (any more)
  HeldByWriter,  // its writer still holds a lock on it, or changed it while it
                 // was read: try again later
  Unreadable,    // not a regular file, no permission, or a read error
  TooLarge,      // more bytes than the reader takes
};

// Which file was read and in what state: its device and inode, size, and
// last-write and status-change times.
struct FileStamp {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};
  timespec Changed{};
};

// True when `path` now names another file than the one read with `stamp`, or
// the same file whose content may have changed since (its size or last-write
// time, to the nanosecond): it is then a new request, and what was read must
// not lead to its deletion. A change of its names (a hard link added or
// removed), its mode or its times but the last-write one is no change, and a
// path that names nothing any more has not changed.
bool ChangedSinceRead(const std::string& path, const FileStamp& stamp);

// Splits file bytes into lines as described above.
std::vector<std::string> SplitLines(std::string_view bytes);

// Reads the whole file at `path` into `lines` (replaced only on Read). A file
// whose writer holds an exclusive flock(2) or a POSIX write lock on it counts
// as still being written and gives HeldByWriter; nothing is changed on disk in
// any case. A file that changed while it was read counts as still being
// written too. Never blocks (a FIFO of that name is Unreadable). A file of
// more than `maxBytes` is not read into memory (TooLarge; `stamp` then tells
// its size). On Read, `stamp` (when given) tells which file was read.
FileRead ReadLinesFile(const std::string& path, std::vector<std::string>& lines, FileStamp* stamp = nullptr,
                       uint64_t maxBytes = std::numeric_limits<uint64_t>::max());

// What ReadLinesFile would say of `path` before reading a byte: Read when it
// is a regular file that may be read now (`stamp` then tells which), else
// why not (never TooLarge).
FileRead ProbeLinesFile(const std::string& path, FileStamp& stamp);
