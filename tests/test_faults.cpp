// Faults around the running program: build/tarvion headless in a fresh start
// directory against build/orveta-sim processes. After every fault the program
// still runs, the next request is carried out normally, a request is deleted
// only once its lines are loaded, the output file is complete when the status
// file appears, and the error log says what happened to the port.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/PersonLines.h"
#include "support/ProgramRequests.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kDeviceError = "COM1 chyba za\xF8\xEDzen\xED";
const std::string kOpened = "COM1 otev\xF8" "en";
const std::string kNotOpened = "COM1 neotev\xF8" "en";
const std::string kNoise = "COM1 nese bajty bez v\xFDzvy termin\xE1lu: ";

// Long enough for two periodic checks of the terminals (about 4 s apart).
constexpr auto kTwoPeriodicChecks = 9s;
// How soon a stop must end a program that is not in the middle of a line.
constexpr auto kPromptStop = 1s;

// Long enough for two request-file checks of the watcher (about 1.05 s apart):
// the window in which a file that must stay where it is would have been taken.
constexpr auto kTwoChecks = 2500ms;
// A busy loop would use a whole core; an idle program a small fraction.
constexpr double kMostCoreShareWhileIdle = 0.25;

Lines Persons(int first, int last) {
  Lines lines;
  for (int n = first; n <= last; ++n) lines.push_back(PersonLine('Q', n, false));
  return lines;
}

std::string Answers(int first, int last) {
  std::string text;
  for (int n = first; n <= last; ++n) text += AnswerLine('Q', n, false);
  return text;
}

// Tells when a file is opened by anyone (the program's attempts to read a
// request file), or another event of `mask` happens to it or in a folder.
class OpenWatch {
 public:
  explicit OpenWatch(const fs::path& file, uint32_t mask = IN_OPEN) : fd_(inotify_init1(IN_CLOEXEC)) {
    EXPECT_GE(inotify_add_watch(fd_, file.c_str(), mask), 0);
  }
  ~OpenWatch() { close(fd_); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool WaitOpened(std::chrono::milliseconds timeout) {
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeout.count())) != 1) return false;
    alignas(inotify_event) char buffer[4096];
    return read(fd_, buffer, sizeof buffer) > 0;
  }

 private:
  int fd_;
};

class Faults : public RequestFixture {
 protected:
  // Replaces the running simulator by a new one on the same link path.
  void ReplaceSimulator(std::unique_ptr<Process>& sim, const std::vector<std::string>& terminals,
                        const std::vector<std::string>& options) {
    sim->Signal(SIGTERM);
    ASSERT_EQ(sim->WaitExit(), 0);
    sim = StartDevice(terminals, options);
  }

  int Count(const std::string& message) const {
    const Lines messages = LogMessages(Log());
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
  }

  // Starts the program again in the same directory and waits for the
  // `nth` start-up link test of its slave terminal 1.
  std::unique_ptr<Process> StartAgain(int nth) {
    auto program = StartProgram("program");
    EXPECT_TRUE(WaitUntil([&] { return Count("TERM 1 SLAVE") == nth || program->Exited(); }, kProcessTimeout))
        << ReadFile(Log()) << program->Err();
    return program;
  }

  // Drops `batch` and waits until a few of its commands reached the terminal.
  void DropAndWaitForSomeOf(const Lines& batch, size_t mark) {
    DropRequest(RequestBytes(batch));
    ASSERT_TRUE(WaitUntil([&] { return CommandFrames(mark).size() >= 5; }, kProcessTimeout)) << ReadFile(Log());
  }

  // The frames since `mark` are the start of `batch`, in order, none twice,
  // and fewer than all of it.
  void ExpectStartOf(const Lines& batch, size_t mark) const {
    const Lines frames = CommandFrames(mark);
    const Lines all = FramesHex(1, batch);
    ASSERT_LT(frames.size(), all.size());
    EXPECT_EQ(frames, Lines(all.begin(), all.begin() + static_cast<long>(frames.size())));
  }

