// The watcher's decisions: when a request file is ready to be handed over,
// and which task each 50 ms pass runs.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "requests/RequestWatch.h"
#include "support/TempDir.h"

namespace {

const FileSighting kNothing{};
FileSighting File(int64_t stamp) { return {true, stamp}; }

}  // namespace

TEST(RequestFileReady, TwoConsecutiveSightingsOfAnUnchangedFile) {
  TRequestSightings watch;
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
  TRequestSightings watch;

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
  TWatchCounters counters;
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
