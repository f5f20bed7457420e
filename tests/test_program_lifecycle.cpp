// The program as a process: a copy of build/tarvion in a fresh directory with
// its INI beside it, talking to build/orveta-sim, run headless. Start-up lines
// of the error log, the single-instance lock and its refusals, a start with no
// display at all, the orderly end on SIGTERM, what a service tells systemd
// and the journal, and the metrics as Prometheus' node_exporter serves them.

#include <gtest/gtest.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "config/Config.h"
#include "app/SingleInstance.h"
#include "support/PersonLines.h"
#include "support/ProgramProcess.h"
#include "support/TempDir.h"

class ProgramLifecycle : public ProgramFixture {
 protected:
  std::string JournalStreamFor(const std::string& name) const;
};

namespace {

// A datagram socket in place of systemd's NOTIFY_SOCKET: what the program
// tells systemd, one message per datagram, in order.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
  }
  ~NotifySocket() { close(fd_); }
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  // The messages so far.
  const std::vector<std::string>& Messages() {
    char buffer[4096];
    for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, 0)) >= 0;) messages_.emplace_back(buffer, n);
    return messages_;
  }
  bool Saw(const std::regex& message) {
    const auto& all = Messages();
    return std::any_of(all.begin(), all.end(), [&](const std::string& m) { return std::regex_match(m, message); });
  }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  std::vector<std::string> messages_;
};

}  // namespace

// The journal's stream is named by its device and inode: here those of the
// file that the standard error of the process `name` goes to, made now.
std::string ProgramLifecycle::JournalStreamFor(const std::string& name) const {
  const std::filesystem::path file = directory_ / (name + ".err");
  std::ofstream(file).close();
  struct stat status {};
  EXPECT_EQ(stat(file.c_str(), &status), 0);
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

namespace {

std::string Joined(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& message : messages) text += "[" + message + "]\n";
  return text;
}

}  // namespace

TEST_F(ProgramLifecycle, MasterTerminalGivesFourLogLinesFromStartToStop) {
  WriteIni(DefaultConfigBlock(), {{1, (directory_ / "line").string()}});
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
  WriteIni(block, {{1, (directory_ / "line").string()}});
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

  // Another session (another user, or the service beside a desktop) on the
  // same start directory: refused by the directory's own lock before it
  // touches a file there.
  const std::filesystem::path otherSession = directory_ / "other-session";
  std::filesystem::create_directory(otherSession);
  const auto filesNow = [&] {
    std::map<std::string, std::pair<uintmax_t, std::filesystem::file_time_type>> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && !name.starts_with("third.")) {
        files[name] = {entry.file_size(), entry.last_write_time()};
      }
    }
    return files;
  };
  const auto before = filesNow();
  auto third = StartProgram("third", {}, {{"XDG_RUNTIME_DIR", otherSession.string()}});
  EXPECT_EQ(third->WaitExit(), 255);
  EXPECT_NE(third->Err().find("another Tarvion works in the start directory " + directory_.string()),
            std::string::npos)
      << third->Err();
  EXPECT_NE(third->Err().find("Tento program je již spuštěn!!!"), std::string::npos) << third->Err();
  EXPECT_EQ(filesNow(), before);
  EXPECT_TRUE(first->Running());

  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitExit(), 0) << first->Err();
  const auto messages = LogMessages(Log());
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages.back(), "Stop programu");
  EXPECT_EQ(first->Err().find("Opravdu"), std::string::npos);  // no closing question on SIGTERM

  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
}

