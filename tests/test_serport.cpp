// TSer_Port over a pseudo-terminal on COM1: opening with the settings, the
// reads with -1 for "nothing", the drained write, the direction bracket; over
// a scripted device, a transmitter that never drains.

#include "link/Customport.h"

#include <gtest/gtest.h>

#include "link/Settings.h"
#include "support/FakePort.h"
#include "support/PtyPair.h"
#include "support/WaitFor.h"

namespace {

using Clock = std::chrono::steady_clock;

class SerPortPty : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = LinkSettings{};
    SetDispatchHook(nullptr);
    SetComDevicePath(0, pty->SlavePath());
  }
  void TearDown() override {
    Settings() = LinkSettings{};
    SetDispatchHook(nullptr);
    SetComDevicePath(0, "/dev/ttyS0");
  }

  std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
};

TEST_F(SerPortPty, MissingDeviceStaysClosedAndEveryOperationIsSafe) {
  SetComDevicePath(0, "/nonexistent/ttyX");
  Settings().TxTurnaroundUs = 0;
  Settings().RxTurnaroundUs = 0;
  TSer_Port port(0, 19200);
  EXPECT_FALSE(port.Opened);
  EXPECT_EQ(port.PortIndex, 0);
  EXPECT_EQ(port.Baud, 19200);
  ASSERT_NE(port.Port, nullptr);
  EXPECT_LT(port.Port->Status(), 0);
  EXPECT_EQ(Settings().TxTurnaroundUs, 0u) << "defaults apply only after a good open";
  EXPECT_EQ(Settings().RxTurnaroundUs, 0u);

  const uint8_t frame[4] = {0x05, 0x04, 0x41, 0x4A};
  EXPECT_EQ(port.ReadByte(), -1);
  EXPECT_EQ(port.ReadByteWait(10), -1);
  EXPECT_FALSE(port.WriteBlock(frame, 4));
  port.TransmitMode();
  port.ReceiveMode();
  port.ClearTransmit();
  port.ClearReceive();
  port.ClosePort();
  EXPECT_EQ(port.ReadByte(), -1);
}

TEST_F(SerPortPty, GoodOpenReplacesOnlyZeroTurnarounds) {
  Settings().TxTurnaroundUs = 0;
  Settings().RxTurnaroundUs = 0;
  {
    TSer_Port port(0, 19200);
    ASSERT_TRUE(port.Opened);
    EXPECT_EQ(Settings().TxTurnaroundUs, 9500u);
    EXPECT_EQ(Settings().RxTurnaroundUs, 9500u);
  }
  Settings().TxTurnaroundUs = 1234;
  Settings().RxTurnaroundUs = 0;
  Settings().ParityMark = true;
  TSer_Port port(0, 1200);
  ASSERT_TRUE(port.Opened) << "reopen after the first object closed, with MARK parity";
  EXPECT_EQ(Settings().TxTurnaroundUs, 1234u);
  EXPECT_EQ(Settings().RxTurnaroundUs, 9500u);

  TSer_Port second(0, 19200);
  EXPECT_FALSE(second.Opened) << "the device is in use";
}

TEST_F(SerPortPty, ReadsGiveMinusOneForNothing) {
  TSer_Port port(0, 19200);
  ASSERT_TRUE(port.Opened);
  auto start = Clock::now();
  EXPECT_EQ(port.ReadByte(), -1);
  EXPECT_LT(MillisecondsSince(start), 50.0) << "no waiting";

  int calls = 0;
  SetDispatchHook([&] { ++calls; });
  start = Clock::now();
  EXPECT_EQ(port.ReadByteWait(80), -1);
  const double elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 80.0);
  EXPECT_LT(elapsed, 1000.0);
  EXPECT_GT(calls, 0) << "window events were served meanwhile";

  calls = 0;
  SetDispatchHook([&] {
    if (++calls == 100) pty->Write({0x06});
  });
  EXPECT_EQ(port.ReadByteWait(5000), 0x06);
  pty->Write({0xE1});
  ASSERT_TRUE(WaitUntil([&] { return port.Port->ReceiveCount() == 1; }));
  EXPECT_EQ(port.ReadByte(), 0xE1);
}

