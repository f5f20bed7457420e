#include "link/Frame.h"

#include <cstring>

namespace {

constexpr uint8_t kSlaveTestLetter = 0x41;  // 'A'

}  // namespace

uint8_t FrameChecksum(const uint8_t* bytes, int count) {
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

int BuildFrame(uint32_t address, const uint8_t* payload, int length, uint8_t* frame) {
  if (length < 1 || length > kMaxPayload) return 0;
  frame[0] = static_cast<uint8_t>(address & 0xFF);
  frame[1] = static_cast<uint8_t>(length + 3);
  std::memcpy(frame + 2, payload, static_cast<size_t>(length));
  frame[length + 2] = FrameChecksum(frame, length + 2);
  return length + 3;
}

int BuildSlaveTestFrame(uint32_t address, uint8_t* frame) {
  const uint8_t letter = kSlaveTestLetter;
  return BuildFrame(address, &letter, 1, frame);
}

bool PollDetector::Feed(uint8_t byte) {
  if (count_ == 3 && window_[0] == kPollFrame[0] && window_[1] == kPollFrame[1] && window_[2] == kPollFrame[2] &&
      byte == kPollFrame[3]) {
    return true;
  }
  window_[0] = window_[1];
  window_[1] = window_[2];
  window_[2] = byte;
  if (count_ < 3) ++count_;
  return false;
}
