#pragma once
// Files that another program reads while this one writes them: they are
// replaced whole, so a reader at any moment sees the old file or the new one,
// never an empty or partial one, and a power loss leaves one or the other.

#include <string>
#include <string_view>

// Writes `bytes` into a temporary file beside `path` (".<name>.tmp" in the
// same folder), flushes it to disk and renames it over `path`. A symbolic
// link planted at `path` is replaced by the file; its target is never
// written. False when any step failed: `path` is then as it was and the
// temporary file is gone.
bool ReplaceFile(const std::string& path, std::string_view bytes);

// Renames `from` to `to` unless something exists at `to` (then false with
// errno EEXIST; nothing is replaced). Both must lie on one file system.
bool RenameNoReplace(const std::string& from, const std::string& to);