  // Waits for the status of a request whose first number is not known in
  // advance; returns it, or "" on time-out.
  std::string WaitForAnyStatus() {
    static const std::regex shape(R"(-?\d+,-?\d+\r\n)");
    std::string status;
    WaitUntil([&] {
      status = ReadFile(StatusPath());
      return !fs::exists(RequestPath()) && std::regex_match(status, shape);
    }, kProcessTimeout);
    return status;
  }
};

}  // namespace

TEST_F(Faults, SimulatorGoneWhileIdleAndInTheMiddleOfABatchThenBackOnTheSamePath) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:slave"});
  auto program = StartProgramUntil("TERM 1 SLAVE");
  const size_t logStart = LogMessages(Log()).size();

  // The far side of the open port closes while the program is idle: the
  // periodic check notices it without sending anything, and nothing may spin
  // on the port.
  sim->Signal(SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return sim->Exited(); }, kProcessTimeout));
  EXPECT_TRUE(WaitUntil([&] { return Count(kDeviceError) == 1; }, kProcessTimeout)) << ReadFile(Log());
  EXPECT_LT(CoreShareOver(program->Pid(), 3s), kMostCoreShareWhileIdle);

  // The first command of the next request finds the failed device; the
  // request is still answered and the output file written.
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(1, 2)), "0,0"));
  EXPECT_TRUE(fs::exists(OutputPath()));
  EXPECT_EQ(ReadFile(OutputPath()), "");
  EXPECT_EQ(LogMessagesSince(logStart), (Lines{kDeviceError, kNotOpened}));
  EXPECT_LT(CoreShareOver(program->Pid(), 3s), kMostCoreShareWhileIdle) << "with the port lost";
  ASSERT_TRUE(program->Running());

  // Back on the same link path: the periodic check of the red terminal opens
  // the port again by itself and tests the link.
  size_t mark = LogMark();
  sim = StartDevice({"1:slave"});
  ASSERT_TRUE(WaitUntil([&] { return Count(kOpened) == 2 && Logged("tx-ack", mark).size() == 1; }, kProcessTimeout))
      << ReadFile(Log());

  // Killed in the middle of a paced batch of 40 lines.
  mark = LogMark();
  const Lines batch = Persons(1, 40);
  const Lines batchFrames = FramesHex(1, batch);
  fs::remove(StatusPath());
  DropRequest(RequestBytes(batch));
  ASSERT_TRUE(WaitUntil([&] { return CommandFrames(mark).size() >= 8; }, kProcessTimeout));
  sim->Signal(SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return sim->Exited(); }, kProcessTimeout));
  const std::string status = WaitForAnyStatus();
  ASSERT_FALSE(status.empty()) << ReadFile(StatusPath());
  const int done = std::stoi(status);
  const Lines frames = CommandFrames(mark);
  const int acknowledged = static_cast<int>(Logged("tx-ack", mark).size());
  // What reached the terminal is the start of the batch, in order, none twice.
  ASSERT_LE(frames.size(), batch.size());
  EXPECT_EQ(frames, Lines(batchFrames.begin(), batchFrames.begin() + static_cast<long>(frames.size())));
  // The last acknowledgement may have been lost with the device.
  EXPECT_GE(done, std::max(acknowledged - 1, 7));
  EXPECT_LE(done, acknowledged);
  EXPECT_LT(done, 40);
  EXPECT_EQ(ReadFile(OutputPath()), "");
  EXPECT_EQ(Count(kDeviceError), 2);
  // The indicator refresh after the job tests the link: the port is still gone.
  EXPECT_TRUE(WaitUntil([&] { return Count(kNotOpened) == 2; }, kProcessTimeout)) << ReadFile(Log());

  // Started again: a terminal found not connected gets nothing sent until a
  // link test finds it again, and the periodic check of the red terminal
  // makes that test by itself. The next request then goes through completely.
  mark = LogMark();
  sim = StartDevice({"1:slave"});
  ASSERT_TRUE(WaitUntil([&] { return Count(kOpened) == 3 && Logged("tx-ack", mark).size() == 1; }, kProcessTimeout))
      << ReadFile(Log());
  mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus(Persons(41, 43), {"P"})), "4,3"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Plus(Persons(41, 43), {"P"})));
  EXPECT_EQ(ReadFile(OutputPath()), Answers(41, 43));
  EXPECT_EQ(Count(kOpened), 3);
  EXPECT_TRUE(program->Running());
}

