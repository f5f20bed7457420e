#include "link/WireTraceFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string_view>

#include "link/Frame.h"
#include "link/LineErrors.h"
#include "link/Settings.h"

namespace {

// Received bytes of one group longer than this go on several lines.
constexpr size_t kBytesPerLine = 32;
// A group of received bytes ends after a pause of this many byte times
// (10 bits each), and never one shorter than kShortestGapUs.
constexpr int64_t kGapByteTimes = 3;
constexpr int64_t kShortestGapUs = 1000;
// A group that ends with the start of a poll waits this long for the poll's
// rest (three bytes take 25 ms at 1200 baud); then it is written anyway, so
// that a reader of the file sees what the line did within about 0.2 s.
constexpr int64_t kPollRestWaitUs = 100'000;
constexpr uint8_t kNak = 0x15;

std::string HexOf(const uint8_t* bytes, size_t count) {
  std::string text;
  text.reserve(count * 3);
  char pair[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += pair;
  }
  return text;
}

std::string CommandLetter(uint8_t letter) {
  char text[8];
  std::snprintf(text, sizeof text, letter > 0x20 && letter < 0x7F ? "'%c'" : "0x%02X", letter);
  return text;
}

// Address, length, command letter and checksum of a frame written.
std::string DescribeFrame(const uint8_t* frame, size_t count, uint32_t accepted) {
  std::string text;
  if (count < 4) {
    text = "not a frame";
  } else {
    text = "address " + std::to_string(frame[0]) + ", length " + std::to_string(frame[1]);
    if (frame[1] != count) text += " (" + std::to_string(count) + " bytes written)";
    text += ", command " + CommandLetter(frame[2]);
    const uint8_t sum = FrameChecksum(frame, static_cast<int>(count - 1));
    char checksum[48];
    std::snprintf(checksum, sizeof checksum, sum == frame[count - 1] ? ", checksum ok" : ", checksum wrong (sum %02X)",
                  sum);
    text += checksum;
  }
  if (accepted < count) {
    text += ", only " + std::to_string(accepted) + " of " + std::to_string(count) + " bytes accepted by the port";
  }
  return text;
}

std::string DescribeBlock(uint32_t length, uint8_t end) {
  const std::string bytes = std::to_string(length) + " bytes";
  switch (static_cast<TraceBlockEnd>(end)) {
    case TraceBlockEnd::Silence:
      return "data block of " + bytes + ", ended by silence";
    case TraceBlockEnd::Poll:
      return "data block of " + bytes + ", ended by a poll (its first 3 bytes are in the block)";
    case TraceBlockEnd::Capacity:
      break;
  }
  return "data block of " + bytes + ", larger than the capacity: what did not fit was read away";
}

std::string DescribeLinkTest(uint32_t address, uint8_t state) {
  const char* result = "no answer";
  if (static_cast<TraceLinkState>(state) == TraceLinkState::Master) result = "master";
  if (static_cast<TraceLinkState>(state) == TraceLinkState::Slave) result = "slave";
  return "link test of address " + std::to_string(address) + ": " + result;
}

std::string DescribePortOpen(uint32_t baud, uint8_t detail, const uint8_t* path, size_t count) {
  const bool opened = (detail & kTraceOpened) != 0, reopen = (detail & kTraceReopen) != 0;
  const std::string device(reinterpret_cast<const char*>(path), count);
  if (!opened) return std::string(reopen ? "could not be reopened: " : "could not be opened: ") + device;
  return std::string(reopen ? "reopened " : "opened ") + device + " at " + std::to_string(baud) + " baud" +
         ((detail & kTraceNoModemLines) != 0 ? ", no modem lines (RTS is not switched)" : "");
}

std::string DescribeLineErrors(const uint8_t* bytes, size_t count) {
  LineErrorCounts both[2];
  if (count != sizeof both) return "line errors (a record of " + std::to_string(count) + " bytes)";
  std::memcpy(both, bytes, sizeof both);
  return "line errors grew: " + LineErrorWords(both[0]) + "; since the port opened: " + LineErrorWords(both[1]);
}

}  // namespace

TraceStamp ReceivedPiece::StampAt(size_t at) const {
  const auto after = std::upper_bound(Marks->begin(), Marks->end(), Offset + at,
                                      [](size_t offset, const std::pair<size_t, TraceStamp>& m) { return offset < m.first; });
  return std::prev(after)->second;
}

