// Poll reaction: how fast the PC answers a master terminal's poll. Sends N
// commands (default 500) to a simulated master at 19200 baud with pacing and
// reads the simulator's "reaction" lines: the time from the poll's last byte
// to the frame's first byte. Prints the median, 99th percentile and maximum,
// each also minus TxTurnaroundUs (the settling wait the PC makes on purpose).
// With --trace the wire trace records everything into FILE meanwhile, as
// tarvion --trace does, with --capture the capture for Wireshark, as tarvion
// --capture does (or both): the figures show what they cost the line. With
// --metrics the metrics file is written into FILE once a second while the
// link waits (the window's events run in those waits), sixty times as often
// as tarvion --metrics writes it during a batch.
// Then the first command after a quiet spell, ten times: the simulator
// writes five minutes of polls nobody read, and one command follows; its
// acknowledgement, reaction and duration are printed beside the others.
//
//   bench_reaction [--trace FILE] [--capture FILE] [--metrics FILE] [commands]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/BenchRun.h"
#include "link/Coding.h"
#include "link/CommPort.h"
#include "link/ErrorLog.h"
#include "link/FileReplace.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "link/WireTrace.h"
#include "requests/Metrics.h"
#include "tools/orveta-sim/Simulator.h"

namespace {

constexpr int kDefaultCommands = 500;
constexpr int kQuietSpells = 10;
constexpr int kQuietSeconds = 300;
constexpr auto kMetricsInterval = std::chrono::seconds(1);

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  return values[index];
}

// The reaction figures of the simulator's log lines from `from` on.
std::vector<double> ReactionsUs(const Simulator& sim, size_t from) {
  std::vector<double> reactions;
  const std::vector<std::string> lines = sim.LogLines();
  for (size_t i = from; i < lines.size(); ++i) {
    if (lines[i].rfind("reaction ", 0) == 0) reactions.push_back(std::atof(lines[i].c_str() + 9));
  }
  return reactions;
}

struct QuietSpells {
  int Acknowledged = 0;
  std::vector<double> ReactionUs;
  std::vector<double> CommandMs;
};

// One command after each of kQuietSpells backlogs.
QuietSpells AfterQuietSpells(Simulator& sim, TOrveta& terminal) {
  QuietSpells result;
  for (int spell = 0; spell < kQuietSpells; ++spell) {
    const size_t from = sim.LogCount();
    sim.WriteBacklog(kQuietSeconds);
    if (sim.WaitForLog("backlog ", std::chrono::seconds(5), from) < 0) break;
    char line[kWorkBufferSize] = "Hello";
    const auto start = std::chrono::steady_clock::now();
    if (terminal.SendCommand(line) == 0) ++result.Acknowledged;
    result.CommandMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    const std::vector<double> reactions = ReactionsUs(sim, from);
    result.ReactionUs.insert(result.ReactionUs.end(), reactions.begin(), reactions.end());
  }
  return result;
}

// Writes the metrics of `terminal` into `path` from the link's waits, once
// per kMetricsInterval; counts the writes.
class MetricsWriter {
 public:
  MetricsWriter(std::string path, const TOrveta& terminal) : path_(std::move(path)), terminal_(terminal) {
    SetDispatchHook([this] { Tick(); });
  }
  ~MetricsWriter() { SetDispatchHook(nullptr); }
  int Writes() const { return writes_; }

 private:
  void Tick() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < kMetricsInterval) return;
    last_ = now;
    MetricsSnapshot snapshot{"bench", std::time(nullptr), {{1, ComDevicePath(0), true, std::nullopt}}, {}, {}};
    snapshot.Terminals.push_back({1, 1, TerminalLinkState::Master, terminal_.Counts, {}});
    if (ReplaceFile(path_, FormatMetrics(snapshot), {}, 0644)) ++writes_;
  }

  std::string path_;
  const TOrveta& terminal_;
  std::chrono::steady_clock::time_point last_{};
  int writes_ = 0;
};