TEST_F(Faults, TerminalMisbehaviourOfEveryKindLeavesTheProgramWorking) {
  StoredConfig config = FastConfig();
  config.Block.RepeatIndex = 1;  // two attempts, so that receive repeats show
  WriteConfig(config);
  auto sim = StartDevice({"1:master"}, {"--no-pacing", "--nak"});
  auto program = StartProgramUntil("TERM 1 MASTER");
  size_t logStart = LogMessages(Log()).size();

  // NAK: the first line is tried twice, the batch ends there, nothing is logged.
  size_t mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(1, 2)), "0,0"));
  EXPECT_EQ(CommandFrames(mark), Lines(2, FrameHex(1, PersonLine('Q', 1, false))));
  EXPECT_EQ(Logged("tx-nak", mark).size(), 2u);
  EXPECT_EQ(ReadFile(OutputPath()), "");
  EXPECT_EQ(LogMessagesSince(logStart), Lines{});

  // Noise between the polls: every command goes out once, after a poll.
  ReplaceSimulator(sim, {"1:master"}, {"--no-pacing", "--noise-ms", "5"});
  mark = LogMark();
  logStart = LogMessages(Log()).size();
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(1, 3)), "3,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(1, 3)));
  EXPECT_EQ(Logged("bad", mark), Lines{});
  // The replaced simulator left the port's device failed; it was opened again.
  EXPECT_EQ(LogMessagesSince(logStart), (Lines{kDeviceError, kOpened}));

  // A short data answer: logged, repeated, and the second answer decoded.
  ReplaceSimulator(sim, {"1:slave"}, {"--no-pacing", "--short-answer", "1"});
  mark = LogMark();
  logStart = LogMessages(Log()).size();
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus(Persons(1, 2), {"P"})), "3,2"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Plus(Persons(1, 2), {"P", "P"})));
  EXPECT_EQ(ReadFile(OutputPath()), Answers(1, 2));
  EXPECT_EQ(LogMessagesSince(logStart), (Lines{kDeviceError, kOpened, "R,Z chybne nacteno: 47 byte"}));

  // The poll right after the data: the block holds three poll bytes more, so
  // it has a bad length every time; the line counts as carried out after its
  // attempts and the next line follows.
  ReplaceSimulator(sim, {"1:master"}, {"--no-pacing", "--poll-after-data"});
  mark = LogMark();
  logStart = LogMessages(Log()).size();
  const Lines withRead = Plus(Persons(1, 2), {"P", PersonLine('Q', 3, false)});
  ASSERT_TRUE(HandInRequest(RequestBytes(withRead), "3,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Plus(Persons(1, 2), {"P", "P", PersonLine('Q', 3, false)})));
  EXPECT_EQ(ReadFile(OutputPath()), "");
  EXPECT_EQ(LogMessagesSince(logStart), (Lines{kDeviceError, kOpened, "R,Z chybne nacteno: 51 byte",
                                               "R,Z chybne nacteno: 51 byte"}));

  // A terminal that never answers: nothing but link tests reaches it.
  ReplaceSimulator(sim, {"1:master"}, {"--no-pacing", "--silent"});
  mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(4, 5)), "0,0"));
  EXPECT_EQ(CommandFrames(mark), Lines{});

  // A healthy terminal again, found by the periodic check of the red
  // terminal: the next request goes through completely.
  ReplaceSimulator(sim, {"1:master"}, {"--no-pacing"});
  ASSERT_TRUE(WaitUntil([&] { return Count(kOpened) == 6; }, kProcessTimeout)) << ReadFile(Log());
  mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus(Persons(6, 7), {"P"})), "3,2"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Plus(Persons(6, 7), {"P"})));
  EXPECT_EQ(ReadFile(OutputPath()), Answers(6, 7));
  EXPECT_TRUE(program->Running());
}

