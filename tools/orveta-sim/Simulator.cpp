#include "tools/orveta-sim/Simulator.h"

#include <sys/prctl.h>

#include <algorithm>
#include <string>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long the line thread naps while nobody has the line open.
constexpr milliseconds kHungUpNap(2);
// Longest wait without a reason, so the loop never depends on one wake-up.
constexpr milliseconds kLongestWait(100);
// How long a backlog waits for the line to take more.
constexpr milliseconds kBacklogTopUp(10);

// A frame still incomplete after this pause is given up: 5 byte times, at
// least 50 ms. A PC writes a frame in one go, so a pause inside it is a fault;
// the limit stays below the PC's shortest acknowledgement wait (80 ms), so
// that its repeat starts on a clean frame.
std::chrono::nanoseconds GapLimit(int baud) {
  std::chrono::nanoseconds fiveBytes(50'000'000'000LL / std::max(baud, 1));
  return std::max<std::chrono::nanoseconds>(fiveBytes, milliseconds(50));
}

// The terminal at `address` in `terminals`, or null.
template <typename Terminals>
auto FindTerminal(Terminals& terminals, int address) -> decltype(&terminals.front()) {
  for (auto& terminal : terminals) {
    if (terminal.Address() == address) return &terminal;
  }
  return nullptr;
}

}  // namespace

Simulator::Simulator(SimOptions options)
    : options_(std::move(options)),
      log_(Clock::now()),
      parser_(GapLimit(options_.Baud)),
      noAckLeft_(options_.NoAck),
      shortLeft_(options_.ShortAnswer) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start(std::string& error) {
  std::lock_guard lock(lifeMutex_);
  if (thread_.joinable() || stop_) {
    error = "a simulator can be started only once";
    return false;
  }
  error = ValidateSimOptions(options_);
  if (!error.empty()) return false;
  if (!options_.Log.empty() && !log_.OpenFile(options_.Log, error)) return false;
  bool opened = options_.Device.empty() ? port_.OpenPty(options_.Link, error)
                                        : port_.OpenDevice(options_.Device, options_.Baud, error);
  if (!opened) return false;
  port_.SetPacing(options_.Pacing ? options_.Baud : 0);
  SimTerminalSettings settings{options_.Capacity, options_.Dt, options_.OSwitchesRole};
  {
    std::lock_guard terminalsLock(terminalsMutex_);
    for (const auto& terminal : EffectiveTerminals(options_)) terminals_.emplace_back(terminal, settings, Clock::now());
  }
  thread_ = std::thread(&Simulator::Run, this);
  return true;
}

void Simulator::Stop() {
  std::lock_guard lock(lifeMutex_);
  stop_ = true;
  port_.Wake();
  if (thread_.joinable()) thread_.join();
  port_.Close();
}

std::string Simulator::LinkPath() const { return options_.Device.empty() ? options_.Link : options_.Device; }

std::vector<std::string> Simulator::LogLines() const { return log_.Lines(); }

std::size_t Simulator::LogCount() const { return log_.Count(); }

long Simulator::WaitForLog(std::string_view entry, std::chrono::milliseconds timeout, std::size_t from) const {
  return log_.WaitFor(entry, timeout, from);
}

int Simulator::PersonCount(int address) const {
  std::lock_guard lock(terminalsMutex_);
  const SimTerminal* terminal = FindTerminal(terminals_, address);
  return terminal ? terminal->PersonCount() : -1;
}

bool Simulator::Store(int address, const std::string& payload) {
  std::lock_guard lock(terminalsMutex_);
  SimTerminal* terminal = FindTerminal(terminals_, address);
  if (terminal == nullptr) return false;
  terminal->Execute(payload, Clock::now());
  return true;
}

void Simulator::WriteBacklog(int seconds) { backlogDue_ = std::max(seconds, 1); }

bool Simulator::IsMaster(int address) const {
  std::lock_guard lock(terminalsMutex_);
  const SimTerminal* terminal = FindTerminal(terminals_, address);
  return terminal && terminal->IsMaster();
}

