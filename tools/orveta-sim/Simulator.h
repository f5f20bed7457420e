#pragma once
// orveta-sim's line: one or more simulated ORVETA terminals on one serial
// line (a new pseudo-terminal or an existing device), played by a thread of
// its own. A master terminal polls with 10 04 55 69 while the line is idle;
// frames from the PC are checked, logged, acknowledged and answered with the
// timing and faults of SimOptions.
//
// The simulator keeps its own protocol code on purpose, apart from link/:
// its frame parser, checksums, record layouts and timing are written anew
// from the protocol, so that it is an independent oracle. A fault shared
// with the program's link would pass on both sides of the line unseen. Only
// its command line is read with the program's option parser (config/).

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/orveta-sim/SimFrameParser.h"
#include "tools/orveta-sim/SimLog.h"
#include "tools/orveta-sim/SimOptions.h"
#include "tools/orveta-sim/SimPort.h"
#include "tools/orveta-sim/SimTerminal.h"

// The poll a master terminal sends, and the answers to a command frame.
constexpr char kSimPoll[] = {0x10, 0x04, 0x55, 0x69};
constexpr char kSimBadPoll[] = {0x10, 0x04, 0x55, 0x6A};
constexpr char kSimAck = 0x06;
constexpr char kSimNak = 0x15;
constexpr char kSimNoise = 0x00;

class Simulator {
 public:
  explicit Simulator(SimOptions options);
  // Stops and joins if running, removes the link.
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Checks the options, opens the log file, creates the pseudo-terminal and
  // its link (or opens the device) and starts the line thread. False with
  // `error` set when any of it fails; no link is left behind then.
  bool Start(std::string& error);
  // Ends the line thread, closes the line, removes the link. Thread-safe and
  // idempotent.
  void Stop();

  // The link (or the device) the PC opens.
  std::string LinkPath() const;

  // The log lines so far (those also written to --log). Thread-safe.
  std::vector<std::string> LogLines() const;
  // Number of log lines written so far; a starting point for WaitForLog.
  std::size_t LogCount() const;
  // Waits until a log line with index `from` or later says `entry` after its
  // time stamp ("tx-poll", "rx 05 04 41 4A", "reaction"). Its index, or -1
  // after `timeout`.
  long WaitForLog(std::string_view entry, std::chrono::milliseconds timeout, std::size_t from = 0) const;

  // Persons stored in the terminal at `address`; -1 when there is none.
  int PersonCount(int address) const;
  // Carries out a command payload on the terminal at `address` as if its
  // frame had come, without the line: fills a large table quickly for tests
  // and benchmarks. Any answer is dropped. False when there is no such terminal.
  bool Store(int address, const std::string& payload);
  // Whether the terminal at `address` currently polls; false when there is none.
  bool IsMaster(int address) const;
  // Whether a PC has the line open, as the line thread last saw it.
  bool PcAttached() const { return attached_; }
  // A master's polls of `seconds` written at once, as if the PC had not read
  // for that long: what the line takes stays queued for the PC, the rest is
  // cut (the log line "backlog" says how much). Done by the line thread
  // within 0.1 s; nothing when no terminal polls. Thread-safe.
  void WriteBacklog(int seconds);

 private:
  struct PendingReply {
    SimTime Due;         // when its next part starts
    char AckByte;        // kSimAck or kSimNak
    bool AckSent = false;
    SimAnswer Answer;
  };

  void Run();
  SimTime NextDeadline(SimTime now) const;
  void OnHungUp();
  void OnBytes(const std::string& bytes, SimTime arrival);
  void OnEvent(const SimFrameEvent& event, SimTime now);
  void OnFrame(const SimFrameEvent& event, SimTime now);
  void RunDue(SimTime now);
  void ContinueReply(SimTime now);
  void SendPoll(SimTime now);
  void SendBacklog(int seconds);
  void SendNoise(SimTime now);
  SimTime Transmit(std::string_view dir, std::string_view bytes,
                   SimPort::WhenFull whenFull = SimPort::WhenFull::Wait);
  bool AnyMaster() const;
  bool Polling() const;

  SimOptions options_;
  SimLog log_;
  SimPort port_;
  std::mutex lifeMutex_;
  std::thread thread_;
  std::atomic<bool> stop_{false};

  mutable std::mutex terminalsMutex_;
  std::vector<SimTerminal> terminals_;

  // Line state, touched only by the line thread.
  SimFrameParser parser_;
  std::deque<PendingReply> replies_;
  std::atomic<bool> attached_{false};
  SimTime nextPoll_{};
  SimTime windowEnd_{};
  SimTime nextNoise_{};
  std::optional<SimTime> pollEnd_;  // the last thing sent was a poll, which ended then
  int noAckLeft_ = 0;
  int shortLeft_ = 0;
  int pollsCut_ = 0;  // polls dropped on a full line since the last one that left
  std::atomic<int> backlogDue_{0};  // seconds of backlog to write; 0 = none
};
