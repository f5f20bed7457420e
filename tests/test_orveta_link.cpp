// The link protocol against simulated terminals: master/slave detection, the
// frame on the wire, pauses and retests, and the idle limit of listening.

#include <atomic>
#include <thread>

#include "support/LinkFixture.h"
#include "support/PtyPair.h"
#include "support/RecordingClock.h"

using std::chrono::steady_clock;

TEST(Frame, AddressLengthPayloadChecksum) {
  const uint8_t payload[] = {'A'};
  uint8_t frame[kFrameBufferSize];
  ASSERT_EQ(BuildFrame(0x105, payload, 1, frame), 4);  // only the address's low byte goes on the wire
  EXPECT_EQ(std::vector<uint8_t>(frame, frame + 4), (std::vector<uint8_t>{0x05, 0x04, 0x41, 0x4A}));

  std::vector<uint8_t> big(kMaxPayload, 0xFF);
  ASSERT_EQ(BuildFrame(1, big.data(), kMaxPayload, frame), kFrameBufferSize);
  EXPECT_EQ(frame[1], 100);
  EXPECT_EQ(frame[99], static_cast<uint8_t>(1 + 100 + 97 * 0xFF));
  EXPECT_EQ(BuildFrame(1, big.data(), kMaxPayload + 1, frame), 0);
  EXPECT_EQ(BuildFrame(1, big.data(), 0, frame), 0);
}

TEST(Frame, PollOnlyAsTheExactFourBytesAnywhereInAStream) {
  auto polls = [](std::vector<uint8_t> bytes) {
    PollDetector detector;
    int seen = 0;
    for (uint8_t b : bytes) seen += detector.Feed(b) ? 1 : 0;
    return seen;
  };
  EXPECT_EQ(polls({0x10, 0x04, 0x55, 0x69}), 1);
  EXPECT_EQ(polls({0x00, 0x10, 0x10, 0x04, 0x55, 0x69, 0x33}), 1);
  EXPECT_EQ(polls({0x10, 0x04, 0x55, 0x68}), 0);
  EXPECT_EQ(polls({0x10, 0x04, 0x69}), 0);
  EXPECT_EQ(polls({0x04, 0x55, 0x69}), 0);
}

// The link's pauses are noted by the clock, not slept.
class OrvetaLink : public LinkFixture {
 protected:
  using Pauses = std::vector<long>;
  RecordingClock clock_;
  ClockInUse clockInUse_{clock_};
};

TEST_F(OrvetaLink, PollingTerminalIsMasterWithoutAnyByteSent) {
  StartLine({{1, true}});
  TOrveta& t = Terminal(1);
  EXPECT_TRUE(t.TestLink());
  EXPECT_TRUE(t.IsMaster());
  EXPECT_FALSE(t.IsSlave());
  EXPECT_TRUE(Logged("rx").empty());
  EXPECT_TRUE(Logged("bad").empty());
}

TEST_F(OrvetaLink, SilentTerminalAnsweringTheTestFrameIsSlave) {
  StartLine({{5, false}});
  TOrveta& t = Terminal(5);
  EXPECT_TRUE(t.TestLink());
  EXPECT_TRUE(t.IsSlave());
  EXPECT_FALSE(t.IsMaster());
  ASSERT_TRUE(WaitLogged("tx-ack", 1));
  EXPECT_EQ(Logged("rx"), std::vector<std::string>{"05 04 41 4A"});
}

TEST_F(OrvetaLink, AbsentTerminalIsNotConnectedAndACommandFailsAfterTheTestPause) {
  SimOptions options;
  options.Silent = true;
  StartLine({{1, false}}, options);
  TOrveta& t = Terminal(1);
  auto line = LineBuffer("Hello");
  EXPECT_EQ(t.SendCommand(line.data()), 1);
  EXPECT_EQ(clock_.Pauses(), Pauses{1500});
  EXPECT_FALSE(t.IsConnected());
  // Only the slave test frame went out.
  EXPECT_EQ(Logged("rx"), std::vector<std::string>{"01 04 41 46"});
}

TEST_F(OrvetaLink, UntestedMasterIsTestedThenCommandGoesOutAfterAPoll) {
  StartLine({{1, true}});
  TOrveta& t = Terminal(1);
  auto line = LineBuffer("Hello");
  EXPECT_EQ(t.SendCommand(line.data()), 0);
  EXPECT_EQ(clock_.Pauses(), Pauses{1500});
  EXPECT_TRUE(t.IsMaster());
  EXPECT_EQ(Logged("rx"), std::vector<std::string>{"01 08 48 65 6C 6C 6F FD"});
  // The frame followed a poll: the simulator measured the reaction.
  bool reaction = false;
  for (const std::string& l : sim_->LogLines()) reaction |= l.rfind("reaction ", 0) == 0;
  EXPECT_TRUE(reaction);

  // A tested terminal sends at once, with no pause.
  auto again = LineBuffer("Hello");
  clock_.Clear();
  EXPECT_EQ(t.SendCommand(again.data()), 0);
  EXPECT_EQ(clock_.Pauses(), Pauses{});
}

