// A batch of N 'Q' lines (default 200) from a request file to a simulated
// terminal at 19200 baud with pacing, through the request processing the
// program uses (a minimal main window stands in). A slave by default, a
// master with --master; short lines (days 1-14, one command each) by
// default, long lines with --long (days 1-28: a person record and its
// continuation, two commands). Prints the wall time of the job, from handing
// the file over until the status file is written, divides it by the protocol
// minimum of the batch, and extrapolates the upload of 2500 such persons.
//
// Protocol minimum of one command, with 10 bits a byte:
//   slave:  TxTurnaroundUs + the frame's wire time + RxTurnaroundUs
//           + the simulator's acknowledgement delay + the acknowledgement's
//           wire time
//   master: the same, after the mean wait for the next poll (half the poll
//           period) and the poll's wire time, and followed by the 300 ms
//           pause after a master's non-data command
// and per line the pause after it (25 ms for a slave, 2 ms for a master),
// for a long line also the pause between its two commands (30 ms / 5 ms).
//
// On a pseudo-terminal the PC's own bytes are not paced (they reach the
// simulator at once) and the acknowledgement delay runs during the receive
// turnaround, so a second, tighter minimum is printed as well: the frame's
// wire time left out and max(RxTurnaroundUs, acknowledgement delay) for the
// two.
//
//   bench_batch [--master] [--long] [lines]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchRun.h"
#include "link/Coding.h"
#include "link/CommPort.h"
#include "link/ErrorLog.h"
#include "link/JobClock.h"
#include "link/Orveta.h"
#include "link/Pauses.h"
#include "link/Settings.h"
#include "link/StopRequest.h"
#include "requests/RequestLine.h"
#include "requests/RequestProcessor.h"
#include "tools/orveta-sim/Simulator.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kDefaultLines = 200;
constexpr int kMaxLines = 9999;
constexpr int kBaud = 19200;
constexpr double kBitsPerByte = 10;
constexpr int kUploadPersons = 2500;
constexpr int kPollBytes = 4;

// The program's pauses, slept; the pause before the indicator refresh
// follows the status file and is no part of the batch: its start ends the
// measurement and it is skipped.
class BenchClock final : public JobClock {
 public:
  TimePoint Now() const override { return SteadyClock::now(); }
  bool Pause(milliseconds pause) override {
    if (pause == pauses::BeforeIndicatorRefresh && !JobEnd) {
      JobEnd = SteadyClock::now();
      return true;
    }
    return SleepUnlessStopped(pause);
  }

  std::optional<SteadyClock::time_point> JobEnd;
};

// Bytes of the frame that carries `line`.
int FrameBytes(const std::string& line) {
  char buffer[kWorkBufferSize] = {};
  line.copy(buffer, std::min<size_t>(line.size(), kWorkBufferSize - 1));
  return EncodeCommand(buffer, CodingSettingsOf(Settings())).Length + 3;
}

double WireMs(int bytes) { return bytes * kBitsPerByte * 1000.0 / kBaud; }

struct BatchKind {
  bool Master = false;
  bool Long = false;
};

// Protocol minimum of one line, and the tighter one a pseudo-terminal allows.
struct LineMinimum {
  double ProtocolMs = 0;
  double PtyMs = 0;
};

double Ms(milliseconds pause) { return static_cast<double>(pause.count()); }

LineMinimum MinimumOf(const std::string& line, const BatchKind& kind, const SimOptions& sim) {
  const LinkSettings& settings = Settings();
  const double txMs = settings.TxTurnaroundUs / 1000.0, rxMs = settings.RxTurnaroundUs / 1000.0;
  const double ackMs = sim.AckMs, ackWireMs = WireMs(1);
  const double pollMs = kind.Master ? sim.PollMs / 2.0 + WireMs(kPollBytes) : 0;
  const double afterCommandMs = Ms(pauses::AfterAcknowledgedCommand.For(kind.Master));
  LineMinimum minimum;
  std::vector<std::string> commands{line};
  if (kind.Long) {
    const auto [record, continuation] = SplitLongLine(line);
    commands = {record, continuation};
    minimum.ProtocolMs = minimum.PtyMs = Ms(pauses::BetweenLongLineCommands.For(kind.Master));
  }
  for (const std::string& command : commands) {
    minimum.ProtocolMs += pollMs + txMs + WireMs(FrameBytes(command)) + rxMs + ackMs + ackWireMs + afterCommandMs;
    minimum.PtyMs += pollMs + txMs + std::max(rxMs, ackMs) + ackWireMs + afterCommandMs;
  }
  const double afterLineMs = Ms(pauses::AfterLine.For(kind.Master));
  minimum.ProtocolMs += afterLineMs;
  minimum.PtyMs += afterLineMs;
  return minimum;
}

