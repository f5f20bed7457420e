#include "link/Customport.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "link/Settings.h"
#include "link/WireTrace.h"

namespace {

constexpr int kDiscardChunk = 64;
// Start bit, 8 data bits, parity and stop bit: the longest a byte takes.
constexpr int64_t kBitsPerByte = 11;
constexpr int64_t kDrainMarginUs = 1'000'000;
// Bytes a UART still held when the receive queue was flushed come a few byte
// times later: a 16550 hands over what lies below its trigger level after
// four character times of quiet, a USB adapter what it holds at its latency
// timer (1 ms with the udev rule).
constexpr int64_t kSettleByteTimes = 4;
constexpr int64_t kShortestSettleUs = 1000;

int NoDataAsMinusOne(int result) { return result == kCommNoData ? -1 : result; }

// How long `count` bytes may take to leave at `baud`: twice their line time
// plus a margin, so a stuck device (a driver queue that does not empty, or a
// pseudo-terminal nobody reads) cannot hold the program for ever. A device
// that never reports its transmitter empty is not waited for that long: see
// CommPort::TransmitCount.
std::chrono::microseconds DrainLimit(int count, int baud) {
  const int64_t rate = baud > 0 ? baud : 1;
  return std::chrono::microseconds(2 * count * kBitsPerByte * 1'000'000 / rate + kDrainMarginUs);
}

// How long a clear goes on reading away what still comes. Never longer than
// the receive turnaround: in a slave exchange the clear comes right after the
// frame, and a terminal's answer that may follow the turnaround must stay.
std::chrono::microseconds SettleTime(int baud) {
  const int64_t rate = baud > 0 ? baud : 1;
  const int64_t settle = std::max(kShortestSettleUs, kSettleByteTimes * kBitsPerByte * 1'000'000 / rate);
  return std::chrono::microseconds(std::min<int64_t>(settle, Settings().RxTurnaroundUs));
}

}  // namespace

void LogPortEvent(int portIndex, const char* utf8Event, LogUrgency urgency) {
  AppendErrorLog("COM" + std::to_string(portIndex + 1) + " " + Cp1250FromUtf8(utf8Event),
                 LogTag{"port", urgency, portIndex + 1});
}

std::unique_ptr<PortBackend> OpenComDevice(int portIndex, int baud, char parity) {
  return CommPort::Open(portIndex, baud, parity, 8, 1);
}

TSer_Port::TSer_Port(int portIndex, int baud) : TSer_Port(portIndex, baud, OpenComDevice) {}

TSer_Port::TSer_Port(int portIndex, int baud, PortOpener open)
    : PortIndex(portIndex), Baud(baud), open_(std::move(open)), parity_(Settings().ParityMark ? 'M' : 'N') {
  OpenPort(portIndex, baud);
  TracePortOpen(PortIndex, ComDevicePath(PortIndex), Baud, Opened, false, Port->HasModemLines());
  reopenFailureLogged_ = !Opened;  // the start-up logs its own line
}

TSer_Port::~TSer_Port() { ClosePort(); }

bool TSer_Port::OpenDevice(int baud) {
  if (Port) Port->Close();  // our own earlier handle would lock the device
  Port = open_(PortIndex, baud, parity_);
  Opened = Port->Status() >= 0;
  failed_ = false;
  lineErrorsSeen_.reset();
  if (Opened) LookAtLineErrors();
  return Opened;
}

bool TSer_Port::OpenPort(int portIndex, int baud) {
  PortIndex = portIndex;
  if (!OpenDevice(baud)) return false;
  LinkSettings& settings = Settings();
  if (settings.TxTurnaroundUs == 0) settings.TxTurnaroundUs = kDefaultTurnaroundUs;
  if (settings.RxTurnaroundUs == 0) settings.RxTurnaroundUs = kDefaultTurnaroundUs;
  return true;
}

// The closed port object stays, so every operation remains safe afterwards.
void TSer_Port::ClosePort() {
  if (Port) Port->Close();
  Opened = false;
}

bool TSer_Port::NeedsReopen() {
  if (lost_) return true;
  if (!Opened || (!failed_ && Port->ReceiveCount() >= 0)) return false;
  lost_ = true;
  LogPortEvent(PortIndex, "chyba zařízení");
  ClosePort();
  return true;
}

bool TSer_Port::Reopen() {
  if (waits_ > 0) return false;
  const bool opened = OpenDevice(Baud);
  // Tried again at every periodic check while the device is missing: the
  // trace and the log name a failure once.
  if (opened || !reopenFailureLogged_) {
    TracePortOpen(PortIndex, ComDevicePath(PortIndex), Baud, opened, true, Port->HasModemLines());
  }
  if (opened) {
    lost_ = false;
    reopenFailureLogged_ = false;
    LogPortEvent(PortIndex, "otevřen", LogUrgency::Info);
    return true;
  }
  if (!reopenFailureLogged_) LogPortEvent(PortIndex, "neotevřen");
  reopenFailureLogged_ = true;
  return false;
}

