#pragma once
// The program as a process, for end-to-end tests: a copy of build/tarvion in
// a fresh directory with its INI beside it, run headless against
// build/orveta-sim processes, and the files they leave there. The build
// defines TARVION_EXE and ORVETA_SIM_EXE.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "config/Config.h"
#include "SimulatorLog.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "WriteIni.h"

// How long a process may take to get where a test waits for it.
constexpr std::chrono::seconds kProcessTimeout{30};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Variables set for a child, in order; nullopt removes one.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// A child process, killed when the object goes if it has not ended.
class Process {
 public:
  // Starts `argv` in `directory` with standard output and error going to
  // files named after `name` there, and with the extra environment variables.
  Process(const std::vector<std::string>& argv, const std::filesystem::path& directory, const std::string& name,
          const Environment& environment)
      : out_(directory / (name + ".out")), err_(directory / (name + ".err")) {
    pid_ = fork();
    if (pid_ != 0) return;
    if (chdir(directory.c_str()) != 0) _exit(120);
    if (!freopen(out_.c_str(), "w", stdout) || !freopen(err_.c_str(), "w", stderr)) _exit(121);
    for (const auto& [key, value] : environment) {
      if (value) {
        setenv(key.c_str(), value->c_str(), 1);
      } else {
        unsetenv(key.c_str());
      }
    }
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
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

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
    if (!WaitUntil([this] { return Exited(); }, kProcessTimeout) || !WIFEXITED(status_)) return -1;
    return WEXITSTATUS(status_);
  }
  void Signal(int signal) { kill(pid_, signal); }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }
  pid_t Pid() const { return pid_; }

 private:
  std::filesystem::path out_, err_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

inline std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The message of an error-log line after checking its date, time and CR LF
// ending.
inline std::string MessageOf(const std::string& line) {
  static const std::regex shape(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - (.*)\r)");
  std::smatch match;
  if (!std::regex_match(line, match, shape)) return "<malformed: " + line + ">";
  return match[1];
}

inline std::vector<std::string> LogMessages(const std::filesystem::path& log) {
  std::vector<std::string> messages;
  for (const std::string& line : FileLines(log)) messages.push_back(MessageOf(line));
  return messages;
}

class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::copy_file(TARVION_EXE, program_); }

  // The INI beside the program: the record `block` and the devices.
  void WriteIni(const ConfigBlock& block, const PortDevices& devices) {
    WriteIniFile(directory_ / "tarvion.ini", IniValuesOf(block), devices);
  }

  // orveta-sim on the link `line` in the directory, logging to sim.log, with
  // the terminals ("1:master", ...) and any further options; another `name`
  // than "sim" plays a line of its own, LinePath(name), logging to name.log.
  std::unique_ptr<Process> StartSimulator(const std::vector<std::string>& terminals,
                                          const std::vector<std::string>& options = {},
                                          const std::string& name = "sim") {
    std::vector<std::string> argv{ORVETA_SIM_EXE, "--link", LinePath(name), "--log",
                                  (directory_ / (name + ".log")).string()};
    for (const std::string& t : terminals) {
      argv.push_back("--terminal");
      argv.push_back(t);
    }
    argv.insert(argv.end(), options.begin(), options.end());
    auto sim = std::make_unique<Process>(argv, directory_, name, ProgramEnvironment());
    EXPECT_TRUE(WaitUntil([&] { return sim->Out().find("ready") != std::string::npos || sim->Exited(); },
                          kProcessTimeout));
    EXPECT_TRUE(sim->Running()) << sim->Err();
    return sim;
  }

  // The program, headless, with its command-line options and `changes`
  // made to its environment last.
  std::unique_ptr<Process> StartProgram(const std::string& name, const std::vector<std::string>& options = {},
                                        const Environment& changes = {}) {
    std::vector<std::string> argv{program_.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    Environment environment = ProgramEnvironment();
    environment.insert(environment.end(), changes.begin(), changes.end());
    return std::make_unique<Process>(argv, directory_, name, environment);
  }

  Environment ProgramEnvironment() const {
    return {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_RUNTIME_DIR", directory_.string()}};
  }

  std::string LinePath(const std::string& sim = "sim") const {
    return (directory_ / (sim == "sim" ? std::string("line") : sim + "-line")).string();
  }
  std::filesystem::path Log() const { return directory_ / "errorlog.txt"; }

  bool LogHas(const std::string& message) const {
    const auto messages = LogMessages(Log());
    return std::find(messages.begin(), messages.end(), message) != messages.end();
  }

  std::vector<SimLogLine> SimulatorLog(const std::string& sim = "sim") const {
    return ParseSimLog(FileLines(directory_ / (sim + ".log")));
  }

  // Frames the simulator received, as hex text.
  std::vector<std::string> SimulatorFrames(const std::string& sim = "sim") const {
    return HexOfKind(SimulatorLog(sim), "rx");
  }

  TempDir temp_{"program"};
  const std::filesystem::path directory_ = temp_.Path();
  const std::filesystem::path program_ = directory_ / "tarvion";
};
