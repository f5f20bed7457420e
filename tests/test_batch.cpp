// Request processing end to end against simulated terminals: a fake main
// window records what the jobs show, the simulator's log shows what reached
// the line, and the output, status and error-log files are read back.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "link/Coding.h"
#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "requests/ClockLine.h"
#include "requests/RequestProcessor.h"
#include "requests/RequestTakeIn.h"
#include "support/LinkFixture.h"
#include "support/PersonLines.h"
#include "support/RecordingClock.h"

namespace {

using std::chrono::milliseconds;
using Lines = std::vector<std::string>;
using Pauses = std::vector<long>;

int CurrentNice() {
  errno = 0;
  return getpriority(PRIO_PROCESS, 0);
}

// The main window as request processing shows to it, recording everything.
class FakeWindow : public JobObserver, public LinkDisplay {
 public:
  void PanelChanged(int panel, const std::string& text) override {
    Panels[panel].push_back(text);
    if (OnPanel) OnPanel(panel, text);
  }
  void TerminalSelected(int t) override { Selections.push_back(t); }
  void ProgressShown(const std::string& title, const std::string& text) override {
    Balloons.push_back(title + " " + text);
  }
  void ProgressEnded() override { Balloons.push_back("hidden"); }
  void TrayImageChanged(int image) override { TrayImages.push_back(image); }
  void ResultListCleared() override { Memo.clear(); }
  void AnswerLinesAdded(const Lines& lines) override { Memo.insert(Memo.end(), lines.begin(), lines.end()); }
  void BatchStarted() override {
    Watcher.push_back("pause");
    if (OnPause) OnPause();
  }
  void BatchEnded() override { Watcher.push_back("resume"); }

  // ExecuteLine empties panel 3 in the middle of the exchange, which is where
  // window events can arrive.
  void SetLoadedPanel(const std::string&) override {
    NiceDuringExchange.push_back(CurrentNice());
    if (DuringExchange) DuringExchange();
  }
  CursorShape Cursor() const override { return CursorShape::Default; }
  void SetCursor(CursorShape) override {}
  void ShowCapacityMessage() override {}

  std::map<int, Lines> Panels;
  Lines Balloons, Memo, Watcher;
  std::vector<int> TrayImages, NiceDuringExchange, Selections;
  std::function<void()> OnPause, DuringExchange;
  std::function<void(int, const std::string&)> OnPanel;
};

class Batch : public LinkFixture {
 protected:
  void SetUp() override {
    LinkFixture::SetUp();
    Settings().TxTurnaroundUs = 100;
    Settings().RxTurnaroundUs = 100;
    send_ = {1, true, false};
    processor_.SelectTerminal(0);
  }

  // Terminals 1..count at bus addresses 1..count, tested.
  void StartTerminals(int count, SimOptions options = {}, bool master = false) {
    options.Pacing = false;
    std::vector<SimTerminalSpec> specs;
    for (int a = 1; a <= count; ++a) specs.push_back({a, master});
    StartLine(specs, options);
    for (int a = 1; a <= count; ++a) ASSERT_TRUE(Place(a).TestLink());
  }

  TOrveta& Place(int n) {
    TOrveta& terminal = processor_.PutTerminal(n - 1, std::make_unique<TOrveta>(port_.get(), n));
    terminal.Display = &window_;
    return terminal;
  }
  // Every pause of the link and the batch, in order, since the last clear.
  Pauses Paused() const { return clock_.Pauses(); }

  std::string Path(const std::string& name) const { return directory_ + "/" + name; }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  JobResult Request(const std::string& bytes) {
    Write("request.cfg", bytes);
    return processor_.ProcessRequestFile(Path("request.cfg"));
  }

