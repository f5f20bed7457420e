// The program as a process: a copy of build/tarvion in a fresh directory with
// its INI beside it, talking to build/orveta-sim, run headless. Start-up lines
// of the error log, the single-instance refusal and the orderly end on SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Config.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kTimeout = 30s;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Polls until `ready` holds or the time-out passes.
template <typename Condition>
bool WaitFor(Condition ready, std::chrono::steady_clock::duration timeout = kTimeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class Process {
 public:
  // Starts `argv` in `directory` with standard output and error going to
  // files there, and with the extra environment variables.
  Process(const std::vector<std::string>& argv, const fs::path& directory, const std::string& name,
          const std::vector<std::pair<std::string, std::string>>& environment)
      : out_(directory / (name + ".out")), err_(directory / (name + ".err")) {
    pid_ = fork();
    if (pid_ != 0) return;
    if (chdir(directory.c_str()) != 0) _exit(120);
    if (!freopen(out_.c_str(), "w", stdout) || !freopen(err_.c_str(), "w", stderr)) _exit(121);
    for (const auto& [key, value] : environment) setenv(key.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ~Process() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Running() { return !Exited(); }
  bool Exited() {
    if (exited_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exited_ = true;
    status_ = status;
    return true;
  }
  // The exit status (0-255) once exited within the time-out, else -1.
  int WaitExit() {
    if (!WaitFor([this] { return Exited(); }) || !WIFEXITED(status_)) return -1;
    return WEXITSTATUS(status_);
  }
  void Signal(int signal) { kill(pid_, signal); }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }
  pid_t Pid() const { return pid_; }

 private:
  fs::path out_, err_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

std::vector<std::string> LogLines(const fs::path& log) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(log));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The message of a log line after checking its date, time and CR LF ending.
std::string MessageOf(const std::string& line) {
  static const std::regex shape(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - (.*)\r)");
  std::smatch match;
  if (!std::regex_match(line, match, shape)) return "<malformed: " + line + ">";
  return match[1];
}

std::vector<std::string> LogMessages(const fs::path& log) {
  std::vector<std::string> messages;
  for (const std::string& line : LogLines(log)) messages.push_back(MessageOf(line));
  return messages;
}

class ProgramLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tarvion-life-XXXXXX";
    directory_ = mkdtemp(pattern);
    program_ = directory_ / "tarvion";
    fs::copy_file(TARVION_EXE, program_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  void WriteIni(const ConfigBlock& block, const std::string& com1) {
    const auto bytes = EncodeConfigBlock(block);
    std::ofstream ini(directory_ / "tarvion.ini");
    ini << "[Konfigurace]\nCfg_binary=" << HexFromBytes(bytes.data(), bytes.size()) << "\n\n[Porty]\nCOM1=" << com1
        << "\n";
  }

  std::unique_ptr<Process> StartSimulator(std::vector<std::string> terminals) {
    std::vector<std::string> argv{ORVETA_SIM_EXE, "--link", (directory_ / "line").string(), "--log",
                                  (directory_ / "sim.log").string()};
    for (const std::string& t : terminals) {
      argv.push_back("--terminal");
      argv.push_back(t);
    }
    auto sim = std::make_unique<Process>(argv, directory_, "sim", Environment());
    EXPECT_TRUE(WaitFor([&] { return sim->Out().find("ready") != std::string::npos || sim->Exited(); }));
    EXPECT_TRUE(sim->Running()) << sim->Err();
    return sim;
  }

  std::unique_ptr<Process> StartProgram(const std::string& name) {
    return std::make_unique<Process>(std::vector<std::string>{program_.string()}, directory_, name, Environment());
  }

  std::vector<std::pair<std::string, std::string>> Environment() const {
    return {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", directory_.string()}};
  }

  fs::path Log() const { return directory_ / "errorlog.txt"; }

  bool LogHas(const std::string& message) const {
    const auto messages = LogMessages(Log());
    return std::find(messages.begin(), messages.end(), message) != messages.end();
  }

  // Frames the simulator received, as hex text.
  std::vector<std::string> SimulatorFrames() const {
    std::vector<std::string> frames;
    std::istringstream in(ReadFile(directory_ / "sim.log"));
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string ms, dir, rest;
      fields >> ms >> dir;
      std::getline(fields, rest);
      if (dir == "rx") frames.push_back(rest.substr(rest.find_first_not_of(' ')));
    }
    return frames;
  }

  fs::path directory_;
  fs::path program_;
};

}  // namespace

TEST_F(ProgramLifecycle, MasterTerminalGivesFourLogLinesFromStartToStop) {
  WriteIni(DefaultConfigBlock(), (directory_ / "line").string());
  auto sim = StartSimulator({"1:master"});
  auto program = StartProgram("program");
  ASSERT_TRUE(WaitFor([&] { return LogHas("TERM 1 MASTER") || program->Exited(); }))
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
  ASSERT_TRUE(WaitFor([&] { return LogHas("TERM 2 SLAVE") || first->Exited(); }))
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
  ASSERT_TRUE(WaitFor([&] {
    return program->Err().find("Neni otevřen žádný port") != std::string::npos || program->Exited();
  })) << program->Err();
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
  ASSERT_TRUE(WaitFor([&] { return program->Err().find("Neni otevřen") != std::string::npos || program->Exited(); }));
  EXPECT_EQ(LogMessages(Log()), std::vector<std::string>{"Start programu"});
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0);
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
}
