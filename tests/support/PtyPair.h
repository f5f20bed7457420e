#pragma once
// A pseudo-terminal pair for tests that play the far end of a serial line by
// hand: the code under test opens SlavePath(), the test reads and writes the
// master side.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("no pty");
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    slavePath_ = ptsname(master_);
  }
  ~PtyPair() { close(master_); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

  void Write(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) throw std::runtime_error("pty write failed");
      done += static_cast<size_t>(n);
    }
  }

  // Writes as much of `bytes` as the line takes without waiting, as a
  // terminal does on a line nobody reads; the number written.
  size_t WriteWhatFits(const std::vector<uint8_t>& bytes) const {
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    size_t done = 0;
    for (ssize_t n = 1; done < bytes.size() && n > 0; done += n > 0 ? static_cast<size_t>(n) : 0) {
      n = write(master_, bytes.data() + done, bytes.size() - done);
    }
    fcntl(master_, F_SETFL, flags);
    return done;
  }

  // Reads until `count` bytes came or `timeout` passed; returns what came.
  std::vector<uint8_t> Read(size_t count, std::chrono::milliseconds timeout) const {
    std::vector<uint8_t> out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      uint8_t buffer[256];
      const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - out.size()));
      if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
  }

 private:
  int master_ = -1;
  std::string slavePath_;
};