  // "address:payload" of every frame the line received since MarkLine.
  void MarkLine() { mark_ = Logged("rx").size(); }
  Lines Frames() const {
    const std::vector<SimLogLine> received = LinesOfKind(ParseSimLog(sim_->LogLines()), "rx");
    Lines frames;
    for (size_t i = mark_; i < received.size(); ++i) frames.push_back(CommandOf(received[i].Hex));
    return frames;
  }

  RecordingClock clock_;
  ClockInUse clockInUse_{clock_};
  FakeWindow window_;
  RequestProcessor processor_{window_};
  JobSettings& send_ = processor_.Controls();
  size_t mark_ = 0;
};

}  // namespace

TEST_F(Batch, TerminalLineSelectsTheTerminalForThisAndLaterRequests) {
  StartTerminals(3);
  std::string statusWhenSending;
  window_.OnPause = [&] { statusWhenSending = Read("rudazo.sta"); };
  MarkLine();
  ASSERT_EQ(Request("TERM2\r\nX1\r\n"), JobResult::Done);
  EXPECT_FALSE(std::filesystem::exists(Path("request.cfg")));
  EXPECT_EQ(processor_.SelectedTerminal(), 1);
  EXPECT_EQ(statusWhenSending, "1,0\r\n");
  EXPECT_EQ(window_.Panels[1], (Lines{"", "1,0", "1,0"}));
  EXPECT_EQ(Read("rudazo.sta"), "1,0\r\n");
  EXPECT_EQ(Frames(), Lines{"2:X1"});
  EXPECT_EQ(window_.TrayImages, (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(processor_.RequestLines(), Lines{"X1"});

  // Without a terminal line the selection stays; "term2" and a later TERM3
  // are commands.
  MarkLine();
  ASSERT_EQ(Request("term2\r\nTERM3\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), (Lines{"2:term2", "2:TERM3"}));
  EXPECT_EQ(Read("rudazo.sta"), "2,0\r\n");

  MarkLine();
  ASSERT_EQ(Request("TERM 3\r\nX3"), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"3:X3"});

  // Naming no available terminal: -1,0, nothing sent or written, selection
  // kept, tray icon left at image 1.
  Write("output.txt", "earlier\r\n");
  for (const char* line : {"TERM", "TERM4", "TERM-2", "TERM 99999999999"}) {
    MarkLine();
    window_.TrayImages.clear();
    ASSERT_EQ(Request(std::string(line) + "\r\nX9\r\n"), JobResult::Done) << line;
    EXPECT_EQ(Read("rudazo.sta"), "-1,0\r\n") << line;
    EXPECT_TRUE(Frames().empty()) << line;
    EXPECT_EQ(processor_.SelectedTerminal(), 2) << line;
    EXPECT_EQ(window_.TrayImages, std::vector<int>{1}) << line;
  }
  EXPECT_EQ(Read("output.txt"), "earlier\r\n");
}

TEST_F(Batch, EmptyOrUnreadableRequests) {
  StartTerminals(1);
  Write("output.txt", "earlier\r\n");
  MarkLine();
  ASSERT_EQ(Request(""), JobResult::Done);
  EXPECT_EQ(Read("rudazo.sta"), "-1,-1\r\n");
  EXPECT_FALSE(std::filesystem::exists(Path("request.cfg")));
  EXPECT_EQ(Read("output.txt"), "earlier\r\n");
  EXPECT_EQ(window_.TrayImages, (std::vector<int>{1, 0}));
  EXPECT_TRUE(window_.Watcher.empty());

  // Larger than any terminal takes: not read, kept aside, reported as empty.
  const std::string huge(MaxRequestFileBytes(Settings().Capacity) + 1, 'X');
  ASSERT_EQ(Request(huge), JobResult::Done);
  EXPECT_EQ(Read("rudazo.sta"), "-1,-1\r\n");
  EXPECT_EQ(Read("request.cfg.odmitnuto"), huge);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(window_.TrayImages, (std::vector<int>{1, 0, 1, 0}));

  // Vanished: nothing changes.
  EXPECT_EQ(processor_.ProcessRequestFile(Path("request.cfg")), JobResult::FileUnreadable);
  EXPECT_EQ(window_.TrayImages.size(), 4u);

  // Still locked by its writer: left in place and taken in at a later check.
  Write("request.cfg", "X1\r\n");
  const int writer = open(Path("request.cfg").c_str(), O_WRONLY);
  ASSERT_EQ(flock(writer, LOCK_EX), 0);
  EXPECT_EQ(processor_.ProcessRequestFile(Path("request.cfg")), JobResult::FileUnreadable);
  EXPECT_TRUE(std::filesystem::exists(Path("request.cfg")));
  close(writer);
  EXPECT_EQ(processor_.ProcessRequestFile(Path("request.cfg")), JobResult::Done);
  EXPECT_FALSE(std::filesystem::exists(Path("request.cfg")));
  EXPECT_EQ(Frames(), Lines{"1:X1"});

  // Cut short by its writer after the watcher judged it settled (the writer
  // truncates, then writes the new request): the empty file in between is
  // not taken in, and the request written afterwards is.
  Write("request.cfg", "X2\r\n");
  const FileSighting settled = LookUpRequestFile(Path("request.cfg"));
  const int rewriter = open(Path("request.cfg").c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(rewriter, 0);
  EXPECT_EQ(processor_.ProcessRequestFile(Path("request.cfg"), settled), JobResult::FileUnreadable);
  EXPECT_TRUE(std::filesystem::exists(Path("request.cfg")));
  ASSERT_EQ(write(rewriter, "X3\r\n", 4), 4);
  close(rewriter);
  EXPECT_EQ(processor_.ProcessRequestFile(Path("request.cfg"), LookUpRequestFile(Path("request.cfg"))),
            JobResult::Done);
  EXPECT_EQ(Frames(), (Lines{"1:X1", "1:X3"}));
}

TEST_F(Batch, RecordsWithLongLinesAreWrittenAndReadBack) {
  StartTerminals(1);
  std::string outputWhenReported;
  window_.OnPanel = [&](int panel, const std::string& text) {
    if (panel == 1 && !text.empty()) outputWhenReported = Read("output.txt");
  };
  const std::string q119 = PersonLine('Q', 12, true), r112 = PersonLine('R', 3, true);
  ASSERT_EQ(q119.size(), 119u);
  ASSERT_EQ(r112.size(), 112u);
  MarkLine();
  ASSERT_EQ(Request(PersonLine('Q', 40, false) + "\r\n" + q119 + "\r\n" + r112 + "\r\n" + PersonLine('R', 7, false) +
                    "\r\nP\r\n"),
            JobResult::Done);
  const Lines frames = Frames();
  ASSERT_EQ(frames.size(), 7u);
  EXPECT_EQ(frames[2].substr(0, 3), "1:q");  // the continuations of the long lines
  EXPECT_EQ(frames[4].substr(0, 3), "1:r");
  const std::string output = AnswerLine('R', 3, true) + AnswerLine('R', 7, false) + AnswerLine('Q', 12, true) +
                             AnswerLine('Q', 40, false);
  EXPECT_EQ(Read("output.txt"), output);
  EXPECT_EQ(outputWhenReported, output);  // complete before the status is reported
  EXPECT_EQ(Read("rudazo.sta"), "7,6\r\n");  // seven commands; six records with the continuations
}

TEST_F(Batch, AcknowledgedCommandsProgressAndPauses) {
  StartTerminals(1);
  send_.RaisePriority = true;
  const int nice = CurrentNice();
  MarkLine();
  ASSERT_EQ(Request("X1\r\nX2\r\nX3\r\nX4\r\nX5\r\n"), JobResult::Done);
  EXPECT_EQ(Frames().size(), 5u);
  EXPECT_EQ(Read("rudazo.sta"), "5,0\r\n");
  EXPECT_TRUE(std::filesystem::exists(Path("output.txt")));
  EXPECT_EQ(std::filesystem::file_size(Path("output.txt")), 0u);
  EXPECT_EQ(window_.Panels[9], (Lines{"1/5", "2/5", "3/5", "4/5", "5/5", ""}));
  EXPECT_EQ(window_.Balloons, (Lines{"Odesílání 1/5", "Odesílání 2/5", "Odesílání 3/5", "Odesílání 4/5",
                                     "Odesílání 5/5", "hidden"}));
  EXPECT_EQ(window_.Watcher, (Lines{"pause", "resume"}));
  EXPECT_EQ(Paused(), (Pauses{25, 25, 25, 25, 25, 1500}));  // slave pauses, then the refresh
  EXPECT_EQ(processor_.Indicator(0), TerminalIndicator::Cyan);
  // Raised during each exchange where the process may raise it; restored after.
  const bool mayRaise = setpriority(PRIO_PROCESS, 0, -10) == 0;
  setpriority(PRIO_PROCESS, 0, nice);
  EXPECT_EQ(window_.NiceDuringExchange, std::vector<int>(5, mayRaise ? -10 : nice));
  EXPECT_EQ(CurrentNice(), nice);

  // An empty line is not sent but counts in the progress and gets its pause.
  window_.Panels.clear();
  clock_.Clear();
  MarkLine();
  ASSERT_EQ(Request("X1\r\n\r\nX3"), JobResult::Done);
  EXPECT_EQ(Frames(), (Lines{"1:X1", "1:X3"}));
  EXPECT_EQ(window_.Panels[9], (Lines{"1/3", "2/3", "3/3", ""}));
  EXPECT_EQ(Paused(), (Pauses{25, 25, 25, 1500}));
}

TEST_F(Batch, MasterTerminalPausesAreShorter) {
  StartTerminals(1, {}, true);
  MarkLine();
  ASSERT_EQ(Request(PersonLine('R', 5, true)), JobResult::Done);
  EXPECT_EQ(Frames().size(), 2u);
  // after each acknowledged command, between the two commands, after the line
  EXPECT_EQ(Paused(), (Pauses{300, 5, 300, 2, 1500}));
  EXPECT_EQ(processor_.Indicator(0), TerminalIndicator::Green);
}

TEST_F(Batch, UnacknowledgedLinesAreTriedAgain) {
  SimOptions options;
  options.Pacing = false;
  options.NoAck = 1000;
  StartLine({{1, false}}, options);
  Place(1).Slave = true;  // as found by an earlier link test
  send_ = {3, true, false};
  MarkLine();
  clock_.Clear();
  ASSERT_EQ(Request("X1\r\nX2\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), (Lines{"1:X1", "1:X1", "1:X1"}));
  EXPECT_EQ(Paused(), (Pauses{100, 100, 100, 1500}));  // after each failed attempt, then the refresh
  EXPECT_EQ(window_.Panels[5], (Lines{"", "1", "2", "3"}));
  EXPECT_EQ(window_.Panels[9], Lines{""});  // the failed line's progress is not shown
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");

  // One attempt, no stop: every line once. A long line whose record fails
  // does not send its continuation.
  send_ = {1, false, false};
  clock_.Clear();
  MarkLine();
  ASSERT_EQ(Request(PersonLine('R', 5, true) + "\r\nX2\r\n"), JobResult::Done);
  const Lines frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1], "1:X2");
  EXPECT_EQ(Paused(), (Pauses{100, 30, 25, 100, 25, 1500}));

  // A close accepted during the first attempt: no further attempt starts,
  // so a stop never waits for the repeats of a failing line.
  send_ = {3, true, false};
  window_.DuringExchange = [&] { processor_.ShutDown(); };
  MarkLine();
  ASSERT_EQ(Request("X1\r\nX2\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"1:X1"});
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");
}

TEST_F(Batch, ShortDataAnswerIsReceivedAgain) {
  SimOptions options;
  options.ShortAnswer = 1;
  StartTerminals(1, options);
  send_ = {3, true, false};
  MarkLine();
  std::vector<LogEntry> entries;
  SetLogEntryWriter([&](const LogEntry& entry) {
    entries.push_back(entry);
    return true;
  });
  ASSERT_EQ(Request(PersonLine('R', 8, false) + "\r\nP\r\n"), JobResult::Done);
  SetLogEntryWriter(nullptr);
  const Lines frames = Frames();
  EXPECT_EQ(Lines(frames.begin() + 1, frames.end()), (Lines{"1:P", "1:P"}));
  EXPECT_EQ(window_.Panels[7], (Lines{"", "2"}));
  EXPECT_EQ(Read("output.txt"), AnswerLine('R', 8, false));  // from the second answer only
  EXPECT_EQ(Read("rudazo.sta"), "2,1\r\n");                  // the P line counted once
  EXPECT_NE(Read("errorlog.txt").find("R,Z chybne nacteno: 23 byte"), std::string::npos);
  // The journal's entry names the batch's terminal and its port.
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Utf8Line, "R,Z chybne nacteno: 23 byte");
  EXPECT_EQ(entries[0].Terminal, 1);
  EXPECT_EQ(entries[0].Tag.Port, processor_.Terminal(0)->Port->PortIndex + 1);
  EXPECT_STREQ(entries[0].Tag.Event, "answer");
  // The counts for the metrics: one repeat, the record of the whole answer
  // alone, three acknowledgements, one job done with its pair.
  const JobCounts& counts = processor_.Counts();
  EXPECT_EQ(counts.Terminals[0].ReceiveRepeats, 1u);
  EXPECT_EQ(counts.Terminals[0].RecordsReceived, 1u);
  EXPECT_EQ(processor_.Terminal(0)->Counts.Acknowledged, 3u);
  EXPECT_EQ(counts.Jobs[static_cast<size_t>(JobOutcome::Done)], 1u);
  ASSERT_TRUE(counts.Last);
  EXPECT_EQ(std::pair(counts.Last->First, counts.Last->Second), std::pair(2, 1));

  // A command that itself starts with 'E' is no receive repeat.
  window_.Panels.clear();
  MarkLine();
  ASSERT_EQ(Request("E1\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"1:E1"});
  EXPECT_EQ(Read("rudazo.sta"), "1,0\r\n");
}

// An answer larger than the capacity fails its line at once (a repeat would
// only overflow again) and is not counted; the batch goes on as after any
// failed line.
TEST_F(Batch, OverflowingDataAnswerFailsTheLineWithoutRepeats) {
  Settings().AnswerBufferSize = 24;  // one person; the terminal will hold two
  StartTerminals(1);
  send_ = {3, false, false};
  MarkLine();
  ASSERT_EQ(Request(PersonLine('R', 8, false) + "\r\n" + PersonLine('R', 9, false) + "\r\nP\r\nX1\r\n"),
            JobResult::Done);
  const Lines frames = Frames();
  EXPECT_EQ(Lines(frames.begin() + 2, frames.end()), (Lines{"1:P", "1:X1"}));
  EXPECT_EQ(Read("rudazo.sta"), "3,0\r\n");
  EXPECT_EQ(Read("output.txt"), "");
  EXPECT_NE(Read("errorlog.txt").find(Cp1250FromUtf8(" - Překročena kapacita paměti!!!")), std::string::npos)
      << Read("errorlog.txt");
}

TEST_F(Batch, RefusedLinesAreLoggedAndCountAsFailed) {
  StartTerminals(1);
  const std::string tooLong = "Q" + std::string(119, '1'), longT = "T" + std::string(99, '2');
  send_ = {2, false, false};
  MarkLine();
  ASSERT_EQ(Request(tooLong + "\r\n" + longT + "\r\nX1\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"1:X1"});
  EXPECT_EQ(Read("rudazo.sta"), "1,0\r\n");
  const std::string log = Read("errorlog.txt");
  EXPECT_NE(log.find(" - Radek nelze odeslat: Q1111111111111111111... (120 znaku)\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - Radek nelze odeslat: T2222222222222222222... (100 znaku)\r\n"), std::string::npos) << log;

  send_.StopOnFailure = true;
  MarkLine();
  ASSERT_EQ(Request(longT + "\r\nX1\r\n"), JobResult::Done);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");
}

TEST_F(Batch, ZeroMealCountEndsTheBatchInOrder) {
  StartTerminals(1);
  Settings().BreakfastCount = 0;
  std::string message;
  try {
    EncodeMeal(0, '1', 1, CodingSettingsOf(Settings()));
  } catch (const EDivByZero& error) {
    message = error.what();
  }
  ASSERT_FALSE(message.empty());
  Write("output.txt", "earlier\r\n");
  MarkLine();
  ASSERT_EQ(Request("X1\r\n" + PersonLine('Q', 4, false) + "\r\nX2\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"1:X1"});
  EXPECT_NE(Read("errorlog.txt").find(" - " + Cp1250FromUtf8(message) + "\r\n"), std::string::npos);
  EXPECT_EQ(Read("output.txt"), "");
  EXPECT_EQ(Read("rudazo.sta"), "1,0\r\n");
  EXPECT_EQ(window_.Watcher, (Lines{"pause", "resume"}));
  EXPECT_EQ(window_.Panels[9], (Lines{"1/3", ""}));
  EXPECT_EQ(window_.Balloons.back(), "hidden");
  EXPECT_FALSE(processor_.Busy());
}

TEST_F(Batch, NothingExecutedReportsNoRecords) {
  StartTerminals(1);
  ASSERT_EQ(Request(PersonLine('R', 1, false) + "\r\nP"), JobResult::Done);
  ASSERT_EQ(Read("rudazo.sta"), "2,1\r\n");
  ASSERT_EQ(Request("\r\n\r\n"), JobResult::Done);  // only empty lines
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");

  // Not connected at its last test: nothing sent, output empty, no records.
  ASSERT_EQ(Request("P"), JobResult::Done);
  processor_.Terminal(0)->Slave = false;
  processor_.SetIndicator(0, TerminalIndicator::White);  // so the refresh makes no test either
  MarkLine();
  ASSERT_EQ(Request("P"), JobResult::Done);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");
  EXPECT_EQ(Read("output.txt"), "");

  processor_.SelectTerminal(3);  // not available
  ASSERT_EQ(Request("P"), JobResult::Done);
  EXPECT_EQ(Read("rudazo.sta"), "-1,-1\r\n");
}

TEST_F(Batch, OneExchangeAtATime) {
  StartTerminals(1);
  std::vector<JobResult> refused;
  window_.DuringExchange = [&] {
    EXPECT_TRUE(processor_.Busy());
    Write("request.cfg", "X9\r\n");
    refused.push_back(processor_.ProcessRequestFile(Path("request.cfg")));
    refused.push_back(processor_.SendTypedLine("X8"));
    refused.push_back(processor_.SetClock(LocalTimeNow()));
    refused.push_back(processor_.SendCommandFile(Path("request.cfg")));
    EXPECT_FALSE(processor_.TryExchange([] { ADD_FAILURE() << "ran during an exchange"; }));
    window_.DuringExchange = nullptr;
  };
  MarkLine();
  ASSERT_EQ(processor_.SendTypedLine("X1"), JobResult::Done);
  EXPECT_EQ(refused, std::vector<JobResult>(4, JobResult::Busy));
  EXPECT_EQ(processor_.RequestLines(), Lines{"X1"});
  EXPECT_FALSE(processor_.Busy());
  // The request left in place is taken in at the next hand-over.
  EXPECT_EQ(processor_.ProcessRequestFile(Path("request.cfg")), JobResult::Done);
  EXPECT_EQ(Frames(), (Lines{"1:X1", "1:X9"}));

  // Shutting down in the middle: the batch stops before its next line, the
  // progress stays, the watcher is resumed, no indicator refresh.
  window_.DuringExchange = [&] { processor_.ShutDown(); };
  window_.Panels.clear();
  clock_.Clear();
  MarkLine();
  ASSERT_EQ(Request("X1\r\nX2\r\n"), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"1:X1"});
  EXPECT_EQ(window_.Panels[9], Lines{"1/2"});
  EXPECT_EQ(window_.Watcher.back(), "resume");
  EXPECT_EQ(Paused(), Pauses{25});
}

TEST_F(Batch, ManualCommands) {
  StartTerminals(2);
  Write("output.txt", "request output\r\n");
  MarkLine();
  ASSERT_EQ(processor_.SendTypedLine("S"), JobResult::Done);
  ASSERT_EQ(window_.Memo.size(), 1u);
  EXPECT_EQ(window_.Memo[0].substr(15), "SIM TERMINAL 1");
  EXPECT_EQ(Read("output.txt"), window_.Memo[0] + "\r\n");
  EXPECT_EQ(Read("rudazo.sta"), "1,1\r\n");
  EXPECT_TRUE(window_.TrayImages.empty());
  EXPECT_EQ(Paused().back(), 1500);

  ASSERT_EQ(processor_.SendTypedLine(""), JobResult::Done);  // nothing sent, progress 1/1
  EXPECT_EQ(window_.Panels[9], (Lines{"1/1", "", "1/1", ""}));
  EXPECT_EQ(Read("output.txt"), "");
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");

  // A command file: TERM2 is a command, the selection and the file stay.
  Write("commands.cfg", "TERM2\r\nX1\r\n");
  ASSERT_EQ(processor_.SendCommandFile(Path("commands.cfg")), JobResult::Done);
  EXPECT_EQ(Frames(), (Lines{"1:S", "1:TERM2", "1:X1"}));
  EXPECT_TRUE(std::filesystem::exists(Path("commands.cfg")));
  EXPECT_EQ(Read("rudazo.sta"), "2,0\r\n");
  EXPECT_EQ(window_.TrayImages, (std::vector<int>{1, 0}));
  Write("empty.cfg", "");
  ASSERT_EQ(processor_.SendCommandFile(Path("empty.cfg")), JobResult::Done);
  EXPECT_EQ(Read("rudazo.sta"), "0,0\r\n");
  EXPECT_EQ(window_.TrayImages, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(processor_.SendCommandFile(Path("missing.cfg")), JobResult::FileUnreadable);

  // The clock: status only; result list and output file stay, no refresh.
  window_.Memo = {"kept"};
  processor_.SelectTerminal(1);
  clock_.Clear();
  std::tm monday{};
  monday.tm_year = 106, monday.tm_mon = 2, monday.tm_mday = 6, monday.tm_wday = 1;
  monday.tm_hour = 14, monday.tm_min = 5, monday.tm_sec = 9;
  MarkLine();
  ASSERT_EQ(processor_.SetClock(monday), JobResult::Done);
  EXPECT_EQ(Frames(), Lines{"2:T06030601140509"});
  EXPECT_EQ(Read("rudazo.sta"), "1,0\r\n");
  EXPECT_EQ(window_.Memo, Lines{"kept"});
  EXPECT_EQ(Read("output.txt"), "");
  EXPECT_EQ(Paused(), Pauses{25});

  // Terminal not available or not connected: nothing happens at all.
  processor_.SelectTerminal(2);
  window_.Panels.clear();
  EXPECT_EQ(processor_.SendTypedLine("X1"), JobResult::NoTerminal);
  EXPECT_EQ(processor_.SetClock(monday), JobResult::NoTerminal);
  processor_.SelectTerminal(1);
  processor_.Terminal(1)->Slave = false;
  EXPECT_EQ(processor_.SendTypedLine("X1"), JobResult::NoTerminal);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_TRUE(window_.Panels.empty());
}

TEST_F(Batch, RefreshIndicatorColoursByTheLinkState) {
  StartTerminals(1);
  TOrveta& terminal = *processor_.Terminal(0);
  terminal.Slave = false;
  MarkLine();
  processor_.RefreshIndicator(0);  // not red, no retest: by the last test, nothing sent
  EXPECT_EQ(processor_.Indicator(0), TerminalIndicator::Red);
  EXPECT_TRUE(Frames().empty());
  processor_.RefreshIndicator(0);  // red: tested again first
  EXPECT_EQ(processor_.Indicator(0), TerminalIndicator::Cyan);
  EXPECT_FALSE(Frames().empty());
  EXPECT_EQ(Paused(), (Pauses{1500, 1500}));

  // No terminal: white, no pause; shutting down: nothing.
  clock_.Clear();
  processor_.RefreshIndicator(1);
  EXPECT_EQ(processor_.Indicator(1), TerminalIndicator::White);
  processor_.ShutDown();
  processor_.RefreshIndicator(0);
  EXPECT_EQ(processor_.Indicator(0), TerminalIndicator::Cyan);  // as it was
  EXPECT_TRUE(Paused().empty());
}

// The status pair of every stage a job can reach, and how the attempts of
// its lines fold into the counts: a receive repeat and an overflow are no
// command carried out, and the records are the last attempt's.
TEST(JobReportTest, StatusPairOfEachStageAndTheFoldOfAttempts) {
  const auto pairAt = [](JobStage stage) {
    JobReport report;
    report.DoneCount = 7;
    report.RecordCount = 3;
    report.Stage = stage;
    return StatusPairOf(report);
  };
  EXPECT_EQ(pairAt(JobStage::NothingToSend), (StatusPair{-1, -1}));
  EXPECT_EQ(pairAt(JobStage::Interrupted), (StatusPair{-1, -1}));
  EXPECT_EQ(pairAt(JobStage::NoTerminal), (StatusPair{-1, -1}));
  EXPECT_EQ(pairAt(JobStage::TerminalNotAvailable), (StatusPair{-1, 0}));
  EXPECT_EQ(pairAt(JobStage::TerminalSelected), (StatusPair{1, 0}));
  EXPECT_EQ(pairAt(JobStage::Sent), (StatusPair{7, 3}));

  JobReport report;
  const auto attempt = [&](bool acknowledged, bool overflow, bool repeat, int records, Lines lines) {
    LineResult result;
    result.Acknowledged = acknowledged;
    result.Overflow = overflow;
    result.ReceiveRepeat = repeat;
    result.RecordCount = records;
    result.Lines = std::move(lines);
    report.Add(std::move(result));
    return StatusPairOf(report);
  };
  EXPECT_EQ(attempt(true, false, false, 2, {"a", "b"}), (StatusPair{1, 2}));
  EXPECT_EQ(attempt(false, false, false, 0, {}), (StatusPair{1, 0}));  // not acknowledged
  EXPECT_EQ(attempt(true, false, true, 0, {}), (StatusPair{1, 0}));    // an answer of bad length
  EXPECT_EQ(attempt(true, true, false, 0, {}), (StatusPair{1, 0}));    // an overflow
  EXPECT_EQ(attempt(true, false, false, 1, {"c"}), (StatusPair{2, 1}));
  EXPECT_EQ(attempt(true, false, false, 0, {}), (StatusPair{3, 0}));  // a command without an answer
  EXPECT_EQ(report.Lines, (Lines{"a", "b", "c"}));
}
