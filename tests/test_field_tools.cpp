// The field tools against the real processes: the program's command line, its
// wire trace of a request compared with what the simulated terminal logged,
// tarvion-scan on lines of simulated terminals and on a port the running
// program holds, tarvion-request handing requests to the running program, and
// tarvion-config setting the file the program then starts on.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/PersonLines.h"
#include "support/ProgramRequests.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// One event line of the trace for COM1: "rx 06  ack" gives Dir "rx", Hex
// "06", Name "ack".
struct TraceEvent {
  std::string Dir;
  std::string Hex;
  std::string Name;
};

// Every COM1 line of the trace, its time stamps checked; a line of another
// shape fails the test.
std::vector<TraceEvent> TraceEvents(const fs::path& trace) {
  static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ (.*))");
  static const std::regex bytes(R"((rx|tx) ([0-9A-F]{2}(?: [0-9A-F]{2})*)  (.*))");
  std::vector<TraceEvent> events;
  for (const std::string& line : FileLines(trace)) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, stamp)) << line;
    const std::string text = match[1];
    if (!text.starts_with("COM1 ")) continue;
    const std::string event = text.substr(5);
    if (std::regex_match(event, match, bytes)) {
      events.push_back({match[1], match[2], match[3]});
    } else {
      events.push_back({"", "", event});
    }
  }
  return events;
}

// "poll (3 in a row)" stands for its bytes three times.
std::string ReceivedHex(const TraceEvent& event) {
  static const std::regex run(R"(poll \((\d+) in a row\))");
  std::smatch match;
  if (!std::regex_match(event.Name, match, run)) return event.Hex;
  std::string hex;
  for (int i = std::stoi(match[1]); i > 0; --i) hex += (hex.empty() ? "" : " ") + event.Hex;
  return hex;
}

std::string Joined(const std::string& a, const std::string& b) { return a.empty() || b.empty() ? a + b : a + " " + b; }

// How a frame written is described: address, length, command letter, checksum.
std::string FrameDescription(const std::string& hex) {
  const int address = std::stoi(hex.substr(0, 2), nullptr, 16);
  const int length = std::stoi(hex.substr(3, 2), nullptr, 16);
  const char letter = static_cast<char>(std::stoi(hex.substr(6, 2), nullptr, 16));
  return "address " + std::to_string(address) + ", length " + std::to_string(length) + ", command '" + letter +
         "', checksum ok";
}

