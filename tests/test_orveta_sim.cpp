// The simulated terminal, driven the way the PC drives a terminal: over the
// pseudo-terminal behind its link, with plain POSIX calls.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/orveta-sim/SimClock.h"
#include "tools/orveta-sim/SimFrameParser.h"
#include "tools/orveta-sim/SimLog.h"
#include "tools/orveta-sim/SimOptions.h"
#include "tools/orveta-sim/SimTerminal.h"
#include "tools/orveta-sim/Simulator.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const std::string kPoll("\x10\x04\x55\x69", 4);
const std::string kAck("\x06", 1);

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int value : values) out.push_back(static_cast<char>(value));
  return out;
}

std::string Frame(int address, const std::string& payload) {
  std::string frame = Bytes({address, static_cast<int>(payload.size()) + 3}) + payload;
  unsigned sum = 0;
  for (unsigned char byte : frame) sum += byte;
  frame.push_back(static_cast<char>(sum & 0xFF));
  return frame;
}

std::string Word(int value) { return Bytes({value >> 8 & 0xFF, value & 0xFF}); }

// Fourteen day bytes first, first + 1, ...
std::string Days(int first) {
  std::string out;
  for (int i = 0; i < 14; ++i) out.push_back(static_cast<char>(first + i));
  return out;
}

// The 40-byte payload of 'R', 'X', 'r' or 'q'.
std::string RecordPayload(char letter, int number, const std::string& ident, char flag, const std::string& days) {
  std::string payload = std::string(1, letter) + Word(number) + ident + "efgh" + flag + days + "NOVAK JAN     ";
  EXPECT_EQ(payload.size(), 40u);
  return payload;
}

// A 24-byte person record of a data answer (29 with `dt`).
std::string Record(char type, int number, const std::string& ident, char flag, const std::string& days,
                   const std::string& credit = Word(0), const std::string& dt = "") {
  return std::string(1, type) + Word(number) + ident + flag + days + dt + credit;
}

std::string NewLinkPath() {
  static int count = 0;
  return "/tmp/orveta-sim-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
}

// The PC's end of the line.
class PcSide {
 public:
  explicit PcSide(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~PcSide() { Close(); }
  PcSide(const PcSide&) = delete;
  PcSide& operator=(const PcSide&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool Write(const std::string& bytes) {
    std::size_t done = 0;
    auto deadline = Clock::now() + 5s;
    while (done < bytes.size() && Clock::now() < deadline) {
      ssize_t count = write(fd_, bytes.data() + done, bytes.size() - done);
      if (count > 0) {
        done += static_cast<std::size_t>(count);
      } else {
        pollfd line{fd_, POLLOUT, 0};
        poll(&line, 1, 10);
      }
    }
    return done == bytes.size();
  }

  // Up to `count` bytes, as many as come within `timeout`.
  std::string Read(std::size_t count, Ms timeout) {
    std::string out;
    auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
      auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd line{fd_, POLLIN, 0};
      poll(&line, 1, static_cast<int>(left) + 1);
      char buffer[4096];
      ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - out.size()));
      if (got > 0) out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }

  // What is queued right now, without waiting.
  std::string ReadQueued() {
    char buffer[65536];
    ssize_t got = read(fd_, buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
  }

  // Drops everything received so far.
  void ClearReceive() { tcflush(fd_, TCIFLUSH); }

  // Reads until a poll has come; true when one came within `timeout`.
  bool WaitForPoll(Ms timeout) {
    std::string window;
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      std::string byte = Read(1, std::chrono::duration_cast<Ms>(deadline - Clock::now()));
      window = (window + byte).substr(window.size() + byte.size() > 4 ? window.size() + byte.size() - 4 : 0);
      if (window == kPoll) return true;
    }
    return false;
  }

 private:
  int fd_;
};