void TSer_Port::NoteBytesWithoutPoll(uint32_t bytes, std::chrono::milliseconds bound) {
  if (noiseLogged_) return;
  noiseLogged_ = true;
  LogPortEvent(PortIndex, ("nese bajty bez výzvy terminálu: " + std::to_string(bytes) + " bajtů za " +
                           std::to_string(bound.count()) + " ms, naslouchání ukončeno")
                              .c_str());
}

int TSer_Port::Noted(int result) {
  if (result == kCommIoError) failed_ = true;
  return result;
}

int TSer_Port::ReadByte() { return NoDataAsMinusOne(Noted(Port->ReadByte())); }

int TSer_Port::ReadByteWait(unsigned ms) {
  // Counted for as long as the wait runs, also when the hook throws.
  struct WaitScope {
    explicit WaitScope(int& count) : count_(count) { ++count_; }
    ~WaitScope() { --count_; }
    int& count_;
  } scope(waits_);
  return NoDataAsMinusOne(Noted(Port->ReadByteWait(ms)));
}

bool TSer_Port::WriteBlock(const uint8_t* data, int count) {
  if (count <= 0) return Port->Status() >= 0;
  Port->WriteBlock(data, count);
  const int drained = Port->Drain(DrainLimit(count, Baud));
  if (Port->TakeUnreportedNotice()) {
    LogPortEvent(PortIndex, "nehlásí prázdný vysílač: čeká se jen doba bajtů na lince");
  }
  if (drained != kCommOk) {
    Port->PurgeTransmit();  // stale bytes must not run into the next frame
    return false;
  }
  return Port->Status() >= 0;
}

void TSer_Port::TransmitMode() {
  Port->SetRts(true);
  WaitMicroseconds(Settings().TxTurnaroundUs);
}

void TSer_Port::ReceiveMode() {
  WaitMicroseconds(Settings().RxTurnaroundUs);
  Port->SetRts(false);
}

void TSer_Port::ClearTransmit() {
  if (Port->TransmitFree() > 0) Port->PurgeTransmit();
}

void TSer_Port::ClearReceive() {
  // A read that returns nothing means only that the read queue (4 KB) is
  // empty for the moment: behind it the driver may still hold up to 64 KB
  // (20 KB on a pseudo-terminal), seconds of polls. The flush drops it all.
  if (WireTraceOn()) TraceReceiveFlushed(PortIndex, static_cast<uint32_t>(std::max(Port->ReceiveCount(), 0)));
  Port->PurgeReceive();
  const auto settled = std::chrono::steady_clock::now() + SettleTime(Baud);
  uint8_t discard[kDiscardChunk];
  do {
    while (Noted(Port->ReadBlock(discard, kDiscardChunk)) > 0) {
    }
  } while (std::chrono::steady_clock::now() < settled);
}

void TSer_Port::LookAtLineErrors() {
  const std::optional<LineErrorCounts> now = Port->ReadLineErrors();
  if (!now) return;
  if (!lineErrorTotals_) lineErrorTotals_ = LineErrorCounts{};
  const LineErrorCounts grown = lineErrorsSeen_ ? LineErrorsGrown(*lineErrorsSeen_, *now) : LineErrorCounts{};
  lineErrorsSeen_ = now;
  if (!AnyLineErrors(grown)) return;
  *lineErrorTotals_ += grown;
  TraceLineErrors(PortIndex, grown, *lineErrorTotals_);
}

LineErrorWatch::LineErrorWatch(TSer_Port* port) : port_(port) {
  if (port_ == nullptr) return;
  port_->LookAtLineErrors();
  atStart_ = port_->LineErrorTotals();
}

LineErrorWatch::~LineErrorWatch() {
  if (port_ == nullptr) return;
  port_->LookAtLineErrors();
  const std::optional<LineErrorCounts> atEnd = port_->LineErrorTotals();
  if (!atEnd) return;
  const LineErrorCounts grown = LineErrorsGrown(atStart_.value_or(LineErrorCounts{}), *atEnd);
  if (AnyLineErrors(grown)) {
    AppendErrorLog(Cp1250FromUtf8(LineErrorLogMessage(port_->PortIndex, grown)),
                   LogTag{"line-errors", LogUrgency::Warning, port_->PortIndex + 1});
  }
}

void TSer_Port::WaitMicroseconds(uint32_t us) {
  using Clock = std::chrono::steady_clock;
  const auto target = Clock::now() + std::chrono::microseconds(us) + Clock::duration(1);
  while (Clock::now() < target) {
  }
}