class FieldTools : public RequestFixture {
 protected:
  std::unique_ptr<Process> Run(const std::string& exe, const std::string& name, const Lines& arguments) {
    Lines argv{exe};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return std::make_unique<Process>(argv, directory_, name, ProgramEnvironment());
  }
  std::unique_ptr<Process> Scan(const std::string& name, const Lines& options) {
    Lines arguments{LinePath(), "--turnaround", "1000"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return Run(TARVION_SCAN_EXE, name, arguments);
  }
  // tarvion-config on the program's INI file.
  std::unique_ptr<Process> Config(const std::string& name, const Lines& arguments) {
    Lines all{"--config", (directory_ / "tarvion.ini").string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Run(TARVION_CONFIG_EXE, name, all);
  }
  // tarvion-request with the request lines in a file of their own.
  std::unique_ptr<Process> Request(const std::string& name, const Lines& lines, const Lines& options = {}) {
    const fs::path file = directory_ / (name + ".lines");
    { std::ofstream(file, std::ios::binary) << RequestBytes(lines); }
    Lines arguments{"--dir", directory_.string(), "--timeout", "60"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(file.string());
    return Run(TARVION_REQUEST_EXE, name, arguments);
  }
};

// What tarvion-request prints of output lines: each ended by a line feed.
std::string Printed(const std::string& withCrLf) { return std::regex_replace(withCrLf, std::regex("\r\n"), "\n"); }

}  // namespace

TEST_F(FieldTools, ProgramOptionsAreCheckedBeforeAnythingStarts) {
  auto version = Run(program_.string(), "version", {"--version"});
  EXPECT_EQ(version->WaitExit(), 0);
  EXPECT_EQ(version->Out(), "Tarvion " TARVION_VERSION "\n");
  auto help = Run(program_.string(), "help", {"--help"});
  EXPECT_EQ(help->WaitExit(), 0);
  EXPECT_NE(help->Out().find("--trace FILE"), std::string::npos) << help->Out();

  std::ofstream(directory_ / "in-the-way") << "a file, no directory";
  const std::vector<std::pair<Lines, std::string>> refused = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--config"}, "option '--config' needs a FILE"},
      {{"--start-dir="}, "option '--start-dir' needs a DIR"},
      {{"--start-dir", (directory_ / "in-the-way" / "Tarvion").string()}, "cannot make the start directory"},
      {{"-platform", "offscreen"}, "unknown option '-platform'"},
      {{"--trace"}, "option '--trace' needs a FILE"},
      {{"--trace="}, "option '--trace' needs a FILE"},
      {{"extra"}, "unexpected argument 'extra'"},
      {{"--trace", (directory_ / "no-such-dir" / "trace.log").string()}, "cannot be opened"},
  };
  for (const auto& [arguments, message] : refused) {
    auto program = Run(program_.string(), "refused", arguments);
    EXPECT_EQ(program->WaitExit(), 2) << arguments[0];
    EXPECT_NE(program->Err().find(message), std::string::npos) << program->Err();
    EXPECT_EQ(program->Out(), "");
  }
  EXPECT_FALSE(fs::exists(Log())) << "nothing started: no error log";
}

TEST_F(FieldTools, TraceOfARequestHoldsEveryFrameAndByteTheTerminalSawInOrder) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:master"});
  auto program = StartProgramUntil("TERM 1 MASTER", {"--trace", "trace.log"});
  const Lines request = {"TERM1", PersonLine('Q', 1, false), PersonLine('Q', 2, true), "P"};
  ASSERT_TRUE(RunRequest(RequestBytes(request), "4,3"));
  program->Signal(SIGTERM);
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();

  const std::vector<TraceEvent> events = TraceEvents(directory_ / "trace.log");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().Name, "opened " + LinePath() + " at 19200 baud, no modem lines (RTS is not switched)");

  // Every frame the terminal received, in order, and nothing else written.
  Lines written;
  for (const TraceEvent& event : events) {
    if (event.Dir != "tx") continue;
    written.push_back(event.Hex);
    EXPECT_EQ(event.Name, FrameDescription(event.Hex));
  }
  EXPECT_EQ(written, SimulatorFrames());
  EXPECT_EQ(written.size(), 4u);

  // What the terminal sent is what was received, in order: up to the data
  // block, the PC has read everything (later polls may still be unread).
  std::string sent, received;
  size_t acks = 0, dataBytes = 0, dataEnd = 0;
  for (const SimLogEntry& entry : SimulatorLog()) {
    if (!entry.Dir.starts_with("tx-") || entry.Dir == "tx-cut") continue;  // a cut repeats bytes sent
    sent = Joined(sent, entry.Hex);
    acks += entry.Dir == "tx-ack" ? 1 : 0;
    if (entry.Dir == "tx-data") {
      dataBytes = (entry.Hex.size() + 1) / 3;
      dataEnd = sent.size();
    }
  }
  for (const TraceEvent& event : events) {
    if (event.Dir == "rx") received = Joined(received, ReceivedHex(event));
  }
  ASSERT_GT(dataBytes, 0u);
  EXPECT_EQ(sent.substr(0, received.size()), received);
  EXPECT_GE(received.size(), dataEnd) << "everything up to the end of the data block was read";

  // Names: each frame answers a poll and is answered by an acknowledgement;
  // the data block follows with its length and end.
  size_t namedAcks = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const TraceEvent& event = events[i];
    if (event.Name.starts_with("poll")) {
      EXPECT_EQ(event.Hex, "10 04 55 69");
    }
    if (event.Name == "ack") {
      EXPECT_EQ(event.Hex, "06");
      ++namedAcks;
    }
    if (event.Dir != "tx") continue;
    ASSERT_GE(i, 2u);
    EXPECT_EQ(events[i - 1].Name, "RTS on");
    EXPECT_EQ(events[i - 2].Name, "poll") << "the frame answers a poll";
    ASSERT_LT(i + 2, events.size());
    EXPECT_EQ(events[i + 1].Name, "RTS off");
    EXPECT_EQ(events[i + 2].Name, "ack");
  }
  EXPECT_EQ(namedAcks, acks);
  const std::string block = "data block of " + std::to_string(dataBytes) + " bytes, ended by silence";
  EXPECT_NE(std::find_if(events.begin(), events.end(), [&](const TraceEvent& e) { return e.Name == block; }),
            events.end())
      << block;
  const std::string last = FileLines(directory_ / "trace.log").back();
  EXPECT_TRUE(last.ends_with(" trace ended")) << last;
}

