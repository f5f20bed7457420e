#include "link/WireTraceFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

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
// A group waits this long after its last byte for the link's conclusion
// about it; then it is written, so that a reader of the file sees what the
// line did within about 0.2 s.
constexpr int64_t kConclusionWaitUs = 100'000;
// A byte that answers a frame and refuses it.
constexpr uint8_t kNak = 0x15;

ReceivedPiece::Kind PieceKindOf(uint8_t conclusion) {
  switch (static_cast<LinkConclusion>(conclusion)) {
    case LinkConclusion::Poll:
      return ReceivedPiece::Kind::Poll;
    case LinkConclusion::Acknowledged:
      return ReceivedPiece::Kind::Ack;
    case LinkConclusion::NotAcknowledged:
      break;
  }
  return ReceivedPiece::Kind::NotAcknowledged;
}

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
  switch (head.Kind) {
    case TraceKind::Received:
      AddReceived(head, bytes);
      break;
    case TraceKind::Concluded:
      Conclude(head);
      break;
    default:
      EndGroup(0, true);
      NoteEvent(head);
      break;
  }
}

void ReceivedGrouping::NoteEvent(const TraceEventHead& head) {
  PortState& port = ports_[head.Port];
  port.Flushing = head.Kind == TraceKind::ReceiveFlushed;
  if (head.Kind == TraceKind::PortOpen && (head.Detail & kTraceOpened) != 0) port.Baud = static_cast<int>(head.Arg);
}

void ReceivedGrouping::EndGroup(int64_t nowUs, bool all) {
  while (!waiting_.empty()) {
    const Group& oldest = waiting_.front();
    if (!all && nowUs - oldest.LastUs <= std::max(GapUs(oldest.Port), kConclusionWaitUs)) break;
    WriteGroup(oldest);
    waiting_.pop_front();
  }
  if (waiting_.empty()) open_ = false;
}

int64_t ReceivedGrouping::GapUs(int port) {
  const int baud = std::max(ports_[port].Baud, 1);
  return std::max(kShortestGapUs, kGapByteTimes * 10 * 1'000'000 / baud);
}

void ReceivedGrouping::AddReceived(const TraceEventHead& head, const uint8_t* bytes) {
  const bool flushed = ports_[head.Port].Flushing;
  if (open_) {
    const Group& last = waiting_.back();
    const bool soon = head.SinceUs - last.LastUs <= GapUs(head.Port);
    open_ = last.Port == head.Port && last.Flushed == flushed && soon;
  }
  if (!open_) {
    waiting_.push_back(Group{head.Port, flushed, {}, {}, {}, 0});
    open_ = true;
  }
  Group& group = waiting_.back();
  group.Marks.push_back({group.Bytes.size(), TraceStamp{head.WallUs, head.SinceUs}});
  group.Bytes.append(reinterpret_cast<const char*>(bytes), head.Count);
  group.LastUs = head.SinceUs;
}

void ReceivedGrouping::Conclude(const TraceEventHead& head) {
  // The bytes concluded about are the last of their port; when they came in
  // groups of their own, those become one.
  size_t first = waiting_.size();
  size_t held = 0;
  while (first > 0 && waiting_[first - 1].Port == head.Port && held < head.Arg) {
    held += waiting_[--first].Bytes.size();
  }
  if (held == 0) return;  // handed on already
  Group& group = waiting_[first];
  for (size_t i = first + 1; i < waiting_.size(); ++i) {
    const Group& later = waiting_[i];
    const size_t shift = group.Bytes.size();
    for (const auto& [offset, stamp] : later.Marks) group.Marks.push_back({shift + offset, stamp});
    for (const Named& named : later.Names) group.Names.push_back({shift + named.Offset, named.Count, named.What});
    group.Bytes += later.Bytes;
    group.LastUs = later.LastUs;
  }
  waiting_.resize(first + 1);
  size_t offset = group.Bytes.size() - std::min<size_t>(head.Arg, group.Bytes.size());
  if (!group.Names.empty()) offset = std::max(offset, group.Names.back().Offset + group.Names.back().Count);
  if (offset < group.Bytes.size()) group.Names.push_back({offset, group.Bytes.size() - offset, PieceKindOf(head.Detail)});
}

void ReceivedGrouping::WriteGroup(const Group& group) {
  const ReceivedPiece::Kind rest = group.Flushed ? ReceivedPiece::Kind::Flushed : ReceivedPiece::Kind::Other;
  size_t at = 0;
  for (const Named& named : group.Names) {
    if (named.Offset > at) Piece(group, rest, at, named.Offset - at);
    Piece(group, named.What, named.Offset, named.Count);
    at = named.Offset + named.Count;
  }
  if (at < group.Bytes.size()) Piece(group, rest, at, group.Bytes.size() - at);
}

void ReceivedGrouping::Piece(const Group& group, ReceivedPiece::Kind what, size_t offset, size_t count) {
  ReceivedPiece piece;
  piece.What = what;
  piece.Port = group.Port;
  piece.Bytes = reinterpret_cast<const uint8_t*>(group.Bytes.data()) + offset;
  piece.Count = count;
  piece.Offset = offset;
  piece.Marks = &group.Marks;
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
    case TraceKind::Concluded:
      return {};  // it names received bytes
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
      WriteReceived(piece, 0, piece.Count, "ack");
      break;
    case ReceivedPiece::Kind::NotAcknowledged:
      WriteReceived(piece, 0, piece.Count, piece.Bytes[0] == kNak ? "NAK" : "not acknowledged");
      break;
    case ReceivedPiece::Kind::Poll:
      WriteReceived(piece, 0, piece.Count, "poll");
      break;
    case ReceivedPiece::Kind::Flushed:
      WriteLong(piece, "flushed");
      break;
    case ReceivedPiece::Kind::Other:
      WriteLong(piece, "other");
      break;
  }
}

void TraceFormatter::WriteLong(const ReceivedPiece& piece, const std::string& name) {
  const size_t count = piece.Count;
  if (count <= kBytesPerLine) {
    WriteReceived(piece, 0, count, name);
    return;
  }
  for (size_t at = 0; at < count; at += kBytesPerLine) {
    const size_t n = std::min(kBytesPerLine, count - at);
    WriteReceived(piece, at, n,
                  name + ", bytes " + std::to_string(at + 1) + "-" + std::to_string(at + n) + " of " +
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
