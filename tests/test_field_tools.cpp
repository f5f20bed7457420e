// The field tools against the real processes: the program's command line, its
// wire trace of a request compared with what the simulated terminal logged,
// its capture read by tshark with the shipped dissector, tarvion-scan on
// lines of simulated terminals and on a port the running program holds,
// tarvion-request handing requests to the running program, and
// tarvion-config setting the file the program then starts on.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
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

std::string Joined(const std::string& a, const std::string& b) { return a.empty() || b.empty() ? a + b : a + " " + b; }

// How a frame written is described: address, length, command letter, checksum.
std::string FrameDescription(const std::string& hex) {
  const int address = std::stoi(hex.substr(0, 2), nullptr, 16);
  const int length = std::stoi(hex.substr(3, 2), nullptr, 16);
  const char letter = static_cast<char>(std::stoi(hex.substr(6, 2), nullptr, 16));
  return "address " + std::to_string(address) + ", length " + std::to_string(length) + ", command '" + letter +
         "', checksum ok";
}

// The program tshark from PATH; empty when it is not installed.
std::string TsharkPath() {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path candidate = fs::path(folder) / "tshark";
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return "";
}

// What tshark decodes of one packet of a capture with the dissector.
struct CapturedPacket {
  std::string Direction, Com, Kind, Hex, Address, Length, Command, ChecksumOk, Person, Name, Credit, Line;
  double Time = 0;
};

// The fields asked of tshark, in the order of CapturedPacket.
const Lines kCaptureFields = {"frame.packet_flags_direction", "tarvion.com", "tarvion.kind", "tarvion.bytes",
                              "tarvion.frame.address", "tarvion.frame.length", "tarvion.frame.command",
                              "tarvion.frame.checksum_ok", "tarvion.person.number", "tarvion.person.name",
                              "tarvion.person.credit", "tarvion.line", "frame.time_epoch"};

CapturedPacket PacketOf(const std::string& line) {
  std::vector<std::string> field;
  std::istringstream in(line);
  for (std::string value; std::getline(in, value, '|');) field.push_back(value);
  field.resize(kCaptureFields.size());
  for (char& c : field[3]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));  // as logged
  return {field[0], field[1], field[2], field[3], field[4], field[5], field[6], field[7], field[8], field[9],
          field[10], field[11], field[12].empty() ? 0 : std::stod(field[12])};
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
  EXPECT_NE(help->Out().find("--capture FILE"), std::string::npos) << help->Out();

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
      {{"--capture", (directory_ / "no-such-dir" / "line.pcapng").string()}, "the capture file"},
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
  ASSERT_TRUE(HandInRequest(RequestBytes(request), "4,3"));
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

  // What was received is what the terminal sent, in order, each read's
  // bytes as they were sent; only what a flush dropped before the PC
  // listened (polls nobody read) is missing. The data block came whole.
  std::string sent, dataBlock;
  size_t acks = 0;
  for (const SimLogLine& entry : SimulatorLog()) {
    if (!entry.Dir.starts_with("tx-") || entry.Dir == "tx-cut") continue;  // a cut repeats bytes sent
    sent = Joined(sent, entry.Hex);
    acks += entry.Dir == "tx-ack" ? 1 : 0;
    if (entry.Dir == "tx-data") dataBlock = entry.Hex;
  }
  ASSERT_FALSE(dataBlock.empty());
  std::string received;
  size_t at = 0;
  for (const TraceEvent& event : events) {
    if (event.Dir != "rx") continue;
    const std::string& hex = event.Hex;
    const size_t found = sent.find(hex, at);
    ASSERT_NE(found, std::string::npos) << "received, not sent there: " << hex;
    at = found + hex.size();
    received = Joined(received, hex);
  }
  EXPECT_NE(received.find(dataBlock), std::string::npos) << "the data block was read whole";

  // Names: each frame answers a poll and is answered by an acknowledgement;
  // the data block follows with its length and end.
  size_t namedAcks = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const TraceEvent& event = events[i];
    if (event.Name == "poll") {
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
  const std::string block = "data block of " + std::to_string((dataBlock.size() + 1) / 3) + " bytes, ended by silence";
  EXPECT_NE(std::find_if(events.begin(), events.end(), [&](const TraceEvent& e) { return e.Name == block; }),
            events.end())
      << block;
  const std::string last = FileLines(directory_ / "trace.log").back();
  EXPECT_TRUE(last.ends_with(" trace ended")) << last;
}