TEST_F(FieldTools, ScanListsExactlyTheSlavesThatAnswer) {
  auto sim = StartDevice({"3:slave", "17:slave", "200:slave"});
  auto low = Scan("low", {"--from", "1", "--to", "18"});
  EXPECT_EQ(low->WaitExit(), 0) << low->Err();
  EXPECT_EQ(low->Out(), "3\n17\n");
  EXPECT_NE(low->Err().find("no master polls on this line"), std::string::npos) << low->Err();
  auto high = Scan("high", {"--from=199", "--to=201"});
  EXPECT_EQ(high->WaitExit(), 0) << high->Err();
  EXPECT_EQ(high->Out(), "200\n");
  auto none = Scan("none", {"--from", "4", "--to", "6"});
  EXPECT_EQ(none->WaitExit(), 1) << none->Err();
  EXPECT_EQ(none->Out(), "");
  auto bad = Scan("bad", {"--from", "7", "--to", "6"});
  EXPECT_EQ(bad->WaitExit(), 2);
  EXPECT_EQ(Logged("rx").size(), 18u + 3u + 3u) << "one test frame per address, none for the bad range";
}

TEST_F(FieldTools, ScanReportsAMasterAndRefusesAPortTheProgramHolds) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"5:master", "3:slave"});
  auto scan = Scan("master", {"--from", "2", "--to", "6"});
  EXPECT_EQ(scan->WaitExit(), 0) << scan->Err();
  EXPECT_EQ(scan->Out(), "3\n5\n");
  EXPECT_NE(scan->Err().find("a master polls on this line"), std::string::npos) << scan->Err();
  const std::vector<SimLogEntry> log = SimulatorLog();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].Dir == "rx") {
      EXPECT_TRUE(i > 0 && log[i - 1].Dir == "tx-poll") << "a test frame answers a poll";
    }
  }

  auto program = StartProgramUntil("TERM 1 MASTER");
  auto held = Scan("held", {});
  EXPECT_EQ(held->WaitExit(), 2);
  EXPECT_EQ(held->Err(), "tarvion-scan: " + LinePath() +
                             ": in use by another program (a running Tarvion holds its ports while it runs)\n");
  EXPECT_EQ(held->Out(), "");
  auto missing = Run(TARVION_SCAN_EXE, "missing", {(directory_ / "no-line").string()});
  EXPECT_EQ(missing->WaitExit(), 2);
  EXPECT_EQ(missing->Err(), "tarvion-scan: " + (directory_ / "no-line").string() + ": no such device\n");
  EXPECT_TRUE(program->Running());
}

