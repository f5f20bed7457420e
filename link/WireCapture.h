#pragma once
// The wire capture (tarvion --capture FILE.pcapng, tarvion-scan --capture):
// the wire trace's events as a pcapng file for Wireshark, which decodes it
// with the dissector deploy/wireshark/tarvion.lua. Made on the trace's writer
// thread from the same event records, and with the same grouping of
// received bytes, as the trace's lines.
//
// Each file, and each start of the program appending to one, is a section:
// a section header, then one interface "serial lines" of link type
// LINKTYPE_USER0 (147) with time stamps in microseconds of the system clock
// (if_tsresol 6), then the packets. A packet is one event; its direction is
// in epb_flags (outbound: a frame sent and the RTS switching; inbound: bytes
// received; none: other events). Its bytes start with a pseudo-header of 12
// bytes, numbers big-endian:
//
//   offset size
//   0      1    version, 1
//   1      1    kind: 1 frame sent, 2 RTS on, 3 RTS off, 4 poll, 5 ack,
//               6 NAK (or another byte that answered a frame instead of
//               the ack), 7 data block, 8 other bytes received, 9 event,
//               10 bytes read away by a flush of the receive queue
//   2      1    COM number, 1-8; 0 for an event of the capture itself or a
//               device opened by its path
//   3      1    data block: how it ended, 0 by silence, 1 by a poll (the
//               poll follows as a packet of its own), 2 stopped at the
//               capacity; otherwise 0
//   4      4    frame sent: the bytes the port accepted; data block: the
//               bytes the program stored (with a poll's first three);
//               otherwise 0
//   8      4    where these bytes start in their data block or run of other
//               bytes, when it went out in several packets; otherwise 0
//   12     ...  the frame, poll, ack, NAK, data block, other or flushed
//               bytes as read; nothing for RTS; an event's text (UTF-8), as
//               the trace's line has it
//
// Polls, acks and NAKs are what the link took for them (WireTraceFormat.h).
// A data block is what was received between the ack of a data command and
// the end of the block. Bytes received during a data block wait in memory
// until the block ends, so its packet is written whole.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/WireTraceFormat.h"

enum class CaptureKind : uint8_t { FrameSent = 1, RtsOn, RtsOff, Poll, Ack, Nak, DataBlock, Other, Event, Flushed };

constexpr size_t kCaptureHeaderSize = 12;
// Most bytes after the pseudo-header of one packet: Wireshark takes packets
// of up to 262,144 bytes. A whole number of 24- and of 29-byte records.
constexpr size_t kCaptureMostBytes = 376 * 24 * 29;

// The section header and the interface that every file, and every section
// appended to one, starts with; `application` is named in the section header.
std::string CaptureSectionStart(const std::string& application);

class CaptureFormatter final : public TraceOutput {
 public:
  // The pcapng blocks of the packets go to `sink`.
  explicit CaptureFormatter(std::function<void(const std::string&)> sink);

  void Add(const TraceEventHead& head, const uint8_t* bytes) override;
  void EndGroup(int64_t nowUs, bool all) override;
  void Note(TraceStamp at, const std::string& text) override;

 private:
  // Received bytes as they wait for the next event of another kind.
  struct Held {
    CaptureKind Kind;
    int Port;
    TraceStamp At;
    std::string Bytes;
  };

  void Hold(const ReceivedPiece& piece);
  // Writes out what waits; the other bytes of the port of `block`, when one
  // is given, become its data block.
  void WriteHeld(const TraceEventHead* block);
  void WriteBlock(const TraceEventHead& block, const std::string& data, TraceStamp at);
  void Packet(CaptureKind kind, int port, TraceStamp at, std::string_view bytes, uint8_t detail = 0,
              uint32_t value = 0);

  std::function<void(const std::string&)> sink_;
  ReceivedGrouping grouping_;
  std::vector<Held> held_;
};
