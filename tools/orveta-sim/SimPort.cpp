#include "tools/orveta-sim/SimPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using std::chrono::nanoseconds;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;
constexpr auto kStallLimit = std::chrono::seconds(1);
constexpr auto kRoomWait = std::chrono::milliseconds(10);

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

timespec ToTimespec(nanoseconds duration) {
  auto count = std::max<long long>(duration.count(), 0);
  return timespec{static_cast<time_t>(count / 1000000000), static_cast<long>(count % 1000000000)};
}

// steady_clock counts CLOCK_MONOTONIC, so its time points are absolute
// CLOCK_MONOTONIC times.
void SleepUntil(SimTime deadline) {
  timespec at = ToTimespec(deadline.time_since_epoch());
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
  }
}

// Raw 8N1, receiver on, modem lines ignored.
bool MakeRaw(int fd, int baud) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, SpeedOf(baud));
  cfsetospeed(&settings, SpeedOf(baud));
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool SetFlags(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// Puts the pseudo-terminal's PC side in raw mode, so that nothing sent to the
// PC is echoed back, by opening it once. Closing it again leaves the line
// hung up until a PC opens it.
bool PreparePcSide(const std::string& name, std::string& error) {
  int side = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (side < 0) {
    error = SystemError("cannot open " + name);
    return false;
  }
  bool raw = MakeRaw(side, 19200);
  if (!raw) error = SystemError("cannot set raw mode on " + name);
  close(side);
  return raw;
}

bool CreateLink(const std::string& link, const std::string& target, std::string& error) {
  struct stat existing {};
  if (lstat(link.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      error = link + " exists and is not a symbolic link; not replaced";
      return false;
    }
    if (unlink(link.c_str()) != 0) {
      error = SystemError("cannot remove the old link " + link);
      return false;
    }
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = SystemError("cannot create the link " + link);
    return false;
  }
  return true;
}

std::string LinkTarget(const std::string& link) {
  std::vector<char> buffer(4096);
  ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
  return length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

SimPort::SimPort() {
  int ends[2];
  if (pipe(ends) == 0) {
    wakeRead_ = ends[0];
    wakeWrite_ = ends[1];
    SetFlags(wakeRead_);
    SetFlags(wakeWrite_);
  }
}

SimPort::~SimPort() {
  Close();
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
}

bool SimPort::OpenPty(const std::string& link, std::string& error) {
  if (wakeRead_ < 0) {
    error = "cannot create the wake-up pipe";
    return false;
  }
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  char name[256];
  if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0 || !SetFlags(fd_)) {
    error = SystemError("cannot create a pseudo-terminal");
    Close();
    return false;
  }
  ptyName_ = name;
  if (!PreparePcSide(ptyName_, error) || !CreateLink(link, ptyName_, error)) {
    Close();
    return false;
  }
  path_ = link;
  return true;
}

bool SimPort::OpenDevice(const std::string& path, int baud, std::string& error) {
  if (wakeRead_ < 0) {
    error = "cannot create the wake-up pipe";
    return false;
  }
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = SystemError("cannot open " + path);
    return false;
  }
  if (!isatty(fd_) || !MakeRaw(fd_, baud)) {
    error = path + " is not a serial device that takes raw 8N1 settings";
    Close();
    return false;
  }
  tcflush(fd_, TCIOFLUSH);
  path_ = path;
  return true;
}

void SimPort::Close() {
  if (!ptyName_.empty() && !path_.empty() && LinkTarget(path_) == ptyName_) unlink(path_.c_str());
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  ptyName_.clear();
  path_.clear();
}