class OrvetaSim : public ::testing::Test {
 protected:
  // Starts a simulator with these options (besides --link) and opens its line.
  bool Launch(std::vector<std::string> args) {
    link_ = NewLinkPath();
    args.insert(args.begin(), {"orveta-sim", "--link", link_});
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error)) {
      ADD_FAILURE() << error;
      return false;
    }
    sim_ = std::make_unique<Simulator>(options);
    if (!sim_->Start(error)) {
      ADD_FAILURE() << error;
      return false;
    }
    pc_ = std::make_unique<PcSide>(link_);
    return pc_->IsOpen();
  }

  void TearDown() override {
    pc_.reset();
    sim_.reset();
  }

  // Sends a command frame and reads `answerSize` bytes back (acknowledgement included).
  std::string Command(int address, const std::string& payload, std::size_t answerSize) {
    EXPECT_TRUE(pc_->Write(Frame(address, payload)));
    return pc_->Read(answerSize, 2s);
  }

  // Like Command, but right after a poll, as the PC talks to a master.
  std::string CommandOnPoll(int address, const std::string& payload, std::size_t answerSize) {
    EXPECT_TRUE(pc_->WaitForPoll(2s));
    return Command(address, payload, answerSize);
  }

  // Number of log lines from `from` on whose entry starts with `entry`.
  int CountLog(const std::string& entry, std::size_t from = 0) const {
    auto lines = sim_->LogLines();
    int count = 0;
    for (std::size_t i = from; i < lines.size(); ++i) {
      count += SimLogEntry(lines[i]).substr(0, entry.size()) == entry ? 1 : 0;
    }
    return count;
  }

  // The log entry at `index` ("rx 05 04 41 4A").
  std::string Entry(long index) const {
    auto lines = sim_->LogLines();
    return index >= 0 && static_cast<std::size_t>(index) < lines.size() ? std::string(SimLogEntry(lines[index])) : "";
  }

  std::string link_;
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<PcSide> pc_;
};

// ---------------------------------------------------------------- options

bool Parse(std::vector<std::string> args, SimOptions& options, std::string& error) {
  args.insert(args.begin(), "orveta-sim");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  return ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(SimOptionsTest, ParsesEveryOptionAndRejectsBadOnesWithAMessage) {
  SimOptions options;
  std::string error;
  ASSERT_TRUE(Parse({"--link", "/tmp/x", "--terminal", "3:slave", "--terminal=7:master", "--baud", "9600",
                     "--no-pacing", "--poll-ms=25", "--window-ms", "5", "--ack-ms", "0", "--data-ms", "1",
                     "--after-data-ms", "99", "--no-ack", "2", "--nak", "--short-answer", "1", "--poll-after-data",
                     "--noise-ms", "7", "--silent", "--capacity", "0", "--dt", "--o-switches-role", "--log", "/tmp/l"},
                    options, error))
      << error;
  EXPECT_EQ(options.Link, "/tmp/x");
  ASSERT_EQ(options.Terminals.size(), 2u);
  EXPECT_EQ(options.Terminals[0].Address, 3);
  EXPECT_FALSE(options.Terminals[0].Master);
  EXPECT_EQ(options.Terminals[1].Address, 7);
  EXPECT_TRUE(options.Terminals[1].Master);
  EXPECT_EQ(options.Baud, 9600);
  EXPECT_FALSE(options.Pacing);
  EXPECT_EQ(options.PollMs, 25);
  EXPECT_EQ(options.WindowMs, 5);
  EXPECT_EQ(options.AckMs, 0);
  EXPECT_EQ(options.DataMs, 1);
  EXPECT_EQ(options.AfterDataMs, 99);
  EXPECT_EQ(options.NoAck, 2);
  EXPECT_TRUE(options.Nak);
  EXPECT_EQ(options.ShortAnswer, 1);
  EXPECT_TRUE(options.PollAfterData);
  EXPECT_EQ(options.NoiseMs, 7);
  EXPECT_TRUE(options.Silent);
  EXPECT_EQ(options.Capacity, 0);
  EXPECT_TRUE(options.Dt);
  EXPECT_TRUE(options.OSwitchesRole);
  EXPECT_EQ(options.Log, "/tmp/l");

  ASSERT_TRUE(Parse({"--device", "/dev/ttyUSB0"}, options, error)) << error;
  ASSERT_EQ(EffectiveTerminals(options).size(), 1u);
  EXPECT_EQ(EffectiveTerminals(options)[0].Address, 1);
  EXPECT_TRUE(EffectiveTerminals(options)[0].Master);

  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--link", "/tmp/x", "--bogus"}, "--bogus"},
      {{"--link", "/tmp/x", "extra"}, "extra"},
      {{"--link"}, "--link"},
      {{"--link", "/tmp/x", "--terminal", "256:master"}, "--terminal"},
      {{"--link", "/tmp/x", "--terminal", "1:boss"}, "--terminal"},
      {{"--link", "/tmp/x", "--terminal", "x:slave"}, "--terminal"},
      {{"--link", "/tmp/x", "--terminal", "1:master", "--terminal", "2:master"}, "master"},
      {{"--link", "/tmp/x", "--terminal", "4:slave", "--terminal", "4:master"}, "twice"},
      {{"--link", "/tmp/x", "--baud", "1000"}, "--baud"},
      {{"--link", "/tmp/x", "--poll-ms", "0"}, "--poll-ms"},
      {{"--link", "/tmp/x", "--ack-ms", "12x"}, "--ack-ms"},
      {{"--link", "/tmp/x", "--no-ack", "-1"}, "--no-ack"},
      {{"--link", "/tmp/x", "--nak=1"}, "--nak"},
      {{"--link", "/tmp/x", "--device", "/dev/ttyS0"}, "--device"},
      {{"--log", "/tmp/l"}, "--link"},
  };
  for (const auto& [args, mentioned] : bad) {
    error.clear();
    EXPECT_FALSE(Parse(args, options, error)) << args.back();
    EXPECT_NE(error.find(mentioned), std::string::npos) << "'" << error << "' for " << args.back();
  }

  ASSERT_TRUE(Parse({"--help"}, options, error));
  EXPECT_TRUE(options.Help);
  EXPECT_NE(SimUsage().find("--o-switches-role"), std::string::npos);
}

