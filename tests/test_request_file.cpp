// Request files and the single lines of a job: splitting bytes into lines,
// reading a file that may still be held by its writer, the terminal line,
// long and refused lines, the clock command, the output and status files, and
// the metrics file's text.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "requests/ClockLine.h"
#include "requests/Metrics.h"
#include "requests/OutputFiles.h"
#include "requests/RequestFile.h"
#include "requests/RequestLine.h"
#include "support/TempDir.h"

namespace {

class TempDirectory : public ::testing::Test {
 protected:
  void SetUp() override { SetStartDirectory(directory_); }

  std::string Path(const std::string& name) const { return directory_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir temp_{"requests"};
  const std::string directory_ = temp_.Path().string();
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(SplitLines, EveryLineEndAndTheLastLineWithoutEnd) {
  EXPECT_EQ(SplitLines(""), Lines{});
  EXPECT_EQ(SplitLines("A\r\nB\nC\rD"), (Lines{"A", "B", "C", "D"}));
  EXPECT_EQ(SplitLines("A\r\n"), Lines{"A"});
  EXPECT_EQ(SplitLines("\r\n"), Lines{""});
  EXPECT_EQ(SplitLines("A\r\n\r\nB\r\n"), (Lines{"A", "", "B"}));
  EXPECT_EQ(SplitLines("A\n\rB"), (Lines{"A", "", "B"}));  // LF CR is two line ends
  EXPECT_EQ(SplitLines("\r\r\n"), (Lines{"", ""}));
  // Bytes stay bytes: code page 1250 letters and a zero byte pass unchanged.
  const std::string bytes("\x8A\xE8\x00x\r\n", 6);
  EXPECT_EQ(SplitLines(bytes), Lines{std::string("\x8A\xE8\x00x", 4)});
}

TEST_F(TempDirectory, ReadingTellsWhyAFileWasNotTakenIn) {
  Lines lines{"untouched"};
  EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines), FileRead::Vanished);
  EXPECT_EQ(lines, Lines{"untouched"});

  std::filesystem::create_directory(Path("dir.cfg"));
  EXPECT_EQ(ReadLinesFile(Path("dir.cfg"), lines), FileRead::Unreadable);

  // A FIFO of that name must not hang the main thread.
  ASSERT_EQ(mkfifo(Path("fifo.cfg").c_str(), 0600), 0);
  EXPECT_EQ(ReadLinesFile(Path("fifo.cfg"), lines), FileRead::Unreadable);

  Write("request.cfg", "TERM2\r\nP");
  EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines), FileRead::Read);
  EXPECT_EQ(lines, (Lines{"TERM2", "P"}));
  EXPECT_TRUE(std::filesystem::exists(Path("request.cfg")));  // reading never deletes

  Write("empty.cfg", "");
  EXPECT_EQ(ReadLinesFile(Path("empty.cfg"), lines), FileRead::Read);
  EXPECT_TRUE(lines.empty());
}

TEST_F(TempDirectory, AFileItsWriterStillLocksIsLeftForLater) {
  Write("request.cfg", "X1\r\n");
  Lines lines;
  {
    const int writer = open(Path("request.cfg").c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(flock(writer, LOCK_EX), 0);
    EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines), FileRead::HeldByWriter);
    close(writer);
  }
  // A POSIX write lock of another process (locks of one's own process never conflict).
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int writer = open(Path("request.cfg").c_str(), O_WRONLY);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const char ok = (writer >= 0 && fcntl(writer, F_SETLK, &lock) == 0) ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    char byte;
    (void)!read(release[0], &byte, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines), FileRead::HeldByWriter);
  (void)!write(release[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);

  EXPECT_EQ(ReadLinesFile(Path("request.cfg"), lines), FileRead::Read);
  EXPECT_EQ(lines, Lines{"X1"});
}

TEST(TerminalLine, OnlyUpperCaseTermWithAStrtolNumber) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"TERM2", 2},       {"TERM 3", 3},  {"TERM\t 4xyz", 4}, {"TERM+1", 1},
      {"TERM-1", -1},     {"TERM", 0},    {"TERMINAL", 0},    {"TERM 99999999999999999999", INT_MAX},
      {"TERM -99999999999999999999", INT_MIN},
      {"term2", std::nullopt}, {"Term2", std::nullopt}, {" TERM2", std::nullopt}, {"TER", std::nullopt},
      {"", std::nullopt}};
  for (const auto& [line, number] : cases) EXPECT_EQ(TerminalLineNumber(line), number) << line;
}

TEST(LongLines, ClassifiedAndSplitIntoRecordAndContinuation) {
  EXPECT_EQ(ClassifyLine(""), LineKind::Empty);
  EXPECT_EQ(ClassifyLine("P"), LineKind::Single);
  EXPECT_EQ(ClassifyLine(std::string(97, 'T')), LineKind::Single);
  EXPECT_EQ(ClassifyLine("Q" + std::string(97, '0')), LineKind::Long);
  EXPECT_EQ(ClassifyLine("R" + std::string(118, '0')), LineKind::Long);
  EXPECT_EQ(ClassifyLine("Q" + std::string(119, '0')), LineKind::Refused);  // 120
  EXPECT_EQ(ClassifyLine("T" + std::string(99, '0')), LineKind::Refused);   // long, not Q/R
  EXPECT_EQ(ClassifyLine("q" + std::string(99, '0')), LineKind::Refused);

  // Every column holds a distinct byte so that any shift shows.
  std::string line = "Q";
  for (int i = 1; i < 119; ++i) line += static_cast<char>(0x21 + i);
  const auto [first, second] = SplitLongLine(line);
  EXPECT_EQ(first, line.substr(0, 56) + line.substr(98));
  EXPECT_EQ(first.size(), 77u);
  EXPECT_EQ(second, "q" + line.substr(1, 13) + line.substr(56));
  EXPECT_EQ(second.size(), 77u);

  line[0] = 'R';
  line.resize(98);
  const auto [first98, second98] = SplitLongLine(line);
  EXPECT_EQ(first98, line.substr(0, 56));
  EXPECT_EQ(second98, "r" + line.substr(1, 13) + line.substr(56));

  EXPECT_EQ(RefusedLineMessage("T" + std::string(99, '5')), "Radek nelze odeslat: T5555555555555555555... (100 znaku)");
}