TEST_F(OrvetaLink, ClearCommandWaitsThreeSecondsAlsoWithoutAcknowledgement) {
  SimOptions options;
  options.NoAck = 1;
  StartLine({{2, false}}, options);
  TOrveta& t = Terminal(2);
  t.Slave = true;  // tested already, so no test pause
  auto line = LineBuffer("C");
  EXPECT_EQ(t.SendCommand(line.data()), 1);
  EXPECT_EQ(clock_.Pauses(), Pauses{3000});

  line = LineBuffer("C");
  EXPECT_EQ(t.SendCommand(line.data()), 0);
  EXPECT_EQ(clock_.Pauses(), (Pauses{3000, 3000}));
  // A 'c' line goes out as values, its payload starting with 'c': no pause.
  line = LineBuffer("c");
  t.SendCommand(line.data());
  EXPECT_EQ(clock_.Pauses(), (Pauses{3000, 3000}));
}

TEST_F(OrvetaLink, OCommandMakesTheNextCommandTestTheLinkFirst) {
  StartLine({{3, false}});
  TOrveta& t = Terminal(3);
  ASSERT_TRUE(t.TestLink());
  auto line = LineBuffer("O");
  EXPECT_EQ(t.SendCommand(line.data()), 0);
  EXPECT_TRUE(t.Retest);

  auto next = LineBuffer("Z");
  EXPECT_EQ(clock_.Pauses(), Pauses{});
  EXPECT_EQ(t.SendCommand(next.data()), 0);
  EXPECT_EQ(clock_.Pauses(), Pauses{1500});
  EXPECT_FALSE(t.Retest);
  // test, O, test again, Z
  EXPECT_EQ(Logged("rx"), (std::vector<std::string>{"03 04 41 48", "03 04 4F 56", "03 04 41 48", "03 04 5A 61"}));
}

TEST_F(OrvetaLink, AnyAnswerButAckIsAFailure) {
  SimOptions options;
  options.Nak = true;
  StartLine({{1, true}}, options);
  TOrveta& t = Terminal(1);
  ASSERT_TRUE(t.TestLink());
  auto line = LineBuffer("Hello");
  EXPECT_EQ(t.SendCommand(line.data()), 1);
  ASSERT_TRUE(WaitLogged("tx-nak", 1));
  EXPECT_EQ(Logged("rx").size(), 1u);
}

TEST_F(OrvetaLink, RetestOfAFormerMasterWaitsASecondForTheSlaveAck) {
  SimOptions options;
  options.OSwitchesRole = true;
  options.AckMs = 300;  // too late for a plain slave test (80 ms), in time for a retest (1000 ms)
  StartLine({{1, true}}, options);
  TOrveta& t = Terminal(1);
  ASSERT_TRUE(t.TestLink());
  ASSERT_TRUE(t.IsMaster());
  auto line = LineBuffer("O");
  ASSERT_EQ(t.SendCommand(line.data()), 0);
  EXPECT_TRUE(t.Retest);

  TOrveta& fresh = Terminal(1);
  EXPECT_FALSE(fresh.TestSlave());
  EXPECT_TRUE(t.TestLink());
  EXPECT_TRUE(t.IsSlave());
  EXPECT_FALSE(t.IsMaster());
}

TEST_F(OrvetaLink, TooLongPayloadIsRefusedWithoutTouchingTheLine) {
  StartLine({{1, false}});
  TOrveta& t = Terminal(1);
  auto line = LineBuffer(std::string(kMaxPayload + 1, 'T'));
  EXPECT_EQ(t.SendCommand(line.data()), 1);
  EXPECT_TRUE(Logged("rx").empty());
}

// The idle limit, with the far end played by hand on a bare pseudo-terminal.
class ListeningLimit : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = LinkSettings{};
    SetComDevicePath(0, pty_.SlavePath());
    port_ = std::make_unique<TSer_Port>(0, 19200);
    ASSERT_TRUE(port_->Opened);
  }
  void TearDown() override { SetComDevicePath(0, "/dev/ttyS0"); }
  PtyPair pty_;
  std::unique_ptr<TSer_Port> port_;
};

TEST_F(ListeningLimit, NonPollBytesKeepTheListenerGoingAndSilenceEndsIt) {
  TOrveta t(port_.get(), 1);
  std::atomic<bool> done{false};
  std::thread noise([&] {
    // A byte every 40 ms for 600 ms, then silence.
    const auto end = steady_clock::now() + std::chrono::milliseconds(600);
    while (steady_clock::now() < end && !done) {
      pty_.Write({0x10, 0x04, 0x55, 0x68});
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = steady_clock::now();
  const bool master = t.TestMaster();
  const auto elapsed = MillisecondsSince(start);
  done = true;
  noise.join();
  EXPECT_FALSE(master);
  EXPECT_GE(elapsed, 500);
  EXPECT_LT(elapsed, 600 + 120 + 200);
}

TEST_F(ListeningLimit, SilentLineEndsAfterTheLinkTimeout) {
  TOrveta t(port_.get(), 1);
  for (uint32_t limit : {120u, 60u}) {
    Settings().LinkTimeout = limit;
    Settings().RxTurnaroundUs = 0;
    const auto start = steady_clock::now();
    EXPECT_FALSE(t.TestMaster());
    const auto elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, limit);
    EXPECT_LT(elapsed, limit + 100);
  }
}
