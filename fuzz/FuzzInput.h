#pragma once
// Shared by the fuzz targets: reading the settings bytes at the front of an
// input, and invariant checks that stop the run whatever the build type.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Aborts with the broken invariant, so that libFuzzer saves the input.
inline void Require(bool condition, const char* invariant) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken: %s\n", invariant);
  std::abort();
}

// Reads an input front to back: a few bytes that choose settings, then the
// rest as the data under test. Past the end every byte reads as 0.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() {
    if (used_ == size_) return 0;
    return data_[used_++];
  }

  // A breakfast or dinner count: bytes below 200 give -100 ... 99 (so 0, the
  // usual counts and small negative ones), the others the extremes below.
  // Text seeds read well: 'd' is 0, 'h' is 4, 'j' is 6.
  int32_t Count() {
    static constexpr int32_t kExtremes[] = {INT32_MIN, INT32_MIN + 1, -65536, -257, -256, 255, 256,
                                            257,       65535,         65536,  1 << 24, INT32_MAX - 1, INT32_MAX};
    const uint8_t b = Byte();
    if (b < 200) return static_cast<int32_t>(b) - 100;
    return kExtremes[(b - 200) % (sizeof kExtremes / sizeof kExtremes[0])];
  }

  std::string_view Rest() {
    const std::string_view rest(reinterpret_cast<const char*>(data_) + used_, size_ - used_);
    used_ = size_;
    return rest;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};
