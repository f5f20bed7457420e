// CommPort: the line settings as a pure function, the port over a
// pseudo-terminal (which has no modem lines and drops parity flags), the
// wire trace and capture of what the port does, with the capture's pcapng
// blocks, and the line check of tarvion-scan: its judging on recorded sysfs
// trees and figures, its probing on a pseudo-terminal.

#include "link/CommPort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <regex>
#include <thread>

#include "link/Pcapng.h"
#include "link/WireCapture.h"
#include "link/WireTrace.h"
#include "tools/tarvion-scan/LineCheck.h"

#include "support/PtyPair.h"
#include "support/SimulatorLog.h"
#include "support/TempDir.h"
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
    trace_ = directory_ / "trace.log";
    SetComDevicePath(0, pty->SlavePath());
  }
  void TearDown() override {
    StopWireTrace();
    SetComDevicePath(0, "/dev/ttyS0");
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
  // Waits for `count` bytes and reads `take` of them, all when 0.
  void ReadAll(CommPort& port, int count, int take = 0) {
    ASSERT_TRUE(WaitUntil([&] { return port.ReceiveCount() == count; }));
    uint8_t bytes[64];
    ASSERT_EQ(port.ReadBlock(bytes, take > 0 ? take : 64), take > 0 ? take : count);
  }

  TempDir temp_{"trace"};
  const std::filesystem::path directory_ = temp_.Path();
  std::filesystem::path trace_;
};