// A master polls while nobody reads: after minutes of quiet the driver holds
// far more than a read sees. The first request after such a spell (and the
// start-up test, which meets one too) must answer fresh polls only.
TEST_F(Faults, AMasterLineQuietForMinutesTakesTheFirstRequestWholeAndEachFrameOnce) {
  WriteConfig(StoredConfig{});
  auto sim = StartDevice({"1:master"}, {"--backlog", "300"});
  auto program = StartProgramUntil("TERM 1 MASTER");
  for (int request = 1; request <= 2; ++request) {
    const size_t mark = LogMark();
    if (request == 1) {
      sim->Signal(SIGUSR1);  // five minutes of polls nobody read
      ASSERT_TRUE(WaitUntil([&] { return !Logged("backlog", mark).empty(); }, kProcessTimeout));
    }
    ASSERT_TRUE(HandInRequest(RequestBytes(Persons(1, 3)), "3,0")) << "request " << request;
    EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(1, 3))) << "request " << request;
  }
  EXPECT_TRUE(program->Running());
}

TEST_F(Faults, TwoSlavesOnOneLineEachGetOnlyTheirOwnFrames) {
  StoredConfig config = FastConfig();
  config.Block.Terminals[1] = TerminalEntry{2, 0, true};  // address 2 on COM1 too
  WriteConfig(config);
  auto sim = StartDevice({"1:slave", "2:slave"}, {"--no-pacing"});
  auto program = StartProgramUntil("TERM 2 SLAVE");

  size_t mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus({"TERM1"}, Plus(Persons(1, 2), {"P"}))), "3,2"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Plus(Persons(1, 2), {"P"})));
  EXPECT_EQ(ReadFile(OutputPath()), Answers(1, 2));

  mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus({"TERM2"}, Plus(Persons(3, 3), {"P"}))), "2,1"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(2, Plus(Persons(3, 3), {"P"})));
  EXPECT_EQ(ReadFile(OutputPath()), Answers(3, 3)) << "terminal 2 holds only its own person";

  // Without a terminal line the selection stays on terminal 2.
  mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes({"P"}), "1,1"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(2, {"P"}));
  EXPECT_EQ(Logged("bad"), Lines{});
  EXPECT_TRUE(program->Running());
}