// A device that is not there, and a COM port left empty in [Porty]: no
// device at all (never its /dev/ttyS default).
TEST_F(ProgramLifecycle, PortThatCannotOpenIsLoggedAndWarnedAbout) {
  ConfigBlock block = DefaultConfigBlock();
  block.Terminals[1] = TerminalEntry{2, 1, true};
  WriteIni(block, {{1, (directory_ / "no-such-device").string()}, {2, ""}});
  const std::string noDevice = "COM2 neotev\xF8" "en: v sekci [Porty] nem\xE1 za\xF8\xEDzen\xED (COM2 je pr\xE1zdn\xFD)";
  auto program = StartProgram("program");
  ASSERT_TRUE(WaitUntil([&] {
    return program->Err().find("Neni otevřen žádný port") != std::string::npos || program->Exited();
  }, kProcessTimeout)) << program->Err();
  EXPECT_NE(program->Err().find("Pozor!: Neni otevřen žádný port\nje nutno provést konfiguraci portu!"),
            std::string::npos);
  EXPECT_EQ(LogMessages(Log()), (std::vector<std::string>{"Start programu", "COM1 neotev\xF8" "en", noDevice}));

  program->Signal(SIGINT);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(LogMessages(Log()),
            (std::vector<std::string>{"Start programu", "COM1 neotev\xF8" "en", noDevice, "Stop programu"}));
}

TEST_F(ProgramLifecycle, NoTerminalTickedOpensNoPort) {
  ConfigBlock block = DefaultConfigBlock();
  block.Terminals[0].Connected = false;
  WriteIni(block, {{1, (directory_ / "line").string()}});
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
  WriteIni(DefaultConfigBlock(), {{1, LinePath()}});
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

// As a systemd service (Type=notify): READY=1 once the start-up link tests
// are done, with a status line of every terminal place; after a job the line
// has its time and pair; STOPPING=1 as SIGTERM is accepted. Standard error
// is the journal's stream there: each line carries its priority.
TEST_F(ProgramLifecycle, AsAServiceItTellsSystemdHowItIsAndTheJournalEachLinesPriority) {
  ConfigBlock block = DefaultConfigBlock();
  block.Terminals[1] = TerminalEntry{2, 1, true};  // on COM2, whose device is missing
  WriteIni(block, {{1, LinePath()}, {2, (directory_ / "no-such-device").string()}});
  auto sim = StartSimulator({"1:slave"}, {"--baud", "1200"});  // a data answer of seconds
  NotifySocket notify(directory_ / "notify");
  auto program = StartProgram(
      "program", {},
      {{"NOTIFY_SOCKET", notify.Path()}, {"JOURNAL_STREAM", JournalStreamFor("program")},
       {"QT_QPA_PLATFORM", std::nullopt}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});

  const std::string places = "T1 slave, T2 port not open, T3 off, T4 off";
  ASSERT_TRUE(WaitUntil([&] { return !notify.Messages().empty() || program->Exited(); }, kProcessTimeout))
      << program->Err();
  EXPECT_EQ(notify.Messages().front(), "READY=1\nSTATUS=" + places);
  EXPECT_TRUE(LogHas("TERM 1 SLAVE"));  // the link tests came first

  // A second start's refusal is an error box: an error in the journal.
  auto second = StartProgram("second", {}, {{"JOURNAL_STREAM", JournalStreamFor("second")}});
  EXPECT_EQ(second->WaitExit(), 255);
  EXPECT_EQ(second->Err(), "<3>*** Pozor ***: Tento program je již spuštěn!!!\n");

  std::ofstream(directory_ / "request.tmp", std::ios::binary) << "TERM1\r\nS\r\n";
  std::filesystem::rename(directory_ / "request.tmp", directory_ / "request.cfg");
  const std::regex afterJob("STATUS=" + places + R"(; last job \d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d: 1,1)");
  EXPECT_TRUE(WaitUntil([&] { return notify.Saw(afterJob) || program->Exited(); }, kProcessTimeout))
      << Joined(notify.Messages());

  // SIGTERM in the middle of a data answer: systemd is told how long the
  // answer can still take, the answer is read to its end and written out,
  // then the program stops.
  std::string request = "TERM1\r\n", answers;
  for (int n = 1; n <= 10; ++n) {
    request += PersonLine('Q', n, false) + "\r\n";
    answers += AnswerLine('Q', n, false);
  }
  std::ofstream(directory_ / "request.tmp", std::ios::binary) << request + "P\r\n";
  std::filesystem::rename(directory_ / "request.tmp", directory_ / "request.cfg");
  ASSERT_TRUE(WaitUntil([&] {
    const auto frames = SimulatorFrames();
    return std::find(frames.begin(), frames.end(), "01 04 50 55") != frames.end();
  }, kProcessTimeout));
  program->Signal(SIGTERM);
  EXPECT_TRUE(WaitUntil([&] { return notify.Saw(std::regex(R"(EXTEND_TIMEOUT_USEC=\d+)")); }, kProcessTimeout))
      << Joined(notify.Messages());
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(ReadFile(directory_ / "output.txt"), answers);
  EXPECT_EQ(ReadFile(directory_ / "rudazo.sta"), "11,10\r\n");
  EXPECT_EQ(LogMessages(Log()).back(), "Stop programu");
  EXPECT_TRUE(notify.Saw(std::regex("STOPPING=1"))) << Joined(notify.Messages());
  const auto lines = FileLines(directory_ / "program.err");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("<5>Tarvion: no display", 0), 0u) << program->Err();
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, std::regex("<[2-7]>.*"))) << line;
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
}