// ------------------------------------------------------- pure components

TEST(SimClockTest, RunsOnAcrossTheYearEndAndRefusesImpossibleTimes) {
  SimTime start = Clock::now();
  SimClock clock(start);
  SimClockTime host = clock.Read(start);
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(host.Year, local.tm_year % 100);
  EXPECT_EQ(host.Month, local.tm_mon + 1);

  ASSERT_TRUE(clock.Set({99, 12, 31, 5, 23, 59, 58}, start));
  SimClockTime later = clock.Read(start + 3s);
  EXPECT_EQ(later.Year, 0);
  EXPECT_EQ(later.Month, 1);
  EXPECT_EQ(later.Day, 1);
  EXPECT_EQ(later.Weekday, 6);  // the weekday given runs on with the date
  EXPECT_EQ(later.Hour, 0);
  EXPECT_EQ(later.Minute, 0);
  EXPECT_EQ(later.Second, 1);

  EXPECT_FALSE(clock.Set({26, 2, 30, 1, 0, 0, 0}, start));
  EXPECT_FALSE(clock.Set({26, 13, 1, 1, 0, 0, 0}, start));
  EXPECT_FALSE(clock.Set({26, 1, 1, 8, 0, 0, 0}, start));
  EXPECT_FALSE(clock.Set({26, 1, 1, 1, 24, 0, 0}, start));
  EXPECT_EQ(clock.Read(start + 3s).Year, 0);  // unchanged by the refused settings

  SimClockTime parsed;
  EXPECT_TRUE(ParseClockDigits("06030601140509", parsed));
  EXPECT_EQ(parsed.Day, 6);
  EXPECT_EQ(parsed.Weekday, 1);
  EXPECT_EQ(parsed.Second, 9);
  EXPECT_FALSE(ParseClockDigits("0603060114050", parsed));
  EXPECT_FALSE(ParseClockDigits("060306011405 9", parsed));
  EXPECT_EQ(ToBcd(59), 0x59);
}

TEST(SimFrameParserTest, FindsFramesInAStreamAndReportsWhatMadeNone) {
  SimTime t = Clock::now();
  SimFrameParser parser(20ms);
  std::vector<std::pair<SimFrameEvent::Kind, std::string>> events;
  auto feed = [&](const std::string& bytes, SimTime at) {
    for (char byte : bytes) {
      if (auto event = parser.Expire(at)) events.emplace_back(event->What, event->Bytes);
      if (auto event = parser.Feed(static_cast<uint8_t>(byte), at)) events.emplace_back(event->What, event->Bytes);
    }
  };
  std::string longest = Frame(9, std::string(97, 'z'));
  feed(Frame(5, "A") + Bytes({5, 4, 0x41, 0x4B}) + Bytes({7, 3}) + Bytes({7, 101}) + longest, t);
  feed(Bytes({5, 4, 0x41}), t + 1ms);
  EXPECT_FALSE(parser.Idle());
  ASSERT_TRUE(parser.GapDeadline().has_value());
  EXPECT_EQ(*parser.GapDeadline(), t + 21ms);
  EXPECT_FALSE(parser.Expire(t + 20ms).has_value());
  feed(Frame(5, "A"), t + 30ms);  // after a gap: the partial frame is given up

  using K = SimFrameEvent::Kind;
  std::vector<std::pair<K, std::string>> expected = {
      {K::Frame, Bytes({5, 4, 0x41, 0x4A})}, {K::Bad, Bytes({5, 4, 0x41, 0x4B})}, {K::Bad, Bytes({7, 3})},
      {K::Bad, Bytes({7, 101})},             {K::Frame, longest},                 {K::Bad, Bytes({5, 4, 0x41})},
      {K::Frame, Bytes({5, 4, 0x41, 0x4A})}};
  EXPECT_EQ(events, expected);
  EXPECT_TRUE(parser.Idle());
}

