#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "link/StopRequest.h"

namespace {

std::array<int, 2> signalPipe{-1, -1};
std::atomic<bool> received{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set in a signal handler");

void OnTerminationSignal(int) {
  received = true;
  RequestStop();
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

void DrainSignalPipe() {
  char bytes[16];
  while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

bool TerminationSignals::Install() {
  if (::pipe2(signalPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (signalPipe[0] < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    DrainSignalPipe();
    emit Requested();
  });
}

TerminationSignals::~TerminationSignals() = default;

const std::atomic<bool>& TerminationSignals::Received() { return received; }
