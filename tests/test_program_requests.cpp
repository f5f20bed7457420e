// Requests end to end: build/tarvion run headless in a fresh start directory
// against orveta-sim, request files dropped the way the other program does
// (written under another name and renamed into place, or written slowly in
// place), and what comes back: the simulator's log, output.txt, rudazo.sta.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/Config.h"
#include "link/Cp1250.h"
#include "support/PersonLines.h"
#include "support/ProgramProcess.h"
#include "support/ProgramRequests.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

constexpr auto kJobTimeout = 10s;

// What happened to the files of a directory, in order: "closed NAME" when a
// file written to was closed, "modified NAME" when one was written to,
// "replaced NAME" when a file was renamed to NAME (the program's result
// files are written beside and renamed over the old ones).
class DirectoryEvents {
 public:
  explicit DirectoryEvents(const fs::path& directory) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(inotify_add_watch(fd_, directory.c_str(), IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO), 0);
  }
  ~DirectoryEvents() { close(fd_); }
  DirectoryEvents(const DirectoryEvents&) = delete;
  DirectoryEvents& operator=(const DirectoryEvents&) = delete;

  // The events so far that are in `wanted`, a run of the same one counted once.
  Lines About(const Lines& wanted) {
    Collect();
    Lines out;
    for (const std::string& event : events_) {
      if (std::find(wanted.begin(), wanted.end(), event) == wanted.end()) continue;
      if (out.empty() || out.back() != event) out.push_back(event);
    }
    return out;
  }

 private:
  static std::string Kind(uint32_t mask) {
    if (mask & IN_MOVED_TO) return "replaced ";
    return mask & IN_CLOSE_WRITE ? "closed " : "modified ";
  }

  void Collect() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0) events_.push_back(Kind(event->mask) + event->name);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  int fd_;
  Lines events_;
};

class ProgramRequests : public ProgramFixture {
 protected:
  // The program with an INI as an administrator edited it, on a slave at
  // address 1, once its start-up link test is logged; how long that took.
  std::chrono::milliseconds StartHandEdited(const ConfigBlock& block, const std::string& testBinary,
                                            const Lines& simOptions) {
    WriteIniFile(File("tarvion.ini"), IniValuesOf(block, testBinary), {{1, LinePath()}});
    sim_ = StartSimulator({"1:slave"}, simOptions);
    if (sim_->Running()) ActLikeADevice(sim_->Pid());  // its answers on time while the machine is busy
    const auto start = Clock::now();
    tarvion_ = StartProgram("program");
    EXPECT_TRUE(WaitUntil([&] { return LogHas("TERM 1 SLAVE") || tarvion_->Exited(); }, kProcessTimeout))
        << ReadFile(Log()) << tarvion_->Err();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  }

  // A person written and read back; the answer's output line.
  std::string WriteAndReadBack() {
    DropRequest("TERM1\r\n" + PersonLine('Q', 40, false) + "\r\nP\r\n");
    EXPECT_TRUE(WaitUntil([&] { return Read("rudazo.sta") == "2,1\r\n"; }, kProcessTimeout))
        << Read("rudazo.sta") << ReadFile(Log());
    return Read("output.txt");
  }

  // The program on a line of slave terminals at addresses 1 .. count, each
  // connected as the terminal of that number.
  void StartOnSlaves(int count) {
    ConfigBlock block = DefaultConfigBlock();
    Lines terminals;
    for (int n = 1; n <= count; ++n) {
      block.Terminals[n - 1] = TerminalEntry{static_cast<uint8_t>(n), 0, true};
      terminals.push_back(std::to_string(n) + ":slave");
    }
    WriteIni(block, {{1, LinePath()}});
    sim_ = StartSimulator(terminals);
    if (sim_->Running()) ActLikeADevice(sim_->Pid());
    tarvion_ = StartProgram("program");
    const std::string last = "TERM " + std::to_string(count) + " SLAVE";
    ASSERT_TRUE(WaitUntil([&] { return LogHas(last) || tarvion_->Exited(); }, kProcessTimeout))
        << ReadFile(Log()) << tarvion_->Err();
  }