TEST(ClockLine, FieldsWithMondayOneAndSundaySeven) {
  auto at = [](int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    std::mktime(&t);  // fills the weekday
    return t;
  };
  EXPECT_EQ(ClockLine(at(2006, 3, 6, 14, 5, 9)), "T06030601140509");   // Monday
  EXPECT_EQ(ClockLine(at(2010, 1, 1, 0, 0, 0)), "T10010105000000");    // Friday
  EXPECT_EQ(ClockLine(at(2006, 3, 12, 23, 59, 58)), "T06031207235958");  // Sunday
  EXPECT_EQ(ClockLine(at(2000, 12, 30, 7, 8, 9)), "T00123006070809");   // Saturday
}

TEST_F(TempDirectory, OutputAndStatusFilesEndLinesWithCrLf) {
  ASSERT_TRUE(WriteOutputFile("output.txt", {"R0001ABCDEF01A", std::string("\x9A\x00z", 3), ""}));
  EXPECT_EQ(Read("output.txt"), std::string("R0001ABCDEF01A\r\n\x9A\x00z\r\n\r\n", 23));

  ASSERT_TRUE(WriteOutputFile("output.txt", {}));  // created anew: the old content is gone
  EXPECT_TRUE(std::filesystem::exists(Path("output.txt")));
  EXPECT_EQ(std::filesystem::file_size(Path("output.txt")), 0u);

  ASSERT_TRUE(WriteStatusFile(5, 0));
  EXPECT_EQ(Read("rudazo.sta"), "5,0\r\n");
  ASSERT_TRUE(WriteStatusFile(-1, -1));
  EXPECT_EQ(Read("rudazo.sta"), "-1,-1\r\n");
  EXPECT_FALSE(std::filesystem::exists(Path("errorlog.txt")));

  // A file that cannot be written is named in the error log with the reason,
  // and an earlier job's file goes: no stale result beside a new status.
  EXPECT_FALSE(WriteOutputFile("missing/output.txt", {"A"}));
  ASSERT_TRUE(WriteOutputFile("output.txt", {"an earlier job's line"}));
  std::filesystem::create_directory(Path(".output.txt.tmp"));  // where the new file would be written
  EXPECT_FALSE(WriteOutputFile("output.txt", {"A"}));
  EXPECT_FALSE(std::filesystem::exists(Path("output.txt")));
  std::filesystem::remove(Path("rudazo.sta"));
  std::filesystem::create_directory(Path("rudazo.sta"));
  EXPECT_FALSE(WriteStatusFile(1, 0));
  const std::string log = Read("errorlog.txt");
  EXPECT_NE(log.find(" - Soubor " + Path("missing/output.txt") + " nelze zapsat: No such file or directory\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" - Soubor " + Path("output.txt") + " nelze zapsat: Is a directory\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find(" - Soubor " + Path("rudazo.sta") + " nelze zapsat: Is a directory; starý soubor nelze smazat: "
                                                         "Is a directory\r\n"),
            std::string::npos)
      << log;
}

TEST_F(TempDirectory, TheErrorLogIsNeverWrittenThroughALinkPlantedThere) {
  std::vector<std::pair<bool, std::string>> standardError;
  SetStandardErrorWriter([&](bool failure, const std::string& line) { standardError.push_back({failure, line}); });
  Write("victim.txt", "victim\r\n");
  ASSERT_EQ(symlink("victim.txt", Path("errorlog.txt").c_str()), 0);
  AppendErrorLog("A");
  AppendErrorLog("B");
  ReportErrorLog("C");
  SetStandardErrorWriter(nullptr);
  EXPECT_EQ(Read("victim.txt"), "victim\r\n");
  const std::vector<std::pair<bool, std::string>> expected = {
      {false, Path("errorlog.txt") + ": is a symbolic link; it is not followed. Log lines go to standard error."},
      {false, "A"},
      {false, "B"},
      {true, "C"}};
  EXPECT_EQ(standardError, expected);
}

// A device path is the administrator's text: a quote, a backslash or a line
// end in it must not end the label or the line, or the collector drops the
// whole file.
TEST(MetricsText, LabelValuesAreEscapedSoTheLineStaysWhole) {
  MetricsSnapshot snapshot;
  snapshot.Ports.push_back({2, "/dev/a\"b\\c\nd", true, std::nullopt});
  const std::string text = FormatMetrics(snapshot);
  EXPECT_NE(text.find("\ntarvion_port_info{port=\"COM2\",device=\"/dev/a\\\"b\\\\c\\nd\"} 1\n"), std::string::npos)
      << text;
}
