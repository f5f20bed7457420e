// The program as a process: a copy of build/tarvion in a fresh directory with
// its INI beside it, talking to build/orveta-sim, run headless. Start-up lines
// of the error log, the single-instance refusal and the orderly end on SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "app/Config.h"
#include "support/ProgramProcess.h"

class ProgramLifecycle : public ProgramFixture {};

TEST_F(ProgramLifecycle, MasterTerminalGivesFourLogLinesFromStartToStop) {
  WriteIni(DefaultConfigBlock(), (directory_ / "line").string());
  auto sim = StartSimulator({"1:master"});
  auto program = StartProgram("program");
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 1 MASTER") || program->Exited(); }, kProcessTimeout))
      << ReadFile(Log()) << program->Err();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(LogMessages(Log()),
            (std::vector<std::string>{"Start programu", "COM1 otev\xF8" "en", "TERM 1 MASTER", "Stop programu"}));
  EXPECT_TRUE(SimulatorFrames().empty());  // a master is found by its poll alone
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
}

TEST_F(ProgramLifecycle, TwoTerminalsShareOnePortASecondCopyIsRefusedAndTheEndIsOrderly) {
  ConfigBlock block = DefaultConfigBlock();
  block.Terminals[1] = TerminalEntry{2, 0, true};   // on COM1 beside terminal 1
  block.Terminals[2] = TerminalEntry{3, 1, false};  // COM2, not connected: never opened
  WriteIni(block, (directory_ / "line").string());
  auto sim = StartSimulator({"1:slave", "2:slave"});

  auto first = StartProgram("first");
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 2 SLAVE") || first->Exited(); }, kProcessTimeout))
      << ReadFile(Log()) << first->Err() << sim->Err();
  ASSERT_TRUE(first->Running()) << first->Err();
  EXPECT_EQ(LogMessages(Log()),
            (std::vector<std::string>{"Start programu", "COM1 otev\xF8" "en", "TERM 1 SLAVE", "TERM 2 SLAVE"}));
  // One link test per terminal, both on the one port.
  EXPECT_EQ(SimulatorFrames(), (std::vector<std::string>{"01 04 41 46", "02 04 41 47"}));

  auto second = StartProgram("second");
  EXPECT_EQ(second->WaitExit(), 255);
  EXPECT_NE(second->Err().find("Tento program je již spuštěn!!!"), std::string::npos) << second->Err();
  EXPECT_TRUE(first->Running());
  EXPECT_EQ(LogMessages(Log()).size(), 4u);  // the refused copy opened nothing and logged nothing

  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitExit(), 0) << first->Err();
  const auto messages = LogMessages(Log());
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages.back(), "Stop programu");
  EXPECT_EQ(first->Err().find("Opravdu"), std::string::npos);  // no closing question on SIGTERM

  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
}

TEST_F(ProgramLifecycle, PortThatCannotOpenIsLoggedAndWarnedAbout) {
  WriteIni(DefaultConfigBlock(), (directory_ / "no-such-device").string());
  auto program = StartProgram("program");
  ASSERT_TRUE(WaitUntil([&] {
    return program->Err().find("Neni otevřen žádný port") != std::string::npos || program->Exited();
  }, kProcessTimeout)) << program->Err();
  EXPECT_NE(program->Err().find("Pozor!: Neni otevřen žádný port\nje nutno provést konfiguraci portu!"),
            std::string::npos);
  EXPECT_EQ(LogMessages(Log()), (std::vector<std::string>{"Start programu", "COM1 neotev\xF8" "en"}));

  program->Signal(SIGINT);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(LogMessages(Log()),
            (std::vector<std::string>{"Start programu", "COM1 neotev\xF8" "en", "Stop programu"}));
}

TEST_F(ProgramLifecycle, NoTerminalTickedOpensNoPort) {
  ConfigBlock block = DefaultConfigBlock();
  block.Terminals[0].Connected = false;
  WriteIni(block, (directory_ / "line").string());
  auto program = StartProgram("program");
  ASSERT_TRUE(WaitUntil([&] { return program->Err().find("Neni otevřen") != std::string::npos || program->Exited(); },
                        kProcessTimeout));
  EXPECT_EQ(LogMessages(Log()), std::vector<std::string>{"Start programu"});
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0);
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
}
