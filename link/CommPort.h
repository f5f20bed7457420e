#pragma once
// CommPort: the only code that touches a serial device. A raw POSIX termios
// port with the small set of operations the terminal link needs. Status codes
// follow the port layer's convention: 0 or positive after success, negative
// after a failure; the first failure stays (later successes do not clear it).

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/LineErrors.h"

// Status codes.
constexpr int kCommOk = 0;
constexpr int kCommOpenFailed = -1;    // device missing, in use, no permission, not a tty
constexpr int kCommSetupFailed = -2;   // the line settings could not be applied
constexpr int kCommNoData = -8;        // nothing to read (in time)
constexpr int kCommShortWrite = -9;    // fewer bytes accepted than asked
constexpr int kCommIoError = -10;      // the device failed while in use (for example hung up)
constexpr int kCommBadBaud = -25;      // above 115200, or not a standard rate
constexpr int kCommBadParity = -26;    // parity letter other than E, M, N, O, S
constexpr int kCommBadStopBits = -28;  // stop bits other than 1 or 2
constexpr int kCommBadDataBits = -27;  // data bits other than 5 to 8

// Size of the port's queues as the program knows them.
constexpr int kCommQueueSize = 1050;

// Device path of COM number index + 1 (index 0-7). Process-wide; defaults are
// /dev/ttyS0 ... /dev/ttyS7, the configuration loader replaces them from the
// INI section "Porty". An index outside 0-7 gives an empty path.
std::string ComDevicePath(int index);
void SetComDevicePath(int index, const std::string& path);

// Builds raw-mode line settings: CLOCAL | CREAD, the given data and stop bits,
// no flow control, read returning at once. Parity letter (any case): N none,
// E even, O odd, M mark, S space (mark and space through CMSPAR).
// Returns kCommOk, or kCommBadBaud / kCommBadParity / kCommBadDataBits /
// kCommBadStopBits without touching `out` further than cfmakeraw.
int MakeTermios(int baud, char parity, int dataBits, int stopBits, termios& out);

// Called while ReadByteWait waits for a byte, so the program can serve its
// window events meanwhile. Process-wide; null means nothing is called.
using DispatchHook = std::function<void()>;
void SetDispatchHook(DispatchHook hook);

class CommPort {
 public:
  // Opens ComDevicePath(portIndex) exclusively (O_NOCTTY | O_NONBLOCK and
  // flock, MakeTermios at once with what the tty's first settings echoed
  // dropped, then TIOCEXCL); DTR and RTS are raised. Always
  // returns an object; a failure shows as a negative Status(). The wire trace
  // names the port's events after its COM number.
  static std::unique_ptr<CommPort> Open(int portIndex, int baud, char parity, int dataBits, int stopBits);
  // Opens a device by path; used by Open and by tests.
  static std::unique_ptr<CommPort> OpenPath(const std::string& path, int baud, char parity, int dataBits,
                                            int stopBits);
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  int Status() const { return status_; }
  bool IsOpen() const { return fd_ >= 0; }
  // False once setting the modem lines showed the device has none (a
  // pseudo-terminal): RTS switching is then skipped.
  bool HasModemLines() const { return hasModemLines_; }
  // False once the driver showed it cannot tell when its shift register is
  // empty (TIOCSERGETLSR): TransmitCount is then the driver queue alone.
  bool HasLineStatus() const { return hasLineStatus_; }
  // True once the transmitter was taken for empty without the device ever
  // having said so: an adapter whose line status never sets TIOCSER_TEMT
  // (QEMU's FTDI, some clone chips). TransmitCount then waits only until
  // the bytes written can have left at the line's pace.
  bool TransmitEmptyUnreported() const { return transmitEmptyUnreported_; }
  // True the first time it is asked once TransmitEmptyUnreported holds: the
  // caller says so once for this open port.
  bool TakeUnreportedNotice();
  // The COM index the port was opened as; -1 when opened by path.
  int PortIndex() const { return portIndex_; }
  // The system's error number when opening the device failed (ENOENT,
  // EACCES, EWOULDBLOCK for a device another program holds, ...), else 0.
  int OpenError() const { return openError_; }

  // One received byte (0-255) without waiting, or kCommNoData; kCommIoError
  // when the device failed (the reads below likewise).
  int ReadByte();
  // One received byte, waiting up to `ms` milliseconds while calling the
  // dispatch hook; kCommNoData when none came in time (at once when closed).
  // A byte that came in time is taken even when the hook overran the wait.
  int ReadByteWait(unsigned ms);
  // Up to n queued bytes into `out`; the count read, or kCommNoData (and 0
  // bytes) when the queue is empty.
  int ReadBlock(uint8_t* out, int n);
  // Queues the bytes for sending; a device that accepts fewer sets
  // kCommShortWrite. Returns the number of bytes accepted.
  int WriteBlock(const uint8_t* data, int count);

  // Bytes still waiting to leave (driver queue, and on real UARTs the shift
  // register; kCommIoError when the device failed), and the free room of the
  // transmit queue (0 when the device failed). Once the driver queue is
  // empty, a device that has never reported its transmitter empty counts as
  // empty when the bytes written can have left: their time on the wire from
  // the write, a few byte times and an adapter's latency later.
  int TransmitCount();
  int TransmitFree();
  // Bytes received and not yet read; kCommIoError when the device failed.
  // This is only the read queue (4 KB): behind it the driver may hold much
  // more, so a count of 0 does not mean that nothing is waiting.
  int ReceiveCount();
  void PurgeTransmit();
  // Drops everything received and not yet read: the read queue and what the
  // driver holds behind it.
  void PurgeReceive();
  // The driver's receive error counters (TIOCGICOUNT); nullopt where the
  // driver keeps none (a pseudo-terminal, some USB adapters) or the device
  // failed. Reading them changes nothing on the port.
  std::optional<LineErrorCounts> ReadLineErrors();
  // RTS on or off; skipped on a device without modem-control lines.
  void SetRts(bool on);
  // Drops DTR and RTS, gives up the exclusive use, closes the device.
  void Close();

 private:
  CommPort() = default;
  void Fail(int code);
  // Raises or drops the given TIOCM_ lines; remembers a device without them.
  void SetLines(int lines, bool on);
  // 1 while the UART's shift register still holds bits, else 0 (also where
  // the driver cannot tell, and for a device that never reports it once the
  // bytes can have left); kCommIoError when the device failed.
  int ShiftRegisterCount();
  // When the bytes written so far can have left the wire.
  std::chrono::steady_clock::time_point LastByteOut() const;
  // The count a queue's ioctl (TIOCOUTQ, FIONREAD) reports; 0 when closed,
  // kCommIoError when the device failed.
  int QueueCount(unsigned long request);

  int fd_ = -1;
  int portIndex_ = -1;  // COM index for the wire trace; -1 when opened by path
  int status_ = kCommOk;
  int openError_ = 0;
  bool hasModemLines_ = true;
  bool hasLineStatus_ = true;
  bool hasCounters_ = true;
  std::chrono::nanoseconds byteTime_{0};  // one character on the wire
  // When the bytes written so far leave the wire at the line's pace.
  std::chrono::steady_clock::time_point wireFreeAt_{};
  bool transmitEmptySeen_ = false;  // the device has reported its transmitter empty
  bool transmitEmptyUnreported_ = false;
  bool unreportedNoticed_ = false;
};