TEST(SimTerminalTest, KeepsValuesIgnoresMalformedRecordsAndReplacesWhenFull) {
  SimTime now = Clock::now();
  SimTerminal terminal({4, false}, {1, false, false}, now);
  SimAnswer answer =
      terminal.Execute("cABCD" + Word(1) + Word(0x1F) + Word(300) + Word(4) + Word(5) + Word(0xFFFF), now);
  EXPECT_FALSE(answer.DataCommand);
  EXPECT_EQ(terminal.Values(), (std::array<uint16_t, 6>{1, 0x1F, 300, 4, 5, 0xFFFF}));

  terminal.Execute(RecordPayload('R', 1, "ABCD", '0', Days(1)).substr(0, 39), now);
  EXPECT_EQ(terminal.PersonCount(), 0);
  terminal.Execute(RecordPayload('R', 1, "ABCD", '0', Days(1)), now);
  terminal.Execute(RecordPayload('R', 2, "ABCD", '0', Days(1)), now);  // beyond the capacity of 1
  terminal.Execute(RecordPayload('X', 1, "QQQQ", '1', Days(9)) + "x" + Word(0x1234), now);
  EXPECT_EQ(terminal.Execute("P", now).Data, Record('Z', 1, "QQQQ", '1', Days(9), Word(0x1234)));
  EXPECT_EQ(terminal.Execute("T99", now).Data, "");  // a malformed clock setting is ignored
}

// ------------------------------------------------------------ the line

