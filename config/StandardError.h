#pragma once
// Lines on standard error. A service's standard error is the journal
// (systemd sets JOURNAL_STREAM to its device and inode); there each line
// carries its priority in front ("<3>" error ... "<6>" info), so that
// journalctl shows errors as errors. Anywhere else the lines are written as
// they are. Plain C++.

#include <string>
#include <string_view>

enum class LogPriority { Critical = 2, Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// True when standard error is the journal's stream.
bool StandardErrorIsJournal();
// `text` with a line end (one it has already is not doubled), every line
// of it prefixed with the priority.
std::string JournalLines(LogPriority priority, std::string_view text);
// Writes `text` and a line end to standard error in one piece, with the
// priority when standard error is the journal.
void WriteStandardError(LogPriority priority, std::string_view text);
