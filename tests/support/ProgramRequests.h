#pragma once
// Requests to the running program the way the other program hands them over,
// the frames they must put on the line, and what the process costs meanwhile
// (/proc): for the fault and load tests, on top of ProgramProcess.h.

#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramProcess.h"
#include "link/Coding.h"
#include "link/Orveta.h"

// Processor time (user and system) the process has used so far, in seconds;
// -1 when it cannot be read.
inline double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t end = stat.rfind(')');  // the command name may hold blanks
  if (end == std::string::npos) return -1;
  std::istringstream fields(stat.substr(end + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 13 && fields >> field; ++index) {
  }
  if (!(fields >> utime >> stime)) return -1;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Share of one core the process used over `span` (0.5 = half a core).
inline double CoreShareOver(pid_t pid, std::chrono::milliseconds span) {
  const double before = CpuSeconds(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(span);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return (CpuSeconds(pid) - before) / seconds;
}

// Gives every thread of the process the highest priority there is short of
// real time (when allowed): a simulated terminal then answers on time like
// a device of its own, also while the machine is busy with other work and
// the program spins at its raised priority on the same cores.
inline void ActLikeADevice(pid_t pid) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(std::stol(task.path().filename().string())), -20);
  }
}

// Resident memory (VmRSS) in kB, -1 when unknown.
inline long ResidentKb(pid_t pid) {
  std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The frame a request line goes out in to the terminal at `address`, as the
// simulator logs it ("01 05 58 31 8F").
inline std::string FrameHex(uint32_t address, const std::string& line) {
  char work[kWorkBufferSize] = {};
  line.copy(work, std::min<size_t>(line.size(), kWorkBufferSize - 1));
  const int length = EncodeCommand(work, CodingSettings{}).Length;  // the program's default coding
  uint8_t frame[kFrameBufferSize];
  const int size = BuildFrame(address, reinterpret_cast<const uint8_t*>(work), length, frame);
  std::string hex;
  for (int i = 0; i < size; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", frame[i]);
    hex += byte;
  }
  return hex;
}

inline std::vector<std::string> FramesHex(uint32_t address, const std::vector<std::string>& lines) {
  std::vector<std::string> frames;
  for (const std::string& line : lines) frames.push_back(FrameHex(address, line));
  return frames;
}

// `lines` followed by `more`.
inline std::vector<std::string> Plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// Lines as one request file's bytes, each ended by CR LF.
inline std::string RequestBytes(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

class RequestFixture : public ProgramFixture {
 protected:
  // With TARVION_KEEP_FAILED set, a failed test's directory (program and
  // simulator output, logs, files) is kept under /tmp for a look.
  void TearDown() override {
    if (HasFailure() && std::getenv("TARVION_KEEP_FAILED") != nullptr) {
      std::fprintf(stderr, "kept %s\n", temp_.Keep("-failed").c_str());
    }
  }

  // The whole stored configuration, COM1 on the simulator's link (unless
  // `more` names it) and the devices of `more`.
  void WriteConfig(const StoredConfig& config, PortDevices more = {}) {
    more.emplace(1, LinePath());
    WriteIniFile(directory_ / "tarvion.ini", EncodeIni(config), more);
  }

  // Short turnarounds: the tests are about what happens, not the line's pace.
  static StoredConfig FastConfig() {
    StoredConfig config;
    config.Turnaround = {1000, 1000};
    return config;
  }

  // StartSimulator, its threads at the priority of ActLikeADevice.
  std::unique_ptr<Process> StartDevice(const std::vector<std::string>& terminals,
                                       const std::vector<std::string>& options = {},
                                       const std::string& name = "sim") {
    auto sim = StartSimulator(terminals, options, name);
    if (sim->Running()) ActLikeADevice(sim->Pid());
    return sim;
  }

  // Starts the program (with its command-line options, if any) and waits
  // until its start-up link tests are logged (`lastStartLine`, such as
  // "TERM 1 SLAVE").
  std::unique_ptr<Process> StartProgramUntil(const std::string& lastStartLine,
                                             const std::vector<std::string>& options = {}) {
    auto program = StartProgram("program", options);
    EXPECT_TRUE(WaitUntil([&] { return LogHas(lastStartLine) || program->Exited(); }, kProcessTimeout))
        << ReadFile(Log()) << program->Err();
    return program;
  }

  std::filesystem::path RequestPath() const { return directory_ / "request.cfg"; }
  std::filesystem::path StatusPath() const { return directory_ / "rudazo.sta"; }
  std::filesystem::path OutputPath() const { return directory_ / "output.txt"; }

  // Drops a request the way a careful writer does: written beside, renamed in.
  void DropRequest(const std::string& bytes) {
    const std::filesystem::path draft = directory_ / "request.draft";
    std::ofstream(draft, std::ios::binary) << bytes;
    std::filesystem::rename(draft, RequestPath());
  }

  // Drops a request (after removing the last status and output files) and
  // waits until it has been taken in and the status file reads `status`
  // followed by CR LF.
  ::testing::AssertionResult HandInRequest(const std::string& bytes, const std::string& status) {
    std::filesystem::remove(StatusPath());
    std::filesystem::remove(OutputPath());
    DropRequest(bytes);
    return WaitForStatus(status);
  }

  ::testing::AssertionResult WaitForStatus(const std::string& status) {
    const std::string expected = status + "\r\n";
    if (WaitUntil([&] { return !std::filesystem::exists(RequestPath()) && ReadFile(StatusPath()) == expected; },
                  kProcessTimeout)) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "status \"" << ReadFile(StatusPath()) << "\", expected \"" << status
                                         << "\"; request file " << (std::filesystem::exists(RequestPath()) ? "still there" : "gone")
                                         << "\nerror log:\n" << ReadFile(Log());
  }

  // The simulator's log entries of one kind ("rx", "tx-ack", ...) from entry
  // `from` on; of the simulator `sim` (see StartSimulator).
  std::vector<std::string> Logged(const std::string& dir, size_t from = 0, const std::string& sim = "sim") const {
    return HexOfKind(SimulatorLog(sim), dir, from);
  }
  size_t LogMark(const std::string& sim = "sim") const { return SimulatorLog(sim).size(); }

  // Frames received since `from`, without the link tests' 'A' frames.
  std::vector<std::string> CommandFrames(size_t from) const {
    std::vector<std::string> frames = Logged("rx", from);
    std::erase_if(frames, [](const std::string& hex) { return hex.size() == 11 && hex.substr(3, 5) == "04 41"; });
    return frames;
  }

  std::vector<std::string> LogMessagesSince(size_t from) const {
    const std::vector<std::string> all = LogMessages(Log());
    return from < all.size() ? std::vector<std::string>(all.begin() + static_cast<long>(from), all.end())
                             : std::vector<std::string>{};
  }
};
