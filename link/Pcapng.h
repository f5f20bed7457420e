#pragma once
// pcapng blocks as bytes, for the wire capture: a section header, the one
// interface of a section and its enhanced packet blocks. No file and no
// clock here: bytes in, bytes out. Numbers are little-endian (the section
// header's byte-order magic tells readers so), every block and option is
// padded to 32 bits, and a file is a section header, an interface, then
// packets; a second section may follow in the same file.

#include <cstdint>
#include <string>
#include <string_view>

// LINKTYPE_USER0: a link type kept for private use, which the capture's
// dissector claims.
constexpr uint16_t kLinkTypeUser0 = 147;

// The direction bits of a packet's epb_flags option.
enum class PacketDirection : uint32_t { Unknown = 0, Inbound = 1, Outbound = 2 };

// Section header block, version 1.0, its length unknown; with the option
// shb_userappl when `application` is not empty.
std::string PcapngSectionHeader(std::string_view application);
// Interface description block: `linkType`, no snap length limit (0), the
// option if_name when `name` is not empty, and if_tsresol 6: time stamps
// count microseconds.
std::string PcapngInterface(uint16_t linkType, std::string_view name);
// Enhanced packet block of interface 0: the time stamp in microseconds since
// the epoch, the bytes whole (captured and original length alike), and the
// direction in epb_flags.
std::string PcapngPacket(int64_t microseconds, PacketDirection direction, std::string_view data);
