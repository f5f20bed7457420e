#include "link/WireCapture.h"

#include <algorithm>
#include <utility>

#include "link/Pcapng.h"

namespace {

constexpr uint8_t kPseudoHeaderVersion = 1;

PacketDirection DirectionOf(CaptureKind kind) {
  switch (kind) {
    case CaptureKind::FrameSent:
    case CaptureKind::RtsOn:
    case CaptureKind::RtsOff:
      return PacketDirection::Outbound;
    case CaptureKind::Event:
      return PacketDirection::Unknown;
    default:
      return PacketDirection::Inbound;
  }
}

CaptureKind KindOf(ReceivedPiece::Kind what) {
  switch (what) {
    case ReceivedPiece::Kind::Ack:
      return CaptureKind::Ack;
    case ReceivedPiece::Kind::NotAcknowledged:
      return CaptureKind::Nak;
    case ReceivedPiece::Kind::Poll:
      return CaptureKind::Poll;
    case ReceivedPiece::Kind::Flushed:
      return CaptureKind::Flushed;
    case ReceivedPiece::Kind::Other:
      break;
  }
  return CaptureKind::Other;
}

void Put32BigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// The COM number of a port index; 0 for none.
uint8_t ComNumber(int port) { return port >= 0 && port < 255 ? static_cast<uint8_t>(port + 1) : 0; }

std::string_view BytesOf(const uint8_t* bytes, size_t count) {
  return {reinterpret_cast<const char*>(bytes), count};
}

}  // namespace

std::string CaptureSectionStart(const std::string& application) {
  return PcapngSectionHeader(application) + PcapngInterface(kLinkTypeUser0, "serial lines");
}

CaptureFormatter::CaptureFormatter(std::function<void(const std::string&)> sink)
    : sink_(std::move(sink)), grouping_([this](const ReceivedPiece& piece) { Hold(piece); }) {}

void CaptureFormatter::Add(const TraceEventHead& head, const uint8_t* bytes) {
  grouping_.Add(head, bytes);  // another kind of event first hands on the bytes waiting
  if (head.Kind == TraceKind::Received || head.Kind == TraceKind::Concluded) return;
  WriteHeld(head.Kind == TraceKind::Block ? &head : nullptr);
  const TraceStamp at{head.WallUs, head.SinceUs};
  switch (head.Kind) {
    case TraceKind::Written:
      Packet(CaptureKind::FrameSent, head.Port, at, BytesOf(bytes, head.Count), 0, head.Arg);
      break;
    case TraceKind::Rts:
      Packet(head.Arg != 0 ? CaptureKind::RtsOn : CaptureKind::RtsOff, head.Port, at, {});
      break;
    case TraceKind::Block:
      break;  // written with the bytes held
    default:
      if (const std::string text = DescribeTraceEvent(head, bytes); !text.empty()) {
        Packet(CaptureKind::Event, head.Port, at, text);
      }
      break;
  }
}

void CaptureFormatter::EndGroup(int64_t nowUs, bool all) {
  grouping_.EndGroup(nowUs, all);
  if (all) WriteHeld(nullptr);
}

void CaptureFormatter::Note(TraceStamp at, const std::string& text) { Packet(CaptureKind::Event, -1, at, text); }

void CaptureFormatter::Hold(const ReceivedPiece& piece) {
  held_.push_back({KindOf(piece.What), piece.Port, piece.StampAt(0), std::string(BytesOf(piece.Bytes, piece.Count))});
}

void CaptureFormatter::WriteHeld(const TraceEventHead* block) {
  const auto inBlock = [block](const Held& held) {
    return block != nullptr && held.Kind == CaptureKind::Other && held.Port == block->Port;
  };
  std::string data;
  for (const Held& held : held_) {
    if (inBlock(held)) data += held.Bytes;
  }
  bool blockWritten = false;
  for (const Held& held : held_) {
    if (!inBlock(held)) {
      Packet(held.Kind, held.Port, held.At, held.Bytes);
    } else if (!std::exchange(blockWritten, true)) {
      WriteBlock(*block, data, held.At);
    }
  }
  if (block != nullptr && !blockWritten) WriteBlock(*block, data, {block->WallUs, block->SinceUs});
  held_.clear();
}

void CaptureFormatter::WriteBlock(const TraceEventHead& block, const std::string& data, TraceStamp at) {
  Packet(CaptureKind::DataBlock, block.Port, at, data, block.Detail, block.Arg);
}

void CaptureFormatter::Packet(CaptureKind kind, int port, TraceStamp at, std::string_view bytes, uint8_t detail,
                              uint32_t value) {
  size_t offset = 0;
  do {
    const size_t count = std::min(kCaptureMostBytes, bytes.size() - offset);
    std::string data;
    data.reserve(kCaptureHeaderSize + count);
    data += static_cast<char>(kPseudoHeaderVersion);
    data += static_cast<char>(kind);
    data += static_cast<char>(ComNumber(port));
    data += static_cast<char>(detail);
    Put32BigEndian(data, value);
    Put32BigEndian(data, static_cast<uint32_t>(offset));
    data += bytes.substr(offset, count);
    sink_(PcapngPacket(at.WallUs, DirectionOf(kind), data));
    offset += count;
  } while (offset < bytes.size());
}
