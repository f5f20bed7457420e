// The watcher's decisions: when a request file is ready to be handed over,
// and which task each 50 ms pass runs; and on the other side, which status
// pair a program that handed a request in takes for its job's final one.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "requests/RequestClientRules.h"
#include "requests/RequestWatch.h"
#include "support/TempDir.h"

namespace {

const FileSighting kNothing{};
FileSighting File(int64_t stamp) { return {true, stamp}; }

// The start directory's changes as Tarvion makes them.
using Changes = std::vector<DirectoryChange>;
Changes Rename(const std::string& from, const std::string& to) {
  return {{ChangeKind::MovedFrom, from, {}}, {ChangeKind::MovedTo, to, {}}};
}
Changes Replaced(const std::string& name) { return Rename("." + name + ".tmp", name); }
Changes Status(int first, int second) {
  Changes changes = Replaced("rudazo.sta");
  changes.back().Pair = StatusPair{first, second};
  return changes;
}
// A status file that a later one replaced before it could be read.
Changes Unread() { return Replaced("rudazo.sta"); }
Changes Removed(const std::string& name) { return {{ChangeKind::Removed, name, {}}}; }
const Changes kTakeIn = Rename("request.cfg", "request.cfg.prevzato");
const Changes kOutput = Replaced("output.txt");
const Changes kKeptUnfinished = Rename("request.cfg.prevzato", "request.cfg.nedokonceno");

// The stage after each step, a letter a step: Waiting, Taken in, Final,
// Unfinished, Not run.
std::string Stages(RequestClientRules& rules, const std::vector<Changes>& steps) {
  std::string letters;
  for (const Changes& step : steps) {
    for (const DirectoryChange& change : step) rules.Seen(change);
    letters += "WTFUN"[static_cast<int>(rules.Stage())];
  }
  return letters;
}

std::string Result(const RequestClientRules& rules) {
  if (!rules.PairRead()) return "unknown";
  return std::to_string(rules.Pair().First) + "," + std::to_string(rules.Pair().Second) +
         (rules.OutputLost() ? " output lost" : "");
}

}  // namespace

TEST(RequestFileReady, TwoConsecutiveSightingsOfAnUnchangedFile) {
  RequestSightings watch;
  EXPECT_FALSE(watch.RequestFileReady(kNothing));
  EXPECT_FALSE(watch.RequestFileReady(File(7)));
  EXPECT_TRUE(watch.RequestFileReady(File(7)));
  // Handed over: a file still there (its deletion failed) needs two checks again.
  EXPECT_FALSE(watch.RequestFileReady(File(7)));
  EXPECT_TRUE(watch.RequestFileReady(File(7)));

  // Removed before its second sighting: not ready, and the next file needs two
  // sightings of its own.
  EXPECT_FALSE(watch.RequestFileReady(File(9)));
  EXPECT_FALSE(watch.RequestFileReady(kNothing));
  EXPECT_FALSE(watch.RequestFileReady(File(10)));
  EXPECT_TRUE(watch.RequestFileReady(File(10)));

  // Still being written between the checks: the changed time is a new first sighting.
  EXPECT_FALSE(watch.RequestFileReady(File(20)));
  EXPECT_FALSE(watch.RequestFileReady(File(21)));
  EXPECT_TRUE(watch.RequestFileReady(File(21)));

  // Grown or cut with the same time stamp (a coarse file-system clock): still
  // being written.
  EXPECT_FALSE(watch.RequestFileReady({true, 30, 10}));
  EXPECT_FALSE(watch.RequestFileReady({true, 30, 0}));
  EXPECT_TRUE(watch.RequestFileReady({true, 30, 0}));

  // A time stamp of zero is a time like any other.
  EXPECT_FALSE(watch.RequestFileReady(File(0)));
  EXPECT_TRUE(watch.RequestFileReady(File(0)));
}

TEST(RequestFileReady, LooksAtTheFileSystem) {
  const TempDir temp("watch");
  const std::string directory = temp.Path().string();
  const std::string path = directory + "/request.cfg";
  RequestSightings watch;

  // A directory of that name is never handed over.
  std::filesystem::create_directory(path);
  for (int check = 0; check < 4; ++check) EXPECT_FALSE(watch.RequestFileReady(LookUpRequestFile(path)));
  std::filesystem::remove(path);
  EXPECT_FALSE(LookUpRequestFile(path).RegularFile);

  std::ofstream(path) << "P\r\n";
  const FileSighting seen = LookUpRequestFile(path);
  EXPECT_TRUE(seen.RegularFile);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(seen.LastWriteNs, static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec);
  EXPECT_EQ(seen.Size, 3);
  EXPECT_FALSE(watch.RequestFileReady(LookUpRequestFile(path)));
  EXPECT_TRUE(watch.RequestFileReady(LookUpRequestFile(path)));

  // A FIFO of that name is no request file either.
  std::filesystem::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  for (int check = 0; check < 3; ++check) EXPECT_FALSE(watch.RequestFileReady(LookUpRequestFile(path)));
}

TEST(WatchCounters, RequestEvery21stPassTerminalEvery81st) {
  WatchCounters counters;
  std::vector<int> requestPasses, terminalPasses;
  for (int pass = 1; pass <= 700; ++pass) {
    switch (counters.Pass()) {
      case WatchTask::CheckRequest:
        requestPasses.push_back(pass);
        break;
      case WatchTask::CheckTerminal:
        terminalPasses.push_back(pass);
        break;
      case WatchTask::None:
        break;
    }
  }
  ASSERT_EQ(requestPasses.size(), 700u / 21);
  for (size_t i = 0; i < requestPasses.size(); ++i) EXPECT_EQ(requestPasses[i], static_cast<int>(21 * (i + 1)));
  // 567 = 27 x 21 is a request pass: that terminal check moves to the next
  // pass, and the following one counts from there.
  EXPECT_EQ(terminalPasses, (std::vector<int>{81, 162, 243, 324, 405, 486, 568, 649}));
}