TEST_F(OrvetaSim, LinkIsCreatedOnStartAndRemovedOnStop) {
  ASSERT_TRUE(Launch({"--no-pacing"}));
  struct stat info {};
  ASSERT_EQ(lstat(link_.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(sim_->LinkPath(), link_);
  int line = open(link_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_TRUE(isatty(line));
  close(line);
  sim_->Stop();
  EXPECT_NE(lstat(link_.c_str(), &info), 0);
  sim_->Stop();  // again: nothing happens

  // A regular file at the path is refused and kept.
  std::string path = NewLinkPath();
  std::ofstream(path) << "keep";
  SimOptions options;
  options.Link = path;
  std::string error;
  Simulator refused(options);
  EXPECT_FALSE(refused.Start(error));
  EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  unlink(path.c_str());

  // A stale link is replaced; a simulator whose link was taken over by
  // another leaves the other's link in place when it stops.
  ASSERT_EQ(symlink("/nonexistent/pts", path.c_str()), 0);
  options.Link = path;
  Simulator first(options);
  ASSERT_TRUE(first.Start(error)) << error;
  Simulator second(options);
  ASSERT_TRUE(second.Start(error)) << error;
  first.Stop();
  EXPECT_EQ(lstat(path.c_str(), &info), 0);
  second.Stop();
  EXPECT_NE(lstat(path.c_str(), &info), 0);
}

TEST_F(OrvetaSim, MasterPollsOnlyWhileAPcHasTheLineOpen) {
  ASSERT_TRUE(Launch({"--poll-ms", "1", "--window-ms", "0"}));
  EXPECT_EQ(pc_->Read(8, 2s), kPoll + kPoll);
  EXPECT_GE(sim_->WaitForLog("tx-poll 10 04 55 69", 1s), 0);

  // A PC that leaves polls unread and closes the line: the next PC finds no
  // pile of stale polls, and nothing is sent while nobody listens.
  ASSERT_GE(sim_->WaitForLog("tx-poll", 1s, sim_->LogCount() + 50), 0);
  pc_->Close();
  auto deadline = Clock::now() + 2s;
  while (sim_->PcAttached() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_FALSE(sim_->PcAttached());
  std::size_t detached = sim_->LogCount();
  std::this_thread::sleep_for(20ms);  // ten poll periods of nobody listening
  EXPECT_EQ(sim_->LogCount(), detached);
  pc_ = std::make_unique<PcSide>(link_);
  ASSERT_TRUE(pc_->IsOpen());
  std::size_t queued = pc_->ReadQueued().size();
  EXPECT_LE(queued, kPoll.size() * CountLog("tx-poll", detached));  // only fresh polls, if any
  EXPECT_TRUE(pc_->WaitForPoll(2s));
}

TEST_F(OrvetaSim, SlaveStaysSilentAndAcknowledgesTheLinkTest) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--ack-ms", "0"}));
  EXPECT_EQ(pc_->Read(1, 100ms), "");
  EXPECT_EQ(Command(5, "A", 1), kAck);
  long rx = sim_->WaitForLog("rx 05 04 41 4A", 1s);
  ASSERT_GE(rx, 0);
  EXPECT_EQ(Entry(rx + 1), "tx-ack 06");
  EXPECT_EQ(CountLog("tx-poll"), 0);
  EXPECT_EQ(CountLog("reaction"), 0);  // no poll came before the frame
}

TEST_F(OrvetaSim, BadFramesAndOtherAddressesGetNoAnswerAndRandomBytesDoNotHurt) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--data-ms", "0"}));
  auto sendAndExpect = [&](const std::string& bytes, const std::string& entry) {
    std::size_t from = sim_->LogCount();
    ASSERT_TRUE(pc_->Write(bytes));
    long index = sim_->WaitForLog(entry, 1s, from);
    ASSERT_GE(index, 0) << entry;
    EXPECT_EQ(Entry(index), entry);
  };
  sendAndExpect(Bytes({5, 4, 0x41, 0x4B}), "bad 05 04 41 4B");  // checksum
  sendAndExpect(Bytes({5, 2}), "bad 05 02");                     // length
  sendAndExpect(Bytes({5, 101}), "bad 05 65");
  sendAndExpect(Frame(7, "A"), "rx 07 04 41 4C");                // another terminal's
  sendAndExpect(Bytes({5, 4, 0x41}), "bad 05 04 41");            // and then a pause
  EXPECT_EQ(Command(5, "A", 1), kAck);
  EXPECT_GE(sim_->WaitForLog("tx-ack", 1s), 0);
  EXPECT_EQ(CountLog("tx-"), 1);  // only the good frame was answered

  std::mt19937 random(20240611);
  std::string noise;
  for (int i = 0; i < 20000; ++i) noise.push_back(static_cast<char>(random()));
  ASSERT_TRUE(pc_->Write(noise));
  // The random bytes may leave a frame open until the gap; repeat until heard.
  bool answered = false;
  for (int attempt = 0; attempt < 10 && !answered; ++attempt) {
    std::size_t from = sim_->LogCount();
    ASSERT_TRUE(pc_->Write(Frame(5, "A")));
    long rx = sim_->WaitForLog("rx 05 04 41 4A", 200ms, from);
    answered = rx >= 0 && sim_->WaitForLog("tx-ack", 1s, static_cast<std::size_t>(rx)) >= 0;
  }
  EXPECT_TRUE(answered);
}

TEST_F(OrvetaSim, TwoTerminalsOnOneLineAnswerTheirOwnFrames) {
  ASSERT_TRUE(Launch({"--terminal", "1:master", "--terminal", "2:slave", "--no-pacing", "--poll-ms", "10",
                      "--after-data-ms", "0"}));
  EXPECT_EQ(CommandOnPoll(1, "A", 1), kAck);
  EXPECT_EQ(CommandOnPoll(2, "A", 1), kAck);
  std::string first = CommandOnPoll(1, "S", 28);
  std::string second = CommandOnPoll(2, "S", 28);
  ASSERT_EQ(first.size(), 28u);
  ASSERT_EQ(second.size(), 28u);
  EXPECT_EQ(first.substr(10, 16), std::string("SIM TERMINAL 1\0\0", 16));
  EXPECT_EQ(second.substr(10, 16), std::string("SIM TERMINAL 2\0\0", 16));
  EXPECT_EQ(CountLog("tx-ack"), 4);
  EXPECT_TRUE(sim_->IsMaster(1));
  EXPECT_FALSE(sim_->IsMaster(2));
}

// ---------------------------------------------------------- the commands

TEST_F(OrvetaSim, PersonRecordsComeBackInDataAnswers) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--data-ms", "0"}));
  EXPECT_EQ(Command(5, RecordPayload('R', 0x0102, "ABCD", '0', Days(1)), 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('X', 7, "WXYZ", '\x80', Days(0xA0)) + "x" + Word(0xFF9B), 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('X', 9, "IJKL", '1', Days(40)), 1), kAck);  // without a credit
  EXPECT_EQ(sim_->PersonCount(5), 3);

  std::string r102 = Record('R', 0x0102, "ABCD", '0', Days(1));
  std::string z7 = Record('Z', 7, "WXYZ", '\x80', Days(0xA0), Word(0xFF9B));
  std::string z9 = Record('Z', 9, "IJKL", '1', Days(40));
  EXPECT_EQ(Command(5, "P", 1 + 72), kAck + z7 + z9 + r102);
  EXPECT_EQ(Command(5, "Y", 1 + 48), kAck + z7 + z9);

  // Days 15-28: a continuation record after its person; unknown numbers are ignored.
  EXPECT_EQ(Command(5, RecordPayload('r', 0x0102, "ABCD", '0', Days(15)), 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('q', 7, "WXYZ", '\x80', Days(0xB0)), 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('q', 0x999, "WXYZ", '0', Days(60)), 1), kAck);
  std::string r102more = Record('r', 0x0102, "ABCD", '0', Days(15));
  std::string q7 = Record('q', 7, "WXYZ", '\x80', Days(0xB0));
  EXPECT_EQ(Command(5, "P", 1 + 120), kAck + z7 + q7 + z9 + r102 + r102more);
  EXPECT_EQ(Command(5, "Y", 1 + 72), kAck + z7 + q7 + z9);

  // Storing a number again replaces the record and drops its days 15-28.
  EXPECT_EQ(Command(5, RecordPayload('R', 7, "MNOP", '2', Days(3)), 1), kAck);
  EXPECT_EQ(Command(5, "P", 1 + 96), kAck + Record('R', 7, "MNOP", '2', Days(3)) + z9 + r102 + r102more);
  EXPECT_EQ(Command(5, "Y", 1 + 24), kAck + z9);

  std::time_t before = std::time(nullptr);
  std::string status = Command(5, "S", 1 + 27);
  ASSERT_EQ(status.size(), 28u);
  EXPECT_EQ(status.substr(0, 2), kAck + "S");
  std::tm local{};
  localtime_r(&before, &local);
  EXPECT_EQ(status.substr(2, 2), Bytes({ToBcd(local.tm_year % 100), ToBcd(local.tm_mon + 1)}));
  EXPECT_EQ(status[9], 3);
  EXPECT_EQ(status.substr(10, 16), std::string("SIM TERMINAL 5\0\0", 16));
  EXPECT_EQ(status.substr(26), Word(3));

  // The clock command, then the clock runs on from it.
  EXPECT_EQ(Command(5, "T26120607201105", 1), kAck);
  status = Command(5, "S", 1 + 27);
  ASSERT_EQ(status.size(), 28u);
  EXPECT_EQ(status.substr(2, 6), Bytes({0x26, 0x12, 0x06, 0x07, 0x20, 0x11}));
  EXPECT_GE(status[8], 0x05);
  EXPECT_LE(status[8], 0x07);
  EXPECT_EQ(Command(5, "T26133107201105", 1), kAck);  // month 13: ignored
  EXPECT_EQ(Command(5, "S", 1 + 27).substr(2, 6), Bytes({0x26, 0x12, 0x06, 0x07, 0x20, 0x11}));

  // 'C' deletes every person; 'P' then answers nothing after the
  // acknowledgement, so the next answer starts right after it.
  EXPECT_EQ(Command(5, "C", 1), kAck);
  EXPECT_EQ(sim_->PersonCount(5), 0);
  EXPECT_EQ(Command(5, "P", 1), kAck);
  EXPECT_EQ(Command(5, "O", 1), kAck);
  EXPECT_EQ(Command(5, "S", 1 + 27).substr(9), Bytes({0}) + std::string("SIM TERMINAL 5\0\0", 16) + Word(0));
  EXPECT_EQ(CountLog("tx-data"), 10);
}

TEST_F(OrvetaSim, DtRecordsAre29BytesWithTheClockWhenStored) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--data-ms", "0", "--dt"}));
  EXPECT_EQ(Command(5, "T26120607201105", 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('X', 0x3039, "ABCD", '0', Days(1)) + "x" + Word(500), 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('q', 0x3039, "ABCD", '0', Days(15)), 1), kAck);
  std::string dt = Bytes({0x26, 0x12, 0x06, 0x20, 0x11});
  EXPECT_EQ(Command(5, "P", 1 + 58), kAck + Record('Z', 0x3039, "ABCD", '0', Days(1), Word(500), dt) +
                                         Record('q', 0x3039, "ABCD", '0', Days(15), Word(0), dt));
}