void ReceivedGrouping::Add(const TraceEventHead& head, const uint8_t* bytes) {
  if (head.Kind == TraceKind::Received) {
    AddReceived(head, bytes);
  } else {
    EndGroup(0, true);
    NoteEvent(head);
  }
}

void ReceivedGrouping::NoteEvent(const TraceEventHead& head) {
  // A flush is no step of an exchange: a frame and its answer stay paired
  // across it.
  if (head.Kind == TraceKind::ReceiveFlushed || head.Kind == TraceKind::LineErrors) return;
  PortState& port = ports_[head.Port];
  const bool frameSent = std::exchange(port.FrameSent, false);
  port.AnswerDue = false;
  if (head.Kind == TraceKind::Rts) port.AnswerDue = head.Arg == 0 && frameSent;
  if (head.Kind == TraceKind::Written) port.FrameSent = true;
  if (head.Kind == TraceKind::PortOpen && (head.Detail & kTraceOpened) != 0) port.Baud = static_cast<int>(head.Arg);
}

void ReceivedGrouping::EndGroup(int64_t nowUs, bool all) {
  if (!group_.Open) return;
  const int64_t quietUs = nowUs - group_.LastUs;
  if (!all && (quietUs <= GapUs(group_.Port) || (PollPrefixAtEnd() > 0 && quietUs <= kPollRestWaitUs))) return;
  WriteGroup();
  group_.Open = false;
}

int64_t ReceivedGrouping::GapUs(int port) {
  const int baud = std::max(ports_[port].Baud, 1);
  return std::max(kShortestGapUs, kGapByteTimes * 10 * 1'000'000 / baud);
}

// How many bytes at the end of the group begin a poll (0-3).
size_t ReceivedGrouping::PollPrefixAtEnd() const {
  const std::string& bytes = group_.Bytes;
  for (size_t k = std::min<size_t>(3, bytes.size()); k > 0; --k) {
    if (std::memcmp(bytes.data() + bytes.size() - k, kPollFrame, k) == 0) return k;
  }
  return 0;
}

void ReceivedGrouping::AddReceived(const TraceEventHead& head, const uint8_t* bytes) {
  if (group_.Open) {
    const size_t prefix = PollPrefixAtEnd();
    const bool continuesPoll = prefix > 0 && bytes[0] == kPollFrame[prefix];
    const bool soon = head.SinceUs - group_.LastUs <= GapUs(head.Port);
    if (group_.Port != head.Port || !(soon || continuesPoll)) EndGroup(0, true);
  }
  if (!group_.Open) {
    group_.Open = true;
    group_.Port = head.Port;
    group_.AnswerPosition = std::exchange(ports_[head.Port].AnswerDue, false);
    group_.Bytes.clear();
    group_.Marks.clear();
  }
  group_.Marks.push_back({group_.Bytes.size(), TraceStamp{head.WallUs, head.SinceUs}});
  group_.Bytes.append(reinterpret_cast<const char*>(bytes), head.Count);
  group_.LastUs = head.SinceUs;
}

void ReceivedGrouping::WriteGroup() {
  const std::string& bytes = group_.Bytes;
  const std::string_view poll(reinterpret_cast<const char*>(kPollFrame), sizeof kPollFrame);
  size_t i = 0;
  const uint8_t first = static_cast<uint8_t>(bytes[0]);
  if (group_.AnswerPosition && (first == kAck || first == kNak)) {
    Piece(first == kAck ? ReceivedPiece::Kind::Ack : ReceivedPiece::Kind::Nak, 0, 1);
    i = 1;
  }
  while (i < bytes.size()) {
    const size_t found = bytes.find(poll, i);
    const size_t otherEnd = found == std::string::npos ? bytes.size() : found;
    if (otherEnd > i) Piece(ReceivedPiece::Kind::Other, i, otherEnd - i);
    if (found == std::string::npos) break;
    // Polls queued while nobody listened come in one go: one piece for a run.
    size_t polls = 1;
    while (bytes.compare(found + polls * poll.size(), poll.size(), poll) == 0) ++polls;
    Piece(ReceivedPiece::Kind::Poll, found, polls * poll.size(), polls);
    i = found + polls * poll.size();
  }
}

void ReceivedGrouping::Piece(ReceivedPiece::Kind what, size_t offset, size_t count, size_t polls) {
  ReceivedPiece piece;
  piece.What = what;
  piece.Port = group_.Port;
  piece.Bytes = reinterpret_cast<const uint8_t*>(group_.Bytes.data()) + offset;
  piece.Count = count;
  piece.Polls = polls;
  piece.Offset = offset;
  piece.Marks = &group_.Marks;
  sink_(piece);
}