TEST_F(Faults, RequestFilesThatCannotBeTakenInYetStayUntilTheyCan) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:slave"}, {"--no-pacing"});
  // Root reads a file of mode 000 all the same. As root the program runs
  // without the capabilities that override file permissions, so that the
  // mode means what it says.
  std::vector<std::string> argv{program_.string()};
  if (geteuid() == 0) {
    const std::string setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv)) GTEST_SKIP() << "running as root without " << setpriv << ": mode 000 would not hold";
    argv.insert(argv.begin(), {setpriv, "--bounding-set=-dac_override,-dac_read_search",
                               "--inh-caps=-dac_override,-dac_read_search"});
  }
  auto program = std::make_unique<Process>(argv, directory_, "program", ProgramEnvironment());
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 1 SLAVE") || program->Exited(); }, kProcessTimeout))
      << program->Err();

  // A directory of that name is never taken.
  fs::create_directory(RequestPath());
  std::this_thread::sleep_for(kTwoChecks);
  EXPECT_TRUE(fs::is_directory(RequestPath()));
  EXPECT_FALSE(fs::exists(StatusPath()));
  fs::remove(RequestPath());
  size_t mark = LogMark();
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(1, 1)), "1,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(1, 1)));

  // Mode 000: left where it is until it can be read.
  fs::remove(StatusPath());
  {
    std::ofstream(RequestPath(), std::ios::binary) << RequestBytes(Persons(2, 2));
  }
  fs::permissions(RequestPath(), fs::perms::none);
  std::this_thread::sleep_for(2 * kTwoChecks);
  EXPECT_TRUE(fs::exists(RequestPath()));
  EXPECT_FALSE(fs::exists(StatusPath()));
  // Logged once, with the reason, not at every look.
  EXPECT_EQ(Count("Po\x9E" "adavek " + RequestPath().string() + " nelze \xE8\xEDst: Permission denied"), 1)
      << ReadFile(Log());
  mark = LogMark();
  fs::permissions(RequestPath(), fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(WaitForStatus("1,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(2, 2)));

  // Held by its writer's lock: looked at (opened) and left, twice; taken once
  // the writer lets go.
  fs::remove(StatusPath());
  const int writer = open(RequestPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(flock(writer, LOCK_EX), 0);
  const std::string held = RequestBytes(Persons(3, 4));
  ASSERT_EQ(write(writer, held.data(), held.size()), static_cast<ssize_t>(held.size()));
  {
    OpenWatch watch(RequestPath());
    EXPECT_TRUE(watch.WaitOpened(kProcessTimeout));
    EXPECT_TRUE(watch.WaitOpened(kProcessTimeout));
  }
  EXPECT_TRUE(fs::exists(RequestPath()));
  EXPECT_FALSE(fs::exists(StatusPath()));
  mark = LogMark();
  close(writer);
  ASSERT_TRUE(WaitForStatus("2,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(3, 4)));
  EXPECT_TRUE(program->Running());
}

// The other program may hand a request in by a hard link and remove its own
// name once the final pair is there; meanwhile it may change the file's mode
// or names. The content stays the same, so every line goes out once.
TEST_F(Faults, AHardLinkedRequestIsSentOnceWhateverHappensToItsNamesAndMode) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:master"}, {"--no-pacing"});  // 300 ms a line: time to act during the job
  auto program = StartProgramUntil("TERM 1 MASTER");
  const fs::path work = directory_ / "work.cfg";
  std::ofstream(work, std::ios::binary) << RequestBytes(Persons(1, 5));
  const size_t mark = LogMark();
  ASSERT_EQ(link(work.c_str(), RequestPath().c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] { return !CommandFrames(mark).empty(); }, kProcessTimeout));
  ASSERT_EQ(chmod(work.c_str(), 0600), 0);
  ASSERT_EQ(link(work.c_str(), (directory_ / "copy.cfg").c_str()), 0);
  fs::remove(directory_ / "copy.cfg");
  const timespec accessedNow[2] = {{0, UTIME_NOW}, {0, UTIME_OMIT}};
  ASSERT_EQ(utimensat(AT_FDCWD, work.c_str(), accessedNow, 0), 0);
  ASSERT_TRUE(WaitForStatus("5,0"));
  fs::remove(work);
  std::this_thread::sleep_for(kTwoChecks);  // a request put back would be taken in again by now
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(1, 5)));
  EXPECT_FALSE(fs::exists(RequestPath()));
  EXPECT_FALSE(fs::exists(RequestPath().string() + ".rozepsano"));
  EXPECT_EQ(ReadFile(StatusPath()), "5,0\r\n");
}

// A full disk, as a limit on the size of the program's files (writes past
// it fail as on a disk without room): an output that cannot be written
// takes the earlier job's with it and the reason is said; a final status
// that cannot be written keeps the job as interrupted.
TEST_F(Faults, AResultThatCannotBeWrittenIsNeverReportedAsSuccess) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:slave"}, {"--no-pacing"});
  std::signal(SIGXFSZ, SIG_IGN);  // inherited: a write past the limit fails instead of ending the program
  auto program = StartProgramUntil("TERM 1 SLAVE");
  std::signal(SIGXFSZ, SIG_DFL);
  const auto limitFiles = [&](rlim_t bytes) {
    const rlimit limit{bytes, bytes};
    return prlimit(program->Pid(), RLIMIT_FSIZE, &limit, nullptr) == 0;
  };
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus(Persons(1, 30), {"P"})), "31,30"));
  ASSERT_TRUE(limitFiles(1500));  // the 60 lines read back take 3,600 bytes
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus(Persons(31, 60), {"P"})), "31,60"));
  EXPECT_FALSE(fs::exists(OutputPath())) << "the earlier job's records stand beside the new pair";
  const std::string failed = "Soubor " + OutputPath().string() + " nelze zapsat: File too large";
  EXPECT_TRUE(LogHas(failed)) << ReadFile(Log());
  EXPECT_NE(program->Err().find(failed), std::string::npos) << program->Err();

  // Not even the pair fits (nor the log, nor the file standard error goes
  // to here): the earlier pair goes, and the job is kept as interrupted.
  ASSERT_TRUE(limitFiles(4));
  const std::string request = RequestBytes(Persons(61, 61));
  DropRequest(request);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(OutputPath()) && !fs::exists(StatusPath()); }, kProcessTimeout))
      << "an earlier pair stands as this job's";
  std::this_thread::sleep_for(kTwoChecks);
  EXPECT_EQ(ReadFile(RequestPath().string() + ".prevzato"), request);
  program->Signal(SIGTERM);
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();
  program = StartProgramUntil("TERM 1 SLAVE");
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(StatusPath()) == "-1,-1\r\n"; }, kProcessTimeout));
  EXPECT_EQ(ReadFile(RequestPath().string() + ".nedokonceno"), request);
}

