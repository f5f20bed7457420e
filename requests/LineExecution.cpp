#include "requests/LineExecution.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <string_view>

#include "link/AnswerDecode.h"
#include "link/Coding.h"
#include "link/Commands.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/Cp1250.h"
#include "link/Settings.h"
#include "link/JobClock.h"
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

// The block's records and lines, or the 'E' mark when its length is no
// whole number of units.
void DecodeAnswer(const TOrveta& terminal, LineResult& result) {
  BlockDecode decoded =
      DecodeAnswerBlock(terminal.Answer.data(), terminal.AnswerLength, CodingSettingsOf(Settings()));
  if (decoded.BadLength) {
    if (decoded.LogBadLength) {
      AppendErrorLog("R,Z chybne nacteno: " + std::to_string(terminal.AnswerLength) + " byte",
                     LogTag{"answer", LogUrgency::Warning});
    }
    result.ReceiveRepeat = true;
    return;
  }
  result.RecordCount = decoded.RecordCount;
  result.Lines = std::move(decoded.Lines);
}

}  // namespace

LineResult ExecuteLine(TOrveta& terminal, std::string_view line) {
  LineResult result;
  LinkDisplay& display = terminal.Shown();
  display.SetLoadedPanel("");
  if (line.size() >= kWorkBufferSize) return result;  // the caller never hands longer lines; refuse, never cut

  char work[kWorkBufferSize] = {};
  std::memcpy(work, line.data(), line.size());
  const Command& command = CommandFor(work[0]);
  CursorRestore restoreCursor(display);
  display.SetCursor(CursorShape::AppStarting);
  result.Acknowledged = terminal.SendCommand(work) == 0;
  if (!result.Acknowledged) return result;

  if (!command.DataAnswer) {
    PauseFor(PauseAfterAcknowledged(command, terminal.IsMaster()));
    return result;
  }
  display.SetCursor(CursorShape::Hourglass);
  const bool complete = terminal.ReceiveBlock();
  result.AnswerLength = terminal.AnswerLength;
  display.SetLoadedPanel(std::to_string(terminal.AnswerLength));
  WriteDumpFile(std::string_view(reinterpret_cast<const char*>(terminal.Answer.data()),
                                 static_cast<size_t>(terminal.AnswerLength)));
  display.SetCursor(CursorShape::AppStarting);
  if (complete) DecodeAnswer(terminal, result);
  std::fill_n(terminal.Answer.begin(), terminal.AnswerLength, 0);
  if (!complete) {
    std::string text = kCapacityMessage;
    std::replace(text.begin(), text.end(), '\n', ' ');  // one line of the log
    AppendErrorLog(Cp1250FromUtf8(text), LogTag{"answer", LogUrgency::Error});
    result.Overflow = true;
  }
  return result;
}
