#include "tools/tarvion-scan/ScanOptions.h"

#include <string_view>
#include <vector>

#include "config/Config.h"
#include "config/Options.h"

namespace {

constexpr int kLowestAddress = 0;
constexpr int kHighestAddress = 255;

// One of the rates the program offers.
bool IsProgramBaud(int baud) {
  for (int item = 0; item < kBaudItemCount; ++item) {
    if (BaudFromIndex(item) == baud) return true;
  }
  return false;
}

// The option rules of the scan and the check, storing into `out`.
std::vector<OptionRule> ScanRules(ScanOptions& out) {
  const auto flag = [](bool& field) {
    return [&field](const std::string&) {
      field = true;
      return std::string();
    };
  };
  const auto address = [](int& field, std::string name) {
    return [&field, name](const std::string& value) {
      const auto number = IntegerWithin(value, kLowestAddress, kHighestAddress);
      if (!number) return name + " must be an address from 0 to 255, not '" + value + "'";
      field = *number;
      return std::string();
    };
  };
  return {
      {"--help", {}, flag(out.Help), true},
      {"--mark", {}, flag(out.Mark)},
      {"--check", {}, flag(out.Check)},
      {"--json", {}, flag(out.Json)},
      {"--capture", "FILE",
       [&out](const std::string& value) {
         out.CapturePath = value;
         return std::string();
       }},
      {"--baud", "N",
       [&out](const std::string& value) {
         int32_t baud = 0;
         if (!ParseInteger(value, baud) || !IsProgramBaud(baud)) {
           return "--baud must be 1200, 2400, 4800, 9600 or 19200, not '" + value + "'";
         }
         out.Baud = baud;
         return std::string();
       }},
      {"--from", "A", address(out.From, "--from")},
      {"--to", "B", address(out.To, "--to")},
      {"--turnaround", "US",
       [&out](const std::string& value) {
         const auto us = IntegerWithin(value, 0, static_cast<int32_t>(kMaxTurnaroundUs));
         if (!us) return "--turnaround must be microseconds from 0 to 1000000, not '" + value + "'";
         out.TurnaroundUs = static_cast<uint32_t>(*us);
         return std::string();
       }},
  };
}

}  // namespace

bool ParseScanOptions(int argc, char** argv, ScanOptions& out, std::string& error) {
  const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), ScanRules(out));
  error = parsed.Error;
  if (!error.empty()) return false;
  if (out.Help) return true;
  if (parsed.Operands.size() > 1) {
    error = "only one DEVICE, not also '" + parsed.Operands[1] + "'";
    return false;
  }
  if (!parsed.Operands.empty()) out.Device = parsed.Operands.front();
  if (out.Device.empty()) {
    error = "no DEVICE given";
    return false;
  }
  if (out.Json && !out.Check) {
    error = "--json goes with --check";
    return false;
  }
  if (out.Check && (out.From != kLowestAddress || out.To != kHighestAddress)) {
    error = "--from and --to are for the scan, not for --check";
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
         "                    [--capture FILE]\n"
         "       tarvion-scan --check DEVICE [--baud N] [--mark] [--turnaround US] [--json]\n"
         "                    [--capture FILE]\n"
         "Lists the ORVETA terminals on the serial line at DEVICE, or checks whether\n"
         "the line can work (--check).\n\n"
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
         "  --capture FILE    record everything on the line in FILE as a pcapng capture\n"
         "                    for Wireshark, appended, as tarvion --capture does\n"
         "  --check           check the line instead: the device and its driver, the\n"
         "                    USB adapter and its latency timer, whether RTS can be\n"
         "                    switched, the kernel's RS-485 mode, the traffic, the drain\n"
         "                    of a 46-byte frame against its wire time (and the\n"
         "                    RxTurnaround it needs), the echo, the error counters; a\n"
         "                    verdict for each, with what to do (about 1 s; 46 test\n"
         "                    bytes FF FF 20 ... 4B, no frame a terminal takes)\n"
         "  --json            with --check: the report as JSON, with the figures\n"
         "  --help            show this help and exit\n\n"
         "Exit status of the scan:\n"
         "  0  at least one address acknowledged\n"
         "  1  no address acknowledged (a master's poll alone does not count: the poll\n"
         "     carries no address)\n"
         "  2  DEVICE missing, not a serial device, not permitted, held by another\n"
         "     program (a running Tarvion holds its ports), failed during the scan, a\n"
         "     capture file that cannot be opened, or a bad option\n"
         "Exit status of --check: 0 every point ok, 1 a warning, 2 a fault (or DEVICE\n"
         "cannot be opened, a capture file that cannot be opened, or a bad option).\n";
}
