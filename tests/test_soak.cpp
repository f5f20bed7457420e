// Load: request files dropped one after another as fast as the program takes
// them (each a few 'Q' lines and a 'P' line) against a slave terminal without
// pacing. Every tenth request goes instead to a master terminal on a second
// line after a quiet spell, as in a canteen: five minutes of polls nobody
// read (the simulator writes them at once). Every request is carried out
// exactly once, its frames reach the line whole and in order, its read-back
// shows its own records, and the program's resident memory does not grow
// after the warm-up.
//
// TARVION_SOAK_REQUESTS chooses the number of requests (default 50, as CI
// runs it; the benchmark runs 1000). The figures are printed.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/PersonLines.h"
#include "support/ProgramRequests.h"

namespace {

using Lines = std::vector<std::string>;

constexpr int kDefaultRequests = 50;
constexpr int kPersonsPerRequest = 3;
constexpr int kQuietSpellEvery = 10;
// Resident memory may move by allocator slack, never by a leak per request.
constexpr long kMostGrowthKb = 2048;

int RequestCount() {
  const char* text = std::getenv("TARVION_SOAK_REQUESTS");
  const int count = text != nullptr ? std::atoi(text) : kDefaultRequests;
  return count > 0 ? count : kDefaultRequests;
}

// Person `number` as request `request` sends it: the identification bytes
// carry the request's number, so that every frame and every read-back line
// tells which request it came from. The same persons are stored again and
// again, so the terminal's table stays small.
std::string SoakLine(int number, int request) {
  char id[8];
  std::snprintf(id, sizeof id, "%04d", request % 10000);
  return PersonLine('Q', number, false).replace(5, 4, id);
}

std::string SoakAnswer(int number, int request) {
  std::string line = AnswerLine('Q', number, false);
  char id[16];
  std::snprintf(id, sizeof id, "%04d", request % 10000);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", id[0], id[1], id[2], id[3]);
  return line.replace(5, 8, hex);
}

class Soak : public RequestFixture {};

}  // namespace

TEST_F(Soak, EveryRequestOnceInOrderAndNoGrowth) {
  const int count = RequestCount();
  const int warmUp = std::min(100, count / 2);
  StoredConfig config = FastConfig();
  config.Block.Terminals[1] = TerminalEntry{2, 1, true};
  WriteConfig(config, {{2, LinePath("master")}});
  auto sim = StartDevice({"1:slave"}, {"--no-pacing"});
  auto master = StartSimulator({"2:master"}, {"--no-pacing"}, "master");  // COM2
  ActLikeADevice(master->Pid());
  auto program = StartProgramUntil("TERM 2 MASTER");
  const size_t mark = LogMark();
  int quietSpells = 0;

  Lines expectedFrames;
  long warmKb = -1;
  const auto start = std::chrono::steady_clock::now();
  for (int request = 1; request <= count; ++request) {
    Lines lines;
    std::string answers;
    for (int number = 1; number <= kPersonsPerRequest; ++number) {
      lines.push_back(SoakLine(number, request));
      answers += SoakAnswer(number, request);
    }
    lines.push_back("P");
    const bool quietMaster = request % kQuietSpellEvery == 0;
    const size_t masterMark = LogMark("master");
    if (quietMaster) {
      master->Signal(SIGUSR1);
      ASSERT_TRUE(WaitUntil([&] { return !Logged("backlog", masterMark, "master").empty(); }, kProcessTimeout));
      ++quietSpells;
    } else {
      const Lines frames = FramesHex(1, lines);
      expectedFrames.insert(expectedFrames.end(), frames.begin(), frames.end());
    }

    const std::string terminalLine = quietMaster ? "TERM2" : "TERM1";
    ASSERT_TRUE(HandInRequest(RequestBytes(Plus({terminalLine}, lines)), std::to_string(kPersonsPerRequest + 1) + "," +
                                                                          std::to_string(kPersonsPerRequest)))
        << "request " << request;
    ASSERT_EQ(ReadFile(OutputPath()), answers) << "request " << request;
    if (quietMaster) {
      ASSERT_EQ(Logged("rx", masterMark, "master"), FramesHex(2, lines)) << "request " << request;
    }
    if (request == warmUp) warmKb = ResidentKb(program->Pid());
    if (request % 100 == 0) {
      std::printf("request %d: VmRSS %ld kB\n", request, ResidentKb(program->Pid()));
      std::fflush(stdout);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long endKb = ResidentKb(program->Pid());

  // Every frame of every request, in order, none twice, none interleaved.
  const Lines frames = CommandFrames(mark);
  EXPECT_EQ(frames.size(), expectedFrames.size());
  EXPECT_TRUE(frames == expectedFrames) << "the line's frames differ from the requests'";
  EXPECT_EQ(Logged("bad", mark), Lines{});
  EXPECT_TRUE(program->Running());
  std::printf("requests %d in %.0f s (%.2f s each), %d of them after a quiet spell; VmRSS %ld kB at request %d, "
              "%ld kB at request %d\n",
              count, seconds, seconds / count, quietSpells, warmKb, warmUp, endKb, count);
  EXPECT_LE(endKb - warmKb, kMostGrowthKb);
}
