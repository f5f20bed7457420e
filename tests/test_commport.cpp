// CommPort: the line settings as a pure function, the port over a
// pseudo-terminal (which has no modem lines and drops parity flags), and the
// wire trace of what the port does.

#include "link/CommPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <regex>
#include <sstream>
#include <thread>

#include "link/WireTrace.h"

#include "support/PtyPair.h"
#include "support/WaitFor.h"

namespace {

// Every bit set, so the test sees what MakeTermios clears.
termios DirtyTermios() {
  termios t;
  std::memset(&t, 0xFF, sizeof t);
  return t;
}

TEST(MakeTermios, EachStandardRateSetsBothSpeeds) {
  const std::pair<int, speed_t> rates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},  {9600, B9600},
                                           {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
  for (const auto& [baud, speed] : rates) {
    termios t = DirtyTermios();
    ASSERT_EQ(MakeTermios(baud, 'N', 8, 1, t), kCommOk) << baud;
    EXPECT_EQ(cfgetospeed(&t), speed) << baud;
    EXPECT_EQ(cfgetispeed(&t), speed) << baud;
  }
}

TEST(MakeTermios, ParityLettersInEitherCase) {
  const std::pair<char, tcflag_t> parities[] = {
      {'M', PARENB | CMSPAR | PARODD}, {'m', PARENB | CMSPAR | PARODD}, {'S', PARENB | CMSPAR},
      {'s', PARENB | CMSPAR},          {'E', PARENB},                    {'o', PARENB | PARODD},
      {'N', 0},                        {'n', 0}};
  for (const auto& [letter, flags] : parities) {
    termios t = DirtyTermios();
    ASSERT_EQ(MakeTermios(19200, letter, 8, 1, t), kCommOk) << letter;
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), flags) << letter;
    EXPECT_EQ(t.c_iflag & INPCK, 0u) << "no parity checking on input, " << letter;
  }
}

TEST(MakeTermios, RawEightNOneWithoutFlowControl) {
  termios t = DirtyTermios();
  ASSERT_EQ(MakeTermios(19200, 'N', 8, 1, t), kCommOk);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);

  ASSERT_EQ(MakeTermios(9600, 'E', 7, 2, t), kCommOk);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_EQ(t.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
  ASSERT_EQ(MakeTermios(9600, 'N', 5, 1, t), kCommOk);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
}

TEST(MakeTermios, RejectsBadParameters) {
  struct Case {
    int baud;
    char parity;
    int dataBits;
    int stopBits;
    int expected;
  };
  const Case cases[] = {
      {230400, 'N', 8, 1, kCommBadBaud}, {12345, 'N', 8, 1, kCommBadBaud},  {0, 'N', 8, 1, kCommBadBaud},
      {-9600, 'N', 8, 1, kCommBadBaud},  {19200, 'X', 8, 1, kCommBadParity}, {19200, '\0', 8, 1, kCommBadParity},
      {19200, 'N', 8, 3, kCommBadStopBits}, {19200, 'N', 8, 0, kCommBadStopBits},
      {19200, 'N', 4, 1, kCommBadDataBits}, {19200, 'N', 9, 1, kCommBadDataBits},
  };
  for (const Case& c : cases) {
    termios t{};
    EXPECT_EQ(MakeTermios(c.baud, c.parity, c.dataBits, c.stopBits, t), c.expected)
        << c.baud << " " << c.parity << " " << c.dataBits << " " << c.stopBits;
  }
}

TEST(ComDevicePath, DefaultsReplacementAndRange) {
  EXPECT_EQ(ComDevicePath(0), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(7), "/dev/ttyS7");
  EXPECT_EQ(ComDevicePath(8), "");
  EXPECT_EQ(ComDevicePath(-1), "");
  SetComDevicePath(3, "/dev/ttyUSB0");
  SetComDevicePath(8, "/dev/ignored");
  EXPECT_EQ(ComDevicePath(3), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath(8), "");
  SetComDevicePath(3, "/dev/ttyS3");
}

class CommPortPty : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDispatchHook(nullptr);
  }
  void TearDown() override { SetDispatchHook(nullptr); }

  std::unique_ptr<CommPort> OpenSlave() { return CommPort::OpenPath(pty->SlavePath(), 19200, 'N', 8, 1); }

  std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
};

