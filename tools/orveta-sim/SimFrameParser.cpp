#include "tools/orveta-sim/SimFrameParser.h"

namespace {

uint8_t Checksum(const std::string& bytes, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += static_cast<uint8_t>(bytes[i]);
  return static_cast<uint8_t>(sum);
}

}  // namespace

std::optional<SimFrameEvent> SimFrameParser::Feed(uint8_t byte, SimTime at) {
  if (bytes_.empty()) firstAt_ = at;
  lastAt_ = at;
  bytes_.push_back(static_cast<char>(byte));
  if (bytes_.size() < 2) return std::nullopt;
  int length = static_cast<uint8_t>(bytes_[1]);
  if (length < kMinFrameLength || length > kMaxFrameLength) return Finish(SimFrameEvent::Kind::Bad);
  if (bytes_.size() < static_cast<std::size_t>(length)) return std::nullopt;
  bool good = Checksum(bytes_, bytes_.size() - 1) == byte;
  return Finish(good ? SimFrameEvent::Kind::Frame : SimFrameEvent::Kind::Bad);
}

std::optional<SimFrameEvent> SimFrameParser::Expire(SimTime now) {
  if (now - lastAt_ < gapLimit_) return std::nullopt;
  return Abandon();
}

std::optional<SimFrameEvent> SimFrameParser::Abandon() {
  if (bytes_.empty()) return std::nullopt;
  return Finish(SimFrameEvent::Kind::Bad);
}

std::optional<SimTime> SimFrameParser::GapDeadline() const {
  if (bytes_.empty()) return std::nullopt;
  return lastAt_ + gapLimit_;
}

SimFrameEvent SimFrameParser::Finish(SimFrameEvent::Kind kind) {
  SimFrameEvent event{kind, std::move(bytes_), firstAt_};
  bytes_.clear();
  return event;
}