// The bytes are named by what the link concluded of them, recorded here the
// way the link does after reading them one at a time.
TEST_F(WireTracePty, NamesWhatTheLinkConcludedAndSplitsLongGroups) {
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
  TraceConcluded(0, LinkConclusion::NotAcknowledged, 1);
  // Bytes that answer no frame, a poll among them.
  port->SetRts(false);
  pty->Write({0x06, 0x00, 0x10, 0x04, 0x55, 0x69, 0x33});
  for (int i = 0; i < 6; ++i) ReadAll(*port, 7 - i, 1);
  TraceConcluded(0, LinkConclusion::Poll, 4);
  ReadAll(*port, 1);
  // A poll read in two parts, a pause of many byte times between them.
  port->SetRts(false);
  pty->Write({0x10, 0x04});
  ReadAll(*port, 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pty->Write({0x55, 0x69});
  ReadAll(*port, 2);
  TraceConcluded(0, LinkConclusion::Poll, 4);
  // 40 bytes in one group: two lines.
  port->SetRts(false);
  std::vector<uint8_t> block(40);
  std::iota(block.begin(), block.end(), 0x40);
  pty->Write(block);
  ReadAll(*port, 40);
  // The start of a poll with nothing after it is in the file soon all the
  // same, before any other event: a reader of the file sees what came.
  port->SetRts(false);
  pty->Write({0x10, 0x04, 0x55});
  ReadAll(*port, 3);
  EXPECT_TRUE(WaitUntil([&] {
    const std::vector<std::string> events = Com1Events();
    return !events.empty() && events.back() == "rx 10 04 55  other";
  }, std::chrono::seconds(5)));
  // What a flush reads away: no poll, for the link concluded none.
  TraceReceiveFlushed(0, 0);
  pty->Write({0x10, 0x04, 0x55, 0x69});
  ReadAll(*port, 4);
  port->SetRts(false);
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
      "RTS off",
      "rx 10 04 55  other",
      "rx 10 04 55 69  flushed",
      "RTS off",
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

uint32_t Little32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

uint32_t Big32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

TEST(Pcapng, SectionHeaderAndInterfaceBlocks) {
  EXPECT_EQ(PcapngSectionHeader(""),
            BytesOfHex("0A 0D 0D 0A 1C 00 00 00 4D 3C 2B 1A 01 00 00 00 FF FF FF FF FF FF FF FF 1C 00 00 00"));
  EXPECT_EQ(PcapngSectionHeader("Tarvion"),
            BytesOfHex("0A 0D 0D 0A 2C 00 00 00 4D 3C 2B 1A 01 00 00 00 FF FF FF FF FF FF FF FF "
                       "04 00 07 00 54 61 72 76 69 6F 6E 00 00 00 00 00 2C 00 00 00"));
  EXPECT_EQ(PcapngInterface(kLinkTypeUser0, "COM"),
            BytesOfHex("01 00 00 00 28 00 00 00 93 00 00 00 00 00 00 00 "
                       "02 00 03 00 43 4F 4D 00 09 00 01 00 06 00 00 00 00 00 00 00 28 00 00 00"));
}

TEST(Pcapng, PacketWithMicrosecondsPaddingAndDirection) {
  EXPECT_EQ(PcapngPacket((int64_t{1} << 32) + 2, PacketDirection::Outbound, "AB"),
            BytesOfHex("06 00 00 00 30 00 00 00 00 00 00 00 01 00 00 00 02 00 00 00 02 00 00 00 02 00 00 00 "
                       "41 42 00 00 02 00 04 00 02 00 00 00 00 00 00 00 30 00 00 00"));
}

// A packet of the capture: its direction and pseudo-header.
struct CapturedPacket {
  uint32_t Direction;
  int Kind, Com;
  uint32_t Value, Offset;
  size_t Count;  // bytes after the pseudo-header
  bool operator==(const CapturedPacket&) const = default;
};

CapturedPacket ReadPacket(const std::string& block) {
  const uint32_t captured = Little32(block, 20);
  const std::string data = block.substr(28, captured);
  const size_t flags = 28 + (captured + 3) / 4 * 4 + 4;
  return {Little32(block, flags) & 3, data[1], data[2], Big32(data, 4), Big32(data, 8),
          captured - kCaptureHeaderSize};
}

TEST(WireCapture, DataBlockIsWhatCameAfterTheAckInPacketsWiresharkTakes) {
  std::vector<std::string> packets;
  CaptureFormatter capture([&](const std::string& packet) { packets.push_back(packet); });
  const uint8_t frame[] = {0x01, 0x04, 0x50, 0x55}, ack = 0x06;
  const std::string block(300'000, 'R');
  int64_t us = 0;
  const auto add = [&](TraceKind kind, uint32_t arg, const void* bytes = nullptr, size_t count = 0,
                       uint8_t detail = 0) {
    us += 2000;  // longer than a group's gap at 19200 baud: each read a group of its own
    const TraceEventHead head{us, us, arg, static_cast<uint32_t>(count), kind, detail, 1};
    capture.Add(head, static_cast<const uint8_t*>(bytes));
  };
  add(TraceKind::Written, 4, frame, 4);
  add(TraceKind::Rts, 0);
  add(TraceKind::Received, 0, &ack, 1);
  add(TraceKind::Concluded, 1, nullptr, 0, static_cast<uint8_t>(LinkConclusion::Acknowledged));
  add(TraceKind::Received, 0, block.data(), 100'000);
  add(TraceKind::Received, 0, block.data() + 100'000, 200'000);
  add(TraceKind::Block, 300'000);
  capture.EndGroup(us, true);

  std::vector<CapturedPacket> got;
  for (const std::string& packet : packets) got.push_back(ReadPacket(packet));
  const std::vector<CapturedPacket> expected = {
      {2, 1, 2, 4, 0, 4},  // the frame, outbound, COM2
      {2, 3, 2, 0, 0, 0},  // RTS off
      {1, 5, 2, 0, 0, 1},  // the ack
      {1, 7, 2, 300'000, 0, kCaptureMostBytes},  // one block, in two parts
      {1, 7, 2, 300'000, kCaptureMostBytes, 300'000 - kCaptureMostBytes},
  };
  EXPECT_EQ(got, expected);
  for (const std::string& packet : packets) EXPECT_LE(Little32(packet, 20), 262'144u);
}

TEST_F(WireTracePty, EachCaptureFileIsAPcapngOfItsOwnBesideTheTrace) {
  const std::filesystem::path capture = directory_ / "line.pcapng";
  constexpr uint64_t limit = 4000;
  std::string error;
  ASSERT_TRUE(StartWireTrace(WireTraceFiles{trace_, capture, "test", limit}, error)) << error;
  auto port = CommPort::Open(0, 19200, 'N', 8, 1);
  for (int i = 0; i < 200; ++i) port->SetRts(i % 2 == 0);  // 56 bytes a packet: several rotations
  StopWireTrace();

  for (const std::string& file : {capture.string() + ".1", capture.string()}) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_LE(bytes.size(), limit) << file;
    // Whole blocks from the first byte to the last: a section header, its
    // interface, then packets.
    std::vector<uint32_t> types;
    std::vector<CapturedPacket> packets;
    size_t at = 0;
    while (at + 12 <= bytes.size()) {
      const uint32_t length = Little32(bytes, at + 4);
      ASSERT_TRUE(length >= 12 && at + length <= bytes.size() && Little32(bytes, at + length - 4) == length)
          << file << " at " << at;
      types.push_back(Little32(bytes, at));
      if (types.back() == 6) packets.push_back(ReadPacket(bytes.substr(at, length)));
      at += length;
    }
    EXPECT_EQ(at, bytes.size()) << file;
    ASSERT_GE(types.size(), 4u) << file;
    EXPECT_EQ(types[0], 0x0A0D0D0Au) << file;
    EXPECT_EQ(types[1], 1u) << file;
    EXPECT_EQ(packets.size(), types.size() - 2) << file;
    if (file == capture.string()) {
      EXPECT_EQ(packets[packets.size() - 2].Kind, static_cast<int>(CaptureKind::RtsOff));
      EXPECT_EQ(packets.back().Kind, static_cast<int>(CaptureKind::Event)) << "trace ended";
    }
  }
  EXPECT_TRUE(Lines(trace_).back().ends_with(" trace ended")) << "the trace beside it, from the same records";
}

// --- The line check ---

namespace fs = std::filesystem;

// A recorded sysfs tree (and /dev/serial/by-id) in a folder of its own.
class SysTree : public ::testing::Test {
 protected:
  void Attribute(const std::string& file, const std::string& value) {
    fs::create_directories((root_ / file).parent_path());
    std::ofstream(root_ / file) << value << "\n";
  }
  void Link(const std::string& link, const std::string& target) {
    fs::create_directories((root_ / link).parent_path());
    fs::create_directories(root_ / target);
    fs::create_directory_symlink(root_ / target, root_ / link);
  }
  // A tty of the class, its device `device` (with its driver on `bus`).
  void Tty(const std::string& name, const std::string& device, const std::string& bus, const std::string& driver) {
    Link("class/tty/" + name, device + "/tty/" + name);
    Link(device + "/tty/" + name + "/device", device);
    Link(device + "/driver", "bus/" + bus + "/drivers/" + driver);
  }
  // An FTDI adapter as ttyUSB0, its latency timer at `latencyMs`.
  void FtdiAdapter(int latencyMs) {
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    for (const auto& [file, value] : {std::pair<const char*, const char*>{"idVendor", "0403"}, {"idProduct", "6001"},
                                      {"manufacturer", "FTDI"}, {"product", "FT232R USB UART"}, {"serial", "A10XXXXX"}}) {
      Attribute(usb + "/" + file, value);
    }
    Link(usb + "/1-2:1.0/driver", "bus/usb/drivers/ftdi_sio");
    Tty("ttyUSB0", usb + "/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    Attribute(usb + "/1-2:1.0/ttyUSB0/latency_timer", std::to_string(latencyMs));
  }
  // A 16550A behind the serial core's port and controller devices, as a
  // kernel of 2024 shows it; ttyS1 has no UART.
  void PnpUart(int rxTrigBytes) {
    const std::string pnp = "devices/pnp0/00:00";
    Link(pnp + "/driver", "bus/pnp/drivers/serial");
    Link(pnp + "/00:00:0/driver", "bus/serial-base/drivers/ctrl");
    for (const std::string name : {"ttyS0", "ttyS1"}) {
      const std::string port = pnp + "/00:00:0/00:00:0." + name.substr(4);
      Tty(name, port, "serial-base", "port");
      Attribute(port + "/tty/" + name + "/rx_trig_bytes", std::to_string(rxTrigBytes));
      Attribute(port + "/tty/" + name + "/type", name == "ttyS0" ? "4" : "0");
    }
  }

  // Figures of a line that works: a quiet line, RTS switched, the drain on
  // time, no echo, no errors.
  LineFacts GoodLine(const std::string& device, const std::string& tty) {
    LineFacts facts;
    facts.Given = facts.Device = device;
    facts.Sysfs = ReadSysfsFacts(root_, tty);
    facts.Rts = RtsProbe::Switches;
    facts.Traffic = {500, 0, 0};
    facts.Drain = {true, 19200, 10, 23958, 24200, true, false};
    facts.CountsBefore = facts.CountsAfter = LineErrorCounts{};
    return facts;
  }

  static const CheckPoint& Point(const std::vector<CheckPoint>& points, const std::string& name) {
    return *std::find_if(points.begin(), points.end(), [&](const CheckPoint& p) { return p.Name == name; });
  }

  TempDir temp_{"sysfs"};
  const fs::path root_ = temp_.Path();
};

TEST_F(SysTree, AnFtdiAdaptersLatencyTimerAndADrainEarlyOrNeverReported) {
  FtdiAdapter(16);
  const fs::path byId = root_ / "by-id";
  fs::create_directories(byId);
  Attribute("dev/ttyUSB0", "");
  fs::create_symlink(root_ / "dev/ttyUSB0", byId / "usb-FTDI_FT232R_USB_UART_A10XXXXX-if00-port0");
  LineFacts facts = GoodLine((root_ / "dev/ttyUSB0").string(), "ttyUSB0");
  facts.ByIdNames = ByIdNames(byId, fs::canonical(root_ / "dev/ttyUSB0"));
  ASSERT_EQ(facts.ByIdNames.size(), 1u);
  EXPECT_EQ(facts.Sysfs.LatencyTimerMs, 16);
  EXPECT_EQ(facts.Sysfs.UartType, std::nullopt);
  std::vector<CheckPoint> points = JudgeLine(facts);
  EXPECT_EQ(Point(points, "driver").Finding, "ftdi_sio, USB adapter 0403:6001 FTDI FT232R USB UART, serial A10XXXXX");
  EXPECT_EQ(Point(points, "latency").Level, Verdict::Warning);
  EXPECT_NE(Point(points, "latency").Advice.find("/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"), std::string::npos);
  EXPECT_EQ(Point(points, "device").Level, Verdict::Warning);
  EXPECT_NE(Point(points, "device").Advice.find(facts.ByIdNames[0]), std::string::npos);
  EXPECT_EQ(Point(points, "drain").Level, Verdict::Ok) << Point(points, "drain").Finding;
  EXPECT_EQ(CheckExitStatus(points), 1);

  // An adapter that says empty once the bytes went over USB: 20 ms early at
  // 19200 baud, more than the default turnaround covers.
  facts.Drain.LineStatus = false;
  facts.Drain.DrainUs = 4000;
  points = JudgeLine(facts);
  EXPECT_EQ(Point(points, "drain").Level, Verdict::Warning);
  EXPECT_NE(Point(points, "drain").Finding.find("empty 20.0 ms before the last byte has left"), std::string::npos)
      << Point(points, "drain").Finding;
  EXPECT_EQ(Point(points, "drain").Advice, "sudo tarvion-config set rx-turnaround=20478 (\"Konstanta pro příjem\")");
  facts.RxTurnaroundUs = 20478;
  facts.Sysfs.LatencyTimerMs = 1;
  facts.Given = facts.ByIdNames[0];
  EXPECT_EQ(CheckExitStatus(JudgeLine(facts)), 0) << CheckText(facts, JudgeLine(facts));

  // An adapter whose line status never says its transmitter is empty: the
  // wait ended at the bytes' time on the wire, a warning that says what it
  // means. A driver queue that did not empty stays a fault.
  facts.Drain.LineStatus = true;
  facts.Drain.Unreported = true;
  facts.Drain.DrainUs = 30100;
  points = JudgeLine(facts);
  EXPECT_EQ(Point(points, "drain").Level, Verdict::Warning);
  EXPECT_NE(Point(points, "drain").Finding.find("taken for empty after 30.1 ms"), std::string::npos)
      << Point(points, "drain").Finding;
  EXPECT_NE(Point(points, "drain").Finding.find("never reports its transmitter empty"), std::string::npos);
  EXPECT_NE(CheckJson(facts, points).find("\"unreported\": true"), std::string::npos);
  EXPECT_EQ(CheckExitStatus(points), 1);
  facts.Drain.TimedOut = true;
  EXPECT_EQ(Point(JudgeLine(facts), "drain").Level, Verdict::Fault);
}

TEST_F(SysTree, AUartsFifoTriggerAPortWithoutUartAndErrorsDuringTheCheck) {
  PnpUart(8);
  LineFacts facts = GoodLine("/dev/ttyS0", "ttyS0");
  EXPECT_EQ(facts.Sysfs.Driver, "serial") << "the serial core's own port and controller are passed over";
  std::vector<CheckPoint> points = JudgeLine(facts);
  EXPECT_EQ(Point(points, "driver").Finding, "serial, 16550A UART");
  EXPECT_EQ(Point(points, "latency").Level, Verdict::Warning);
  EXPECT_NE(Point(points, "latency").Finding.find("about 4 byte times (2.1 ms)"), std::string::npos);
  EXPECT_EQ(CheckExitStatus(points), 1);

  facts.CountsBefore = LineErrorCounts{1, 0, 0, 0};
  facts.CountsAfter = LineErrorCounts{4, 0, 0, 2};
  facts.Sysfs.RxTrigBytes = 1;
  points = JudgeLine(facts);
  EXPECT_EQ(Point(points, "errors").Level, Verdict::Warning);
  EXPECT_EQ(Point(points, "errors").Finding,
            "during the check: framing 3, parity 0, overrun 0, break 2 (since the driver started: framing 4, parity "
            "0, overrun 0, break 2)");
  EXPECT_NE(Point(points, "errors").Advice.find("A and B swapped"), std::string::npos);

  const LineFacts none = GoodLine("/dev/ttyS1", "ttyS1");
  EXPECT_EQ(Point(JudgeLine(none), "driver").Level, Verdict::Fault);
  EXPECT_EQ(CheckExitStatus(JudgeLine(none)), 2);
  EXPECT_FALSE(ReadSysfsFacts(root_, "ttyS9").Found);
}

// An echo the clear after a slave's frame swallows is a warning; one that
// comes after the transmitter was reported empty, or any on a master's
// line, is read in place of the acknowledgement: a fault.
TEST_F(SysTree, EchoIsAWarningForSlavesAndAFaultLateOrWithAMaster) {
  LineFacts facts = GoodLine("/dev/ttyUSB0", "ttyUSB0");
  facts.Echo = {46, -300, 0};
  EXPECT_EQ(Point(JudgeLine(facts), "echo").Level, Verdict::Warning);
  facts.Traffic.Polls = 12;
  EXPECT_EQ(Point(JudgeLine(facts), "echo").Level, Verdict::Fault);
  facts.Traffic.Polls = 0;
  facts.Echo = {30, 1500, 0};
  const CheckPoint late = Point(JudgeLine(facts), "echo");
  EXPECT_EQ(late.Level, Verdict::Fault);
  EXPECT_NE(late.Finding.find("(30 of 46), the last 1.5 ms after"), std::string::npos) << late.Finding;
}

// A pseudo-terminal has no modem lines, no counters and no wire: said so,
// and not one of those is a fault or a warning.
TEST_F(SysTree, APseudoTerminalGivesNoFalseFaults) {
  LineFacts facts;
  facts.Given = "/tmp/line";
  facts.Device = "/dev/pts/4";
  facts.PseudoTerminal = true;
  facts.Drain = {true, 19200, 10, 23958, 20, false, false};
  const std::vector<CheckPoint> points = JudgeLine(facts);
  EXPECT_EQ(Point(points, "driver").Finding, "pseudo-terminal: no modem lines, no counters");
  EXPECT_EQ(CheckExitStatus(points), 0) << CheckText(facts, points);
  EXPECT_NE(CheckText(facts, points).find("\n/tmp/line: ok\n"), std::string::npos);
  EXPECT_NE(CheckJson(facts, points).find("\"verdict\": \"ok\""), std::string::npos);
}

// The probing on a pseudo-terminal reached through a link: the test bytes,
// no modem lines, no counters, no RS-485 mode; the far end playing an
// adapter without echo suppression is found out.
TEST_F(CommPortPty, LineCheckProbesAPseudoTerminalAndFindsAnEcho) {
  const TempDir temp("check");
  const fs::path& folder = temp.Path();
  fs::create_symlink(pty->SlavePath(), folder / "line");
  ProbeOptions options;
  options.Device = (folder / "line").string();
  options.ListenMs = 50;
  for (const bool echo : {false, true}) {
    std::vector<uint8_t> seen;
    std::thread farEnd([&] {
      seen = pty->Read(kCheckFrameBytes, std::chrono::seconds(5));
      if (echo) pty->Write(seen);
    });
    std::string failure;
    const std::optional<LineFacts> facts = ProbeLine(options, failure);
    farEnd.join();
    ASSERT_TRUE(facts) << failure;
    EXPECT_EQ(facts->Device, fs::canonical(pty->SlavePath()).string());
    EXPECT_TRUE(facts->PseudoTerminal);
    ASSERT_EQ(seen.size(), static_cast<size_t>(kCheckFrameBytes));
    EXPECT_EQ(seen[0], 0xFF);
    EXPECT_EQ(seen[1], 0xFF);
    EXPECT_EQ(seen[2], 0x20);
    EXPECT_EQ(seen.back(), 0x4B);
    EXPECT_EQ(facts->Rts, RtsProbe::NoModemLines);
    EXPECT_EQ(facts->Rs485, Rs485Probe::NotAvailable);
    EXPECT_EQ(facts->CountsBefore, std::nullopt);
    EXPECT_TRUE(facts->Drain.Written);
    EXPECT_FALSE(facts->Drain.TimedOut);
    EXPECT_EQ(facts->Echo.BytesBack, echo ? kCheckFrameBytes : 0);
    EXPECT_EQ(CheckExitStatus(JudgeLine(*facts)), echo ? 2 : 0) << CheckText(*facts, JudgeLine(*facts));
  }
  std::string failure;
  options.Device = (folder / "missing").string();
  EXPECT_FALSE(ProbeLine(options, failure));
  EXPECT_EQ(failure, options.Device + ": no such device");
}

}  // namespace