TEST_F(Faults, RequestRewrittenWhileItIsReadIsNeitherMixedNorLost) {
  StoredConfig config = FastConfig();
  config.Block.Capacity = 131072;  // the largest, so that a request file may be large
  WriteConfig(config);
  auto sim = StartDevice({"1:slave"}, {"--no-pacing"});
  auto program = StartProgramUntil("TERM 1 SLAVE");

  // The first version is large, so that reading it takes a while; its own
  // line would be refused if it were ever taken in.
  const std::string first = "XA\r\n" + std::string(24 << 20, 'F') + "\r\n";
  const Lines second = Persons(1, 2);
  bool caughtWhileRead = false;
  for (int round = 0; round < 3 && !caughtWhileRead; ++round) {
    const size_t logStart = LogMessages(Log()).size();
    fs::remove(StatusPath());
    { std::ofstream(RequestPath(), std::ios::binary) << first; }
    // The other program keeps the file open and rewrites it in place the
    // moment the program renames it aside to read it.
    const int writer = open(RequestPath().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const size_t mark = LogMark();
    {
      OpenWatch renamed(directory_, IN_MOVED_FROM);
      ASSERT_TRUE(renamed.WaitOpened(kProcessTimeout));
      const std::string bytes = RequestBytes(second);
      ASSERT_EQ(ftruncate(writer, 0), 0);
      ASSERT_EQ(write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
      close(writer);
    }
    // Caught while it was read, the file went back under its name and the
    // new version ran alone; caught after it was read, the whole first
    // version ran, and the new one after it. Never a mixture, never lost.
    ASSERT_TRUE(WaitForStatus("2,0"));
    const Lines frames = CommandFrames(mark);
    caughtWhileRead = frames == FramesHex(1, second);
    if (caughtWhileRead) {
      for (const std::string& message : LogMessagesSince(logStart)) {
        EXPECT_EQ(message.find("Radek nelze odeslat"), std::string::npos) << "the old version was taken in: " << message;
      }
    } else {
      EXPECT_EQ(frames, FramesHex(1, Plus({"XA"}, second)));
    }
  }
  EXPECT_TRUE(caughtWhileRead) << "the rewrite never came while the file was being read";
  EXPECT_TRUE(program->Running());
}

TEST_F(Faults, ResultFilesAreReplacedWholeAndAJobSurvivesAStopOrAKill) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:slave"});
  auto program = StartProgramUntil("TERM 1 SLAVE");

  // Two requests in a row: each leaves new files. A reader that opened the
  // first ones still reads them whole, and links planted in place of the
  // files are replaced without their targets being written.
  ASSERT_TRUE(HandInRequest(RequestBytes(Plus(Persons(1, 2), {"P"})), "3,2"));
  const int heldOutput = open(OutputPath().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(heldOutput, 0);
  { std::ofstream(directory_ / "victim.txt", std::ios::binary) << "victim\r\n"; }
  fs::remove(StatusPath());
  fs::create_symlink("victim.txt", StatusPath());
  fs::remove(directory_ / "binarni.bin");
  fs::create_symlink("victim.txt", directory_ / "binarni.bin");
  DropRequest(RequestBytes(Plus(Persons(3, 3), {"P"})));
  ASSERT_TRUE(WaitForStatus("2,3"));
  EXPECT_EQ(ReadFile(OutputPath()), Answers(1, 3));
  std::string held(4096, '\0');
  held.resize(static_cast<size_t>(std::max<ssize_t>(read(heldOutput, held.data(), held.size()), 0)));
  close(heldOutput);
  EXPECT_EQ(held, Answers(1, 2));
  EXPECT_FALSE(fs::is_symlink(StatusPath()));
  EXPECT_FALSE(fs::is_symlink(directory_ / "binarni.bin"));
  EXPECT_EQ(fs::file_size(directory_ / "binarni.bin"), 3u * 24);
  EXPECT_EQ(ReadFile(directory_ / "victim.txt"), "victim\r\n");

  // SIGTERM in the middle of a long batch: the line in progress is finished,
  // the job reports what was done, and the program ends within seconds.
  size_t mark = LogMark();
  const Lines stopped = Persons(101, 300);
  DropAndWaitForSomeOf(stopped, mark);
  const auto signalled = std::chrono::steady_clock::now();
  program->Signal(SIGTERM);
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 5s);
  ExpectStartOf(stopped, mark);
  const size_t sent = Logged("tx-ack", mark).size();
  EXPECT_EQ(ReadFile(StatusPath()), std::to_string(sent) + ",0\r\n");
  EXPECT_EQ(ReadFile(OutputPath()), "");  // written anew for this job
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
  // The lines never sent stay for a person to look at, and the log says
  // where the job stopped.
  const std::string interrupted = RequestPath().string() + ".nedokonceno";
  EXPECT_FALSE(fs::exists(RequestPath().string() + ".prevzato"));
  EXPECT_EQ(ReadFile(interrupted), RequestBytes(stopped));
  EXPECT_TRUE(LogHas("\xDAloha po\x9E" "adavku " + RequestPath().string() + " zastavena po \xF8\xE1" "dku " +
                     std::to_string(sent) + " z 200, po\x9E" "adavek ulo\x9E" "en jako " + interrupted))
      << ReadFile(Log());

  // SIGKILL in the middle of a batch: at the next start the job's file is
  // kept and logged, never sent again, and the status says so.
  program = StartAgain(2);
  mark = LogMark();
  const Lines killed = Persons(301, 500);
  DropAndWaitForSomeOf(killed, mark);
  program->Signal(SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return program->Exited(); }, kProcessTimeout));
  ExpectStartOf(killed, mark);
  mark = LogMark();
  program = StartAgain(3);
  EXPECT_TRUE(WaitUntil([&] { return LogHas("\xDAloha po\x9E" "adavku " + RequestPath().string() +
                                            " nebyla dokon\xE8" "ena, po\x9E" "adavek ulo\x9E" "en jako " + interrupted); },
                        kProcessTimeout)) << ReadFile(Log());
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(StatusPath()) == "-1,-1\r\n"; }, kProcessTimeout));
  EXPECT_EQ(ReadFile(interrupted), RequestBytes(killed));
  EXPECT_FALSE(fs::exists(RequestPath().string() + ".prevzato"));
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(1, 1)), "1,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, Persons(1, 1)));
  EXPECT_TRUE(program->Running());

  // SIGKILL the moment the final pair is there: the job was done, so the
  // next start keeps the pair and sets nothing aside.
  const size_t logged = LogMessages(Log()).size();
  ASSERT_TRUE(HandInRequest(RequestBytes(Persons(2, 2)), "1,0"));
  program->Signal(SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return program->Exited(); }, kProcessTimeout));
  program = StartAgain(4);
  EXPECT_EQ(ReadFile(StatusPath()), "1,0\r\n");
  EXPECT_EQ(ReadFile(interrupted), RequestBytes(killed));
  for (const std::string& message : LogMessagesSince(logged)) {
    EXPECT_EQ(message.find("nebyla dokon"), std::string::npos) << message;
  }
}

