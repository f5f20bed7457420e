#include "link/CommPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>

#include "link/Settings.h"
#include "link/WireTrace.h"

namespace {

std::array<std::string, kPortCount>& ComPathTable() {
  static std::array<std::string, kPortCount> table = [] {
    std::array<std::string, kPortCount> paths;
    for (int i = 0; i < kPortCount; ++i) paths[i] = "/dev/ttyS" + std::to_string(i);
    return paths;
  }();
  return table;
}

struct BaudRate {
  int baud;
  speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},       {75, B75},       {110, B110},     {134, B134},     {150, B150},     {200, B200},
    {300, B300},     {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400},   {4800, B4800},
    {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

const BaudRate* FindBaudRate(int baud) {
  for (const BaudRate& rate : kBaudRates) {
    if (rate.baud == baud) return &rate;
  }
  return nullptr;
}

struct Parity {
  char letter;
  tcflag_t flags;
};

// Mark and space are the sticky-parity forms: CMSPAR with PARODD sends a 1.
constexpr Parity kParities[] = {
    {'N', 0},
    {'E', PARENB},
    {'O', PARENB | PARODD},
    {'M', PARENB | CMSPAR | PARODD},
    {'S', PARENB | CMSPAR},
};

const Parity* FindParity(char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (const Parity& parity : kParities) {
    if (parity.letter == upper) return &parity;
  }
  return nullptr;
}

constexpr tcflag_t kCharSizes[] = {CS5, CS6, CS7, CS8};  // 5 to 8 data bits

// A device that never reports its transmitter empty is taken for empty this
// long after its bytes' time on the wire: a few byte times, and a USB
// adapter's latency (the bytes go over at the next frame of 1 ms and leave a
// frame later at worst).
constexpr int kUnreportedSlackBytes = 3;
constexpr std::chrono::microseconds kAdapterLatency{2000};

// The ioctl answers of a device that lacks a feature rather than failed.
bool NotSupported(int error) { return error == ENOTTY || error == EINVAL; }

// Opens a tty under a lock that keeps out other programs (root included);
// nothing is changed on a line another program holds.
int OpenLocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !::isatty(fd)) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Raw settings first of all: until they hold, the terminal settings of a
// tty's first open echo what comes in (a terminal's poll 10 04 55 69 goes
// back on the line as "^PUi"). What was echoed meanwhile and still waits in
// the driver is dropped.
bool ApplyLineSettings(int fd, int baud, char parity, int dataBits, int stopBits) {
  termios settings{};
  return ::tcgetattr(fd, &settings) == 0 && MakeTermios(baud, parity, dataBits, stopBits, settings) == kCommOk &&
         ::tcsetattr(fd, TCSANOW, &settings) == 0 && ::tcflush(fd, TCOFLUSH) == 0;
}

std::chrono::nanoseconds ByteTime(int baud, char parity, int dataBits, int stopBits) {
  const int bits = 1 + dataBits + (std::toupper(static_cast<unsigned char>(parity)) == 'N' ? 0 : 1) + stopBits;
  return std::chrono::nanoseconds(int64_t{bits} * 1'000'000'000 / baud);
}

// USB adapters otherwise hold received bytes back for several milliseconds.
void RequestLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags |= ASYNC_LOW_LATENCY;
  ::ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace

std::string ComDevicePath(int index) {
  if (index < 0 || index >= kPortCount) return {};
  return ComPathTable()[index];
}

void SetComDevicePath(int index, const std::string& path) {
  if (index < 0 || index >= kPortCount) return;
  ComPathTable()[index] = path;
}

int MakeTermios(int baud, char parity, int dataBits, int stopBits, termios& out) {
  const BaudRate* rate = FindBaudRate(baud);
  if (rate == nullptr) return kCommBadBaud;
  const Parity* parityEntry = FindParity(parity);
  if (parityEntry == nullptr) return kCommBadParity;
  if (dataBits < 5 || dataBits > 8) return kCommBadDataBits;
  if (stopBits != 1 && stopBits != 2) return kCommBadStopBits;

  ::cfmakeraw(&out);
  out.c_iflag &= ~(INPCK | IXOFF | IXANY);
  out.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  out.c_cflag |= CLOCAL | CREAD | kCharSizes[dataBits - 5] | parityEntry->flags;
  if (stopBits == 2) out.c_cflag |= CSTOPB;
  out.c_cc[VMIN] = 0;
  out.c_cc[VTIME] = 0;
  ::cfsetispeed(&out, rate->speed);
  ::cfsetospeed(&out, rate->speed);
  return kCommOk;
}

std::unique_ptr<CommPort> CommPort::Open(int portIndex, int baud, char parity, int dataBits, int stopBits) {
  std::unique_ptr<CommPort> port = OpenPath(ComDevicePath(portIndex), baud, parity, dataBits, stopBits);
  port->portIndex_ = portIndex;
  return port;
}

std::unique_ptr<CommPort> CommPort::OpenPath(const std::string& path, int baud, char parity, int dataBits,
                                             int stopBits) {
  std::unique_ptr<CommPort> port(new CommPort());
  termios check{};
  const int parameters = MakeTermios(baud, parity, dataBits, stopBits, check);
  if (parameters != kCommOk) {
    port->Fail(parameters);
    return port;
  }
  port->fd_ = OpenLocked(path);
  if (port->fd_ < 0) {
    port->openError_ = errno;
    port->Fail(kCommOpenFailed);
    return port;
  }
  if (!ApplyLineSettings(port->fd_, baud, parity, dataBits, stopBits)) {
    port->Fail(kCommSetupFailed);
    port->Close();
    return port;
  }
  // No other open of the tty from here on.
  if (::ioctl(port->fd_, TIOCEXCL) != 0) {
    port->openError_ = errno;
    port->Fail(kCommOpenFailed);
    port->Close();
    return port;
  }
  port->byteTime_ = ByteTime(baud, parity, dataBits, stopBits);
  RequestLowLatency(port->fd_);
  port->SetLines(TIOCM_DTR | TIOCM_RTS, true);
  // A device whose modem lines fail counts as not opened: it must not keep
  // the descriptor and the locks either.
  if (port->Status() < 0) port->Close();
  return port;
}

CommPort::~CommPort() { Close(); }

int CommPort::SetLines(int lines, bool on) {
  if (fd_ < 0 || !hasModemLines_) return kCommOk;
  int bits = lines;
  if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return kCommOk;
  if (!NotSupported(errno)) return Fail(kCommIoError);
  hasModemLines_ = false;
  return kCommOk;
}

int CommPort::ReadBlock(uint8_t* out, int n) {
  if (n <= 0) return 0;
  const int queued = ReceiveCount();
  if (queued < 0) return queued;
  if (queued == 0) return kCommNoData;
  const ssize_t got = ::read(fd_, out, static_cast<size_t>(std::min(queued, n)));
  if (got > 0) {
    TraceReceived(portIndex_, out, static_cast<int>(got));
    return static_cast<int>(got);
  }
  if (got < 0 && errno != EAGAIN && errno != EINTR) return Fail(kCommIoError);
  return kCommNoData;
}

int CommPort::WriteBlock(const uint8_t* data, int count) {
  int written = 0;
  while (fd_ >= 0 && written < count) {
    const ssize_t accepted = ::write(fd_, data + written, static_cast<size_t>(count - written));
    if (accepted > 0) {
      written += static_cast<int>(accepted);
    } else if (!(accepted < 0 && errno == EINTR)) {
      break;  // queue full (EAGAIN) or device error
    }
  }
  if (written < count) Fail(kCommShortWrite);
  wireFreeAt_ = std::max(wireFreeAt_, std::chrono::steady_clock::now()) + written * byteTime_;
  TraceWritten(portIndex_, data, count, written);
  return written;
}

std::chrono::steady_clock::time_point CommPort::LastByteOut() const {
  return wireFreeAt_ + kUnreportedSlackBytes * byteTime_ + kAdapterLatency;
}

int CommPort::ShiftRegisterCount() {
  if (!hasLineStatus_) return 0;
  unsigned int lineStatus = 0;
  if (::ioctl(fd_, TIOCSERGETLSR, &lineStatus) == 0) {
    if (lineStatus & TIOCSER_TEMT) {
      transmitEmptySeen_ = true;
      return 0;
    }
    // A device that has reported it before is waited for (a stuck one is the
    // caller's time limit); one that never has, only while its bytes can
    // still be on their way.
    if (transmitEmptySeen_ || std::chrono::steady_clock::now() < LastByteOut()) return 1;
    transmitEmptyUnreported_ = true;
    return 0;
  }
  if (NotSupported(errno)) {
    hasLineStatus_ = false;  // pseudo-terminals and some adapters: the driver queue alone
    return 0;
  }
  return Fail(kCommIoError);
}

int CommPort::QueueCount(unsigned long request) {
  if (fd_ < 0) return 0;
  int queued = 0;
  if (::ioctl(fd_, request, &queued) == 0) return queued;
  return Fail(kCommIoError);
}

int CommPort::TransmitCount() {
  const int queued = QueueCount(TIOCOUTQ);
  return queued != 0 || fd_ < 0 ? queued : ShiftRegisterCount();
}

bool CommPort::TakeUnreportedNotice() {
  if (!transmitEmptyUnreported_ || unreportedNoticed_) return false;
  unreportedNoticed_ = true;
  return true;
}

int CommPort::ReceiveCount() { return QueueCount(FIONREAD); }

int CommPort::Drain(std::chrono::microseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const int queued = TransmitCount();
    if (queued <= 0) return queued;
    if (std::chrono::steady_clock::now() >= deadline) return kCommNotDrained;
  }
}

int CommPort::PurgeTransmit() {
  if (fd_ >= 0 && ::tcflush(fd_, TCOFLUSH) != 0) return Fail(kCommIoError);
  return kCommOk;
}

int CommPort::PurgeReceive() {
  if (fd_ >= 0 && ::tcflush(fd_, TCIFLUSH) != 0) return Fail(kCommIoError);
  return kCommOk;
}

std::optional<LineErrorCounts> CommPort::ReadLineErrors() {
  if (fd_ < 0 || !hasCounters_) return std::nullopt;
  serial_icounter_struct counts{};
  if (::ioctl(fd_, TIOCGICOUNT, &counts) != 0) {
    if (NotSupported(errno)) hasCounters_ = false;
    return std::nullopt;
  }
  const auto count = [](int value) { return static_cast<uint32_t>(value); };
  return LineErrorCounts{count(counts.frame), count(counts.parity), count(counts.overrun) + count(counts.buf_overrun),
                         count(counts.brk)};
}

int CommPort::SetRts(bool on) {
  const int result = SetLines(TIOCM_RTS, on);
  if (fd_ >= 0) TraceRts(portIndex_, on);
  return result;
}

void CommPort::Close() {
  if (fd_ < 0) return;
  SetLines(TIOCM_DTR, false);
  SetLines(TIOCM_RTS, false);
  // A pseudo-terminal keeps the exclusive flag after the close; clear it so
  // the device can be opened again.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}
