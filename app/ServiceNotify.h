#pragma once
// What a service tells systemd (sd_notify): ready once the start-up link
// tests are done, a status line that "systemctl status" shows, and stopping
// once a close is accepted. Without NOTIFY_SOCKET (any start but the unit's)
// nothing is sent. Plain C++.

#include <array>
#include <chrono>
#include <ctime>
#include <optional>
#include <string>

#include "link/ErrorLog.h"
#include "link/LineErrors.h"
#include "link/Settings.h"
#include "requests/TerminalIndicator.h"

// A terminal place as its indicator and the configuration show it.
enum class PlaceState { Master, Slave, NotConnected, PortNotOpen, Off };

// Off when the place is not in use, PortNotOpen when its port is not open,
// else by the indicator: green master, cyan slave, anything else (red: it
// did not answer) not connected.
PlaceState PlaceStateFor(bool inUse, bool portOpen, TerminalIndicator indicator);

// The status pair of the last job and when it was reported.
struct LastJob {
  std::tm Time{};
  std::string Pair;  // "4,3"
};

// The line errors of each COM port since it was opened; nullopt for a port
// not open or whose driver keeps no counters.
using PortLineErrors = std::array<std::optional<LineErrorCounts>, kPortCount>;

// "T1 master, T2 slave, T3 port not open, T4 off", and with a job
// "; last job 09.12.2026 10:15:02: 4,3"; then for each port whose line had
// errors "; COM1 line errors: framing 2, parity 0, overrun 1, break 0".
std::string ServiceStatusText(const std::array<PlaceState, kTerminalCount>& places,
                              const std::optional<LastJob>& lastJob, const PortLineErrors& lineErrors = {});

// A line of the error log as an entry of the journal (its native socket):
// MESSAGE ("Tarvion: " and the line), PRIORITY by its urgency,
// SYSLOG_IDENTIFIER tarvion, TARVION_EVENT, and TARVION_TERMINAL ("2") and
// TARVION_PORT ("COM1") when the line is about one, so that
// "journalctl -u tarvion TARVION_TERMINAL=2" shows one terminal's lines. False
// when the journal did not take it.
bool SendJournalEntry(const LogEntry& entry);

// READY=1 with the first status line.
void NotifyReady(const std::string& status);
void NotifyStatus(const std::string& status);
void NotifyStopping();
// EXTEND_TIMEOUT_USEC: the stop may take `more` from now on.
void NotifyStopExtension(std::chrono::microseconds more);
