#pragma once
// The files a job leaves for the other program, in the start directory. Both
// are replaced whole (see FileReplace.h), end every line with CR LF and keep
// the bytes as they are. A file that cannot be written gives one error-log
// line naming it and stays as it was; the job goes on.

#include <string>
#include <vector>

// Writes `lines` to StartDirectory()/`name`, each followed by CR LF; no lines
// give a 0-byte file. False (and the log line) when it could not be written.
bool WriteOutputFile(const std::string& name, const std::vector<std::string>& lines);

// "%d,%d" followed by CR LF into StartDirectory()/rudazo.sta.
bool WriteStatusFile(int first, int second);

// The pair as shown in status bar panel 1 and written to the status file.
std::string StatusText(int first, int second);