  void TearDown() override {
    if (tarvion_) {
      tarvion_->Signal(SIGTERM);
      EXPECT_EQ(tarvion_->WaitExit(), 0) << tarvion_->Err();
      EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
    }
    if (sim_) {
      sim_->Signal(SIGTERM);
      EXPECT_EQ(sim_->WaitExit(), 0);
    }
  }

  fs::path File(const std::string& name) const { return directory_ / name; }
  std::string Read(const std::string& name) const { return ReadFile(File(name)); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
  }

  // As the other program drops a request: written under another name, then
  // renamed into place. Returns a moment just before it appeared (the clock
  // read after the rename could lag it by however long this thread waited).
  Clock::time_point DropRequest(const std::string& bytes) const {
    Write("request.tmp", bytes);
    const Clock::time_point beforeRename = Clock::now();
    fs::rename(File("request.tmp"), File("request.cfg"));
    return beforeRename;
  }

  // Written in place a piece at a time, with pauses well under the watcher's
  // check period between the pieces, as a slow writer does.
  void WriteRequestSlowly(const Lines& pieces) const {
    std::ofstream out(File("request.cfg"), std::ios::binary);
    for (const std::string& piece : pieces) {
      out << piece << std::flush;
      std::this_thread::sleep_for(300ms);
    }
  }

  bool RequestGone(std::chrono::milliseconds timeout = kJobTimeout) const {
    return WaitUntil([&] { return !fs::exists(File("request.cfg")); }, timeout);
  }

  bool StatusBecomes(const std::string& status) const {
    return WaitUntil([&] { return Read("rudazo.sta") == status; }, kJobTimeout);
  }

  // The commands the simulator received after the first `from` log entries.
  Lines CommandsFrom(size_t from) const {
    Lines commands;
    for (const std::string& hex : HexOfKind(SimulatorLog(), "rx", from)) commands.push_back(CommandOf(hex));
    return commands;
  }

  size_t BadFrames() const { return HexOfKind(SimulatorLog(), "bad").size(); }

  std::unique_ptr<Process> sim_;
  std::unique_ptr<Process> tarvion_;
};

TEST_F(ProgramRequests, TerminalLinesEmptyRequestsAndRecordsReadBack) {
  StartOnSlaves(2);
  size_t mark = SimulatorLog().size();

  // TERM2 and one command: 1,0 before anything is sent, the output file, then
  // the final 1,0.
  DirectoryEvents events(directory_);
  DropRequest("TERM2\r\nX1\r\n");
  const Lines expected{"replaced rudazo.sta", "modified sim.log", "replaced output.txt", "replaced rudazo.sta"};
  const Lines watched{"replaced rudazo.sta", "modified sim.log", "replaced output.txt"};
  ASSERT_TRUE(WaitUntil([&] { return events.About(watched).size() >= expected.size(); }, kJobTimeout))
      << ReadFile(Log());
  EXPECT_EQ(events.About(watched), expected);
  EXPECT_EQ(Read("rudazo.sta"), "1,0\r\n");
  EXPECT_EQ(Read("output.txt"), "");
  EXPECT_FALSE(fs::exists(File("request.cfg")));
  EXPECT_EQ(CommandsFrom(mark), Lines{"2:X1"});

  // "TERM" alone, written slowly in place: terminal 0 is no terminal.
  Write("output.txt", "earlier\r\n");
  mark = SimulatorLog().size();
  WriteRequestSlowly({"TE", "RM", "\r\n"});
  ASSERT_TRUE(StatusBecomes("-1,0\r\n")) << Read("rudazo.sta");
  EXPECT_FALSE(fs::exists(File("request.cfg")));

  // An empty request: -1,-1, deleted, the earlier output file untouched.
  DropRequest("");
  ASSERT_TRUE(StatusBecomes("-1,-1\r\n")) << Read("rudazo.sta");
  EXPECT_TRUE(RequestGone());
  EXPECT_EQ(Read("output.txt"), "earlier\r\n");
  EXPECT_TRUE(CommandsFrom(mark).empty());

  // Records written with Q and R lines, two of them long (119 and 112
  // characters: two commands each), read back with P, the request written
  // slowly line by line: the decoded lines in output.txt, in number order.
  const std::string q119 = PersonLine('Q', 12, true), r112 = PersonLine('R', 3, true);
  ASSERT_EQ(q119.size(), 119u);
  ASSERT_EQ(r112.size(), 112u);
  WriteRequestSlowly({"TERM1\r\n", PersonLine('Q', 40, false) + "\r\n", q119 + "\r\n", r112 + "\r\n",
                      PersonLine('R', 7, false) + "\r\n", "P\r\n"});
  ASSERT_TRUE(StatusBecomes("7,6\r\n")) << Read("rudazo.sta") << ReadFile(Log());
  EXPECT_EQ(Read("output.txt"), AnswerLine('R', 3, true) + AnswerLine('R', 7, false) + AnswerLine('Q', 12, true) +
                                    AnswerLine('Q', 40, false));
  const Lines commands = CommandsFrom(mark);
  ASSERT_EQ(commands.size(), 7u);  // the whole file, none of it twice
  for (const std::string& command : commands) EXPECT_EQ(command.substr(0, 2), "1:") << command;
  EXPECT_EQ(commands[2].substr(0, 3), "1:q");  // the continuations of the long lines
  EXPECT_EQ(commands[4].substr(0, 3), "1:r");
  EXPECT_EQ(commands.back(), "1:P");
  EXPECT_EQ(BadFrames(), 0u);
}

