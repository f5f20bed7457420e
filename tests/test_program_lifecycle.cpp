// The program as a process: a copy of build/tarvion in a fresh directory with
// its INI beside it, talking to build/orveta-sim, run headless. Start-up lines
// of the error log, the single-instance lock and its refusals, a start with no
// display at all, and the orderly end on SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/SingleInstance.h"
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

// A server or an ssh session: no DISPLAY, no WAYLAND_DISPLAY, no
// QT_QPA_PLATFORM. The program runs headless and says so in one line first.
TEST_F(ProgramLifecycle, WithNoDisplayAtAllItRunsHeadlessAndSaysSo) {
  WriteIni(DefaultConfigBlock(), LinePath());
  auto sim = StartSimulator({"1:slave"});
  auto program = StartProgram(
      "program", {}, {{"QT_QPA_PLATFORM", std::nullopt}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 1 SLAVE") || program->Exited(); }, kProcessTimeout))
      << program->Err();
  const std::string err = program->Err();
  EXPECT_EQ(err.rfind("Tarvion: no display (DISPLAY and WAYLAND_DISPLAY are not set): running headless, as with "
                      "QT_QPA_PLATFORM=offscreen\n",
                      0),
            0u)
      << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
}

// Anybody can plant a link in /tmp where the lock file goes: the program
// never opens or creates anything through it, and says why it stops.
TEST_F(ProgramLifecycle, ALinkPlantedInPlaceOfTheLockIsNeverFollowed) {
  WriteIni(DefaultConfigBlock(), (directory_ / "no-such-device").string());
  const std::filesystem::path target = directory_ / "target";
  std::filesystem::create_symlink(target, directory_ / "Tarvionprogram.lock");
  auto program = StartProgram("program");
  EXPECT_EQ(program->WaitExit(), 255);
  EXPECT_NE(program->Err().find("*** Pozor ***: Zámek proti druhému spuštění nelze vytvořit:\n" + directory_.string() +
                                "/Tarvionprogram.lock je symbolický odkaz"),
            std::string::npos)
      << program->Err();
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_FALSE(std::filesystem::exists(Log()));  // nothing opened, nothing logged
}

// An XDG_RUNTIME_DIR left over after su or sudo, or pointing nowhere: the
// lock goes to /tmp.
TEST(SingleInstanceLock, AnUnusableRuntimeDirectoryFallsBackToTmp) {
  char pattern[] = "/tmp/tarvion-runtime-XXXXXX";
  const std::filesystem::path runtime = mkdtemp(pattern);
  const std::filesystem::path file = runtime / "file";
  std::ofstream(file) << "not a directory";
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string kept = saved != nullptr ? saved : "";
  for (const std::string& unusable : {file.string(), (runtime / "missing").string(), std::string()}) {
    setenv("XDG_RUNTIME_DIR", unusable.c_str(), 1);
    EXPECT_EQ(SingleInstance::LockPath(), "/tmp/Tarvionprogram.lock") << unusable;
  }
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  EXPECT_EQ(SingleInstance::LockPath(), (runtime / "Tarvionprogram.lock").string());
  if (saved != nullptr) {
    setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
  std::filesystem::remove_all(runtime);
}
