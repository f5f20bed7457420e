#pragma once
// Files that another program reads while this one writes them: they are
// replaced whole, so a reader at any moment sees the old file or the new one,
// never an empty or partial one, and a power loss leaves one or the other.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Writes `bytes` into a temporary file beside `path` (".<name>.tmp" in the
// same folder), flushes it to disk and renames it over `path`. A symbolic
// link planted at `path` is replaced by the file; its target is never
// written. False when any step failed (errno tells why): `path` is then as
// it was and the temporary file is gone. `then`, when given, runs at once
// after the new file stands, before the folder is flushed: what it changes
// in the folder reaches the disk with it, and no process can end between the
// two but in a few microseconds. The new file's mode is 0666 narrowed by the
// umask, or `mode` when given (a file that another user's program reads).
bool ReplaceFile(const std::string& path, std::string_view bytes, const std::function<void()>& then = {},
                 std::optional<mode_t> mode = std::nullopt);

// Removes `path` and makes the removal durable (the folder is flushed to
// disk). True when the file is gone, also when there was none; false with
// errno set when it stays.
bool RemoveFileDurably(const std::string& path);

// Flushes the folder that holds `path` to disk, so that a rename or removal
// in it survives a power loss. False with errno set when it cannot.
bool SyncFolderOf(const std::string& path);

// Renames `from` to `to` unless something exists at `to` (then false with
// errno EEXIST; nothing is replaced). Both must lie on one file system.
bool RenameNoReplace(const std::string& from, const std::string& to);
