#pragma once
// The wire trace's lines, made from its event records on the writer thread.
// Received bytes are grouped as they arrived: a group ends at a pause of
// three byte times (never inside a poll, unless its rest is 0.1 s late) or
// at the next event of another kind. In a group the poll is named; the first byte after a frame and the
// drop of RTS that ends it is named ack or NAK when it is 06 or 15; the rest
// are other bytes, at most 32 a line. The capture (WireCapture.h) makes its
// packets from the same grouping.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/WireEvents.h"

// One event as recorded; its bytes follow it in the record buffer.
struct TraceEventHead {
  int64_t WallUs;   // system clock, microseconds since the epoch
  int64_t SinceUs;  // microseconds since the trace started
  uint32_t Arg;
  uint32_t Count;   // bytes that follow the head
  TraceKind Kind;
  uint8_t Detail;
  int16_t Port;
};

struct TraceStamp {
  int64_t WallUs;
  int64_t SinceUs;
};

// A piece of a group of received bytes, as the trace names it: the ack or
// NAK that answers a frame, a poll (or a run of polls queued while nobody
// listened), or other bytes.
struct ReceivedPiece {
  enum class Kind : uint8_t { Ack, Nak, Poll, Other };
  Kind What = Kind::Other;
  int Port = 0;
  const uint8_t* Bytes = nullptr;  // valid while the piece is handed on
  size_t Count = 0;                // a run of polls: all of their bytes
  size_t Polls = 0;                // a run of polls: how many
  size_t Offset = 0;               // where the piece starts in its group
  const std::vector<std::pair<size_t, TraceStamp>>* Marks = nullptr;  // the group's reads

  // The time of the read that brought byte `at` (0 = the first) of the piece.
  TraceStamp StampAt(size_t at) const;
};

// Groups the received bytes of the event stream and names their pieces, for
// the trace's lines and the capture's packets alike. Every event goes
// through Add in order: received bytes join the open group; any other event
// ends it and moves its port's state on (baud, a frame sent, RTS dropped).
class ReceivedGrouping {
 public:
  explicit ReceivedGrouping(std::function<void(const ReceivedPiece&)> sink) : sink_(std::move(sink)) {}

  void Add(const TraceEventHead& head, const uint8_t* bytes);
  // Hands on the pieces of the open group: with `all` at once, else once no
  // byte has come for its gap by `nowUs` (for a group that ends with the
  // start of a poll, for 0.1 s).
  void EndGroup(int64_t nowUs, bool all);

 private:
  struct PortState {
    int Baud = 19200;
    bool FrameSent = false;  // a frame was written and RTS has not dropped since
    bool AnswerDue = false;  // the next byte received answers that frame
  };

  struct Group {
    bool Open = false;
    int Port = 0;
    bool AnswerPosition = false;
    std::string Bytes;
    std::vector<std::pair<size_t, TraceStamp>> Marks;  // offset in Bytes and time of each read
    int64_t LastUs = 0;
  };

  int64_t GapUs(int port);
  size_t PollPrefixAtEnd() const;
  void AddReceived(const TraceEventHead& head, const uint8_t* bytes);
  void NoteEvent(const TraceEventHead& head);
  void WriteGroup();
  void Piece(ReceivedPiece::Kind what, size_t offset, size_t count, size_t polls = 0);

  std::function<void(const ReceivedPiece&)> sink_;
  Group group_;
  std::map<int, PortState> ports_;
};

// The text of an event other than received bytes, as its trace line has it
// after the COM number: "RTS on", "tx 01 04 41 46  address 1, ...". Empty
// for an event that has no line of its own (a flush of an empty queue).
std::string DescribeTraceEvent(const TraceEventHead& head, const uint8_t* bytes);

// What the trace's writer thread feeds each of its outputs: the events in
// order, the end of a period of writing, and lines of the trace itself.
class TraceOutput {
 public:
  virtual ~TraceOutput() = default;
  virtual void Add(const TraceEventHead& head, const uint8_t* bytes) = 0;
  // Received bytes may wait in the open group; see ReceivedGrouping::EndGroup.
  virtual void EndGroup(int64_t nowUs, bool all) = 0;
  // A note of the trace itself, without a COM number ("trace started").
  virtual void Note(TraceStamp at, const std::string& text) = 0;
};

class TraceFormatter final : public TraceOutput {
 public:
  // Each line, with its "\n", goes to `sink`.
  explicit TraceFormatter(std::function<void(const std::string&)> sink);

  void Add(const TraceEventHead& head, const uint8_t* bytes) override;
  void EndGroup(int64_t nowUs, bool all) override { grouping_.EndGroup(nowUs, all); }
  void Note(TraceStamp at, const std::string& text) override;

 private:
  void WritePiece(const ReceivedPiece& piece);
  void WriteOther(const ReceivedPiece& piece);
  void WriteReceived(const ReceivedPiece& piece, size_t at, size_t count, const std::string& name);
  void Line(TraceStamp at, std::optional<int> port, const std::string& text);

  std::function<void(const std::string&)> sink_;
  ReceivedGrouping grouping_;
};