// ------------------------------------------------------------- faults

TEST_F(OrvetaSim, NoAckLeavesTheFirstFramesUnansweredAndUndone) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--no-ack", "1"}));
  ASSERT_TRUE(pc_->Write(Frame(5, RecordPayload('R', 1, "ABCD", '0', Days(1)))));
  ASSERT_GE(sim_->WaitForLog("rx", 1s), 0);
  EXPECT_EQ(Command(5, RecordPayload('R', 2, "ABCD", '0', Days(1)), 1), kAck);
  EXPECT_EQ(Command(5, "A", 1), kAck);  // a second acknowledgement above would show here
  EXPECT_EQ(CountLog("tx-ack"), 2);
  EXPECT_EQ(sim_->PersonCount(5), 1);
}

TEST_F(OrvetaSim, NakRefusesEveryFrame) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--nak"}));
  EXPECT_EQ(Command(5, RecordPayload('R', 1, "ABCD", '0', Days(1)), 1), Bytes({0x15}));
  EXPECT_EQ(Command(5, "S", 1), Bytes({0x15}));
  EXPECT_EQ(Command(5, "A", 1), Bytes({0x15}));  // 'S' sent no data answer before this
  EXPECT_GE(sim_->WaitForLog("tx-nak 15", 1s), 0);
  EXPECT_EQ(CountLog("tx-data") + CountLog("tx-ack"), 0);
  EXPECT_EQ(sim_->PersonCount(5), 0);
}