// A canteen PC's morning: the adapter enumerates after the program started,
// and later a line that carries bytes but never a poll (an unbiased bus with
// the terminals off).
TEST_F(Faults, APortThatComesLateIsTakenUpAndANoisyLineStillLetsTheStartEnd) {
  WriteConfig(FastConfig());
  auto program = StartProgram("program");
  ASSERT_TRUE(WaitUntil([&] { return LogHas(kNotOpened); }, kProcessTimeout)) << ReadFile(Log());
  ASSERT_TRUE(HandInRequest("TERM1\r\nK1\r\n", "-1,0"));  // no terminal yet
  std::this_thread::sleep_for(kTwoPeriodicChecks);        // the port is tried again meanwhile
  auto sim = StartDevice({"1:slave"});
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 1 SLAVE"); }, kProcessTimeout)) << ReadFile(Log());
  const size_t mark = LogMark();
  ASSERT_TRUE(HandInRequest("K1\r\n", "1,0"));
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, {"K1"}));
  EXPECT_EQ(Count(kNotOpened), 1);  // once for the whole wait, not at every check
  EXPECT_EQ(Count(kOpened), 1);
  program->Signal(SIGTERM);
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();

  // Noise and no answer: the start-up test ends by the listening bound, the
  // line is logged once, and a stop during a periodic retest's listening
  // ends the program at once.
  sim->Signal(SIGTERM);
  ASSERT_EQ(sim->WaitExit(), 0);
  sim = StartDevice({"1:slave"}, {"--silent", "--noise-ms", "20"});
  const fs::path trace = directory_ / "trace.log";
  program = StartProgram("program", {"--trace", trace.string()});
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 1 NEPRIPOJEN"); }, kProcessTimeout)) << ReadFile(Log());
  const auto flushes = [&] {
    const std::string text = ReadFile(trace);
    size_t count = 0;
    for (size_t at = text.find("receive queue flushed"); at != std::string::npos;
         at = text.find("receive queue flushed", at + 1)) {
      ++count;
    }
    return count;
  };
  const size_t atStart = flushes();
  ASSERT_TRUE(WaitUntil([&] { return flushes() > atStart; }, kProcessTimeout)) << "no periodic retest";
  const auto signalled = std::chrono::steady_clock::now();
  program->Signal(SIGTERM);
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, kPromptStop);
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
  const Lines messages = LogMessages(Log());
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.rfind(kNoise, 0) == 0; }),
            1)
      << ReadFile(Log());
  EXPECT_NE(ReadFile(trace).find("bytes but no poll within the bound of 2000 ms"), std::string::npos);
}

