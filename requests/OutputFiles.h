#pragma once
// The files a job leaves for the other program, in the start directory. Both
// are replaced whole (see FileReplace.h), end every line with CR LF and keep
// the bytes as they are. A file that cannot be written (a full disk) is
// reported with the reason, in the error log and on standard error, and the
// file of an earlier job is removed: the other program never finds an old
// result beside a new status. The job goes on.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Writes `lines` to StartDirectory()/`name`, each followed by CR LF; no lines
// give a 0-byte file. False (reported) when it could not be written.
bool WriteOutputFile(const std::string& name, const std::vector<std::string>& lines);

// "%d,%d" followed by CR LF into StartDirectory()/rudazo.sta. False
// (reported) when it could not be written; `then` runs once it stands (see
// ReplaceFile).
bool WriteStatusFile(int first, int second, const std::function<void()>& then = {});

// The data block of the last answer, exactly as received, into
// StartDirectory()/binarni.bin. False (reported) when it could not be written.
bool WriteDumpFile(std::string_view block);

// The pair as shown in status bar panel 1 and written to the status file.
std::string StatusText(int first, int second);