TEST(RequestClientRules, TheFirstPairAfterTheOutputOrANegativeOneIsFinal) {
  // The job before ends while the request waits; then a TERM line's 1,0.
  RequestClientRules term("request.cfg", "output.txt");
  EXPECT_EQ(Stages(term, {kOutput, Status(2, 0), kTakeIn, Status(1, 0), kOutput, Status(2, 3)}), "WWTTTF");
  EXPECT_EQ(Result(term), "2,3");
  // A job stopped in the middle keeps its file after its real pair.
  RequestClientRules stopped("request.cfg", "output.txt");
  EXPECT_EQ(Stages(stopped, {kTakeIn, kOutput, Status(1, 0), kKeptUnfinished}), "TTFF");
  EXPECT_EQ(Result(stopped), "1,0");

  RequestClientRules refused("request.cfg", "output.txt");
  EXPECT_EQ(Stages(refused, {kTakeIn, Status(-1, 0)}), "TF");
  EXPECT_EQ(Result(refused), "-1,0");
  RequestClientRules tooLarge("request.cfg", "output.txt");
  EXPECT_EQ(Stages(tooLarge, {kTakeIn, Rename("request.cfg.prevzato", "request.cfg.odmitnuto")}), "TF");
  EXPECT_EQ(Result(tooLarge), "-1,-1");
}

TEST(RequestClientRules, ARequestPutBackCountsFromItsNextTakeIn) {
  RequestClientRules rules("in.cfg", "out.txt");
  EXPECT_EQ(Stages(rules, {Rename("in.cfg", "in.cfg.prevzato"), Rename("in.cfg.prevzato", "in.cfg"),
                           Replaced("out.txt"), Status(5, 0), Rename("in.cfg", "in.cfg.prevzato"),
                           Replaced("out.txt"), Status(1, 1)}),
            "TWWWTTF");
  EXPECT_EQ(Result(rules), "1,1");
  // Kept aside instead, because a new request had the name by then.
  RequestClientRules aside("request.cfg", "output.txt");
  EXPECT_EQ(Stages(aside, {kTakeIn, Rename("request.cfg.prevzato", "request.cfg.rozepsano")}), "TN");
}

// A full disk, or a kill in the middle of the job: never an earlier pair
// taken for the final one, never a wait for a pair that cannot come.
TEST(RequestClientRules, AJobWithoutItsFilesEndsWithoutAWrongPair) {
  RequestClientRules removed("request.cfg", "output.txt");
  EXPECT_EQ(Stages(removed, {kTakeIn, Status(1, 0), Removed("output.txt"), Status(3, 0)}), "TTTF");
  EXPECT_EQ(Result(removed), "3,0 output lost");
  RequestClientRules noTrace("request.cfg", "output.txt");
  EXPECT_EQ(Stages(noTrace, {kTakeIn, Status(1, 0), Status(3, 0), Removed("request.cfg.prevzato")}), "TTTF");
  EXPECT_EQ(Result(noTrace), "3,0 output lost");

  // A status that could not be written: the 1,0, the final pair.
  RequestClientRules noTerm("request.cfg", "output.txt");
  EXPECT_EQ(Stages(noTerm, {kTakeIn, Removed("rudazo.sta"), kOutput, Status(2, 0)}), "TTTF");
  EXPECT_EQ(Result(noTerm), "2,0");
  RequestClientRules noStatus("request.cfg", "output.txt");
  EXPECT_EQ(Stages(noStatus, {kTakeIn, Status(1, 0), kOutput, Removed("rudazo.sta")}), "TTTU");
  EXPECT_EQ(Result(noStatus), "-1,-1");
  // Killed after the 1,0; the next start keeps the request aside.
  RequestClientRules killed("request.cfg", "output.txt");
  EXPECT_EQ(Stages(killed, {kTakeIn, Status(1, 0), kKeptUnfinished}), "TTU");
  EXPECT_EQ(Result(killed), "-1,-1");
}

// A client that runs late: a status replaced before it was read takes its
// place in the order all the same, and a later pair is never taken for it.
TEST(RequestClientRules, APairReplacedBeforeItWasReadIsUnknownNeverALaterOne) {
  RequestClientRules late("request.cfg", "output.txt");
  EXPECT_EQ(Stages(late, {kTakeIn, Status(1, 0), kOutput, Unread(), kTakeIn, Status(1, 0), kOutput, Status(4, 4)}),
            "TTTFFFFF");
  EXPECT_EQ(Result(late), "unknown");
  // The TERM line's 1,0 replaced by the final pair before it was read.
  RequestClientRules term("request.cfg", "output.txt");
  EXPECT_EQ(Stages(term, {kTakeIn, Unread(), kOutput, Status(2, 3)}), "TTTF");
  EXPECT_EQ(Result(term), "2,3");
  // Unread before any output, then the taken-in file goes: that pair was the
  // final one (a refusal, or an output that could not be written).
  RequestClientRules refused("request.cfg", "output.txt");
  EXPECT_EQ(Stages(refused, {kTakeIn, Unread(), Removed("request.cfg.prevzato"), kTakeIn, Status(1, 0)}), "TTFFF");
  EXPECT_EQ(Result(refused), "unknown");
}
