#pragma once
// The command line of tarvion-scan:
//   tarvion-scan DEVICE [--baud N] [--mark] [--from A] [--to B] [--turnaround US]
//                [--capture FILE]
//   tarvion-scan --check DEVICE [--baud N] [--mark] [--turnaround US] [--json]

#include <cstdint>
#include <string>

// Exit statuses, as the help lists them.
constexpr int kScanFound = 0;
constexpr int kScanNoneFound = 1;
constexpr int kScanCannotRun = 2;

struct ScanOptions {
  std::string Device;
  int Baud = 19200;               // --baud: 1200, 2400, 4800, 9600 or 19200
  bool Mark = false;              // --mark: MARK parity instead of none
  int From = 0;                   // --from: first address tested
  int To = 255;                   // --to: last address tested
  uint32_t TurnaroundUs = 9500;   // --turnaround: both RTS waits, microseconds
  std::string CapturePath;        // --capture: the scan's capture for Wireshark; empty for none
  bool Check = false;             // --check: the line check instead of the scan
  bool Json = false;              // --json: the check's report as JSON
  bool Help = false;              // --help: nothing else is checked
};

// Parses argv (argv[0] is the program). Values follow their option as the
// next argument or after '='. False with `error` set on an unknown option, a
// missing or bad value, no DEVICE or more than one, --from above --to, --json
// without --check, or --from or --to with it.
bool ParseScanOptions(int argc, char** argv, ScanOptions& out, std::string& error);

// The text of --help.
std::string ScanUsage();
