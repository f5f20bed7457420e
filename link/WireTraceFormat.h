#pragma once
// The wire trace's lines, made from its event records on the writer thread.
// Received bytes are grouped as they arrived: a group ends at a pause of
// three byte times (never inside a poll, unless its rest is 0.1 s late) or
// at the next event of another
// kind. In a group the poll is named; the first byte after a frame and the
// drop of RTS that ends it is named ack or NAK when it is 06 or 15; the rest
// are other bytes, at most 32 a line.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/WireTrace.h"

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

class TraceFormatter {
 public:
  // Each line, with its "\n", goes to `sink`.
  explicit TraceFormatter(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}

  // Forgets the ports and any open group: a new trace.
  void Reset();
  // A line of the trace itself, without a COM number ("trace started").
  void Note(TraceStamp at, const std::string& text);
  // The lines of one event; received bytes may wait in the open group.
  void Add(const TraceEventHead& head, const uint8_t* bytes);
  // Writes out the open group of received bytes: with `all` at once, else
  // once no byte has come for its gap by `nowUs` (for a group that ends with
  // the start of a poll, for 0.1 s).
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
  void WriteGroup();
  void WriteOther(size_t from, size_t to);
  void WriteReceived(size_t offset, size_t count, const std::string& name);
  void Line(TraceStamp at, std::optional<int> port, const std::string& text);

  std::function<void(const std::string&)> sink_;
  Group group_;
  std::map<int, PortState> ports_;
};