TEST_F(ProgramRequests, WatcherTakesAFileInAtItsSecondSightingOnly) {
  StartOnSlaves(1);

  // The watcher thread runs one step below the main thread. Field 19 of a
  // task's stat line is its nice value; the command name may hold blanks, so
  // the fields are counted after its closing parenthesis.
  const auto niceOf = [](const fs::path& stat) {
    const std::string line = ReadFile(stat);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 19; ++i) fields >> field;
    return std::stoi(field);
  };
  const fs::path tasks = fs::path("/proc") / std::to_string(tarvion_->Pid()) / "task";
  const auto watchers = [&] {
    std::vector<fs::path> found;
    for (const auto& task : fs::directory_iterator(tasks)) {
      if (ReadFile(task.path() / "comm") == "THlidac\n") found.push_back(task.path());
    }
    return found;
  };
  ASSERT_TRUE(WaitUntil([&] { return !watchers().empty(); }, kProcessTimeout));  // started after the link tests
  ASSERT_EQ(watchers().size(), 1u);
  EXPECT_EQ(niceOf(watchers()[0] / "stat"), niceOf(tasks.parent_path() / "stat") + 1);

  // Handed over 1.05 to 2.1 s after it appears, whatever the phase of the
  // checks: once at a random moment, once half a check after a hand-over.
  Clock::time_point handedOver;
  for (const char* request : {"TERM9\r\n", "TERM8\r\n"}) {
    if (handedOver != Clock::time_point{}) std::this_thread::sleep_until(handedOver + 500ms);
    fs::remove(File("rudazo.sta"));
    const Clock::time_point appeared = DropRequest(request);
    ASSERT_TRUE(RequestGone(3s)) << request;
    handedOver = Clock::now();
    const double after = std::chrono::duration<double, std::milli>(handedOver - appeared).count();
    EXPECT_GE(after, 1040.0) << request;
    // Each of the 42 passes takes its 50 ms and a little more on a busy machine.
    EXPECT_LE(after, 2100.0 + 400.0) << request;
    EXPECT_TRUE(StatusBecomes("-1,0\r\n"));
  }

  // Checks now fall about every 1.05 s after `handedOver`. A file that is
  // seen once and then removed is never processed; a directory of that name
  // is never handed over.
  std::this_thread::sleep_until(handedOver + 200ms);
  Write("rudazo.sta", "untouched\r\n");
  DropRequest("X1\r\n");
  std::this_thread::sleep_until(handedOver + 1600ms);  // after the first sighting, before the second
  fs::remove(File("request.cfg"));
  fs::create_directory(File("request.cfg"));
  std::this_thread::sleep_until(handedOver + 4400ms);  // three more checks
  EXPECT_TRUE(fs::is_directory(File("request.cfg")));
  EXPECT_EQ(Read("rudazo.sta"), "untouched\r\n");

  // The watcher goes on: the next request is taken in.
  fs::remove(File("request.cfg"));
  DropRequest("");
  EXPECT_TRUE(StatusBecomes("-1,-1\r\n"));
  const Lines commands = CommandsFrom(0);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "1:X1"), 0) << "the removed file was sent";
}

}  // namespace

