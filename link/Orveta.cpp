#include "link/Orveta.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <cstring>
#include <string>

#include "link/Coding.h"
#include "link/Commands.h"
#include "link/ErrorLog.h"
#include "link/Settings.h"
#include "link/StopRequest.h"
#include "link/WireTrace.h"

namespace {

constexpr unsigned kMasterAckWaitMs = 1000;
constexpr unsigned kSlaveAckWaitMs = 80;

// The longest pause any command has after its acknowledgement wait.
std::chrono::milliseconds LongestPauseAfterSend() {
  std::chrono::milliseconds longest{0};
  for (const Command& command : CommandTable()) longest = std::max(longest, command.PauseAfterSend);
  return longest;
}

TraceLinkState LinkStateOf(const TOrveta& terminal) {
  if (terminal.IsMaster()) return TraceLinkState::Master;
  return terminal.IsSlave() ? TraceLinkState::Slave : TraceLinkState::NotConnected;
}

// The codes the encoding refused, each in its own log line, then the line.
void LogRejectedMeals(const std::vector<RejectedMeal>& rejected, const std::string& line) {
  if (rejected.empty()) return;
  const LogTag tag{"request-line", LogUrgency::Warning};
  for (const RejectedMeal meal : rejected) AppendErrorLog(RejectedMealMessage(meal), tag);
  AppendErrorLog(line, tag);
}

}  // namespace



TOrveta::TOrveta(TSer_Port* port, uint32_t address) : Port(port), Address(address) {
  try {
    Answer.assign(static_cast<size_t>(std::max(Settings().AnswerBufferSize, 0)), 0);
  } catch (const std::bad_alloc&) {
    Answer.clear();  // reception then stores nothing; the block reads as a capacity overflow
  }
}

TOrveta::ListenEnd TOrveta::Listen(uint64_t referenceMs, bool stoppable) {
  PollDetector poll;
  const uint64_t start = referenceMs;
  uint32_t bytes = 0;
  for (;;) {
    const uint64_t now = TickCount();
    if (now - referenceMs > Settings().LinkTimeout) {
      TraceIdleLimit(Port->PortIndex, Settings().LinkTimeout);
      Port->NoteLineQuietOrPolled();
      return ListenEnd::Idle;
    }
    if (now - start >= static_cast<uint64_t>(kListeningBound.count())) {
      TraceListeningBound(Port->PortIndex, bytes);
      Port->NoteBytesWithoutPoll(bytes, kListeningBound);
      return ListenEnd::Bound;
    }
    if (stoppable && StopRequested()) return ListenEnd::Stop;
    const int b = Port->ReadByte();
    if (b < 0) continue;
    ++bytes;
    if (poll.Feed(static_cast<uint8_t>(b))) {
      TraceConcluded(Port->PortIndex, LinkConclusion::Poll, sizeof kPollFrame);
      Port->NoteLineQuietOrPolled();
      return ListenEnd::Poll;
    }
    referenceMs = TickCount();
  }
}

bool TOrveta::TestMaster() {
  Port->ClearReceive();
  Port->ReceiveMode();
  return Listen(TickCount(), true) == ListenEnd::Poll;
}

bool TOrveta::TestSlave() {
  uint8_t frame[kFrameBufferSize];
  BuildSlaveTestFrame(Address, frame);
  SendDirect(frame);
  return ReadAck() == 0;
}

bool TOrveta::TestLink() {
  if (StopRequested()) return IsConnected();
  // A device that failed under the port (unplugged, or the far end of a
  // pseudo-terminal restarted) is opened again first; ports are shared, so
  // every terminal on the line uses the new one.
  if (Port->NeedsReopen() && !Port->Reopen()) {
    Master = false;
    Slave = false;
  } else if (TestMaster()) {
    Master = true;
    Slave = false;
  } else if (StopRequested()) {
    return IsConnected();  // the listening was cut short: no test frame after a stop
  } else if (TestSlave()) {
    Slave = true;
    Master = false;
  } else {
    Master = false;
    Slave = false;
  }
  Retest = false;
  ++(Master ? Counts.TestsMaster : Slave ? Counts.TestsSlave : Counts.TestsNotConnected);
  TraceLinkTest(Port->PortIndex, Address, LinkStateOf(*this));
  return Master || Slave;
}