namespace {

constexpr char kNodeExporter[] = "/usr/bin/prometheus-node-exporter";

// A TCP port of 127.0.0.1 that nothing listens on now.
int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  return bound ? ntohs(address.sin_port) : -1;
}

// The body of GET `path` from 127.0.0.1:`port`; empty when there is no answer.
std::string HttpGet(int port, const std::string& path) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[8192];
      for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    }
  }
  close(fd);
  const size_t body = answer.find("\r\n\r\n");
  return answer.rfind("HTTP/1.0 200", 0) == 0 && body != std::string::npos ? answer.substr(body + 4) : "";
}

// The value of the sample of `name` with all of `labels` ("terminal=\"1\"")
// in the exposition `text`, whatever the order of its labels.
std::optional<double> SampleValue(const std::string& text, const std::string& name,
                                  const std::vector<std::string>& labels = {}) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name, 0) != 0 || (line[name.size()] != '{' && line[name.size()] != ' ')) continue;
    const size_t end = line.rfind(' ');
    const std::string head = line.substr(0, end);
    if (std::all_of(labels.begin(), labels.end(), [&](const std::string& l) { return head.find(l) != std::string::npos; })) {
      return std::stod(line.substr(end + 1));
    }
  }
  return std::nullopt;
}

}  // namespace