TEST_F(CommPortPty, FailedOpenGivesStatusAndSafePort) {
  const auto missing = CommPort::OpenPath("/nonexistent/ttyX", 19200, 'N', 8, 1);
  EXPECT_EQ(missing->Status(), kCommOpenFailed);
  EXPECT_FALSE(missing->IsOpen());
  EXPECT_EQ(CommPort::OpenPath("/dev/null", 19200, 'N', 8, 1)->Status(), kCommOpenFailed) << "not a tty";
  EXPECT_EQ(CommPort::Open(8, 19200, 'N', 8, 1)->Status(), kCommOpenFailed) << "no COM9";
  EXPECT_EQ(CommPort::OpenPath(pty->SlavePath(), 230400, 'N', 8, 1)->Status(), kCommBadBaud);
  EXPECT_EQ(CommPort::OpenPath(pty->SlavePath(), 19200, 'X', 8, 1)->Status(), kCommBadParity);

  uint8_t byte = 0x41;
  EXPECT_EQ(missing->ReadByte(), kCommNoData);
  EXPECT_EQ(missing->ReadByteWait(1000), kCommNoData);
  EXPECT_EQ(missing->WriteBlock(&byte, 1), 0);
  EXPECT_EQ(missing->Status(), kCommOpenFailed) << "the first failure stays";
}

TEST_F(CommPortPty, OpensThroughComTableAndIsExclusive) {
  SetComDevicePath(2, pty->SlavePath());
  auto port = CommPort::Open(2, 19200, 'M', 8, 1);
  SetComDevicePath(2, "/dev/ttyS2");
  ASSERT_EQ(port->Status(), kCommOk);
  ASSERT_TRUE(port->IsOpen());
  // Root passes TIOCEXCL, but the lock still refuses a second user.
  EXPECT_EQ(OpenSlave()->Status(), kCommOpenFailed);
  port->Close();
  EXPECT_FALSE(port->IsOpen());
  EXPECT_EQ(OpenSlave()->Status(), kCommOk) << "a closed port can be opened again";
}

TEST_F(CommPortPty, ReadsQueuedBytesInOrder) {
  auto port = OpenSlave();
  ASSERT_EQ(port->Status(), kCommOk);
  EXPECT_EQ(port->ReadByte(), kCommNoData);
  EXPECT_EQ(port->ReceiveCount(), 0);

  pty->Write({0x00, 0xFF, 0x41, 1, 2, 3, 4, 5, 6, 7});
  ASSERT_TRUE(WaitUntil([&] { return port->ReceiveCount() == 10; }));
  EXPECT_EQ(port->ReadByte(), 0x00);
  EXPECT_EQ(port->ReadByte(), 0xFF);
  uint8_t block[64] = {};
  ASSERT_EQ(port->ReadBlock(block, 2), 2);
  EXPECT_EQ(block[0], 0x41);
  EXPECT_EQ(block[1], 1);
  ASSERT_EQ(port->ReadBlock(block, 64), 6);
  EXPECT_EQ(block[5], 7);
  EXPECT_EQ(port->ReadBlock(block, 64), kCommNoData);
  EXPECT_EQ(port->Status(), kCommOk) << "an empty queue is no failure";
}

TEST_F(CommPortPty, ReadByteWaitServesHookUntilByteOrTimeLimit) {
  auto port = OpenSlave();
  ASSERT_EQ(port->Status(), kCommOk);
  int calls = 0;
  SetDispatchHook([&] { ++calls; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->ReadByteWait(80), kCommNoData);
  const double elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 80.0);
  EXPECT_LT(elapsed, 1000.0);
  EXPECT_GT(calls, 0);

  // The other side answers while the hook runs.
  calls = 0;
  SetDispatchHook([&] {
    if (++calls == 1) pty->Write({0x5A});
  });
  EXPECT_EQ(port->ReadByteWait(5000), 0x5A);
  EXPECT_GE(calls, 1);
}

TEST_F(CommPortPty, WritesExactBytesAndQueuesDrain) {
  auto port = OpenSlave();
  ASSERT_EQ(port->Status(), kCommOk);
  std::vector<uint8_t> all(256);
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(port->WriteBlock(all.data(), 256), 256);
  EXPECT_EQ(pty->Read(256, std::chrono::seconds(2)), all) << "raw mode: no byte changed, added or lost";
  EXPECT_TRUE(WaitUntil([&] { return port->TransmitCount() == 0; }));
  EXPECT_EQ(port->TransmitFree(), kCommQueueSize);
  port->SetRts(true);  // no modem lines on a pseudo-terminal: skipped
  port->SetRts(false);
  port->PurgeTransmit();
  EXPECT_EQ(port->Status(), kCommOk);
}