TEST_F(FieldTools, CaptureReadByTsharkWithTheDissectorShowsWhatTheTerminalsLogged) {
  const std::string tshark = TsharkPath();
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it): no capture read";
  // Terminal 1 on COM1 takes a person and answers P; terminal 2 on COM2
  // refuses every frame with a NAK and sends a damaged poll before each poll.
  StoredConfig config = FastConfig();
  config.Block.Terminals[1] = TerminalEntry{2, 1, true};
  WriteConfig(config, {{2, LinePath("sim2")}});
  auto sim = StartDevice({"1:master"});
  auto sim2 = StartDevice({"2:master"}, {"--nak", "--bad-poll"}, "sim2");
  const double start = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  auto program = StartProgramUntil("TERM 2 MASTER", {"--capture", "line.pcapng"});
  ASSERT_TRUE(HandInRequest(RequestBytes({"TERM1", PersonLine('Q', 1, false), "P"}), "2,1"));
  ASSERT_TRUE(HandInRequest(RequestBytes({"TERM2", "S"}), "0,0"));
  program->Signal(SIGTERM);
  ASSERT_EQ(program->WaitExit(), 0) << program->Err();
  const double end = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();

  Lines arguments{tshark, "-X", "lua_script:" TARVION_DISSECTOR, "-r", "line.pcapng", "-T", "fields",
                  "-E", "separator=|", "-E", "occurrence=a", "-E", "aggregator=/"};
  for (const std::string& field : kCaptureFields) arguments.insert(arguments.end(), {"-e", field});
  Process reader(arguments, directory_, "tshark", {{"HOME", directory_.string()}});  // no personal plugins
  ASSERT_EQ(reader.WaitExit(), 0) << reader.Err();
  std::map<std::string, std::vector<CapturedPacket>> byKind;  // "COM kind"
  for (const std::string& line : FileLines(directory_ / "tshark.out")) {
    const CapturedPacket packet = PacketOf(line);
    EXPECT_TRUE(packet.Time >= start && packet.Time <= end) << std::fixed << packet.Time << ": " << line;
    const bool outbound = packet.Kind == "1" || packet.Kind == "2" || packet.Kind == "3";
    if (packet.Kind != "9") {
      EXPECT_EQ(packet.Direction, outbound ? "0x00000002" : "0x00000001") << line;
    }
    byKind[packet.Com + " " + packet.Kind].push_back(packet);
  }

  // The frames each terminal received, as sent and described; each answered.
  for (const auto& [com, log] : {std::pair{"1", "sim"}, std::pair{"2", "sim2"}}) {
    Lines frames;
    for (const CapturedPacket& frame : byKind[std::string(com) + " 1"]) {
      frames.push_back(frame.Hex);
      EXPECT_EQ(frame.Address, std::to_string(std::stoi(frame.Hex.substr(0, 2), nullptr, 16)));
      EXPECT_EQ(frame.Length, std::to_string(std::stoi(frame.Hex.substr(3, 2), nullptr, 16)));
      EXPECT_EQ(frame.Command, std::string(1, static_cast<char>(std::stoi(frame.Hex.substr(6, 2), nullptr, 16))));
      EXPECT_EQ(frame.ChecksumOk, "1") << frame.Hex;
    }
    EXPECT_EQ(frames, SimulatorFrames(log)) << "COM" << com;
  }
  const auto logged = [this](const std::string& log, const std::string& dir) {
    Lines hex;
    for (const SimLogLine& entry : SimulatorLog(log)) {
      if (entry.Dir == dir) hex.push_back(entry.Hex);
    }
    return hex;
  };
  EXPECT_EQ(byKind["1 5"].size(), logged("sim", "tx-ack").size());
  EXPECT_EQ(byKind["2 6"].size(), logged("sim2", "tx-nak").size());
  EXPECT_EQ(byKind["2 6"].size(), 1u) << "the S refused";
  EXPECT_TRUE(byKind["2 5"].empty()) << "terminal 2 acknowledges nothing";

  // The person as the request line had it, and the data block as the
  // terminal sent it, decoded into the answer line the program writes.
  const auto person = std::find_if(byKind["1 1"].begin(), byKind["1 1"].end(),
                                   [](const CapturedPacket& p) { return !p.Person.empty(); });
  ASSERT_NE(person, byKind["1 1"].end());
  EXPECT_EQ(person->Command, "X");
  EXPECT_EQ(person->Person, "1");
  EXPECT_EQ(person->Name, "NOVAK JAN");
  EXPECT_EQ(person->Credit, "150");
  ASSERT_EQ(byKind["1 7"].size(), 1u);
  EXPECT_EQ(byKind["1 7"][0].Hex, logged("sim", "tx-data").at(0));
  const std::string answer = AnswerLine('Q', 1, false);
  EXPECT_EQ(byKind["1 7"][0].Line, answer.substr(0, answer.size() - 2));

  // The damaged polls the PC read: other bytes, a frame with a wrong
  // checksum, as terminal 2 sent them; the polls are frames with a right
  // one. One that waited while nobody listened is read away by a flush,
  // together with the polls around it, and shows among the flushed bytes.
  const Lines badPolls = logged("sim2", "tx-bad-poll");
  ASSERT_FALSE(badPolls.empty());
  size_t damaged = 0;
  const auto decodedAsDamaged = [&](const CapturedPacket& packet) {
    if (packet.Hex != badPolls.front()) return;
    EXPECT_EQ(packet.Address, "16");
    EXPECT_EQ(packet.Command, "U");
    EXPECT_EQ(packet.ChecksumOk, "0");
    ++damaged;
  };
  for (const CapturedPacket& other : byKind["2 8"]) {
    // Nothing else came on COM2 while the PC listened; a group's end may cut one.
    EXPECT_NE(badPolls.front().find(other.Hex), std::string::npos) << other.Hex;
    decodedAsDamaged(other);
  }
  size_t flushedDamaged = 0;
  for (const CapturedPacket& flushed : byKind["2 10"]) {
    decodedAsDamaged(flushed);
    if (flushed.Hex.find(badPolls.front()) != std::string::npos) ++flushedDamaged;
  }
  EXPECT_GE(damaged + flushedDamaged, 1u);
  EXPECT_LE(damaged, badPolls.size());
  ASSERT_FALSE(byKind["2 4"].empty());
  for (const CapturedPacket& poll : byKind["2 4"]) EXPECT_EQ(poll.ChecksumOk, "1");
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
  const std::vector<SimLogLine> log = SimulatorLog();
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