TEST_F(SerPortPty, ClearReceiveEmptiesTheQueue) {
  TSer_Port port(0, 19200);
  ASSERT_TRUE(port.Opened);
  port.ClearReceive();
  EXPECT_EQ(port.Port->Status(), kCommOk) << "an empty queue is left alone";

  pty->Write(std::vector<uint8_t>(150, 0x33));
  ASSERT_TRUE(WaitUntil([&] { return port.Port->ReceiveCount() == 150; }));
  port.ClearReceive();
  EXPECT_EQ(port.Port->ReceiveCount(), 0);
  EXPECT_EQ(port.ReadByte(), -1);

  pty->Write({0x10});  // what comes afterwards is kept
  ASSERT_TRUE(WaitUntil([&] { return port.Port->ReceiveCount() == 1; }));
  EXPECT_EQ(port.ReadByte(), 0x10);

  // A master's polls of a quiet minute or more: far more than the 4 KB a
  // read sees, the rest held by the driver behind it. None of it may come
  // after the clear.
  std::vector<uint8_t> polls;
  for (int i = 0; i < 16 * 1024; ++i) polls.insert(polls.end(), {0x10, 0x04, 0x55, 0x69});
  ASSERT_GT(pty->WriteWhatFits(polls), 2u * 4096);
  ASSERT_TRUE(WaitUntil([&] { return port.Port->ReceiveCount() >= 4095; }));
  port.ClearReceive();
  int late = 0;
  for (const auto start = Clock::now(); Clock::now() - start < std::chrono::milliseconds(50);) {
    if (port.ReadByte() >= 0) ++late;
  }
  EXPECT_EQ(late, 0) << "bytes queued before the clear came after it";
  EXPECT_EQ(port.Port->Status(), kCommOk);
}

TEST_F(SerPortPty, WriteBlockSendsExactBytesAndReturnsDrained) {
  TSer_Port port(0, 19200);
  ASSERT_TRUE(port.Opened);
  const std::vector<uint8_t> frame = {0x05, 0x04, 0x41, 0x4A, 0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13};
  EXPECT_TRUE(port.WriteBlock(frame.data(), static_cast<int>(frame.size())));
  EXPECT_EQ(port.Port->TransmitCount(), 0) << "returns only after the transmit queue emptied";
  EXPECT_EQ(pty->Read(frame.size(), std::chrono::seconds(2)), frame);
  EXPECT_TRUE(port.WriteBlock(frame.data(), 0));
  port.ClearTransmit();
  EXPECT_EQ(port.Port->Status(), kCommOk);
}

TEST_F(SerPortPty, WriteBlockToUnreadLineEndsFalseAndStaysFalse) {
  TSer_Port port(0, 19200);
  ASSERT_TRUE(port.Opened);
  const std::vector<uint8_t> block(1000, 0x55);
  bool ok = true;
  int blocks = 0;
  while (ok && blocks < 1000) {
    ok = port.WriteBlock(block.data(), 1000);
    ++blocks;
  }
  EXPECT_FALSE(ok) << "nobody reads the other side, the queue must fill";
  pty->Read(1'000'000, std::chrono::milliseconds(200));
  EXPECT_FALSE(port.WriteBlock(block.data(), 1)) << "the error is sticky";
}

TEST_F(SerPortPty, DirectionBracketWaitsTheTurnarounds) {
  Settings().TxTurnaroundUs = 3000;
  Settings().RxTurnaroundUs = 2000;
  TSer_Port port(0, 19200);
  ASSERT_TRUE(port.Opened);
  auto start = Clock::now();
  port.TransmitMode();
  EXPECT_GE(MillisecondsSince(start), 3.0);
  start = Clock::now();
  port.ReceiveMode();
  EXPECT_GE(MillisecondsSince(start), 2.0);
  EXPECT_EQ(port.Port->Status(), kCommOk) << "no modem lines on a pseudo-terminal is no failure";

  Settings().TxTurnaroundUs = 0;  // changed after opening: stays 0
  port.TransmitMode();
  EXPECT_EQ(Settings().TxTurnaroundUs, 0u);
}

// A transmitter that never empties (a stuck driver queue): the write gives
// up at its limit, drops what is left so that it cannot run into the next
// frame, and the port is not failed by it.
TEST(SerPortFake, DrainThatNeverEndsIsPurgedAtItsLimitAndIsNoLastingFailure) {
  Settings() = LinkSettings{};
  auto line = std::make_shared<FakeLine>();
  TSer_Port port(0, 9600, FakeOpener(line));
  ASSERT_TRUE(port.Opened);
  line->NeverDrains = true;
  const std::vector<uint8_t> frame = {0x05, 0x04, 0x41, 0x4A};
  EXPECT_FALSE(port.WriteBlock(frame.data(), 4));
  EXPECT_EQ(line->Written, frame);
  // Twice the bytes' time at 11 bits a byte, and a second.
  EXPECT_EQ(line->DrainLimits, std::vector{std::chrono::microseconds(2 * 4 * 11 * 1'000'000 / 9600 + 1'000'000)});
  EXPECT_EQ(line->TransmitPurges, 1);

  line->NeverDrains = false;
  EXPECT_TRUE(port.WriteBlock(frame.data(), 4)) << "a slow transmitter is no failure of the device";
  EXPECT_EQ(line->TransmitPurges, 1);
  EXPECT_FALSE(port.NeedsReopen());
  EXPECT_EQ(line->Opens, 1);
}

TEST(WaitMicroseconds, WaitsAtLeastTheTimeGiven) {
  auto before = Clock::now();
  TSer_Port::WaitMicroseconds(0);
  EXPECT_GT(Clock::now(), before) << "0 still waits one tick";
  before = Clock::now();
  TSer_Port::WaitMicroseconds(2000);
  EXPECT_GE(Clock::now() - before, std::chrono::microseconds(2000));
}

}  // namespace
