#include "link/PortBackend.h"

#include <algorithm>
#include <utility>

namespace {

DispatchHook& CurrentHook() {
  static DispatchHook hook;
  return hook;
}

}  // namespace

void SetDispatchHook(DispatchHook hook) { CurrentHook() = std::move(hook); }

int PortBackend::Fail(int code) {
  if (status_ >= 0) status_ = code;
  return code;
}

int PortBackend::ReadByte() {
  uint8_t byte = 0;
  const int got = ReadBlock(&byte, 1);
  return got == 1 ? byte : got;
}

int PortBackend::ReadByteWait(unsigned ms) {
  if (!IsOpen()) return kCommNoData;
  const DispatchHook hook = CurrentHook();  // a copy: the hook may replace itself
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    // The clock is read before the queue: a byte that came while the hook ran
    // (window events may take longer than the whole wait) is still taken.
    const bool expired = std::chrono::steady_clock::now() >= deadline;
    const int byte = ReadByte();
    if (byte != kCommNoData || expired) return byte;
    if (hook) hook();
  }
}

int PortBackend::TransmitFree() {
  const int queued = TransmitCount();
  if (queued < 0) return 0;
  return std::max(0, kCommQueueSize - queued);
}