TEST_F(OrvetaSim, ShortAnswerLosesTheLastByteOfTheFirstAnswers) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--data-ms", "0", "--short-answer",
                      "1"}));
  EXPECT_EQ(Command(5, "P", 1), kAck);  // empty answers do not count
  std::string shortened = Command(5, "S", 1 + 26);
  EXPECT_EQ(shortened.size(), 27u);
  EXPECT_EQ(Command(5, "S", 1 + 27).substr(0, 27), shortened);
}

TEST_F(OrvetaSim, CapacityDropsFurtherPersonsButAcknowledgesThem) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--data-ms", "0", "--capacity", "1"}));
  EXPECT_EQ(Command(5, RecordPayload('R', 1, "ABCD", '0', Days(1)), 1), kAck);
  EXPECT_EQ(Command(5, RecordPayload('R', 2, "ABCD", '0', Days(1)), 1), kAck);
  EXPECT_EQ(sim_->PersonCount(5), 1);
  EXPECT_EQ(Command(5, "P", 25), kAck + Record('R', 1, "ABCD", '0', Days(1)));
}

TEST_F(OrvetaSim, OSwitchesAMasterToSlave) {
  ASSERT_TRUE(Launch({"--no-pacing", "--poll-ms", "5", "--ack-ms", "0", "--o-switches-role"}));
  EXPECT_EQ(CommandOnPoll(1, "O", 1), kAck);
  EXPECT_FALSE(sim_->IsMaster(1));
  long ack = sim_->WaitForLog("tx-ack", 1s);
  ASSERT_GE(ack, 0);
  EXPECT_EQ(pc_->Read(1, 60ms), "");  // several poll periods without a poll
  EXPECT_EQ(CountLog("tx-poll", static_cast<std::size_t>(ack)), 0);
  EXPECT_EQ(Command(1, "A", 1), kAck);
  EXPECT_EQ(Command(1, "O", 1), kAck);
  EXPECT_TRUE(pc_->WaitForPoll(1s));  // and back
}

TEST_F(OrvetaSim, SilentTerminalsNeitherPollNorAnswer) {
  ASSERT_TRUE(Launch({"--no-pacing", "--poll-ms", "5", "--ack-ms", "0", "--silent"}));
  ASSERT_TRUE(pc_->Write(Frame(1, "A")));
  EXPECT_GE(sim_->WaitForLog("rx 01 04 41 46", 1s), 0);
  EXPECT_EQ(pc_->Read(1, 60ms), "");
  EXPECT_EQ(CountLog("tx-"), 0);
}

TEST_F(OrvetaSim, MasterIsSilentAfterDataUnlessAskedToPoll) {
  ASSERT_TRUE(Launch({"--no-pacing", "--poll-ms", "5", "--ack-ms", "0", "--data-ms", "0", "--after-data-ms", "150"}));
  EXPECT_EQ(CommandOnPoll(1, "S", 28).size(), 28u);
  long data = sim_->WaitForLog("tx-data", 1s);
  long poll = sim_->WaitForLog("tx-poll", 2s, static_cast<std::size_t>(data));
  ASSERT_GE(poll, 0);
  auto ms = [&](long index) { return std::stol(sim_->LogLines()[index]); };
  EXPECT_GE(ms(poll) - ms(data), 149);

  ASSERT_TRUE(Launch({"--no-pacing", "--poll-ms", "5", "--ack-ms", "0", "--data-ms", "0", "--poll-after-data"}));
  std::string answer = CommandOnPoll(1, "S", 28 + 4);
  EXPECT_EQ(answer.substr(28), kPoll);
  data = sim_->WaitForLog("tx-data", 1s);
  EXPECT_EQ(Entry(data + 1), "tx-poll 10 04 55 69");
}

TEST_F(OrvetaSim, NoiseBytesComeWhileIdle) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--noise-ms", "5"}));
  EXPECT_EQ(pc_->Read(3, 2s), Bytes({0, 0, 0}));
  EXPECT_GE(sim_->WaitForLog("tx-noise 00", 1s), 0);
  EXPECT_EQ(CountLog("tx-poll"), 0);
}

// ------------------------------------------------------ timing and load

