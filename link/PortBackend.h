#pragma once
// PortBackend: the device under a TSer_Port, and the only code that touches
// one. The termios device (CommPort, also for a pseudo-terminal) is one kind;
// tests may put a scripted one in its place.
//
// Every operation answers in the port's one convention, the status word: 0
// or positive after success (a count where there is one), a negative code
// after a failure. A failure of the device is the result of the operation
// that met it (kCommIoError); the first failure also stays in Status(), later
// successes do not clear it. "Nothing to read" and "not drained in time" are
// answers, not failures: they leave Status() as it is.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "link/LineErrors.h"

// Status codes.
constexpr int kCommOk = 0;
constexpr int kCommOpenFailed = -1;    // device missing, in use, no permission, not a tty
constexpr int kCommSetupFailed = -2;   // the line settings could not be applied
constexpr int kCommNoData = -8;        // nothing to read (in time)
constexpr int kCommShortWrite = -9;    // fewer bytes accepted than asked
constexpr int kCommIoError = -10;      // the device failed while in use (for example hung up)
constexpr int kCommNotDrained = -11;   // the transmitter did not empty within the time given
constexpr int kCommBadBaud = -25;      // above 115200, or not a standard rate
constexpr int kCommBadParity = -26;    // parity letter other than E, M, N, O, S
constexpr int kCommBadStopBits = -28;  // stop bits other than 1 or 2
constexpr int kCommBadDataBits = -27;  // data bits other than 5 to 8

// Size of the port's queues as the program knows them.
constexpr int kCommQueueSize = 1050;

// Called while ReadByteWait waits for a byte, so the program can serve its
// window events meanwhile. Process-wide; null means nothing is called.
using DispatchHook = std::function<void()>;
void SetDispatchHook(DispatchHook hook);

class PortBackend {
 public:
  virtual ~PortBackend() = default;
  PortBackend(const PortBackend&) = delete;
  PortBackend& operator=(const PortBackend&) = delete;

  int Status() const { return status_; }
  // The system's error number when opening the device failed (ENOENT,
  // EACCES, EWOULDBLOCK for a device another program holds, ...), else 0.
  int OpenError() const { return openError_; }
  virtual bool IsOpen() const = 0;
  // False once the device showed it has no modem lines (a pseudo-terminal):
  // RTS switching is then skipped.
  virtual bool HasModemLines() const = 0;

  // Up to n queued bytes into `out` without waiting: the count read;
  // kCommNoData (and 0 bytes) when none is queued or the device is closed;
  // kCommIoError when the device failed (the operations below likewise).
  virtual int ReadBlock(uint8_t* out, int n) = 0;
  // Queues the bytes for sending: the number accepted; fewer than asked sets
  // kCommShortWrite.
  virtual int WriteBlock(const uint8_t* data, int count) = 0;
  // Bytes still waiting to leave (0 when closed).
  virtual int TransmitCount() = 0;
  // Bytes received and not yet read (0 when closed). This is only what a read
  // sees now: a count of 0 does not mean that nothing is waiting behind it.
  // Also the way to ask whether the device is still there.
  virtual int ReceiveCount() = 0;
  // Spins until every byte written has left (kCommOk, at once when closed),
  // or kCommNotDrained once `limit` has passed first.
  virtual int Drain(std::chrono::microseconds limit) = 0;
  // True the first time it is asked once a drain took the transmitter for
  // empty without the device ever having said so: the caller says so once
  // for this open device.
  virtual bool TakeUnreportedNotice() { return false; }
  // Drops what is waiting to leave, and everything received and not yet read.
  virtual int PurgeTransmit() = 0;
  virtual int PurgeReceive() = 0;
  // RTS on or off; skipped on a device without modem lines.
  virtual int SetRts(bool on) = 0;
  // The receive error counters; nullopt where the device keeps none or
  // failed. Reading them changes nothing on the port.
  virtual std::optional<LineErrorCounts> ReadLineErrors() = 0;
  // Drops DTR and RTS and lets the device go; every operation stays safe.
  virtual void Close() = 0;

  // One received byte (0-255) without waiting, or ReadBlock's code.
  int ReadByte();
  // One received byte, waiting up to `ms` milliseconds while calling the
  // dispatch hook; kCommNoData when none came in time (at once when closed).
  // A byte that came in time is taken even when the hook overran the wait.
  int ReadByteWait(unsigned ms);
  // The free room of the transmit queue (0 when the device failed).
  int TransmitFree();

 protected:
  PortBackend() = default;
  // Notes `code` as the status unless an earlier failure stands; returns it.
  int Fail(int code);

  int openError_ = 0;

 private:
  int status_ = kCommOk;
};
