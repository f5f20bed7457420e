// A batch of N 'Q' lines (default 200) from a request file to a simulated
// slave terminal at 19200 baud with pacing, through the request processing the
// program uses (a minimal main window stands in). Prints the wall time of the
// job, from handing the file over until the status file is written, and
// divides it by the protocol minimum of the batch:
//
//   per line: TxTurnaroundUs + the frame's wire time + RxTurnaroundUs
//             + the simulator's acknowledgement delay + the acknowledgement's
//             wire time + the 25 ms pause after a slave's line
//
// with 10 bits a byte. On a pseudo-terminal the PC's own bytes are not paced
// (they reach the simulator at once) and the acknowledgement delay runs during
// the receive turnaround, so a second, tighter minimum is printed as well:
// TxTurnaroundUs + max(RxTurnaroundUs, acknowledgement delay) + the
// acknowledgement's wire time + 25 ms per line.
//
//   bench_batch [lines]

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
#include "link/Orveta.h"
#include "link/Settings.h"
#include "requests/RequestProcessor.h"
#include "tests/support/PersonLines.h"
#include "tools/orveta-sim/Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int DefaultLines = 200;
constexpr int MaxLines = 9999;
constexpr int Baud = 19200;
constexpr double BitsPerByte = 10;
constexpr double SlavePauseMs = 25;
constexpr milliseconds IndicatorRefreshPause{1500};

// The program's defaults: one attempt, stop on failure, raised priority.
class BenchWindow final : public BatchHost {
 public:
  explicit BenchWindow(TOrveta& terminal) : terminal_(terminal) {}

  int SelectedIndex() const override { return 0; }
  void Select(int) override {}
  TOrveta* AvailableTerminal(int t) override { return t == 0 ? &terminal_ : nullptr; }
  TerminalIndicator Indicator(int) const override { return TerminalIndicator::Cyan; }
  void SetIndicator(int, TerminalIndicator) override {}
  SendControls Controls() const override { return {1, true, true}; }
  std::string OutputFileName() const override { return "output.txt"; }
  bool IsShuttingDown() const override { return false; }
  void SetPanel(int, const std::string&) override {}
  void ShowBalloon(const std::string&, const std::string&) override {}
  void HideBalloon() override {}
  void SetTrayImage(int) override {}
  void ClearResultList() override {}
  std::vector<std::string> ResultLines() const override { return {}; }
  void RepaintNow() override {}
  void PauseWatcher() override {}
  void ResumeWatcher() override {}
  // The pause before the indicator refresh follows the status file and is no
  // part of the batch: its start ends the measurement and it is skipped.
  void Sleep(milliseconds pause) override {
    if (pause == IndicatorRefreshPause) {
      if (!JobEnd) JobEnd = Clock::now();
      return;
    }
    std::this_thread::sleep_for(pause);
  }

  std::optional<Clock::time_point> JobEnd;

 private:
  TOrveta& terminal_;
};

// Bytes of the frame that carries `line`.
int FrameBytes(const std::string& line) {
  char buffer[WorkBufferSize] = {};
  line.copy(buffer, std::min<size_t>(line.size(), WorkBufferSize - 1));
  return EncodeCommand(buffer) + 3;
}

double WireMs(int bytes) { return bytes * BitsPerByte * 1000.0 / Baud; }

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : DefaultLines;
  if (count < 1 || count > MaxLines) {
    std::fprintf(stderr, "usage: bench_batch [lines 1-%d]\n", MaxLines);
    return 2;
  }
  const std::filesystem::path directory = MakeRunDirectory("batch");

  SimOptions options;
  options.Link = (directory / "line").string();
  options.Terminals = {{1, false}};
  options.Baud = Baud;
  Simulator sim(options);
  if (!StartSimulator(sim)) return 1;
  SetComDevicePath(0, sim.LinkPath());
  TSer_Port port(0, Baud);
  TOrveta terminal(&port, 1);
  BenchWindow window(terminal);
  if (!port.Opened || !terminal.TestLink() || !terminal.IsSlave()) {
    std::fprintf(stderr, "the simulated slave did not answer\n");
    return 1;
  }

  const LinkSettings& settings = Settings();
  const double txMs = settings.TxTurnaroundUs / 1000.0, rxMs = settings.RxTurnaroundUs / 1000.0;
  const double ackMs = options.AckMs, ackWireMs = WireMs(1);
  std::string request;
  double minimumMs = 0, ptyMinimumMs = 0;
  for (int number = 1; number <= count; ++number) {
    const std::string line = PersonLine('Q', number, false);
    request += line + "\r\n";
    minimumMs += txMs + WireMs(FrameBytes(line)) + rxMs + ackMs + ackWireMs + SlavePauseMs;
    ptyMinimumMs += txMs + std::max(rxMs, ackMs) + ackWireMs + SlavePauseMs;
  }
  const std::filesystem::path path = directory / "request.cfg";
  std::ofstream(path, std::ios::binary) << request;

  std::vector<std::string> lines;
  TRequestProcessor processor(window, lines);
  const size_t logBefore = sim.LogCount();
  const auto start = Clock::now();
  const JobResult result = processor.ProcessRequestFile(path.string());
  const double wallMs = std::chrono::duration<double, std::milli>(window.JobEnd.value_or(Clock::now()) - start).count();
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

  std::printf("lines %d, 19200 baud paced, slave, TxTurnaroundUs %u, RxTurnaroundUs %u, ack delay %.0f ms\n", count,
              settings.TxTurnaroundUs, settings.RxTurnaroundUs, ackMs);
  std::printf("acknowledged %d, frames at the simulator %d, status file \"%s\"\n", terminal.DoneCount, framesSeen,
              status.substr(0, status.find('\r')).c_str());
  std::printf("wall %.1f ms (%.2f ms a line)\n", wallMs, wallMs / count);
  std::printf("protocol minimum %.1f ms: ratio %.3f (target 1.10 or less)\n", minimumMs, wallMs / minimumMs);
  std::printf("pseudo-terminal minimum %.1f ms: ratio %.3f\n", ptyMinimumMs, wallMs / ptyMinimumMs);
  const bool ok = result == JobResult::Done && terminal.DoneCount == count && framesSeen == count &&
                  status == std::to_string(count) + ",0\r";
  std::printf("%s\n", ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}
