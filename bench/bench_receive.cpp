// Reception of a full answer over the line: a simulated slave terminal holding
// N persons with DT bytes (29-byte records, 72,500 bytes for the default
// 2500) sends its 'P' answer paced at 19200 baud; the PC side receives it with
// ExecuteLine. Prints the time, the bytes expected and received, and whether
// every line came complete.
//
//   bench_receive [persons]        (CI runs it with a small number)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchRun.h"
#include "link/Coding.h"
#include "link/CommPort.h"
#include "link/ErrorLog.h"
#include "link/LinkDisplay.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "requests/LineExecution.h"
#include "tools/orveta-sim/Simulator.h"

namespace {

constexpr int kDefaultPersons = 2500;
constexpr int kMaxPersons = 9999;

class CountingDisplay final : public LinkDisplay {
 public:
  void SetLoadedPanel(const std::string&) override {}
  CursorShape Cursor() const override { return CursorShape::Default; }
  void SetCursor(CursorShape) override {}
  void ShowCapacityMessage() override { ++CapacityMessages; }
  int CapacityMessages = 0;
};

// The line the decoder must give back for BenchPersonLine('R', number), without DT.
std::string ExpectedLine(int number) {
  char head[32];
  std::snprintf(head, sizeof head, "R%04d4944%02X%02XK", number, '0' + number % 100 / 10, '0' + number % 10);
  // With MealCoding, 'N' comes back as '*'.
  return std::string(head) + "01A2B3C4D*01A2" + "**01A**01A**01" + "**01A2**01A2**";
}

}  // namespace

int main(int argc, char** argv) {
  const int persons = argc > 1 ? std::atoi(argv[1]) : kDefaultPersons;
  if (persons < 1 || persons > kMaxPersons) {
    std::fprintf(stderr, "usage: bench_receive [persons 1-%d]\n", kMaxPersons);
    return 2;
  }
  const std::filesystem::path directory = MakeRunDirectory("bench");

  LinkSettings& settings = Settings();
  settings.UseDT = true;
  settings.Capacity = persons;
  settings.AnswerBufferSize = persons * 29;

  SimOptions options;
  options.Link = (directory / "line").string();
  options.Terminals = {{1, false}};
  options.Dt = true;
  options.Baud = 19200;
  Simulator sim(options);
  if (!StartSimulator(sim)) return 1;
  for (int number = 1; number <= persons; ++number) {
    char buffer[kWorkBufferSize] = {};
    const std::string line = BenchPersonLine('R', number);
    line.copy(buffer, line.size());
    const int length = EncodeCommand(buffer, CodingSettingsOf(Settings())).Length;
    sim.Store(1, std::string(buffer, static_cast<size_t>(length)));
  }

  SetComDevicePath(0, sim.LinkPath());
  TSer_Port port(0, 19200);
  TOrveta terminal(&port, 1);
  CountingDisplay display;
  terminal.Display = &display;
  if (!port.Opened || !terminal.TestLink()) {
    std::fprintf(stderr, "the simulated terminal did not answer\n");
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  const LineResult answer = ExecuteLine(terminal, "P");
  const bool executed = answer.CarriedOut();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  int complete = 0;
  for (size_t i = 0; i < answer.Lines.size(); ++i) {
    const std::string& line = answer.Lines[i];
    if (line.size() == 66 && line.compare(0, 56, ExpectedLine(static_cast<int>(i) + 1)) == 0) ++complete;
  }
  const long expectedBytes = static_cast<long>(persons) * 29;
  std::printf("persons %d, record 29 bytes, 19200 baud paced\n", persons);
  std::printf("answer: %ld bytes expected, %d received, %.2f s (line time alone %.2f s)\n", expectedBytes,
              terminal.AnswerLength, seconds, expectedBytes * 10.0 / 19200);
  std::printf("lines: %zu decoded, %d complete and equal to what was stored\n", answer.Lines.size(), complete);
  const long lost = expectedBytes - terminal.AnswerLength;
  std::printf("bytes lost: %ld\n", lost);
  sim.Stop();
  std::filesystem::remove_all(directory);
  const bool ok = executed && lost == 0 && complete == persons && display.CapacityMessages == 0;
  std::printf("%s\n", ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}
