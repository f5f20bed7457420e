#pragma once
// The rules for single lines of a job: the terminal line that may open a
// request, which lines go out as one command, which as two, and which are
// refused.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Lines of this length or more are long person-record lines sent as two commands.
constexpr size_t kLongLineLength = 98;
// The longest line the request format has.
constexpr size_t kMaxLineLength = 119;

// For a terminal line ("TERM" in upper case, then the number read strtol-like
// from the fifth character: blanks, optional sign, decimal digits; no digits
// give 0) the number it names, clamped to the int range; nullopt for any other
// line. "TERM2", "TERM 2" and "TERM2x" all give 2, "TERM" gives 0.
std::optional<int> TerminalLineNumber(const std::string& line);

enum class LineKind {
  Empty,    // not sent; counts in the progress
  Single,   // at most 97 characters: one command
  Long,     // 98 to 119 characters of a letter that has a continuation ('Q', 'R'): two commands
  Refused,  // longer than 119, or long without a continuation letter: not sent, a failed line
};

LineKind ClassifyLine(std::string_view line);

// The two commands of a long line: columns 0-55 and 98 to the end; then the
// letter's continuation letter of the command table ('Q' -> 'q', 'R' -> 'r'),
// columns 1-13 and 56 to the end. `line` must be a Long line.
std::pair<std::string, std::string> SplitLongLine(std::string_view line);

// The error-log text for a refused line: its first 20 characters and length.
std::string RefusedLineMessage(std::string_view line);
