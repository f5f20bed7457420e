// Execution of one request line on a terminal: the command, and for the data
// commands the answer block, its dump file and its decoding into lines.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link/AnswerDecode.h"
#include "link/Coding.h"
#include "link/ErrorLog.h"
#include "link/FileReplace.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "link/StartFiles.h"
#include "link/WireTrace.h"

namespace {

constexpr unsigned kFirstByteWaitMs = 200;
constexpr auto kPauseAfterMasterCommand = std::chrono::milliseconds(300);

// Stands in when nobody shows anything (tests of the link alone).
class SilentDisplay final : public LinkDisplay {
 public:
  void AppendAnswerLine(const std::string&) override {}
  void SetLoadedPanel(const std::string&) override {}
  CursorShape Cursor() const override { return CursorShape::Default; }
  void SetCursor(CursorShape) override {}
  void SetResultListVisible(bool) override {}
  void ShowCapacityMessage() override {}
};

// Puts the cursor back when a step ends, also when the coding throws.
class CursorRestore {
 public:
  explicit CursorRestore(LinkDisplay& display) : display_(display), saved_(display.Cursor()) {}
  ~CursorRestore() { display_.SetCursor(saved_); }
  CursorRestore(const CursorRestore&) = delete;
  CursorRestore& operator=(const CursorRestore&) = delete;

 private:
  LinkDisplay& display_;
  CursorShape saved_;
};

// Shows the result list again when the decoding ends, also when it throws.
class HiddenResultList {
 public:
  explicit HiddenResultList(LinkDisplay& display) : display_(display) { display_.SetResultListVisible(false); }
  ~HiddenResultList() { display_.SetResultListVisible(true); }
  HiddenResultList(const HiddenResultList&) = delete;
  HiddenResultList& operator=(const HiddenResultList&) = delete;

 private:
  LinkDisplay& display_;
};

bool IsDataCommand(char letter) { return letter == 'Y' || letter == 'P' || letter == 'S'; }

}  // namespace

LinkDisplay& TOrveta::Shown() {
  static SilentDisplay silent;
  return Display != nullptr ? *Display : silent;
}

bool TOrveta::ReceiveBlock() {
  std::fill(Answer.begin(), Answer.end(), 0);
  const size_t capacity = Answer.size();
  size_t count = 0;
  PollDetector poll;
  bool pollSeen = false;
  int b = Port->ReadByteWait(kFirstByteWaitMs);
  uint64_t reference = TickCount();
  while (TickCount() - reference < Settings().LinkTimeout && !pollSeen) {
    if (b >= 0) {
      if (count == capacity) {
        AnswerLength = static_cast<int32_t>(count);
        TraceBlock(Port->PortIndex, count, TraceBlockEnd::Capacity);
        Shown().ShowCapacityMessage();
        return false;
      }
      Answer[count++] = static_cast<uint8_t>(b);
      reference = TickCount();
    }
    b = Port->ReadByte();
    if (b >= 0) pollSeen = poll.Feed(static_cast<uint8_t>(b));
  }
  AnswerLength = static_cast<int32_t>(count);
  TraceBlock(Port->PortIndex, count, pollSeen ? TraceBlockEnd::Poll : TraceBlockEnd::Silence);
  return true;
}

void TOrveta::WriteDumpFile() const {
  const std::string_view block(reinterpret_cast<const char*>(Answer.data()), static_cast<size_t>(AnswerLength));
  if (!ReplaceFile(StartDirectory() + "/" + kDumpFileName, block)) {
    AppendErrorLog(std::string("Soubor ") + kDumpFileName + " nelze zapsat: " + std::strerror(errno));
  }
}

void TOrveta::DecodeAnswer(char* line) {
  const BlockDecode decoded = DecodeAnswerBlock(Answer.data(), AnswerLength, Settings().UseDT);
  if (decoded.BadLength) {
    if (decoded.LogBadLength) AppendErrorLog("R,Z chybne nacteno: " + std::to_string(AnswerLength) + " byte");
    line[0] = 'E';
    return;
  }
  RecordCount = decoded.RecordCount;
  for (const std::string& answerLine : decoded.Lines) Shown().AppendAnswerLine(answerLine);
}

bool TOrveta::ExecuteLine(char* line) {
  RecordCount = 0;
  LinkDisplay& display = Shown();
  display.SetLoadedPanel("");
  const size_t length = strnlen(line, WorkBufferSize);
  if (length >= WorkBufferSize) return false;  // the caller never hands longer lines; refuse, never cut

  char work[WorkBufferSize] = {};
  std::memcpy(work, line, length);
  const bool dataCommand = IsDataCommand(line[0]);
  CursorRestore restoreCursor(display);
  display.SetCursor(CursorShape::AppStarting);
  if (SendCommand(work) != 0) return false;
  ++DoneCount;

  if (!dataCommand) {
    if (Master) std::this_thread::sleep_for(kPauseAfterMasterCommand);
    return true;
  }
  display.SetCursor(CursorShape::Hourglass);
  const bool complete = ReceiveBlock();
  display.SetLoadedPanel(std::to_string(AnswerLength));
  WriteDumpFile();
  display.SetCursor(CursorShape::AppStarting);
  {
    HiddenResultList hidden(display);
    if (complete) DecodeAnswer(line);
  }
  std::fill_n(Answer.begin(), AnswerLength, 0);
  return true;
}