void Simulator::Run() {
  // Wake up on time for pacing and answers, not up to 50 us late.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::string bytes;
  while (!stop_) {
    SimTime now = Clock::now();
    if (!attached_) {
      if (!port_.Attached()) {
        port_.Nap(kHungUpNap);
        continue;
      }
      attached_ = true;
      nextPoll_ = now;
      windowEnd_ = now;
      nextNoise_ = now + milliseconds(options_.NoiseMs);
      if (options_.BacklogSeconds > 0) backlogDue_ = options_.BacklogSeconds;
    }
    if (const int seconds = backlogDue_.exchange(0); seconds > 0) SendBacklog(seconds);
    SimTime arrival;
    switch (port_.Wait(NextDeadline(now), bytes, arrival)) {
      case SimPort::WaitResult::Woken:
        continue;
      case SimPort::WaitResult::HungUp:
        OnHungUp();
        continue;
      case SimPort::WaitResult::Bytes:
        OnBytes(bytes, arrival);
        break;
      case SimPort::WaitResult::Timeout:
        // Only a wait that found nothing to read shows a pause: bytes read
        // late because this thread was busy are not a gap.
        now = Clock::now();
        if (auto event = parser_.Expire(now)) OnEvent(*event, now);
        break;
    }
    RunDue(Clock::now());
  }
}

SimTime Simulator::NextDeadline(SimTime now) const {
  SimTime deadline = now + kLongestWait;
  if (auto gap = parser_.GapDeadline()) deadline = std::min(deadline, *gap);
  if (!replies_.empty()) return std::min(deadline, replies_.front().Due);
  if (!parser_.Idle()) return deadline;
  if (Polling()) deadline = std::min(deadline, nextPoll_);
  if (options_.NoiseMs > 0) deadline = std::min(deadline, std::max(nextNoise_, windowEnd_));
  return deadline;
}

// Nobody has the line open any more: forget the exchange in progress and what
// the PC left unread.
void Simulator::OnHungUp() {
  SimTime now = Clock::now();
  if (auto event = parser_.Abandon()) OnEvent(*event, now);
  if (attached_) port_.DiscardStale();
  attached_ = false;
  replies_.clear();
  pollEnd_.reset();
  pollsCut_ = 0;
}

void Simulator::OnBytes(const std::string& bytes, SimTime arrival) {
  for (char byte : bytes) {
    if (auto event = parser_.Feed(static_cast<uint8_t>(byte), arrival)) OnEvent(*event, arrival);
  }
}

void Simulator::OnEvent(const SimFrameEvent& event, SimTime now) {
  if (event.What == SimFrameEvent::Kind::Frame) {
    OnFrame(event, now);
  } else {
    log_.Add(now, "bad", event.Bytes);
    pollEnd_.reset();
  }
}

void Simulator::OnFrame(const SimFrameEvent& event, SimTime now) {
  log_.Add(now, "rx", event.Bytes);
  if (pollEnd_) {
    log_.AddReaction(std::chrono::duration_cast<std::chrono::microseconds>(event.FirstByteAt - *pollEnd_));
  }
  pollEnd_.reset();
  nextPoll_ = std::max(nextPoll_, now + milliseconds(options_.PollMs));

  int address = static_cast<uint8_t>(event.Bytes[0]);
  std::string payload = event.Bytes.substr(2, event.Bytes.size() - 3);
  SimTime ackDue = now + milliseconds(options_.AckMs);
  std::lock_guard lock(terminalsMutex_);
  SimTerminal* terminal = FindTerminal(terminals_, address);
  if (!terminal || options_.Silent) return;
  // A frame that is not acknowledged, or refused, is not carried out.
  if (noAckLeft_ > 0) {
    --noAckLeft_;
    return;
  }
  if (options_.Nak) {
    replies_.push_back({ackDue, kSimNak, false, {}});
    return;
  }
  replies_.push_back({ackDue, kSimAck, false, terminal->Execute(payload, now)});
}

void Simulator::RunDue(SimTime now) {
  if (!replies_.empty()) {
    if (now >= replies_.front().Due) ContinueReply(now);
    return;
  }
  if (!parser_.Idle()) return;
  if (Polling() && now >= nextPoll_) {
    SendPoll(now);
  } else if (options_.NoiseMs > 0 && now >= windowEnd_ && now >= nextNoise_) {
    SendNoise(now);
  }
}