// A client that runs late (stopped here while the test, in Tarvion's place,
// ends its job and runs the next one) never takes the next job's pair or
// lines for its own: its job ended, its pair is not known.
TEST_F(FieldTools, RequestClientRunningLateNeverPrintsALaterJobsResult) {
  const auto replace = [this](const std::string& name, const std::string& content) {
    std::ofstream(directory_ / ("." + name + ".tmp"), std::ios::binary) << content;
    fs::rename(directory_ / ("." + name + ".tmp"), directory_ / name);
  };
  const auto job = [&](const std::string& line, const std::string& pair) {
    fs::rename(directory_ / "request.cfg", directory_ / "request.cfg.prevzato");
    replace("output.txt", line + "\r\n");
    replace("rudazo.sta", pair + "\r\n");
    fs::remove(directory_ / "request.cfg.prevzato");
  };
  auto late = Request("late", {"P"});
  ASSERT_TRUE(WaitUntil([this] { return fs::exists(directory_ / "request.cfg"); }, kProcessTimeout));
  late->Signal(SIGSTOP);
  const auto stopped = [&late] {
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(late->Pid()) + "/stat"), stat);
    const size_t name = stat.rfind(')');
    return name != std::string::npos && stat.size() > name + 2 && stat[name + 2] == 'T';
  };
  ASSERT_TRUE(WaitUntil(stopped, kProcessTimeout));
  job("OUR LINE", "1,1");
  std::ofstream(directory_ / "request.cfg", std::ios::binary) << "P\r\n";
  job("THEIR LINE", "1,9");
  late->Signal(SIGCONT);
  EXPECT_EQ(late->WaitExit(), 5) << late->Err();
  EXPECT_EQ(late->Out(), "");
  EXPECT_NE(late->Err().find("its pair and output are not known"), std::string::npos) << late->Err();
  EXPECT_EQ(late->Err().find("1,9"), std::string::npos) << late->Err();
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
  // The devices the service waits for: those of the connected terminals only.
  auto devices = Config("devices", {"devices"});
  EXPECT_EQ(devices->WaitExit(), 0) << devices->Err();
  EXPECT_EQ(devices->Out(), LinePath() + "\n");

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
