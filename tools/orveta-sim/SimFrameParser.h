#pragma once
// Reads command frames from the bytes the PC sends, one byte at a time:
// address, length L (4 to 100), L - 3 payload bytes, checksum (sum modulo 256
// of the bytes before it). A frame still incomplete after a pause longer than
// the gap limit is given up.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/orveta-sim/SimClock.h"

constexpr int kMinFrameLength = 4;
constexpr int kMaxFrameLength = 100;

struct SimFrameEvent {
  enum class Kind { Frame, Bad };
  Kind What;
  std::string Bytes;  // the whole frame (checksum included), or the bytes that made no frame
  SimTime FirstByteAt;
};

class SimFrameParser {
 public:
  explicit SimFrameParser(std::chrono::nanoseconds gapLimit) : gapLimit_(gapLimit) {}

  // Feeds one byte that arrived at `at`. A Frame event when it completes a
  // frame with a correct checksum; a Bad event when it is a length byte outside
  // 4-100 (the address and length bytes are reported) or a wrong checksum (the
  // whole frame is reported). Either way the parser starts afresh.
  std::optional<SimFrameEvent> Feed(uint8_t byte, SimTime at);
  // A Bad event with the bytes so far when the frame in progress has had no
  // byte for the gap limit at `now`. Call it when no byte is waiting.
  std::optional<SimFrameEvent> Expire(SimTime now);
  // When Expire will give up the frame in progress; nothing while idle.
  std::optional<SimTime> GapDeadline() const;
  bool Idle() const { return bytes_.empty(); }
  // A Bad event with the bytes of the frame in progress, if any (the line
  // went away).
  std::optional<SimFrameEvent> Abandon();

 private:
  SimFrameEvent Finish(SimFrameEvent::Kind kind);

  std::chrono::nanoseconds gapLimit_;
  std::string bytes_;
  SimTime firstAt_{};
  SimTime lastAt_{};
};