// Resident memory the program may use: its own few megabytes plus Qt's; the
// sanitizers' shadow memory comes on top in their build. An answer buffer of
// 2 GB per terminal is far beyond either.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVION_SHADOW_MEMORY
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(TARVION_SHADOW_MEMORY)
constexpr long kResidentLimitKb = 400 * 1024;
#else
constexpr long kResidentLimitKb = 100 * 1024;
#endif

// Hand-edited INI files: a capacity of 0x7FFFFFFF with DT bytes asked for a
// 2 GB answer buffer, zero-filled at every data command; a Test_binary of all
// ones for turnarounds of 71 minutes. The program uses the bounds, says so in
// the error log, starts within seconds, stays small and reads back as usual.
TEST_F(ProgramRequests, AHugeCapacityInTheFileIsBoundedAndLogged) {
  ConfigBlock block = DefaultConfigBlock();
  block.Capacity = 0x7FFFFFFF;
  block.UseDT = true;
  EXPECT_LT(StartHandEdited(block, "E8030000E8030000", {"--dt"}), 10s);
  EXPECT_TRUE(LogHas(Cp1250FromUtf8("INI Cfg_binary, Kapacita: uložená hodnota 2147483647 je mimo rozsah 0 až "
                                    "131072, použita hodnota 131072")))
      << ReadFile(Log());
  // and on standard error, the journal of a service
  EXPECT_NE(tarvion_->Err().find("Tarvion: INI Cfg_binary, Kapacita: uložená hodnota 2147483647 je mimo rozsah 0 až "
                                 "131072, použita hodnota 131072\n"),
            std::string::npos)
      << tarvion_->Err();
  EXPECT_LT(ResidentKb(tarvion_->Pid()), kResidentLimitKb);
  const std::string answer = WriteAndReadBack();
  const std::string expected = AnswerLine('Q', 40, false);
  EXPECT_EQ(answer.substr(0, expected.size() - 2), expected.substr(0, expected.size() - 2)) << answer;
  EXPECT_EQ(answer.size(), expected.size() + 10);  // and the five DT bytes
  EXPECT_LT(ResidentKb(tarvion_->Pid()), kResidentLimitKb);
}

TEST_F(ProgramRequests, TurnaroundsOfHoursInTheFileAreBoundedAndLogged) {
  EXPECT_LT(StartHandEdited(DefaultConfigBlock(), "FFFFFFFFFFFFFFFF", {}), 10s);
  for (const char* line : {"INI Test_binary, vysílání (µs): uložená hodnota 4294967295 je mimo rozsah 0 až 1000000, "
                           "použita hodnota 1000000",
                           "INI Test_binary, příjem (µs): uložená hodnota 4294967295 je mimo rozsah 0 až 1000000, "
                           "použita hodnota 1000000"}) {
    EXPECT_TRUE(LogHas(Cp1250FromUtf8(line))) << line << "\n" << ReadFile(Log());
  }
  EXPECT_LT(ResidentKb(tarvion_->Pid()), kResidentLimitKb);
  EXPECT_EQ(WriteAndReadBack(), AnswerLine('Q', 40, false));
}
