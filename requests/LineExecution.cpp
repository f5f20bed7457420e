#include "requests/LineExecution.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "link/AnswerDecode.h"
#include "link/Coding.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/Cp1250.h"
#include "link/Settings.h"
#include "link/StopRequest.h"
#include "requests/OutputFiles.h"

namespace {

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

// The block's answer lines for the display, or the 'E' mark on the line when
// its length is no whole number of units.
void DecodeAnswer(TOrveta& terminal, char* line) {
  const BlockDecode decoded =
      DecodeAnswerBlock(terminal.Answer.data(), terminal.AnswerLength, CodingSettingsOf(Settings()));
  if (decoded.BadLength) {
    if (decoded.LogBadLength) {
      AppendErrorLog("R,Z chybne nacteno: " + std::to_string(terminal.AnswerLength) + " byte",
                     LogTag{"answer", LogUrgency::Warning});
    }
    line[0] = 'E';
    return;
  }
  terminal.RecordCount = decoded.RecordCount;
  for (const std::string& answerLine : decoded.Lines) terminal.Shown().AppendAnswerLine(answerLine);
}

}  // namespace

bool ExecuteLine(TOrveta& terminal, char* line) {
  terminal.RecordCount = 0;
  terminal.CapacityExceeded = false;
  LinkDisplay& display = terminal.Shown();
  display.SetLoadedPanel("");
  const size_t length = strnlen(line, kWorkBufferSize);
  if (length >= kWorkBufferSize) return false;  // the caller never hands longer lines; refuse, never cut

  char work[kWorkBufferSize] = {};
  std::memcpy(work, line, length);
  const bool dataCommand = IsDataCommand(line[0]);
  CursorRestore restoreCursor(display);
  display.SetCursor(CursorShape::AppStarting);
  if (terminal.SendCommand(work) != 0) return false;
  ++terminal.DoneCount;

  if (!dataCommand) {
    if (terminal.IsMaster()) SleepUnlessStopped(kPauseAfterMasterCommand);
    return true;
  }
  display.SetCursor(CursorShape::Hourglass);
  const bool complete = terminal.ReceiveBlock();
  display.SetLoadedPanel(std::to_string(terminal.AnswerLength));
  WriteDumpFile(std::string_view(reinterpret_cast<const char*>(terminal.Answer.data()),
                                 static_cast<size_t>(terminal.AnswerLength)));
  display.SetCursor(CursorShape::AppStarting);
  {
    HiddenResultList hidden(display);
    if (complete) DecodeAnswer(terminal, line);
  }
  std::fill_n(terminal.Answer.begin(), terminal.AnswerLength, 0);
  if (!complete) {
    std::string text = kCapacityMessage;
    std::replace(text.begin(), text.end(), '\n', ' ');  // one line of the log
    AppendErrorLog(Cp1250FromUtf8(text), LogTag{"answer", LogUrgency::Error});
    --terminal.DoneCount;
    return false;
  }
  return true;
}
