// The probing of a line check: what the device and its driver do. The line
// settings, the exclusive open, RTS switching, the drain and the counters go
// through the program's own port (CommPort); the few calls the program never
// makes (reading the modem lines back, the kernel's RS-485 mode, the serial
// flags) are made here on a descriptor of the check's own.

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/CommPort.h"
#include "link/Customport.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "tools/tarvion-scan/LineCheck.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// UNIX98 pseudo-terminal slaves.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;
// How long the echo may come after the drain, beyond the frame's wire time.
constexpr milliseconds kEchoWindow{100};
// A run of test bytes read back shorter than this is taken for chance.
constexpr int kShortestEcho = 4;

bool NotSupported(int error) { return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP; }

int64_t Us(Clock::duration d) { return duration_cast<microseconds>(d).count(); }

// FF FF: an address and a length no frame has; then 20 ... 4B, each byte
// once, so that an echo cut short is still recognised.
std::vector<uint8_t> CheckFrame() {
  std::vector<uint8_t> frame = {0xFF, 0xFF};
  for (uint8_t b = 0x20; frame.size() < kCheckFrameBytes; ++b) frame.push_back(b);
  return frame;
}

bool IsPseudoTerminal(const std::string& device) {
  struct stat status {};
  return ::stat(device.c_str(), &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= kFirstPtyMajor &&
         major(status.st_rdev) <= kLastPtyMajor;
}

struct Received {
  uint8_t Byte;
  Clock::time_point At;
};

void ReadInto(CommPort& port, std::vector<Received>& got) {
  uint8_t bytes[64];
  for (int n; (n = port.ReadBlock(bytes, sizeof bytes)) > 0;) {
    const auto now = Clock::now();
    for (int i = 0; i < n; ++i) got.push_back({bytes[i], now});
  }
}

// Listens for `ms`: polls and other bytes. With `untilPoll` it stops at the
// first poll.
TrafficFigures Listen(CommPort& port, int ms, bool untilPoll) {
  TrafficFigures traffic;
  traffic.ListenMs = ms;
  PollDetector poll;
  int pending = 0;  // bytes that may turn out to be a poll
  const auto end = Clock::now() + milliseconds(ms);
  while (Clock::now() < end) {
    const int b = port.ReadByte();
    if (b == kCommIoError) break;
    if (b < 0) continue;
    if (poll.Feed(static_cast<uint8_t>(b))) {
      ++traffic.Polls;
      pending = 0;
      if (untilPoll) break;
    } else if (++pending > 3) {
      ++traffic.OtherBytes;
      --pending;
    }
  }
  traffic.OtherBytes += pending;
  return traffic;
}

// The test bytes with RTS raised as Tarvion raises it, the time until the
// port says the transmitter is empty, then RTS dropped after the receive
// turnaround; whatever comes meanwhile and for a while after is in `got`.
DrainFigures SendCheckFrame(CommPort& port, const ProbeOptions& options, uint32_t turnaroundUs,
                            std::vector<Received>& got, Clock::time_point& drained) {
  DrainFigures drain;
  drain.Baud = options.Baud;
  drain.BitsPerByte = options.Mark ? 11 : 10;
  drain.WireUs = int64_t{kCheckFrameBytes} * drain.BitsPerByte * 1'000'000 / options.Baud;
  const std::vector<uint8_t> frame = CheckFrame();
  port.SetRts(true);
  TSer_Port::WaitMicroseconds(turnaroundUs);
  const auto start = Clock::now();
  drain.Written = port.WriteBlock(frame.data(), kCheckFrameBytes) == kCheckFrameBytes;
  const auto limit = start + microseconds(2 * drain.WireUs) + std::chrono::seconds(1);
  for (;;) {
    ReadInto(port, got);
    const int queued = port.TransmitCount();
    if (queued < 0) drain.Written = false;
    if (queued <= 0) break;
    if (Clock::now() >= limit) {
      drain.TimedOut = true;
      port.PurgeTransmit();
      break;
    }
  }
  drained = Clock::now();
  drain.DrainUs = Us(drained - start);
  drain.LineStatus = port.HasLineStatus();
  drain.Unreported = port.TransmitEmptyUnreported();
  for (const auto rtsOff = drained + microseconds(turnaroundUs); Clock::now() < rtsOff;) ReadInto(port, got);
  port.SetRts(false);
  for (const auto end = drained + microseconds(drain.WireUs) + kEchoWindow; Clock::now() < end;) ReadInto(port, got);
  return drain;
}

// The longest run of the test bytes among those read, in order.
EchoFigures FindEcho(const std::vector<uint8_t>& sent, const std::vector<Received>& got, Clock::time_point drained) {
  EchoFigures echo;
  size_t bestEnd = 0;
  for (size_t r = 0; r < got.size(); ++r) {
    for (size_t s = 0; s < sent.size(); ++s) {
      size_t run = 0;
      while (r + run < got.size() && s + run < sent.size() && got[r + run].Byte == sent[s + run]) ++run;
      if (static_cast<int>(run) > echo.BytesBack) {
        echo.BytesBack = static_cast<int>(run);
        bestEnd = r + run;
      }
    }
  }
  if (echo.BytesBack < kShortestEcho) echo.BytesBack = 0;
  echo.OtherBytes = static_cast<int>(got.size()) - echo.BytesBack;
  if (echo.BytesBack > 0) echo.LastAfterDrainUs = Us(got[bestEnd - 1].At - drained);
  return echo;
}

RtsProbe ProbeRts(int fd) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) return NotSupported(errno) ? RtsProbe::NoModemLines : RtsProbe::Failed;
  const int flipped = lines ^ TIOCM_RTS;
  if (::ioctl(fd, TIOCMSET, &flipped) != 0) return NotSupported(errno) ? RtsProbe::NoModemLines : RtsProbe::Failed;
  int back = 0;
  const bool read = ::ioctl(fd, TIOCMGET, &back) == 0;
  ::ioctl(fd, TIOCMSET, &lines);
  if (!read) return RtsProbe::Failed;
  return (back & TIOCM_RTS) == (flipped & TIOCM_RTS) ? RtsProbe::Switches : RtsProbe::Stuck;
}

