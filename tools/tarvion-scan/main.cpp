// tarvion-scan: which terminals are on a line. Opens the device through the
// link library as Tarvion does, listens for a master's poll, then sends the
// slave test frame to every address of the range and lists the addresses
// that acknowledged; with --check it checks the line instead (LineCheck.h);
// with --capture, the wire capture records it all. See ScanUsage() for the
// options and exit statuses.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/CommandLine.h"
#include "config/Config.h"
#include "link/CommPort.h"
#include "link/Customport.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "link/WireTrace.h"
#include "tools/tarvion-scan/LineCheck.h"
#include "tools/tarvion-scan/ScanOptions.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kScanPort = 0;  // the device stands in for COM1
constexpr milliseconds kMasterListen{1000};
constexpr int kProgressEvery = 32;
constexpr double kAckWaitMs = 80;

void Say(const std::string& text) { std::fprintf(stderr, "tarvion-scan: %s\n", text.c_str()); }

// Listens up to kMasterListen for a master's poll and says what it heard.
bool ListenForMaster(TSer_Port& port) {
  Say("listening for a master's poll (up to " + std::to_string(kMasterListen.count()) + " ms)");
  const auto start = Clock::now();  // a poll may come during the turnaround
  port.ClearReceive();
  port.ReceiveMode();
  PollDetector poll;
  int otherBytes = 0;
  while (Clock::now() - start < kMasterListen) {
    const int b = port.ReadByte();
    if (b < -1) break;  // the device failed; the scan reports it
    if (b < 0) continue;
    if (poll.Feed(static_cast<uint8_t>(b))) {
      TraceConcluded(port.PortIndex, LinkConclusion::Poll, sizeof kPollFrame);
      const auto heard = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
      Say("a master polls on this line (poll heard after " + std::to_string(heard) +
          " ms); each test frame goes out after a poll");
      return true;
    }
    ++otherBytes;
  }
  if (otherBytes > 0) {
    Say("no poll, but " + std::to_string(otherBytes) +
        " other bytes came: another baud rate or parity on the line, or noise?");
  } else {
    Say("no master polls on this line");
  }
  return false;
}

// Sends the slave test frame to each address of the range; the addresses
// that acknowledged. False in `failed` when the device failed under the scan.
std::vector<int> ScanAddresses(TSer_Port& port, const ScanOptions& options, bool master, bool& failed) {
  TOrveta probe(&port, 0);  // not master: the 80 ms acknowledgement wait
  const int count = options.To - options.From + 1;
  const double perAddressMs = 2 * Settings().TxTurnaroundUs / 1000.0 + kAckWaitMs;
  char estimate[64];
  std::snprintf(estimate, sizeof estimate, " (about %.1f s%s)", count * perAddressMs / 1000,
                master ? " and the waits for polls" : "");
  Say("testing addresses " + std::to_string(options.From) + "-" + std::to_string(options.To) + estimate);
  std::vector<int> found;
  for (int address = options.From; address <= options.To; ++address) {
    uint8_t frame[kFrameBufferSize];
    BuildSlaveTestFrame(static_cast<uint32_t>(address), frame);
    probe.Address = static_cast<uint32_t>(address);
    if (master) {
      probe.SendOnPoll(frame);
    } else {
      probe.SendDirect(frame);
    }
    if (probe.ReadAck() == 0) {
      found.push_back(address);
      Say("address " + std::to_string(address) + " acknowledged");
    }
    if (port.Port->ReceiveCount() < 0) {
      failed = true;
      return found;
    }
    const int tested = address - options.From + 1;
    if (tested % kProgressEvery == 0 && tested < count) {
      Say(std::to_string(tested) + " of " + std::to_string(count) + " addresses tested");
    }
  }
  return found;
}

std::string AddressList(const std::vector<int>& addresses) {
  std::string text;
  for (int address : addresses) text += (text.empty() ? "" : " ") + std::to_string(address);
  return text;
}

// The line check: the report on standard output, its verdict as the status.
int CheckLine(const ScanOptions& options) {
  ProbeOptions probe;
  probe.Device = options.Device;
  probe.Baud = options.Baud;
  probe.Mark = options.Mark;
  probe.TurnaroundUs = options.TurnaroundUs;
  Say("checking " + options.Device + " at " + std::to_string(options.Baud) + " baud, parity " +
      (options.Mark ? "mark" : "none"));
  std::string failure;
  const std::optional<LineFacts> facts = ProbeLine(probe, failure);
  if (!facts) {
    Say(failure);
    return kScanCannotRun;
  }
  const std::vector<CheckPoint> points = JudgeLine(*facts);
  std::fputs((options.Json ? CheckJson(*facts, points) : CheckText(*facts, points)).c_str(), stdout);
  return CheckExitStatus(points);
}

// Opens the device, listens for a master and tests the range; the exit status.
int RunScan(const ScanOptions& options) {
  LinkSettings& settings = Settings();
  settings.PortBaud = options.Baud;
  settings.ParityMark = options.Mark;
  settings.TxTurnaroundUs = options.TurnaroundUs;
  settings.RxTurnaroundUs = options.TurnaroundUs;
  // Waiting for a poll before each frame: the longest idle limit Tarvion offers.
  settings.LinkTimeout = LinkTimeoutForItem(kDelayAddItemCount - 1);
  SetComDevicePath(kScanPort, options.Device);

  TSer_Port port(kScanPort, options.Baud);
  if (!port.Opened) {
    Say(OpenFailure(options.Device, *port.Port));
    return kScanCannotRun;
  }
  const bool master = ListenForMaster(port);
  bool failed = false;
  const std::vector<int> found = ScanAddresses(port, options, master, failed);
  for (int address : found) std::printf("%d\n", address);
  std::fflush(stdout);
  if (failed) {
    Say(options.Device + ": the device failed during the scan (unplugged?)");
    return kScanCannotRun;
  }
  if (found.empty()) {
    Say("no address acknowledged");
    return kScanNoneFound;
  }
  Say(std::to_string(found.size()) + (found.size() == 1 ? " address" : " addresses") +
      " acknowledged: " + AddressList(found));
  return kScanFound;
}

}  // namespace

int main(int argc, char** argv) {
  ScanOptions options;
  std::string error;
  if (!ParseScanOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "tarvion-scan: %s\nTry 'tarvion-scan --help'.\n", error.c_str());
    return kScanCannotRun;
  }
  if (options.Help) {
    std::fputs(ScanUsage().c_str(), stdout);
    return 0;
  }
  const WireTraceFiles capture{"", options.CapturePath, std::string("tarvion-scan ") + TarvionVersion()};
  if (!StartWireTrace(capture, error)) {
    Say(error);
    return kScanCannotRun;
  }
  const int status = options.Check ? CheckLine(options) : RunScan(options);
  StopWireTrace();
  return status;
}