TEST_F(CommPortPty, FullQueueIsShortWriteAndSticks) {
  auto port = OpenSlave();
  ASSERT_EQ(port->Status(), kCommOk);
  const std::vector<uint8_t> block(4096, 0x55);
  int written = 0;
  for (int i = 0; i < 256 && port->Status() == kCommOk; ++i) written += port->WriteBlock(block.data(), 4096);
  ASSERT_EQ(port->Status(), kCommShortWrite) << "nobody reads the other side";
  EXPECT_GT(written, 0);
  pty->Read(static_cast<size_t>(written), std::chrono::milliseconds(200));
  EXPECT_EQ(port->WriteBlock(block.data(), 1), 1);
  EXPECT_EQ(port->Status(), kCommShortWrite);
}

TEST_F(CommPortPty, HangUpIsAnErrorNotSilence) {
  auto port = OpenSlave();
  ASSERT_EQ(port->Status(), kCommOk);
  pty.reset();  // the far end hangs up
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->ReadByteWait(5000), kCommIoError);
  EXPECT_LT(MillisecondsSince(start), 1000.0) << "no wait on a dead device";
  EXPECT_EQ(port->Status(), kCommIoError);
  EXPECT_LT(port->TransmitCount(), 0);
  EXPECT_EQ(port->TransmitFree(), 0);
  const uint8_t byte = 1;
  EXPECT_EQ(port->WriteBlock(&byte, 1), 0);
  EXPECT_EQ(port->Status(), kCommIoError) << "the first failure stays";
}

// The driver's counters: a count that went down (the device came back) counts
// from zero; a pseudo-terminal keeps none, so there is nothing to show.
TEST_F(CommPortPty, LineErrorsGrowCountByCountAndAPseudoTerminalHasNone) {
  EXPECT_EQ(LineErrorsGrown({5, 1, 0, 2}, {7, 1, 3, 1}), (LineErrorCounts{2, 0, 3, 1}));
  EXPECT_FALSE(AnyLineErrors(LineErrorsGrown({5, 1, 0, 2}, {5, 1, 0, 2})));
  EXPECT_EQ(LineErrorLogMessage(1, {2, 0, 3, 1}), "COM2 chyby příjmu během úlohy: rámec 2, parita 0, přetečení 3, break 1");
  auto port = OpenSlave();
  ASSERT_EQ(port->Status(), kCommOk);
  EXPECT_EQ(port->ReadLineErrors(), std::nullopt);
  EXPECT_EQ(port->Status(), kCommOk) << "no counters is no failure";
}

// The wire trace of one port, in a directory of its own; the process test
// covers a whole request of the program.
class WireTracePty : public CommPortPty {
 protected:
  void SetUp() override {
    CommPortPty::SetUp();
    char pattern[] = "/tmp/tarvion-trace-XXXXXX";
    directory_ = mkdtemp(pattern);
    trace_ = directory_ / "trace.log";
    SetComDevicePath(0, pty->SlavePath());
  }
  void TearDown() override {
    StopWireTrace();
    SetComDevicePath(0, "/dev/ttyS0");
    std::filesystem::remove_all(directory_);
    CommPortPty::TearDown();
  }

  static std::vector<std::string> Lines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The events of the COM1 lines, without their time stamps.
  std::vector<std::string> Com1Events() const {
    static const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ COM1 (.*))");
    std::vector<std::string> events;
    for (const std::string& line : Lines(trace_)) {
      std::smatch match;
      if (std::regex_match(line, match, shape)) events.push_back(match[1]);
    }
    return events;
  }
  void ReadAll(CommPort& port, int count) {
    ASSERT_TRUE(WaitUntil([&] { return port.ReceiveCount() == count; }));
    uint8_t bytes[64];
    ASSERT_EQ(port.ReadBlock(bytes, 64), count);
  }

  std::filesystem::path directory_;
  std::filesystem::path trace_;
};

