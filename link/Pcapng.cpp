#include "link/Pcapng.h"

namespace {

constexpr uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr uint32_t kInterfaceType = 0x00000001;
constexpr uint32_t kEnhancedPacketType = 0x00000006;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr uint16_t kEndOfOptions = 0;
constexpr uint16_t kShbUserApplication = 4;
constexpr uint16_t kIfName = 2;
constexpr uint16_t kIfTimeResolution = 9;
constexpr uint16_t kEpbFlags = 2;
constexpr uint8_t kMicroseconds = 6;

void Put16(std::string& out, uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, static_cast<uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<uint16_t>(value >> 16));
}

void PadTo32Bits(std::string& out) { out.append((4 - out.size() % 4) % 4, '\0'); }

void PutOption(std::string& out, uint16_t code, std::string_view value) {
  Put16(out, code);
  Put16(out, static_cast<uint16_t>(value.size()));
  out += value;
  PadTo32Bits(out);
}

// Options end with opt_endofopt; a block without options has none at all.
void EndOptions(std::string& out) {
  Put16(out, kEndOfOptions);
  Put16(out, 0);
}

// Type, total length, the body (already padded), the total length again.
std::string Block(uint32_t type, const std::string& body) {
  const uint32_t total = static_cast<uint32_t>(body.size() + 12);
  std::string block;
  block.reserve(total);
  Put32(block, type);
  Put32(block, total);
  block += body;
  Put32(block, total);
  return block;
}

std::string Uint32Bytes(uint32_t value) {
  std::string bytes;
  Put32(bytes, value);
  return bytes;
}

}  // namespace

std::string PcapngSectionHeader(std::string_view application) {
  std::string body;
  Put32(body, kByteOrderMagic);
  Put16(body, 1);  // major version
  Put16(body, 0);  // minor version
  Put32(body, 0xFFFFFFFF);  // section length: not given (-1 in 64 bits)
  Put32(body, 0xFFFFFFFF);
  if (!application.empty()) {
    PutOption(body, kShbUserApplication, application);
    EndOptions(body);
  }
  return Block(kSectionHeaderType, body);
}

std::string PcapngInterface(uint16_t linkType, std::string_view name) {
  std::string body;
  Put16(body, linkType);
  Put16(body, 0);  // reserved
  Put32(body, 0);  // snap length: no limit
  if (!name.empty()) PutOption(body, kIfName, name);
  PutOption(body, kIfTimeResolution, std::string_view(reinterpret_cast<const char*>(&kMicroseconds), 1));
  EndOptions(body);
  return Block(kInterfaceType, body);
}

std::string PcapngPacket(int64_t microseconds, PacketDirection direction, std::string_view data) {
  const uint64_t stamp = static_cast<uint64_t>(microseconds);
  std::string body;
  body.reserve(data.size() + 40);
  Put32(body, 0);  // interface 0
  Put32(body, static_cast<uint32_t>(stamp >> 32));
  Put32(body, static_cast<uint32_t>(stamp & 0xFFFFFFFF));
  Put32(body, static_cast<uint32_t>(data.size()));  // captured
  Put32(body, static_cast<uint32_t>(data.size()));  // original
  body += data;
  PadTo32Bits(body);
  PutOption(body, kEpbFlags, Uint32Bytes(static_cast<uint32_t>(direction)));
  EndOptions(body);
  return Block(kEnhancedPacketType, body);
}
