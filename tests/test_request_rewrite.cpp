// A request file that changes after it was read: rewritten in place or
// replaced by another file is a new request that must not be deleted unread;
// one that is still the file read, or is gone, may be taken in.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "requests/RequestFile.h"

namespace {

class RequestRewrite : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvion-rewrite-XXXXXX";
    directory_ = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string Path(const std::string& name) const { return directory_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  FileStamp ReadRequest() {
    std::vector<std::string> lines;
    FileStamp stamp;
    EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines, &stamp), FileRead::Read);
    return stamp;
  }

  std::string directory_;
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

  // Gone: nothing new is there to lose.
  stamp = ReadRequest();
  std::filesystem::remove(Path("request.cfg"));
  EXPECT_FALSE(ChangedSinceRead(Path("request.cfg"), stamp));
}
