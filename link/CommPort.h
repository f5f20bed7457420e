#pragma once
// CommPort: the termios device under a TSer_Port (a PortBackend): a raw POSIX
// serial port with the small set of operations the terminal link needs. A
// pseudo-terminal is opened the same way; what it lacks (modem lines, line
// status, counters) is found at first use and skipped from then on.

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/LineErrors.h"
#include "link/PortBackend.h"

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

class CommPort final : public PortBackend {
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
  ~CommPort() override;

  bool IsOpen() const override { return fd_ >= 0; }
  bool HasModemLines() const override { return hasModemLines_; }
  // False once the driver showed it cannot tell when its shift register is
  // empty (TIOCSERGETLSR): TransmitCount is then the driver queue alone.
  bool HasLineStatus() const { return hasLineStatus_; }
  // True once the transmitter was taken for empty without the device ever
  // having said so: an adapter whose line status never sets TIOCSER_TEMT
  // (QEMU's FTDI, some clone chips). TransmitCount then waits only until
  // the bytes written can have left at the line's pace.
  bool TransmitEmptyUnreported() const { return transmitEmptyUnreported_; }
  bool TakeUnreportedNotice() override;
  // The COM index the port was opened as; -1 when opened by path.
  int PortIndex() const { return portIndex_; }

  int ReadBlock(uint8_t* out, int n) override;
  int WriteBlock(const uint8_t* data, int count) override;
  // The driver queue (TIOCOUTQ), and on real UARTs the shift register. Once
  // the driver queue is empty, a device that has never reported its
  // transmitter empty counts as empty when the bytes written can have left:
  // their time on the wire from the write, a few byte times and an adapter's
  // latency later.
  int TransmitCount() override;
  // The read queue (FIONREAD, 4 KB): behind it the driver may hold much more.
  int ReceiveCount() override;
  int Drain(std::chrono::microseconds limit) override;
  int PurgeTransmit() override;
  // The read queue and what the driver holds behind it.
  int PurgeReceive() override;
  // TIOCGICOUNT; nullopt where the driver keeps none (a pseudo-terminal, some
  // USB adapters) or the device failed.
  std::optional<LineErrorCounts> ReadLineErrors() override;
  int SetRts(bool on) override;
  // Also gives up the exclusive use.
  void Close() override;

 private:
  CommPort() = default;
  // Raises or drops the given TIOCM_ lines; remembers a device without them.
  int SetLines(int lines, bool on);
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