SimPort::WaitResult SimPort::Wait(SimTime deadline, std::string& bytes, SimTime& arrival) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  timespec timeout = ToTimespec(deadline - Clock::now());
  int ready = ppoll(fds, 2, &timeout, nullptr);
  arrival = Clock::now();
  if (ready <= 0) return WaitResult::Timeout;
  if (fds[1].revents) return WaitResult::Woken;
  if (!(fds[0].revents & POLLIN)) return HungUp(fds[0].revents) ? WaitResult::HungUp : WaitResult::Timeout;
  char buffer[kReadChunk];
  ssize_t count = read(fd_, buffer, sizeof buffer);
  if (count > 0) {
    bytes.assign(buffer, static_cast<std::size_t>(count));
    return WaitResult::Bytes;
  }
  if (count == 0 || errno == EIO) return WaitResult::HungUp;
  return WaitResult::Timeout;
}

void SimPort::Nap(std::chrono::milliseconds duration) {
  pollfd wake{wakeRead_, POLLIN, 0};
  timespec timeout = ToTimespec(duration);
  ppoll(&wake, 1, &timeout, nullptr);
}

bool SimPort::Attached() const {
  pollfd line{fd_, POLLIN, 0};
  return poll(&line, 1, 0) >= 0 && !HungUp(line.revents);
}

void SimPort::DiscardStale() {
  if (ptyName_.empty()) return;
  // Bytes still in the kernel's buffer between the two sides...
  tcflush(fd_, TCOFLUSH);
  // ...and those already in the PC side's input queue, which only that side
  // can flush. If it cannot be opened (a PC left it exclusive), at most one
  // queue's worth (4 KB) stays for the next PC.
  int side = open(ptyName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (side < 0) return;
  tcflush(side, TCIFLUSH);
  close(side);
}

bool SimPort::HasRoom() const {
  pollfd line{fd_, POLLOUT, 0};
  return poll(&line, 1, 0) > 0 && (line.revents & POLLOUT) != 0;
}

std::size_t SimPort::Send(std::string_view bytes, const std::atomic<bool>& stop, SimTime& end, WhenFull whenFull) {
  std::size_t sent = 0;
  if (pacingBaud_ > 0) {
    SendPaced(bytes, stop, sent, whenFull);
  } else {
    WriteAll(bytes, stop, sent, whenFull);
  }
  end = Clock::now();
  return sent;
}

std::size_t SimPort::SendAvailable(std::string_view bytes) {
  const std::atomic<bool> never{false};
  std::size_t sent = 0;
  WriteAll(bytes, never, sent, WhenFull::Drop);
  return sent;
}

void SimPort::SendPaced(std::string_view bytes, const std::atomic<bool>& stop, std::size_t& sent,
                        WhenFull whenFull) {
  const nanoseconds byteTime(10'000'000'000LL / pacingBaud_);
  // A byte is written when its last bit would have left the wire.
  SimTime next = Clock::now() + byteTime;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    SleepUntil(next);
    std::size_t one = 0;
    if (stop || !Attached() || !WriteAll(bytes.substr(i, 1), stop, one, whenFull)) return;
    ++sent;
    next += byteTime;
    // After a stall, carry on from now rather than in a burst.
    if (Clock::now() - next > 10 * byteTime) next = Clock::now();
  }
}

void SimPort::Wake() {
  char byte = 1;
  [[maybe_unused]] ssize_t written = write(wakeWrite_, &byte, 1);  // a full pipe wakes as well
}

bool SimPort::WriteAll(std::string_view bytes, const std::atomic<bool>& stop, std::size_t& sent, WhenFull whenFull) {
  SimTime lastProgress = Clock::now();
  while (sent < bytes.size()) {
    ssize_t count = write(fd_, bytes.data() + sent, bytes.size() - sent);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      lastProgress = Clock::now();
      continue;
    }
    if (count < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (count < 0 && errno == EAGAIN && whenFull == WhenFull::Drop) return false;
    if (stop || Clock::now() - lastProgress > kStallLimit) return false;
    pollfd line{fd_, POLLOUT, 0};
    timespec timeout = ToTimespec(kRoomWait);
    ppoll(&line, 1, &timeout, nullptr);
    if (HungUp(line.revents)) return false;
  }
  return true;
}