TEST_F(WireTracePty, NamesAnswersAndPollsAndSplitsLongGroups) {
  std::string error;
  ASSERT_TRUE(StartWireTrace(trace_, error)) << error;
  auto port = CommPort::Open(0, 19200, 'N', 8, 1);
  ASSERT_EQ(port->Status(), kCommOk);
  // A frame with a wrong checksum, answered by a NAK once RTS has dropped.
  const uint8_t frame[] = {0x05, 0x04, 0x41, 0x00};
  port->SetRts(true);
  port->WriteBlock(frame, 4);
  port->SetRts(false);
  pty->Write({0x15});
  EXPECT_EQ(port->ReadByteWait(1000), 0x15);
  // Bytes that answer no frame, a poll among them.
  port->SetRts(false);
  pty->Write({0x06, 0x00, 0x10, 0x04, 0x55, 0x69, 0x33});
  ReadAll(*port, 7);
  // A poll read in two parts, a pause of many byte times between them.
  port->SetRts(false);
  pty->Write({0x10, 0x04});
  ReadAll(*port, 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pty->Write({0x55, 0x69});
  ReadAll(*port, 2);
  // 40 bytes in one group: two lines.
  port->SetRts(false);
  std::vector<uint8_t> block(40);
  std::iota(block.begin(), block.end(), 0x40);
  pty->Write(block);
  ReadAll(*port, 40);
  TraceLineErrors(0, LineErrorCounts{2, 0, 1, 0}, LineErrorCounts{5, 0, 1, 0});
  const uint8_t shortFrame[] = {0x01, 0x02};
  port->WriteBlock(shortFrame, 2);
  StopWireTrace();
  port->SetRts(true);  // the trace is off: nothing more is written

  const std::vector<std::string> expected = {
      "RTS on",
      "tx 05 04 41 00  address 5, length 4, command 'A', checksum wrong (sum 4A)",
      "RTS off",
      "rx 15  NAK",
      "RTS off",
      "rx 06 00  other",
      "rx 10 04 55 69  poll",
      "rx 33  other",
      "RTS off",
      "rx 10 04 55 69  poll",
      "RTS off",
      "rx 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51 52 53 54 55 56 57 58 59 5A 5B 5C 5D 5E 5F  "
      "other, bytes 1-32 of 40",
      "rx 60 61 62 63 64 65 66 67  other, bytes 33-40 of 40",
      "line errors grew: framing 2, parity 0, overrun 1, break 0; since the port opened: framing 5, parity 0, "
      "overrun 1, break 0",
      "tx 01 02  not a frame",
  };
  EXPECT_EQ(Com1Events(), expected);
  const std::vector<std::string> lines = Lines(trace_);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(lines.front().ends_with(" trace started")) << lines.front();
  EXPECT_TRUE(lines.back().ends_with(" trace ended")) << lines.back();
}

TEST_F(WireTracePty, PastItsSizeTheFileMovesToDotOneReplacingTheOlder) {
  const std::filesystem::path older = trace_.string() + ".1";
  std::ofstream(older) << "older trace\n";
  constexpr uint64_t limit = 2000;
  std::string error;
  ASSERT_TRUE(StartWireTrace(trace_, error, limit)) << error;
  auto port = CommPort::Open(0, 19200, 'N', 8, 1);
  constexpr int switches = 200;  // about 50 bytes a line: several rotations
  for (int i = 0; i < switches; ++i) port->SetRts(i % 2 == 0);
  StopWireTrace();

  const std::vector<std::string> previous = Lines(older), current = Lines(trace_);
  EXPECT_LE(std::filesystem::file_size(older), limit);
  EXPECT_LE(std::filesystem::file_size(trace_), limit);
  ASSERT_FALSE(previous.empty());
  EXPECT_NE(previous.front(), "older trace");
  ASSERT_FALSE(current.empty());
  EXPECT_TRUE(current.back().ends_with(" trace ended"));
  // The newest lines: the last switches, in order, up to the end.
  ASSERT_GE(current.size(), 2u);
  EXPECT_TRUE(current[current.size() - 2].ends_with("COM1 RTS off")) << current[current.size() - 2];
  static const std::regex whole(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ .+)");
  for (const auto* file : {&previous, &current}) {
    for (const std::string& line : *file) EXPECT_TRUE(std::regex_match(line, whole)) << "a whole line: " << line;
  }
}

}  // namespace
