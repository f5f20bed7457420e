#pragma once
// The frames of the link protocol: a command frame (address, length,
// payload, checksum), the slave test frame, a master's poll 10 04 55 69 and
// the acknowledgement 0x06. Pure code; everything that reads or writes a
// frame (the link, its trace and capture) builds on this.

#include <cstdint>

// Largest frame: address, length byte, payload, checksum.
constexpr int kFrameBufferSize = 100;
constexpr int kMaxPayload = kFrameBufferSize - 3;

constexpr uint8_t kPollFrame[4] = {0x10, 0x04, 0x55, 0x69};
constexpr uint8_t kAck = 0x06;

// Builds a command frame for `address` around `payload` (1 to kMaxPayload
// bytes) into `frame`; returns the frame length, or 0 when the payload does
// not fit.
int BuildFrame(uint32_t address, const uint8_t* payload, int length, uint8_t* frame);
// The slave test frame for `address` (address, 04, 'A', checksum); its length.
int BuildSlaveTestFrame(uint32_t address, uint8_t* frame);
// Sum modulo 256 of the bytes: the last byte of a frame.
uint8_t FrameChecksum(const uint8_t* bytes, int count);

// Watches a byte stream for the poll frame: fed one byte at a time, true when
// that byte completes 10 04 55 69.
class PollDetector {
 public:
  bool Feed(uint8_t byte);
  void Reset() { count_ = 0; }

 private:
  uint8_t window_[3] = {0, 0, 0};
  int count_ = 0;
};