bool ParseArguments(int argc, char** argv, BatchKind& kind, int& count) {
  count = kDefaultLines;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--master") {
      kind.Master = true;
    } else if (argument == "--long") {
      kind.Long = true;
    } else {
      count = std::atoi(argv[i]);
      if (i + 1 != argc) return false;
    }
  }
  return count >= 1 && count <= kMaxLines;
}

}  // namespace

int main(int argc, char** argv) {
  BatchKind kind;
  int count = 0;
  if (!ParseArguments(argc, argv, kind, count)) {
    std::fprintf(stderr, "usage: bench_batch [--master] [--long] [lines 1-%d]\n", kMaxLines);
    return 2;
  }
  const std::filesystem::path directory = MakeRunDirectory("batch");

  SimOptions options;
  options.Link = (directory / "line").string();
  options.Terminals = {{1, kind.Master}};
  options.Baud = kBaud;
  Simulator sim(options);
  if (!StartSimulator(sim)) return 1;
  SetComDevicePath(0, sim.LinkPath());
  TSer_Port port(0, kBaud);
  BenchClock clock;
  const ClockInUse clockInUse(clock);
  JobObserver nobody;
  RequestProcessor processor(nobody);
  processor.Controls() = {1, true, true};  // the program's defaults: one attempt, stop on failure, raised priority
  processor.SelectTerminal(0);
  TOrveta& terminal = processor.PutTerminal(0, std::make_unique<TOrveta>(&port, 1));
  const char* role = kind.Master ? "master" : "slave";
  if (!port.Opened || !terminal.TestLink() || terminal.IsMaster() != kind.Master || !terminal.IsConnected()) {
    std::fprintf(stderr, "the simulated %s did not answer as %s\n", role, role);
    return 1;
  }

  const LinkSettings& settings = Settings();
  std::string request;
  double minimumMs = 0, ptyMinimumMs = 0;
  for (int number = 1; number <= count; ++number) {
    const std::string line = BenchPersonLine('Q', number, kind.Long);
    request += line + "\r\n";
    const LineMinimum minimum = MinimumOf(line, kind, options);
    minimumMs += minimum.ProtocolMs;
    ptyMinimumMs += minimum.PtyMs;
  }
  const std::filesystem::path path = directory / "request.cfg";
  std::ofstream(path, std::ios::binary) << request;

  const size_t logBefore = sim.LogCount();
  const auto start = SteadyClock::now();
  const JobResult result = processor.ProcessRequestFile(path.string());
  const double wallMs =
      std::chrono::duration<double, std::milli>(clock.JobEnd.value_or(SteadyClock::now()) - start).count();
  sim.Stop();

  int framesSeen = 0;
  const std::vector<std::string> log = sim.LogLines();
  for (size_t i = logBefore; i < log.size(); ++i) {
    if (log[i].find(" rx ") != std::string::npos) ++framesSeen;
  }
  std::ifstream statusFile(directory / "rudazo.sta", std::ios::binary);
  std::string status;
  std::getline(statusFile, status);
  std::filesystem::remove_all(directory);

  const int commands = kind.Long ? 2 * count : count;
  std::printf("lines %d %s (%d commands), 19200 baud paced, %s, TxTurnaroundUs %u, RxTurnaroundUs %u, "
              "ack delay %d ms%s\n",
              count, kind.Long ? "long, days 1-28" : "short, days 1-14", commands, role, settings.TxTurnaroundUs,
              settings.RxTurnaroundUs, options.AckMs,
              kind.Master ? (", poll every " + std::to_string(options.PollMs) + " ms").c_str() : "");
  std::printf("acknowledged %d, frames at the simulator %d, status file \"%s\"\n", processor.Report().DoneCount, framesSeen,
              status.substr(0, status.find('\r')).c_str());
  std::printf("wall %.1f ms (%.2f ms a line)\n", wallMs, wallMs / count);
  std::printf("protocol minimum %.1f ms: ratio %.3f (target 1.10 or less)\n", minimumMs, wallMs / minimumMs);
  std::printf("pseudo-terminal minimum %.1f ms: ratio %.3f\n", ptyMinimumMs, wallMs / ptyMinimumMs);
  std::printf("upload of %d such persons to a %s: %.1f min at this pace, %.1f min at the protocol minimum\n",
              kUploadPersons, role, wallMs / count * kUploadPersons / 60000, minimumMs / count * kUploadPersons / 60000);
  const bool ok = result == JobResult::Done && processor.Report().DoneCount == commands && framesSeen == commands &&
                  status == std::to_string(commands) + ",0\r";
  std::printf("%s\n", ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}