TEST_F(FieldTools, RequestClientGetsEachRequestItsOwnFinalStatus) {
  WriteConfig(FastConfig());
  auto sim = StartDevice({"1:slave"}, {"--no-pacing"});
  auto program = StartProgramUntil("TERM 1 SLAVE");

  auto write = Request("write", {PersonLine('Q', 1, false), PersonLine('Q', 2, true)});
  EXPECT_EQ(write->WaitExit(), 0) << write->Err();
  EXPECT_EQ(write->Err(), "3,0\n");  // the long line is two commands
  auto read = Request("read", {"P"}, {"--term", "1"});
  EXPECT_EQ(read->WaitExit(), 0) << read->Err();
  EXPECT_EQ(read->Out(), Printed(AnswerLine('Q', 1, false) + AnswerLine('Q', 2, true)));
  EXPECT_EQ(read->Err(), "1,3\n") << "not the 1,0 of the accepted TERM line";

  // A TERM line that names no available terminal: refused, nothing printed.
  auto refused = Request("refused", {"P"}, {"--term", "3"});
  EXPECT_EQ(refused->WaitExit(), 2);
  EXPECT_EQ(refused->Out(), "");
  EXPECT_EQ(refused->Err(), "-1,0\n");

  // Two at once: the second waits for the request name, and each gets the
  // result of its own job; an unacknowledged command shows in the exit status.
  const size_t mark = LogMark();
  auto first = Request("first", {"X1", "P"});
  auto second = Request("second", {"TERM1", "S", std::string(130, 'X')});
  EXPECT_EQ(first->WaitExit(), 0) << first->Err();
  EXPECT_EQ(first->Out(), Printed(AnswerLine('Q', 1, false) + AnswerLine('Q', 2, true)));
  EXPECT_EQ(first->Err(), "2,3\n");
  EXPECT_EQ(second->WaitExit(), 1) << second->Err();
  EXPECT_TRUE(second->Out().starts_with("S")) << second->Out();
  EXPECT_EQ(second->Err(), "1,1\n");
  EXPECT_EQ(CommandFrames(mark).size(), 3u);
  EXPECT_TRUE(program->Running());
}

// The site file as the package ships it: set in words, its comments kept,
// shown back, a refusal changes nothing, and the program started on it talks
// to the terminal set.
TEST_F(FieldTools, ConfigSetsInWordsKeepsTheCommentsAndTheProgramStartsOnIt) {
  const fs::path ini = directory_ / "tarvion.ini";
  auto missing = Config("missing", {"show"});
  EXPECT_EQ(missing->WaitExit(), 0) << missing->Err();
  EXPECT_NE(missing->Out().find(": no such file, every setting is its default\nterminal1.address=1 "), std::string::npos)
      << missing->Out();
  fs::copy_file(TARVION_SOURCE_DIR "/deploy/tarvion.ini", ini);
  const Lines shipped = FileLines(ini);

  auto set = Config("set", {"set", "terminal1.connected=no", "terminal2.address=7", "terminal2.port=COM1",
                            "terminal2.connected=yes", "tx-turnaround=1000", "rx-turnaround=1000", "COM1=" + LinePath()});
  EXPECT_EQ(set->WaitExit(), 0) << set->Err();
  EXPECT_NE(set->Out().find("sudo systemctl restart tarvion"), std::string::npos) << set->Out();
  const Lines written = FileLines(ini);
  for (const std::string& line : shipped) {
    if (line.starts_with(";")) {
      EXPECT_NE(std::find(written.begin(), written.end(), line), written.end()) << line;
    }
  }
  auto show = Config("show", {"show"});
  EXPECT_EQ(show->WaitExit(), 0) << show->Err();
  for (const std::string& value : Lines{"terminal1.connected=no", "terminal2.address=7", "terminal2.port=COM1",
                                   "terminal2.connected=yes", "tx-turnaround=1000", "baud=19200",
                                   "COM2=/dev/ttyS1 ", "COM1=" + LinePath() + " "}) {
    EXPECT_NE(show->Out().find("\n" + value), std::string::npos) << value << "\n" << show->Out();
  }

  const std::string before = ReadFile(ini);
  auto refused = Config("refused", {"set", "terminal2.address=256", "dinners=5", "baud=38400"});
  EXPECT_EQ(refused->WaitExit(), 2);
  EXPECT_NE(refused->Err().find("terminal2.address refused: Adresa terminálu 2: hodnota 256 je mimo povolený rozsah!"),
            std::string::npos)
      << refused->Err();
  EXPECT_NE(refused->Err().find("baud takes 1200, 2400, 4800, 9600 or 19200"), std::string::npos) << refused->Err();
  EXPECT_EQ(ReadFile(ini), before) << "nothing written";
  for (const Lines& bad : std::vector<Lines>{{}, {"--bogus", "show"}, {"show", "baud=9600"}, {"set"}, {"frob"},
                                             {"set", "speed=9600"}}) {
    auto usage = Config("usage", bad);
    EXPECT_EQ(usage->WaitExit(), 2) << (bad.empty() ? "" : bad[0]);
    EXPECT_NE(usage->Err().find("tarvion-config: "), std::string::npos);
  }
  EXPECT_EQ(ReadFile(ini), before);

  auto sim = StartDevice({"7:slave"});
  auto program = StartProgramUntil("TERM 2 SLAVE");
  EXPECT_FALSE(LogHas("TERM 1 SLAVE")) << ReadFile(Log());
  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitExit(), 0) << program->Err();
}