size_t LineCount(const std::string& path) {
  std::ifstream in(path);
  size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  WireTraceFiles files;
  std::string metricsPath;
  int next = 1;
  for (; next + 1 < argc; next += 2) {
    const std::string option = argv[next];
    if (option == "--metrics") {
      metricsPath = argv[next + 1];
      continue;
    }
    if (option != "--trace" && option != "--capture") break;
    (option == "--trace" ? files.Trace : files.Capture) = argv[next + 1];
  }
  const int commands = argc > next ? std::atoi(argv[next]) : kDefaultCommands;
  if (commands < 1 || commands > 100000 || argc > next + 1) {
    std::fprintf(stderr, "usage: bench_reaction [--trace FILE] [--capture FILE] [--metrics FILE] [commands]\n");
    return 2;
  }
  std::string error;
  if (!StartWireTrace(files, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const std::filesystem::path directory = MakeRunDirectory("reaction");

  SimOptions options;
  options.Link = (directory / "line").string();
  options.Terminals = {{1, true}};
  Simulator sim(options);
  if (!StartSimulator(sim)) return 1;
  SetComDevicePath(0, sim.LinkPath());
  TSer_Port port(0, 19200);
  TOrveta terminal(&port, 1);
  if (!port.Opened || !terminal.TestLink() || !terminal.IsMaster()) {
    std::fprintf(stderr, "the simulated master did not poll\n");
    return 1;
  }

  std::optional<MetricsWriter> metrics;
  if (!metricsPath.empty()) metrics.emplace(metricsPath, terminal);
  int acknowledged = 0;
  for (int i = 0; i < commands; ++i) {
    char line[kWorkBufferSize] = "Hello";
    if (terminal.SendCommand(line) == 0) ++acknowledged;
  }
  const int metricsWrites = metrics ? metrics->Writes() : 0;
  metrics.reset();
  const std::vector<double> reactionUs = ReactionsUs(sim, 0);
  const QuietSpells quiet = AfterQuietSpells(sim, terminal);
  sim.Stop();
  StopWireTrace();
  std::filesystem::remove_all(directory);
  if (reactionUs.empty()) {
    std::fprintf(stderr, "no reaction was measured\n");
    return 1;
  }
  const double turnaround = Settings().TxTurnaroundUs;
  const double median = Percentile(reactionUs, 0.5), p99 = Percentile(reactionUs, 0.99);
  const double worst = *std::max_element(reactionUs.begin(), reactionUs.end());
  std::printf("commands %d, acknowledged %d, reactions measured %zu, TxTurnaroundUs %.0f\n", commands, acknowledged,
              reactionUs.size(), turnaround);
  if (!files.Trace.empty()) std::printf("wire trace on: %zu lines in %s\n", LineCount(files.Trace), files.Trace.c_str());
  if (!files.Capture.empty()) {
    std::printf("wire capture on: %ju bytes in %s\n", static_cast<uintmax_t>(std::filesystem::file_size(files.Capture)),
                files.Capture.c_str());
  }
  if (!metricsPath.empty()) std::printf("metrics on: %d writes of %s\n", metricsWrites, metricsPath.c_str());
  std::printf("reaction us: median %.0f, p99 %.0f, max %.0f\n", median, p99, worst);
  std::printf("minus turnaround, ms: median %.3f, p99 %.3f, max %.3f (targets: median < 0.5, p99 < 2)\n",
              (median - turnaround) / 1000, (p99 - turnaround) / 1000, (worst - turnaround) / 1000);
  std::printf("first command after %d s of quiet (%d times): acknowledged %d", kQuietSeconds, kQuietSpells,
              quiet.Acknowledged);
  if (!quiet.ReactionUs.empty()) {
    std::printf(", reaction minus turnaround ms: median %.3f, max %.3f",
                (Percentile(quiet.ReactionUs, 0.5) - turnaround) / 1000,
                (*std::max_element(quiet.ReactionUs.begin(), quiet.ReactionUs.end()) - turnaround) / 1000);
  }
  if (!quiet.CommandMs.empty()) {
    std::printf(", command ms: median %.1f, max %.1f", Percentile(quiet.CommandMs, 0.5),
                *std::max_element(quiet.CommandMs.begin(), quiet.CommandMs.end()));
  }
  std::printf("\n");
  // A command lost on a loaded machine is reported, not failed on: this prints
  // figures; the link tests decide correctness.
  if (acknowledged != commands) std::printf("note: %d commands were not acknowledged\n", commands - acknowledged);
  if (quiet.Acknowledged != kQuietSpells) {
    std::printf("note: %d commands after a quiet spell were not acknowledged\n", kQuietSpells - quiet.Acknowledged);
  }
  return 0;
}
