#pragma once
// The wire trace's lines, made from its event records on the writer thread.
// Received bytes are grouped as they arrived: a group ends at a pause of
// three byte times or at the next event of another kind (the link's
// conclusions excepted). The bytes are named by what the link concluded of
// them: a poll, the ack or NAK that answered a frame; bytes a flush read
// away are flushed, the rest are other bytes, at most 32 a line. The bytes of
// one conclusion stay on one line. The capture (WireCapture.h) makes its
// packets from the same grouping.

#include <cstdint>
#include <deque>
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

// A piece of a group of received bytes, as the trace names it.
struct ReceivedPiece {
  enum class Kind : uint8_t {
    Ack,              // the link took it for the acknowledgement of a frame
    NotAcknowledged,  // the link took it for an answer to a frame that is not the acknowledgement
    Poll,             // the link took them for a poll
    Flushed,          // read away by a flush of the receive queue
    Other,
  };
  Kind What = Kind::Other;
  int Port = 0;
  const uint8_t* Bytes = nullptr;  // valid while the piece is handed on
  size_t Count = 0;
  size_t Offset = 0;               // where the piece starts in its group
  const std::vector<std::pair<size_t, TraceStamp>>* Marks = nullptr;  // the group's reads

  // The time of the read that brought byte `at` (0 = the first) of the piece.
  TraceStamp StampAt(size_t at) const;
};

// Groups the received bytes of the event stream and names their pieces, for
// the trace's lines and the capture's packets alike. Every event goes
// through Add in order: received bytes join the open group; the link's
// conclusion names the last bytes of its port; any other event hands on
// what waits and moves its port's state on (baud, a flush).
class ReceivedGrouping {
 public:
  explicit ReceivedGrouping(std::function<void(const ReceivedPiece&)> sink) : sink_(std::move(sink)) {}

  void Add(const TraceEventHead& head, const uint8_t* bytes);
  // Hands on the pieces of the groups waiting: with `all` at once, else those
  // that no byte has joined for 0.1 s (and their gap) by `nowUs`; until then
  // the link's conclusion about their bytes may come.
  void EndGroup(int64_t nowUs, bool all);

 private:
  struct PortState {
    int Baud = 19200;
    bool Flushing = false;  // a flush was recorded and no other event since
  };

  // Bytes of a group the link concluded about.
  struct Named {
    size_t Offset;
    size_t Count;
    ReceivedPiece::Kind What;
  };

  struct Group {
    int Port = 0;
    bool Flushed = false;
    std::string Bytes;
    std::vector<std::pair<size_t, TraceStamp>> Marks;  // offset in Bytes and time of each read
    std::vector<Named> Names;                          // in the order of the bytes
    int64_t LastUs = 0;
  };

  int64_t GapUs(int port);
  void AddReceived(const TraceEventHead& head, const uint8_t* bytes);
  void Conclude(const TraceEventHead& head);
  void NoteEvent(const TraceEventHead& head);
  void WriteGroup(const Group& group);
  void Piece(const Group& group, ReceivedPiece::Kind what, size_t offset, size_t count);

  std::function<void(const ReceivedPiece&)> sink_;
  std::deque<Group> waiting_;  // oldest first; the last takes further bytes while `open_`
  bool open_ = false;
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
  // Bytes at most kBytesPerLine a line.
  void WriteLong(const ReceivedPiece& piece, const std::string& name);
  void WriteReceived(const ReceivedPiece& piece, size_t at, size_t count, const std::string& name);
  void Line(TraceStamp at, std::optional<int> port, const std::string& text);

  std::function<void(const std::string&)> sink_;
  ReceivedGrouping grouping_;
};