// The line check on simulated lines: a pseudo-terminal gives no false fault,
// a master is heard and the test bytes make no frame; noise on the line is a
// warning; the exit status follows the worst verdict, 2 for what cannot run.
TEST_F(FieldTools, CheckJudgesALineOfSimulatedTerminalsWithoutFalseFaults) {
  auto sim = StartDevice({"5:master", "3:slave"});
  auto check = Run(TARVION_SCAN_EXE, "check", {"--check", LinePath()});
  EXPECT_EQ(check->WaitExit(), 0) << check->Out() << check->Err();
  EXPECT_NE(check->Out().find("\ndriver   ok       pseudo-terminal: no modem lines, no counters\n"), std::string::npos)
      << check->Out();
  EXPECT_NE(check->Out().find("traffic  ok       a master polls"), std::string::npos) << check->Out();
  EXPECT_TRUE(check->Out().ends_with("\n" + LinePath() + ": ok\n")) << check->Out();
  EXPECT_TRUE(Logged("rx").empty()) << "the test bytes are no frame";
  EXPECT_EQ(Logged("bad").front(), "FF FF");
  auto json = Run(TARVION_SCAN_EXE, "json", {"--check", LinePath(), "--json", "--turnaround=2000"});
  EXPECT_EQ(json->WaitExit(), 0) << json->Err();
  EXPECT_TRUE(json->Out().starts_with("{\n  \"device\": \"" + LinePath() + "\",\n")) << json->Out();
  EXPECT_NE(json->Out().find("\"verdict\": \"ok\",\n"), std::string::npos) << json->Out();
  EXPECT_NE(json->Out().find("\"rx_turnaround_us\": 2000,"), std::string::npos) << json->Out();
  sim->Signal(SIGTERM);
  ASSERT_EQ(sim->WaitExit(), 0);

  auto noisy = StartDevice({"3:slave"}, {"--noise-ms", "5"});
  // Its "ready" may be the first simulator's still: the link says it.
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(LinePath()); }, kProcessTimeout));
  auto warned = Run(TARVION_SCAN_EXE, "warned", {"--check", LinePath()});
  EXPECT_EQ(warned->WaitExit(), 1) << warned->Out() << warned->Err();
  EXPECT_NE(warned->Out().find("traffic  warning  "), std::string::npos) << warned->Out();
  EXPECT_NE(warned->Out().find(": warning (1 warning, 0 faults)\n"), std::string::npos) << warned->Out();

  const std::vector<std::pair<Lines, std::string>> refused = {
      {{"--check"}, "no DEVICE given"},
      {{"--check", LinePath(), "--from", "3"}, "--from and --to are for the scan"},
      {{LinePath(), "--json"}, "--json goes with --check"},
      {{"--check", (directory_ / "no-line").string()}, (directory_ / "no-line").string() + ": no such device"},
  };
  for (const auto& [arguments, message] : refused) {
    auto bad = Run(TARVION_SCAN_EXE, "bad", arguments);
    EXPECT_EQ(bad->WaitExit(), 2) << arguments[0];
    EXPECT_NE(bad->Err().find(message), std::string::npos) << bad->Err();
    EXPECT_EQ(bad->Out(), "");
  }
}