// A stop asked for by SIGTERM is seen by the batch itself: in the pause after
// a master's command no further line starts, and in the repeats of a line no
// further attempt; the lines not carried out are kept and the log says where
// the job stopped.
TEST_F(Faults, AStopInAPauseOrInTheRepeatsSendsNothingMoreAndKeepsTheRest) {
  const std::string interrupted = RequestPath().string() + ".nedokonceno";
  const auto stoppedAfter = [&](int done, int of) {
    return "\xDAloha po\x9E" "adavku " + RequestPath().string() + " zastavena po \xF8\xE1" "dku " +
           std::to_string(done) + " z " + std::to_string(of) + ", po\x9E" "adavek ulo\x9E" "en jako " + interrupted;
  };
  StoredConfig config = FastConfig();
  config.Block.RepeatIndex = 4;  // five attempts
  WriteConfig(config);
  auto sim = StartDevice({"1:master"});
  auto program = StartProgramUntil("TERM 1 MASTER");
  size_t mark = LogMark();
  const Lines four = {"K1", "K2", "K3", "K4"};
  DropRequest(RequestBytes(four));
  ASSERT_TRUE(WaitUntil([&] { return !Logged("tx-ack", mark).empty(); }, kProcessTimeout));
  program->Signal(SIGTERM);  // within the 300 ms pause after K1
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, {"K1"}));
  EXPECT_EQ(ReadFile(StatusPath()), "1,0\r\n");
  EXPECT_EQ(ReadFile(interrupted), RequestBytes(four));
  EXPECT_TRUE(LogHas(stoppedAfter(1, 4))) << ReadFile(Log());

  fs::remove(interrupted);
  sim->Signal(SIGTERM);
  ASSERT_EQ(sim->WaitExit(), 0);
  sim = StartDevice({"1:master"}, {"--no-ack", "4"});
  program = StartProgramUntil("TERM 1 MASTER");
  mark = LogMark();
  DropRequest(RequestBytes({"K5"}));
  ASSERT_TRUE(WaitUntil([&] { return !CommandFrames(mark).empty(); }, kProcessTimeout));
  program->Signal(SIGTERM);  // in the first attempt's acknowledgement wait
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(CommandFrames(mark), FramesHex(1, {"K5"}));  // no second attempt
  EXPECT_EQ(ReadFile(StatusPath()), "0,0\r\n");
  EXPECT_EQ(ReadFile(interrupted), RequestBytes({"K5"}));
  EXPECT_TRUE(LogHas(stoppedAfter(0, 1))) << ReadFile(Log());
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
}
