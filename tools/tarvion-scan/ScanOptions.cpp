#include "tools/tarvion-scan/ScanOptions.h"

#include <string_view>

#include "app/Config.h"

namespace {

constexpr int kLowestAddress = 0;
constexpr int kHighestAddress = 255;

// One of the rates the program offers.
bool IsProgramBaud(int baud) {
  for (int item = 0; item < BaudItemCount; ++item) {
    if (BaudFromIndex(item) == baud) return true;
  }
  return false;
}

bool ParseAddress(std::string_view text, int& out) {
  int32_t value = 0;
  if (!ParseInteger(text, value) || value < kLowestAddress || value > kHighestAddress) return false;
  out = value;
  return true;
}

// Takes the value of an option that needs one; false when there is none.
bool TakeValue(std::string_view argument, size_t equals, int argc, char** argv, int& i, std::string& value) {
  if (equals != std::string_view::npos) {
    value = argument.substr(equals + 1);
  } else if (i + 1 < argc) {
    value = argv[++i];
  } else {
    return false;
  }
  return true;
}

// Stores the value of option `name`; false with `error` set when it is bad.
bool SetValue(std::string_view name, const std::string& value, ScanOptions& out, std::string& error) {
  int32_t number = 0;
  if (name == "--baud") {
    if (ParseInteger(value, number) && IsProgramBaud(number)) {
      out.Baud = number;
      return true;
    }
    error = "--baud must be 1200, 2400, 4800, 9600 or 19200, not '" + value + "'";
  } else if (name == "--from" || name == "--to") {
    if (ParseAddress(value, name == "--from" ? out.From : out.To)) return true;
    error = std::string(name) + " must be an address from 0 to 255, not '" + value + "'";
  } else {
    if (ParseInteger(value, number) && number >= 0 && static_cast<uint32_t>(number) <= MaxTurnaroundUs) {
      out.TurnaroundUs = static_cast<uint32_t>(number);
      return true;
    }
    error = "--turnaround must be microseconds from 0 to 1000000, not '" + value + "'";
  }
  return false;
}

}  // namespace

bool ParseScanOptions(int argc, char** argv, ScanOptions& out, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    if (argument == "--help") {
      out.Help = true;
      return true;
    }
    if (argument == "--mark") {
      out.Mark = true;
    } else if (name == "--baud" || name == "--from" || name == "--to" || name == "--turnaround") {
      std::string value;
      if (!TakeValue(argument, equals, argc, argv, i, value)) {
        error = "option '" + std::string(name) + "' needs a value";
        return false;
      }
      if (!SetValue(name, value, out, error)) return false;
    } else if (argument.starts_with("-")) {
      error = "unknown option '" + std::string(argument) + "'";
      return false;
    } else if (out.Device.empty()) {
      out.Device = argument;
    } else {
      error = "only one DEVICE, not also '" + std::string(argument) + "'";
      return false;
    }
  }
  if (out.Device.empty()) {
    error = "no DEVICE given";
    return false;
  }
  if (out.From > out.To) {
    error = "--from " + std::to_string(out.From) + " is above --to " + std::to_string(out.To);
    return false;
  }
  return true;
}

std::string ScanUsage() {
  return "Usage: tarvion-scan DEVICE [--baud N] [--mark] [--from A] [--to B] [--turnaround US]\n"
         "Lists the ORVETA terminals on the serial line at DEVICE.\n\n"
         "It opens DEVICE the way Tarvion does (exclusively, the same line settings and\n"
         "RTS switching), listens up to a second for a master terminal's poll and\n"
         "reports it, then sends the slave test frame to every address from A to B and\n"
         "waits 80 ms for each acknowledgement; on a line with a polling master each\n"
         "test frame goes out right after a poll. A whole line of 256 addresses takes\n"
         "about 25 s. Progress goes to standard error; the addresses that acknowledged\n"
         "go to standard output, one a line.\n\n"
         "  --baud N          1200, 2400, 4800, 9600 or 19200 (default 19200)\n"
         "  --mark            MARK parity (default none)\n"
         "  --from A          first address tested, 0-255 (default 0)\n"
         "  --to B            last address tested, 0-255 (default 255)\n"
         "  --turnaround US   wait after raising and before dropping RTS, microseconds\n"
         "                    (default 9500; 0 means 9500, as in Tarvion)\n"
         "  --help            show this help and exit\n\n"
         "Exit status:\n"
         "  0  at least one address acknowledged\n"
         "  1  no address acknowledged (a master's poll alone does not count: the poll\n"
         "     carries no address)\n"
         "  2  DEVICE missing, not a serial device, not permitted, held by another\n"
         "     program (a running Tarvion holds its ports), failed during the scan, or a\n"
         "     bad option\n";
}
