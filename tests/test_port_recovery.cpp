// A line whose device fails under the open port: the simulator at the far end
// of the pseudo-terminal ends (the port hangs up, its reads and ioctls give
// EIO) and a new one starts on the same link path. The port is opened again at
// the next link test, the error log says so, and every terminal on the line
// goes on with the new device. A scripted device hangs up in the middle of a
// wait.

#include <fstream>
#include <iterator>
#include <regex>

#include "support/FakePort.h"
#include "support/LinkFixture.h"

namespace {

class PortRecovery : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    Settings().TxTurnaroundUs = 100;
    Settings().RxTurnaroundUs = 100;
  }

  SimOptions Line() const {
    SimOptions options;
    options.Pacing = false;
    return options;
  }

  // The simulator ends: the pseudo-terminal's far side is closed.
  void EndSimulator() {
    sim_->Stop();
    sim_.reset();
  }

  void StartAgain(std::vector<SimTerminalSpec> terminals) {
    SimOptions options = Line();
    options.Link = directory_ + "/line";
    options.Terminals = std::move(terminals);
    sim_ = std::make_unique<Simulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(error)) << error;
  }

  int Send(TOrveta& terminal, const std::string& text) {
    std::vector<char> line = LineBuffer(text);
    return terminal.SendCommand(line.data());
  }

  // The messages of the error log, without their time stamps.
  std::vector<std::string> LogMessages() const {
    std::ifstream in(ErrorLogPath(), std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    static const std::regex entry(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - ([^\r]*)\r\n)");
    std::vector<std::string> messages;
    for (std::sregex_iterator it(text.begin(), text.end(), entry), end; it != end; ++it) {
      messages.push_back((*it)[1]);
    }
    return messages;
  }
};

const std::string kDeviceError = "COM1 chyba za\xF8\xEDzen\xED";
const std::string kOpened = "COM1 otev\xF8" "en";
const std::string kNotOpened = "COM1 neotev\xF8" "en";

}  // namespace

TEST_F(PortRecovery, RestartedSimulatorIsReachedAgainByEveryTerminalOnTheLine) {
  StartLine({{1, false}, {2, false}}, Line());
  TOrveta& first = Terminal(1);
  TOrveta& second = Terminal(2);
  ASSERT_TRUE(first.TestLink());
  ASSERT_TRUE(second.TestLink());
  ASSERT_EQ(Send(first, "X1"), 0);
  EXPECT_TRUE(LogMessages().empty());

  // While the device is gone every command fails at once; the failure and the
  // first vain reopening are logged once, not per command.
  EndSimulator();
  EXPECT_EQ(Send(first, "X2"), 1);
  EXPECT_FALSE(first.IsConnected());
  EXPECT_EQ(Send(first, "X3"), 1);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{kDeviceError, kNotOpened}));

  StartAgain({{1, false}, {2, false}});
  ASSERT_EQ(Send(first, "X4"), 0);
  EXPECT_TRUE(first.IsSlave());
  // The second terminal shares the reopened port: no link test of its own.
  ASSERT_EQ(Send(second, "X5"), 0);
  ASSERT_TRUE(WaitLogged("tx-ack", 3));
  // Link test of the first terminal, then both commands.
  EXPECT_EQ(Logged("rx"), (std::vector<std::string>{"01 04 41 46", "01 05 58 34 92", "02 05 58 35 94"}));
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{kDeviceError, kNotOpened, kOpened}));
}

TEST_F(PortRecovery, FailedDeviceOfAMasterIsFoundByTheLinkTestAlone) {
  StartLine({{1, true}}, Line());
  TOrveta& terminal = Terminal(1);
  ASSERT_TRUE(terminal.TestLink());
  ASSERT_TRUE(terminal.IsMaster());

  EndSimulator();
  EXPECT_FALSE(terminal.TestLink());
  StartAgain({{1, true}});
  EXPECT_TRUE(terminal.TestLink());
  EXPECT_TRUE(terminal.IsMaster());
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{kDeviceError, kNotOpened, kOpened}));
}

TEST_F(PortRecovery, HealthyPortIsNeverOpenedAgain) {
  StartLine({{1, false}}, Line());
  TOrveta& terminal = Terminal(1);
  ASSERT_TRUE(terminal.TestLink());
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Send(terminal, "X" + std::to_string(i)), 0);
  EXPECT_FALSE(port_->NeedsReopen());
  // A port closed on purpose is no failed device either.
  port_->ClosePort();
  EXPECT_FALSE(port_->NeedsReopen());
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(PortRecovery, DeviceFailingDuringTheAcknowledgementWaitMarksTheTerminalForARetest) {
  SimOptions options = Line();
  options.AckMs = 500;  // well inside the master's 1000 ms acknowledgement wait
  StartLine({{1, true}}, options);
  TOrveta& terminal = Terminal(1);
  ASSERT_TRUE(terminal.TestLink());
  std::thread end([this] {
    if (sim_->WaitForLog("rx", std::chrono::seconds(5)) >= 0) sim_->Stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(terminal, "X1"), 1);
  end.join();
  EXPECT_LT(MillisecondsSince(start), 900) << "the failed device ends the wait at once";
  EXPECT_TRUE(terminal.Retest);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{kDeviceError});
}

TEST_F(PortRecovery, ReopeningKeepsTheRunTimeTurnaroundsAndNeverRunsInsideAWaitOfThePort) {
  StartLine({{1, false}}, Line());
  TOrveta& terminal = Terminal(1);
  ASSERT_TRUE(terminal.TestLink());

  // A window event served while the port waits for a byte asks for a reopen
  // (a link test of another terminal on the line): the port under the wait
  // must stay, so the reopen is refused and the wait ends normally.
  std::vector<bool> reopened;
  SetDispatchHook([&] {
    if (reopened.empty()) reopened.push_back(port_->Reopen());
  });
  EXPECT_EQ(port_->ReadByteWait(30), -1);
  SetDispatchHook(nullptr);
  EXPECT_EQ(reopened, std::vector<bool>{false});
  EXPECT_TRUE(LogMessages().empty());

  // Outside a wait it opens again, and a turnaround set to 0 while running
  // stays 0: only the first open of a port gives 0 its default.
  Settings().TxTurnaroundUs = 0;
  ASSERT_TRUE(port_->Reopen());
  EXPECT_EQ(Settings().TxTurnaroundUs, 0u);
  EXPECT_EQ(Settings().RxTurnaroundUs, 100u);
  EXPECT_EQ(Send(terminal, "X1"), 0);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{kOpened});
}

TEST_F(PortRecovery, HangUpInTheMiddleOfAWaitEndsItAndIsTheFailureTheNextCheckFinds) {
  auto line = std::make_shared<FakeLine>();
  TSer_Port port(0, 19200, FakeOpener(line));
  ASSERT_TRUE(port.Opened);
  SetDispatchHook([&] { line->HungUp = true; });
  EXPECT_EQ(port.ReadByteWait(5000), kCommIoError) << "a failure, not silence after the whole wait";
  SetDispatchHook(nullptr);
  line->HungUp = false;  // the device answers again, but its port was lost: opened anew
  EXPECT_TRUE(port.NeedsReopen());
  EXPECT_FALSE(port.Opened);
  EXPECT_TRUE(port.NeedsReopen());
  EXPECT_EQ(LogMessages(), std::vector<std::string>{kDeviceError});

  line->Arriving = {0x06};
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(line->Opens, 2);
  EXPECT_FALSE(port.NeedsReopen());
  EXPECT_EQ(port.ReadByte(), 0x06);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{kDeviceError, kOpened}));
}