TEST_F(OrvetaSim, ReactionIsLoggedForAFrameAfterAPollAndBytesArePaced) {
  ASSERT_TRUE(Launch({"--ack-ms", "0", "--data-ms", "0"}));
  ASSERT_TRUE(pc_->WaitForPoll(2s));
  ASSERT_TRUE(pc_->Write(Frame(1, "S")));
  EXPECT_EQ(pc_->Read(1, 2s), kAck);
  SimTime first = Clock::now();
  std::string status = pc_->Read(1, 2s);
  status += pc_->Read(26, 2s);
  SimTime last = Clock::now();
  EXPECT_EQ(status.size(), 27u);
  // 26 byte times at 19200 baud are 13.5 ms; unpaced, all would come at once.
  EXPECT_GE(last - first, 10ms);

  long rx = sim_->WaitForLog("rx 01 04 53 58", 1s);
  ASSERT_GE(rx, 0);
  std::string reaction = Entry(rx + 1);
  ASSERT_EQ(reaction.rfind("reaction ", 0), 0u) << reaction;
  long us = std::stol(reaction.substr(9));
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
}

TEST_F(OrvetaSim, APcThatDoesNotReadCannotHangTheSimulator) {
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--data-ms", "0"}));
  std::string frames;
  for (int number = 0; number < 1200; ++number) frames += Frame(5, RecordPayload('R', number, "ABCD", '0', Days(1)));
  ASSERT_TRUE(pc_->Write(frames));
  auto deadline = Clock::now() + 5s;
  while (sim_->PersonCount(5) < 1200 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(sim_->PersonCount(5), 1200);
  // 28,800 bytes: more than the line holds while nobody reads. The
  // simulator gives up after a second without progress and carries on.
  std::size_t from = sim_->LogCount();
  ASSERT_TRUE(pc_->Write(Frame(5, "P")));
  long cut = sim_->WaitForLog("tx-cut", 5s, from);
  ASSERT_GE(cut, 0);
  EXPECT_EQ(Entry(cut - 1).rfind("tx-data 52 00 00 41 42 43 44", 0), 0u);
  pc_->ClearReceive();
  EXPECT_EQ(Command(5, "A", 1), kAck);
}

// A log file that takes its lines slowly (a busy disk; here a pipe nobody
// reads) never holds the terminal's answers back.
TEST_F(OrvetaSim, ASlowLogFileNeverDelaysAnAnswer) {
  const std::string fifo = NewLinkPath() + ".log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  fcntl(reader, F_SETPIPE_SZ, 4096);  // full after some 70 commands' lines
  ASSERT_TRUE(Launch({"--terminal", "5:slave", "--no-pacing", "--ack-ms", "0", "--log", fifo}));
  for (int i = 0; i < 300; ++i) ASSERT_EQ(Command(5, "A", 1), kAck) << "command " << i;
  pc_.reset();
  std::thread drain([reader] {
    char buffer[4096];
    while (read(reader, buffer, sizeof buffer) != 0) std::this_thread::sleep_for(1ms);
  });
  sim_.reset();  // writes the rest of its log before it ends
  drain.join();
  close(reader);
  unlink(fifo.c_str());
}

TEST_F(OrvetaSim, AMasterNeverWaitsForAPcThatDoesNotRead) {
  ASSERT_TRUE(Launch({"--backlog", "300", "--no-pacing"}));
  // When the PC opens the line: the polls of five minutes at once, as many
  // as the line takes; the PC reads none of them.
  long backlog = sim_->WaitForLog("backlog 300 s: 7500 polls, ", 2s);
  ASSERT_GE(backlog, 0);
  // The polls go on at their time, one every 40 ms: those that find the
  // line full are dropped (and counted once a poll leaves again), never
  // waited for.
  std::this_thread::sleep_for(1s);
  pc_->ClearReceive();
  EXPECT_TRUE(pc_->WaitForPoll(2s));
  int polls = 0, cutLines = 0;
  const std::vector<std::string> lines = sim_->LogLines();
  for (std::size_t i = static_cast<std::size_t>(backlog) + 1; i < lines.size(); ++i) {
    const std::string entry(SimLogEntry(lines[i]));
    if (entry.rfind("polls-cut ", 0) == 0) {
      polls += std::stoi(entry.substr(10));
      ++cutLines;
    } else if (entry.rfind("tx-poll", 0) == 0) {
      ++polls;
    }
  }
  EXPECT_GE(cutLines, 1);
  EXPECT_GE(polls, 12) << "polls waited for a PC that does not read";
  // SIGUSR1 (here the call behind it) writes a backlog again.
  std::size_t from = sim_->LogCount();
  sim_->WriteBacklog(2);
  EXPECT_GE(sim_->WaitForLog("backlog 2 s: 50 polls, 50 queued, 0 cut", 2s, from), 0);
}

}  // namespace
