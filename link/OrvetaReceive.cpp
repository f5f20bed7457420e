// The reception of a terminal's data block after an acknowledgement.

#include <algorithm>
#include <string>

#include "link/Orveta.h"
#include "link/Settings.h"
#include "link/WireTrace.h"

namespace {

constexpr unsigned kFirstByteWaitMs = 200;

// Stands in when nobody shows anything (tests of the link alone).
class SilentDisplay final : public LinkDisplay {
 public:
  void SetLoadedPanel(const std::string&) override {}
  CursorShape Cursor() const override { return CursorShape::Default; }
  void SetCursor(CursorShape) override {}
  void ShowCapacityMessage() override {}
};

}  // namespace

LinkDisplay& TOrveta::Shown() {
  static SilentDisplay silent;
  return Display != nullptr ? *Display : silent;
}

bool TOrveta::ReceiveBlock() {
  std::fill(Answer.begin(), Answer.end(), 0);
  const size_t capacity = Answer.size();
  size_t count = 0;
  size_t beyond = 0;  // bytes that no longer fit, read away so the line is quiet for the next command
  PollDetector poll;
  bool pollSeen = false;
  int b = Port->ReadByteWait(kFirstByteWaitMs);
  uint64_t reference = TickCount();
  while (TickCount() - reference < Settings().LinkTimeout && !pollSeen) {
    if (b >= 0) {
      if (count < capacity) {
        Answer[count++] = static_cast<uint8_t>(b);
      } else {
        ++beyond;
      }
      reference = TickCount();
    }
    b = Port->ReadByte();
    if (b >= 0) pollSeen = poll.Feed(static_cast<uint8_t>(b));
  }
  if (pollSeen) TraceConcluded(Port->PortIndex, LinkConclusion::Poll, sizeof kPollFrame);
  AnswerLength = static_cast<int32_t>(count);
  if (beyond > 0) {
    TraceBlock(Port->PortIndex, count + beyond, TraceBlockEnd::Capacity);
    Shown().ShowCapacityMessage();
    return false;
  }
  TraceBlock(Port->PortIndex, count, pollSeen ? TraceBlockEnd::Poll : TraceBlockEnd::Silence);
  return true;
}
