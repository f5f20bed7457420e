// A request file that changes after it was read: rewritten in place or
// replaced by another file is a new request that must not be deleted unread;
// one that is still the file read, or is gone, may be taken in. Taking in
// renames it aside first, so that its name is free at once and nothing is
// ever lost.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "requests/RequestFile.h"
#include "requests/RequestTakeIn.h"
#include "support/TempDir.h"

namespace {

class RequestRewrite : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return directory_ + "/" + name; }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  FileStamp ReadRequest() {
    std::vector<std::string> lines;
    FileStamp stamp;
    EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines, &stamp), FileRead::Read);
    return stamp;
  }

  TempDir temp_{"rewrite"};
  const std::string directory_ = temp_.Path().string();
};

}  // namespace

TEST_F(RequestRewrite, OnlyTheUnchangedFileReadMayBeDeleted) {
  Write("request.cfg", "X1\r\n");
  FileStamp stamp = ReadRequest();
  EXPECT_FALSE(ChangedSinceRead(Path("request.cfg"), stamp));

  // Rewritten in place: same inode, other bytes.
  Write("request.cfg", "X1\r\nX2\r\n");
  EXPECT_TRUE(ChangedSinceRead(Path("request.cfg"), stamp));

  // Replaced by a file of the same size written beside it and renamed in.
  stamp = ReadRequest();
  Write("request.tmp", "X3\r\nX4\r\n");
  std::filesystem::rename(Path("request.tmp"), Path("request.cfg"));
  EXPECT_TRUE(ChangedSinceRead(Path("request.cfg"), stamp));

  // Its names, mode and access time may change (the other program handed it
  // in by a hard link and removes its own name afterwards, or changes its
  // mode): the content is the same, so it is the same request.
  stamp = ReadRequest();
  ASSERT_EQ(link(Path("request.cfg").c_str(), Path("work.cfg").c_str()), 0);
  ASSERT_EQ(unlink(Path("work.cfg").c_str()), 0);
  ASSERT_EQ(chmod(Path("request.cfg").c_str(), 0600), 0);
  const timespec accessedNow[2] = {{0, UTIME_NOW}, {0, UTIME_OMIT}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("request.cfg").c_str(), accessedNow, 0), 0);
  EXPECT_FALSE(ChangedSinceRead(Path("request.cfg"), stamp));
  // A new last-write time says its content may have changed.
  const timespec writtenNow[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("request.cfg").c_str(), writtenNow, 0), 0);
  EXPECT_TRUE(ChangedSinceRead(Path("request.cfg"), stamp));

  // Gone: nothing new is there to lose.
  stamp = ReadRequest();
  std::filesystem::remove(Path("request.cfg"));
  EXPECT_FALSE(ChangedSinceRead(Path("request.cfg"), stamp));
}

TEST_F(RequestRewrite, TakingInRenamesAsideAndNeverLosesAFile) {
  const std::string request = Path("request.cfg");
  Write("request.cfg", "X1\r\n");
  TakenRequest taken;
  ASSERT_EQ(TakeInRequestFile(request, LookUpRequestFile(request), 1000, taken), TakeIn::Taken);
  EXPECT_EQ(taken.Lines, std::vector<std::string>{"X1"});
  EXPECT_FALSE(std::filesystem::exists(request));  // free for the next request at once
  EXPECT_EQ(Read("request.cfg.prevzato"), "X1\r\n");

  // A new request arrives during the job; the job's file goes afterwards.
  Write("request.cfg", "X2\r\n");
  EXPECT_EQ(ReleaseTakenIn(request, taken.Stamp), Release::Removed);
  EXPECT_FALSE(std::filesystem::exists(Path("request.cfg.prevzato")));
  EXPECT_EQ(Read("request.cfg"), "X2\r\n");

  // Its writer wrote to the taken-in file during the job: a new request
  // under its name again, or set aside when a newer one has the name.
  ASSERT_EQ(TakeInRequestFile(request, std::nullopt, 1000, taken), TakeIn::Taken);
  Write("request.cfg.prevzato", "X3\r\nX4\r\n");
  EXPECT_EQ(ReleaseTakenIn(request, taken.Stamp), Release::PutBack);
  EXPECT_EQ(Read("request.cfg"), "X3\r\nX4\r\n");
  ASSERT_EQ(TakeInRequestFile(request, std::nullopt, 1000, taken), TakeIn::Taken);
  Write("request.cfg.prevzato", "X5\r\n");
  Write("request.cfg", "X6\r\n");
  EXPECT_EQ(ReleaseTakenIn(request, taken.Stamp), Release::SetAside);
  EXPECT_EQ(Read("request.cfg.rozepsano"), "X5\r\n");
  EXPECT_EQ(Read("request.cfg"), "X6\r\n");

  // Larger than the bound: refused whole, kept under a name that says so.
  EXPECT_EQ(TakeInRequestFile(request, std::nullopt, 3, taken), TakeIn::TooLarge);
  EXPECT_EQ(taken.Stamp.Size, 4);
  EXPECT_EQ(Read("request.cfg.odmitnuto"), "X6\r\n");
  EXPECT_FALSE(std::filesystem::exists(request));

  // A taken-in file found at start-up belongs to a job that never finished:
  // it is kept as unfinished, replacing an older one; a second look finds
  // nothing more.
  Write("request.cfg.nedokonceno", "old\r\n");
  Write("request.cfg.prevzato", "X7\r\n");
  EXPECT_EQ(SetAsideInterruptedFile(request), Leftover::SetAside);
  EXPECT_EQ(Read("request.cfg.nedokonceno"), "X7\r\n");
  EXPECT_EQ(SetAsideInterruptedFile(request), Leftover::None);

  // An earlier taken-in file still in the way blocks the take-in; nothing is
  // replaced and the request stays where it is.
  Write("request.cfg.prevzato", "X8\r\n");
  Write("request.cfg", "X9\r\n");
  EXPECT_EQ(TakeInRequestFile(request, std::nullopt, 1000, taken), TakeIn::Blocked);
  EXPECT_EQ(Read("request.cfg.prevzato"), "X8\r\n");
  EXPECT_EQ(Read("request.cfg"), "X9\r\n");

  // The bound counts twice the capacity in longest lines, never fewer than
  // for the default capacity.
  EXPECT_EQ(MaxRequestFileBytes(2500), 2u * 2500 * 121);
  EXPECT_EQ(MaxRequestFileBytes(0), MaxRequestFileBytes(2500));
  EXPECT_EQ(MaxRequestFileBytes(131072), 2u * 131072 * 121);
}
