#include "link/JobClock.h"

#include "link/StopRequest.h"

namespace {

class SteadyClock final : public JobClock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  bool Pause(std::chrono::milliseconds pause) override { return SleepUnlessStopped(pause); }
};

SteadyClock steadyClock;
JobClock* clockInUse = &steadyClock;

}  // namespace

JobClock& Clock() { return *clockInUse; }

ClockInUse::ClockInUse(JobClock& clock) : previous_(clockInUse) { clockInUse = &clock; }
ClockInUse::~ClockInUse() { clockInUse = previous_; }

uint64_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(Clock().Now().time_since_epoch()).count());
}