// node_exporter's textfile collector serves the program's --metrics file:
// after a job, the job, its command and the terminal's state are there and
// the file parses; a device that goes away reaches it at the next periodic
// check.
TEST_F(ProgramLifecycle, MetricsFileIsServedByNodeExporterAndFollowsAPortThatGoesAway) {
  if (!std::filesystem::exists(kNodeExporter)) {
    GTEST_SKIP() << kNodeExporter << " is not installed (scripts/install-deps.sh installs it)";
  }
  const std::filesystem::path collected = directory_ / "collected";
  std::filesystem::create_directory(collected);
  const int port = FreeLoopbackPort();
  ASSERT_GT(port, 0);
  Process exporter({kNodeExporter, "--web.listen-address=127.0.0.1:" + std::to_string(port),
                    "--collector.disable-defaults", "--collector.textfile",
                    "--collector.textfile.directory=" + collected.string()},
                   directory_, "exporter", {});
  WriteIni(DefaultConfigBlock(), {{1, LinePath()}});
  auto sim = StartSimulator({"1:slave"});
  // The service's umask keeps its files from others, and node_exporter runs
  // as another user: the metrics file is readable all the same.
  const mode_t umaskBefore = umask(0077);
  auto program = StartProgram("program", {"--metrics", (collected / "tarvion.prom").string()});
  umask(umaskBefore);
  ASSERT_TRUE(WaitUntil([&] { return LogHas("TERM 1 SLAVE") || program->Exited(); }, kProcessTimeout))
      << program->Err();

  std::ofstream(directory_ / "request.tmp", std::ios::binary) << "TERM1\r\nS\r\n";
  std::filesystem::rename(directory_ / "request.tmp", directory_ / "request.cfg");
  std::string metrics;
  ASSERT_TRUE(WaitUntil([&] {
    metrics = HttpGet(port, "/metrics");
    return SampleValue(metrics, "tarvion_jobs_total", {"outcome=\"done\""}) == 1.0 || exporter.Exited();
  }, kProcessTimeout)) << metrics << exporter.Err() << program->Err();
  EXPECT_EQ(SampleValue(metrics, "node_textfile_scrape_error"), 0.0) << metrics;
  // Prometheus' own check of the names, types and units.
  Process lint({"/bin/sh", "-c", "promtool check metrics < collected/tarvion.prom"}, directory_, "promtool", {});
  EXPECT_EQ(lint.WaitExit(), 0) << lint.Out() << lint.Err();
  const auto permissions = std::filesystem::status(collected / "tarvion.prom").permissions();
  EXPECT_EQ(permissions & std::filesystem::perms::others_read, std::filesystem::perms::others_read);
  EXPECT_EQ(SampleValue(metrics, "tarvion_build_info", {"version=\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_last_job_status", {"position=\"first\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_last_job_status", {"position=\"second\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_terminal_commands_total", {"terminal=\"1\"", "result=\"acknowledged\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_terminal_records_received_total", {"terminal=\"1\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_terminal_state", {"terminal=\"1\"", "state=\"slave\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_terminal_state", {"terminal=\"1\"", "state=\"no_port\""}), 0.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_port_info", {"port=\"COM1\"", "device=\"" + LinePath() + "\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_port_open", {"port=\"COM1\""}), 1.0);

  // The simulator ends: its pseudo-terminal goes, and the next periodic
  // check finds the device failed.
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
  const std::string file = (collected / "tarvion.prom").string();
  EXPECT_TRUE(WaitUntil([&] {
    metrics = ReadFile(file);
    return SampleValue(metrics, "tarvion_port_open", {"port=\"COM1\""}) == 0.0;
  }, kProcessTimeout)) << metrics;
  EXPECT_EQ(SampleValue(metrics, "tarvion_terminal_state", {"terminal=\"1\"", "state=\"no_port\""}), 1.0);
  EXPECT_EQ(SampleValue(metrics, "tarvion_terminal_state", {"terminal=\"1\"", "state=\"slave\""}), 0.0);
  metrics = HttpGet(port, "/metrics");
  EXPECT_EQ(SampleValue(metrics, "tarvion_port_open", {"port=\"COM1\""}), 0.0) << metrics;
  EXPECT_EQ(SampleValue(metrics, "node_textfile_scrape_error"), 0.0);
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
}

// The desktop entry's start: "~/" is the home (no shell expands it there),
// the start directory is made, and a relative --config names a file where
// the program was started, not in the start directory.
TEST_F(ProgramLifecycle, StartDirectoryIsMadeUnderTheHomeAndARelativeConfigIsWhereItStarted) {
  WriteIni(DefaultConfigBlock(), {{1, LinePath()}});
  std::filesystem::rename(directory_ / "tarvion.ini", directory_ / "other.ini");
  auto sim = StartSimulator({"1:slave"});
  const std::filesystem::path start = directory_ / "home" / "Tarvion";
  auto program = StartProgram("program", {"--start-dir", "~/Tarvion", "--config", "other.ini"},
                              {{"HOME", (directory_ / "home").string()}});
  ASSERT_TRUE(WaitUntil([&] {
    const auto messages = LogMessages(start / "errorlog.txt");
    return std::find(messages.begin(), messages.end(), "TERM 1 SLAVE") != messages.end() || program->Exited();
  }, kProcessTimeout)) << program->Err();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
  EXPECT_EQ(LogMessages(start / "errorlog.txt"),
            (std::vector<std::string>{"Start programu", "COM1 otev\xF8" "en", "TERM 1 SLAVE", "Stop programu"}));
  EXPECT_FALSE(std::filesystem::exists(Log()));
  EXPECT_FALSE(std::filesystem::exists(directory_ / "tarvion.ini"));  // nothing saved beside the program
  sim->Signal(SIGTERM);
  EXPECT_EQ(sim->WaitExit(), 0);
}

// Anybody can plant a link in /tmp where the lock file goes: the program
// never opens or creates anything through it, and says why it stops.
TEST_F(ProgramLifecycle, ALinkPlantedInPlaceOfTheLockIsNeverFollowed) {
  WriteIni(DefaultConfigBlock(), {{1, (directory_ / "no-such-device").string()}});
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
  const TempDir folder("runtime");
  const std::filesystem::path& runtime = folder.Path();
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
}