// Sends the acknowledgement of the first pending reply, or its data answer.
void Simulator::ContinueReply(SimTime now) {
  PendingReply& reply = replies_.front();
  if (!reply.AckSent) {
    SimTime end = Transmit(reply.AckByte == kSimAck ? "tx-ack" : "tx-nak", std::string_view(&reply.AckByte, 1));
    reply.AckSent = true;
    if (reply.Answer.DataCommand) {
      reply.Due = end + milliseconds(options_.DataMs);
      return;
    }
    nextPoll_ = end + milliseconds(options_.PollMs);
  } else {
    std::string& data = reply.Answer.Data;
    if (!data.empty() && shortLeft_ > 0) {
      --shortLeft_;
      data.pop_back();
    }
    SimTime end = data.empty() ? now : Transmit("tx-data", data);
    // The PC ends the data block by silence, unless asked to test the poll.
    nextPoll_ = options_.PollAfterData ? end : end + milliseconds(options_.AfterDataMs);
  }
  replies_.pop_front();
}

// A terminal never waits for the PC: a poll that finds the line full is
// dropped, and only counted.
void Simulator::SendPoll(SimTime now) {
  if (!port_.HasRoom()) {
    ++pollsCut_;
    pollEnd_.reset();
    nextPoll_ = now + milliseconds(options_.PollMs);
    return;
  }
  if (pollsCut_ > 0) log_.Add(now, "polls-cut " + std::to_string(std::exchange(pollsCut_, 0)), {});
  if (options_.BadPoll) {
    Transmit("tx-bad-poll", std::string_view(kSimBadPoll, sizeof kSimBadPoll), SimPort::WhenFull::Drop);
  }
  SimTime end = Transmit("tx-poll", std::string_view(kSimPoll, sizeof kSimPoll), SimPort::WhenFull::Drop);
  pollEnd_ = end;
  windowEnd_ = end + milliseconds(options_.WindowMs);
  nextPoll_ = std::max(now + milliseconds(options_.PollMs), windowEnd_);
}

void Simulator::SendBacklog(int seconds) {
  if (!Polling()) return;
  const long polls = std::max(1L, seconds * 1000L / options_.PollMs);
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(polls) * sizeof kSimPoll);
  for (long i = 0; i < polls; ++i) bytes.append(kSimPoll, sizeof kSimPoll);
  // The line takes what its queues hold; a pseudo-terminal moves its bytes
  // on to the PC's read queue a moment later and then takes more.
  std::size_t written = port_.SendAvailable(bytes);
  while (written < bytes.size() && !stop_) {
    port_.Nap(kBacklogTopUp);
    if (!port_.HasRoom()) break;
    written += port_.SendAvailable(std::string_view(bytes).substr(written));
  }
  pollEnd_.reset();
  log_.Add(Clock::now(),
           "backlog " + std::to_string(seconds) + " s: " + std::to_string(polls) + " polls, " +
               std::to_string(written / sizeof kSimPoll) + " queued, " +
               std::to_string(polls - static_cast<long>(written / sizeof kSimPoll)) + " cut",
           {});
}

void Simulator::SendNoise(SimTime now) {
  Transmit("tx-noise", std::string_view(&kSimNoise, 1));
  nextNoise_ = now + milliseconds(options_.NoiseMs);
}

// Logged before the bytes leave, so whoever has received them finds the line.
SimTime Simulator::Transmit(std::string_view dir, std::string_view bytes, SimPort::WhenFull whenFull) {
  pollEnd_.reset();
  log_.Add(Clock::now(), dir, bytes);
  SimTime end;
  std::size_t sent = port_.Send(bytes, stop_, end, whenFull);
  if (sent < bytes.size()) log_.Add(end, "tx-cut", bytes.substr(sent));
  return end;
}

bool Simulator::AnyMaster() const {
  std::lock_guard lock(terminalsMutex_);
  return std::any_of(terminals_.begin(), terminals_.end(), [](const SimTerminal& t) { return t.IsMaster(); });
}

bool Simulator::Polling() const { return !options_.Silent && AnyMaster(); }
