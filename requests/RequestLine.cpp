#include "requests/RequestLine.h"

#include <climits>
#include <cstdlib>

#include "link/Commands.h"

namespace {
constexpr std::string_view kTerminalLinePrefix = "TERM";
constexpr size_t kShownCharacters = 20;
}  // namespace

std::optional<int> TerminalLineNumber(const std::string& line) {
  if (line.compare(0, kTerminalLinePrefix.size(), kTerminalLinePrefix) != 0) return std::nullopt;
  const long number = std::strtol(line.c_str() + kTerminalLinePrefix.size(), nullptr, 10);
  if (number < INT_MIN) return INT_MIN;
  if (number > INT_MAX) return INT_MAX;
  return static_cast<int>(number);
}

LineKind ClassifyLine(std::string_view line) {
  if (line.empty()) return LineKind::Empty;
  if (line.size() < kLongLineLength) return LineKind::Single;
  if (line.size() > kMaxLineLength || CommandFor(line[0]).ContinuedAs == '\0') return LineKind::Refused;
  return LineKind::Long;
}

std::pair<std::string, std::string> SplitLongLine(std::string_view line) {
  std::string first(line.substr(0, 56));
  first += line.substr(kLongLineLength);
  std::string second(1, CommandFor(line[0]).ContinuedAs);
  second += line.substr(1, 13);
  second += line.substr(56);
  return {first, second};
}

std::string RefusedLineMessage(std::string_view line) {
  return "Radek nelze odeslat: " + std::string(line.substr(0, kShownCharacters)) + "... (" +
         std::to_string(line.size()) + " znaku)";
}