// TIOCGRS485 alone succeeds on ports that cannot do it: the mode is set,
// read back and the old setting put back.
Rs485Probe ProbeRs485(int fd) {
  serial_rs485 old{};
  if (::ioctl(fd, TIOCGRS485, &old) != 0) return Rs485Probe::NotAvailable;
  if ((old.flags & SER_RS485_ENABLED) != 0) return Rs485Probe::AlreadyOn;
  serial_rs485 on = old;
  on.flags = (on.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) & ~SER_RS485_RTS_AFTER_SEND;
  if (::ioctl(fd, TIOCSRS485, &on) != 0) return Rs485Probe::CannotBeSet;
  serial_rs485 back{};
  const bool enabled = ::ioctl(fd, TIOCGRS485, &back) == 0 && (back.flags & SER_RS485_ENABLED) != 0;
  if (::ioctl(fd, TIOCSRS485, &old) != 0) return Rs485Probe::NotRestored;
  return enabled ? Rs485Probe::Available : Rs485Probe::CannotBeSet;
}

std::optional<bool> ProbeLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
  return (serial.flags & ASYNC_LOW_LATENCY) != 0;
}

// The calls the program never makes, on a descriptor of the check's own,
// once the port is closed; locked as the program locks it.
void ProbeDevice(const std::string& device, LineFacts& facts) {
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    facts.Rts = RtsProbe::Failed;
    if (fd >= 0) ::close(fd);
    return;
  }
  facts.LowLatency = ProbeLowLatency(fd);
  facts.Rts = ProbeRts(fd);
  facts.Rs485 = ProbeRs485(fd);
  ::close(fd);
}

}  // namespace

std::string OpenFailure(const std::string& device, const PortBackend& port) {
  if (port.Status() == kCommSetupFailed) return device + ": not a serial device (its line settings cannot be set)";
  switch (port.OpenError()) {
    case ENOENT:
      return device + ": no such device";
    case EACCES:
    case EPERM:
      return device + ": no permission to use it (is the user in the group dialout?)";
    case EWOULDBLOCK:
    case EBUSY:
      return device + ": in use by another program (a running Tarvion holds its ports while it runs)";
    case ENOTTY:
      return device + ": not a serial device";
    case 0:
      return device + ": failed as it was opened (its modem lines cannot be set)";
    default:
      return device + ": cannot be opened: " + std::strerror(port.OpenError());
  }
}

std::optional<LineFacts> ProbeLine(const ProbeOptions& options, std::string& failure) {
  const uint32_t turnaroundUs = options.TurnaroundUs == 0 ? kDefaultTurnaroundUs : options.TurnaroundUs;
  std::unique_ptr<CommPort> port = CommPort::OpenPath(options.Device, options.Baud, options.Mark ? 'M' : 'N', 8, 1);
  if (port->Status() < 0) {
    failure = OpenFailure(options.Device, *port);
    return std::nullopt;
  }
  LineFacts facts;
  facts.Given = options.Device;
  std::error_code unresolved;
  facts.Device = fs::canonical(options.Device, unresolved).string();
  if (unresolved) facts.Device = options.Device;
  facts.PseudoTerminal = IsPseudoTerminal(facts.Device);
  facts.RxTurnaroundUs = turnaroundUs;
  facts.CountsBefore = port->ReadLineErrors();
  port->SetRts(false);  // listening, as Tarvion listens
  facts.Traffic = Listen(*port, options.ListenMs, false);
  if (facts.Traffic.Polls > 0) Listen(*port, options.ListenMs, true);
  std::vector<Received> got;
  Clock::time_point drained;
  facts.Drain = SendCheckFrame(*port, options, turnaroundUs, got, drained);
  facts.Echo = FindEcho(CheckFrame(), got, drained);
  facts.CountsAfter = port->ReadLineErrors();
  port->Close();
  ProbeDevice(facts.Device, facts);
  if (!facts.PseudoTerminal) {
    facts.Sysfs = ReadSysfsFacts(options.SysRoot, fs::path(facts.Device).filename().string());
    facts.ByIdNames = ByIdNames(options.ByIdDir, facts.Device);
  }
  return facts;
}
