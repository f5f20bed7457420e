#pragma once
// A scripted serial device for tests of TSer_Port, for what a pseudo-terminal
// cannot show cheaply: the test puts the bytes the far end sends, makes the
// device hang up or its transmitter never drain, and reads what was written
// and asked of the device. The line outlives each device opened on it, so a
// port opened again finds the same script.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "link/Customport.h"
#include "link/PortBackend.h"

struct FakeLine {
  std::deque<uint8_t> Arriving;  // sent by the far end, not yet read
  std::vector<uint8_t> Written;
  std::vector<std::chrono::microseconds> DrainLimits;  // the time each drain was given
  int TransmitPurges = 0;
  int Opens = 0;
  bool Missing = false;      // opening fails
  bool HungUp = false;       // the device failed: every operation says so
  bool NeverDrains = false;  // the transmitter never empties
};

class FakePort final : public PortBackend {
 public:
  explicit FakePort(std::shared_ptr<FakeLine> line) : line_(std::move(line)), open_(!line_->Missing) {
    ++line_->Opens;
    if (!open_) Fail(kCommOpenFailed);
  }

  bool IsOpen() const override { return open_; }
  bool HasModemLines() const override { return true; }

  int ReadBlock(uint8_t* out, int n) override {
    const int queued = ReceiveCount();
    if (queued <= 0) return queued < 0 ? queued : kCommNoData;
    int got = 0;
    for (; got < n && !line_->Arriving.empty(); ++got) {
      out[got] = line_->Arriving.front();
      line_->Arriving.pop_front();
    }
    return got;
  }
  int WriteBlock(const uint8_t* data, int count) override {
    if (!open_ || line_->HungUp) {
      Fail(line_->HungUp ? kCommIoError : kCommShortWrite);
      return 0;
    }
    line_->Written.insert(line_->Written.end(), data, data + count);
    return count;
  }
  int TransmitCount() override { return Answer(line_->NeverDrains ? 1 : 0); }
  int ReceiveCount() override { return Answer(static_cast<int>(line_->Arriving.size())); }
  int Drain(std::chrono::microseconds limit) override {
    if (!open_) return kCommOk;
    line_->DrainLimits.push_back(limit);
    const int queued = TransmitCount();
    return queued > 0 ? kCommNotDrained : queued;
  }
  int PurgeTransmit() override {
    ++line_->TransmitPurges;
    return Answer(kCommOk);
  }
  int PurgeReceive() override {
    if (open_) line_->Arriving.clear();
    return Answer(kCommOk);
  }
  int SetRts(bool) override { return Answer(kCommOk); }
  std::optional<LineErrorCounts> ReadLineErrors() override { return std::nullopt; }
  void Close() override { open_ = false; }

 private:
  // What an operation of the open device answers: kCommIoError once hung up.
  int Answer(int result) {
    if (!open_) return kCommOk;
    return line_->HungUp ? Fail(kCommIoError) : result;
  }

  std::shared_ptr<FakeLine> line_;
  bool open_;
};

// Opens a FakePort on `line` for every device a TSer_Port opens.
inline PortOpener FakeOpener(std::shared_ptr<FakeLine> line) {
  return [line](int, int, char) { return std::make_unique<FakePort>(line); };
}