void TOrveta::SendOnPoll(const uint8_t* frame) {
  const uint64_t reference = TickCount();
  Port->ClearReceive();
  Port->ReceiveMode();
  // The listening belongs to the line in progress: a stop does not cut it.
  if (Listen(reference, false) != ListenEnd::Poll) return;
  Port->ClearTransmit();
  Port->TransmitMode();
  Port->WriteBlock(frame, frame[1]);
  Port->ReceiveMode();
}

void TOrveta::SendDirect(const uint8_t* frame) {
  Port->TransmitMode();
  Port->WriteBlock(frame, frame[1]);
  Port->ClearReceive();
  Port->ReceiveMode();
}

int TOrveta::ReadAck() {
  const int b = Port->ReadByteWait(Master ? kMasterAckWaitMs : kSlaveAckWaitMs);
  const bool acknowledged = b == kAck;
  if (b >= 0) {
    TraceConcluded(Port->PortIndex, acknowledged ? LinkConclusion::Acknowledged : LinkConclusion::NotAcknowledged, 1);
  }
  return acknowledged ? 0 : 1;
}

std::chrono::milliseconds LongestAttemptTime(const LinkSettings& settings, char letter) {
  using std::chrono::milliseconds;
  constexpr int64_t kBitsPerByte = 11;
  const int64_t baud = settings.PortBaud > 0 ? settings.PortBaud : 1;
  const milliseconds listening = kListeningBound + milliseconds(settings.LinkTimeout);
  milliseconds longest = pauses::AfterLinkTest + listening + milliseconds(kMasterAckWaitMs) +  // a link test first
                         listening + milliseconds(kMasterAckWaitMs) +                          // the command
                         LongestPauseAfterSend() + pauses::AfterAcknowledgedCommand.Master +   // the fixed pauses
                         milliseconds(1000 + kFrameBufferSize * kBitsPerByte * 2000 / baud);  // the frame's drain
  if (CommandFor(letter).DataAnswer) {
    const int64_t bytes = std::max(settings.AnswerBufferSize, 0);
    longest += milliseconds(200 + bytes * kBitsPerByte * 1000 / baud) + listening;
  }
  return longest;
}

int TOrveta::SendCommand(char* line) {
  uint8_t frame[kFrameBufferSize] = {};
  const std::string text(line, strnlen(line, kWorkBufferSize));
  const Command& command = CommandFor(line[0]);
  const EncodedCommand encoded = EncodeCommand(line, CodingSettingsOf(Settings()));
  LogRejectedMeals(encoded.Rejected, text);
  // A payload that cannot be framed is refused before anything happens on the line.
  if (BuildFrame(Address, reinterpret_cast<const uint8_t*>(line), encoded.Length, frame) == 0) return 1;

  if (!IsConnected() || Retest || Port->NeedsReopen()) {
    TestLink();
    Retest = false;
    PauseFor(pauses::AfterLinkTest);
  }
  if (Master) {
    SendOnPoll(frame);
  } else if (Slave) {
    SendDirect(frame);
  } else {
    ++Counts.NotAcknowledged;
    return 1;
  }
  const int result = ReadAck();
  ++(result == 0 ? Counts.Acknowledged : Counts.NotAcknowledged);
  // A device that failed during the exchange is opened again at the next link
  // test; the indicator refresh after the job makes that test at once.
  if (result != 0 && Port->NeedsReopen()) Retest = true;
  PauseFor(command.PauseAfterSend);
  if (command.RetestAfter) Retest = true;
  return result;
}
