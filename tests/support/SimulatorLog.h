#pragma once
// Reading the simulator's log lines, "<ms> <dir> <hex bytes>", as the tests
// look at them: the one parser of them; and hex bytes as it and the traces
// write them ("01 04 41 46").

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

// One line of the simulator's log. A line without a time stamp ("reaction
// 812") reads as Ms 0 with Dir and Hex empty.
struct SimLogLine {
  long Ms = 0;
  std::string Dir;
  std::string Hex;  // the bytes as space-separated hex, as logged
};

inline SimLogLine ParseSimLogLine(const std::string& line) {
  std::istringstream fields(line);
  SimLogLine parsed;
  fields >> parsed.Ms >> parsed.Dir;
  std::getline(fields, parsed.Hex);
  const size_t first = parsed.Hex.find_first_not_of(' ');
  parsed.Hex = first == std::string::npos ? "" : parsed.Hex.substr(first);
  return parsed;
}

inline std::vector<SimLogLine> ParseSimLog(const std::vector<std::string>& lines) {
  std::vector<SimLogLine> parsed;
  for (const std::string& line : lines) parsed.push_back(ParseSimLogLine(line));
  return parsed;
}

// The lines of one kind ("rx", "tx-ack", ...) from line `from` on.
inline std::vector<SimLogLine> LinesOfKind(const std::vector<SimLogLine>& lines, const std::string& dir,
                                           size_t from = 0) {
  std::vector<SimLogLine> found;
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].Dir == dir) found.push_back(lines[i]);
  }
  return found;
}

// The hex bytes of the lines of one kind from line `from` on.
inline std::vector<std::string> HexOfKind(const std::vector<SimLogLine>& lines, const std::string& dir,
                                          size_t from = 0) {
  std::vector<std::string> hex;
  for (const SimLogLine& line : LinesOfKind(lines, dir, from)) hex.push_back(line.Hex);
  return hex;
}

// "0A 0D ..." as bytes.
inline std::string BytesOfHex(const std::string& hex) {
  std::istringstream in(hex);
  std::string bytes;
  for (std::string pair; in >> pair;) bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
  return bytes;
}

// "address:payload" of a frame logged as hex bytes.
inline std::string CommandOf(const std::string& hex) {
  const std::string bytes = BytesOfHex(hex);
  if (bytes.size() < 4) return "<short frame " + hex + ">";
  return std::to_string(static_cast<uint8_t>(bytes[0])) + ":" + bytes.substr(2, bytes.size() - 3);
}