std::string DescribeTraceEvent(const TraceEventHead& head, const uint8_t* bytes) {
  switch (head.Kind) {
    case TraceKind::Rts:
      return head.Arg != 0 ? "RTS on" : "RTS off";
    case TraceKind::Written:
      return "tx " + HexOf(bytes, head.Count) + "  " + DescribeFrame(bytes, head.Count, head.Arg);
    case TraceKind::IdleLimit:
      return "listening ended: no poll within the idle limit of " + std::to_string(head.Arg) + " ms";
    case TraceKind::ListeningBound:
      return "listening ended: " + std::to_string(head.Arg) + " bytes but no poll within the bound of " +
             std::to_string(kListeningBound.count()) + " ms";
    case TraceKind::Block:
      return DescribeBlock(head.Arg, head.Detail);
    case TraceKind::LinkTest:
      return DescribeLinkTest(head.Arg, head.Detail);
    case TraceKind::PortOpen:
      return DescribePortOpen(head.Arg, head.Detail, bytes, head.Count);
    case TraceKind::LineErrors:
      return DescribeLineErrors(bytes, head.Count);
    case TraceKind::ReceiveFlushed:
      if (head.Arg == 0) return {};  // named only when bytes waited
      return "receive queue flushed: " + std::to_string(head.Arg) +
             " bytes waited in the read queue, and whatever the driver held behind them";
    case TraceKind::Received:
      break;
  }
  return "rx " + HexOf(bytes, head.Count);
}

TraceFormatter::TraceFormatter(std::function<void(const std::string&)> sink)
    : sink_(std::move(sink)), grouping_([this](const ReceivedPiece& piece) { WritePiece(piece); }) {}

void TraceFormatter::Note(TraceStamp at, const std::string& text) { Line(at, std::nullopt, text); }

void TraceFormatter::Add(const TraceEventHead& head, const uint8_t* bytes) {
  grouping_.Add(head, bytes);
  if (head.Kind == TraceKind::Received) return;
  const std::string text = DescribeTraceEvent(head, bytes);
  if (!text.empty()) Line({head.WallUs, head.SinceUs}, head.Port, text);
}

void TraceFormatter::WritePiece(const ReceivedPiece& piece) {
  switch (piece.What) {
    case ReceivedPiece::Kind::Ack:
      WriteReceived(piece, 0, 1, "ack");
      break;
    case ReceivedPiece::Kind::Nak:
      WriteReceived(piece, 0, 1, "NAK");
      break;
    case ReceivedPiece::Kind::Poll:
      WriteReceived(piece, 0, sizeof kPollFrame,
                    piece.Polls == 1 ? "poll" : "poll (" + std::to_string(piece.Polls) + " in a row)");
      break;
    case ReceivedPiece::Kind::Other:
      WriteOther(piece);
      break;
  }
}

void TraceFormatter::WriteOther(const ReceivedPiece& piece) {
  const size_t count = piece.Count;
  if (count <= kBytesPerLine) {
    WriteReceived(piece, 0, count, "other");
    return;
  }
  for (size_t at = 0; at < count; at += kBytesPerLine) {
    const size_t n = std::min(kBytesPerLine, count - at);
    WriteReceived(piece, at, n,
                  "other, bytes " + std::to_string(at + 1) + "-" + std::to_string(at + n) + " of " +
                      std::to_string(count));
  }
}

// A line of received bytes, with the time of the read that brought the first.
void TraceFormatter::WriteReceived(const ReceivedPiece& piece, size_t at, size_t count, const std::string& name) {
  Line(piece.StampAt(at), piece.Port, "rx " + HexOf(piece.Bytes + at, count) + "  " + name);
}

void TraceFormatter::Line(TraceStamp at, std::optional<int> port, const std::string& text) {
  const std::time_t seconds = static_cast<std::time_t>(at.WallUs / 1'000'000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char prefix[96];
  std::snprintf(prefix, sizeof prefix, "%04d-%02d-%02d %02d:%02d:%02d.%03d %10lld ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(at.WallUs / 1000 % 1000), static_cast<long long>(at.SinceUs));
  std::string line = prefix;
  if (port) line += *port >= 0 ? "COM" + std::to_string(*port + 1) + " " : "COM? ";
  sink_(line + text + "\n");
}
