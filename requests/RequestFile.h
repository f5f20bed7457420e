#pragma once
// Reading a request file (or a command file) into lines. The bytes stay as
// they are (code page 1250); lines end with CR LF, LF or CR, the last line
// needs no end, and an empty file has no lines.

#include <string>
#include <string_view>
#include <vector>

enum class FileRead {
  Read,          // the lines are in memory
  Vanished,      // no such file (any more)
  HeldByWriter,  // its writer still holds a lock on it: try again later
  Unreadable,    // not a regular file, no permission, or a read error
};

// Splits file bytes into lines as described above.
std::vector<std::string> SplitLines(std::string_view bytes);

// Reads the whole file at `path` into `lines` (replaced only on Read). A file
// whose writer holds an exclusive flock(2) or a POSIX write lock on it counts
// as still being written and gives HeldByWriter; nothing is changed on disk in
// any case. Never blocks (a FIFO of that name is Unreadable).
FileRead ReadLinesFile(const std::string& path, std::vector<std::string>& lines);
