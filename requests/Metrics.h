#pragma once
// The program's state for Prometheus: node_exporter's textfile collector
// reads it from a *.prom file in the text exposition format. Plain C++.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/LineErrors.h"
#include "link/Orveta.h"
#include "requests/JobCounts.h"

enum class TerminalLinkState { Master, Slave, NotConnected, NoPort };

struct PortMetrics {
  int Number = 0;      // COM number, 1-8
  std::string Device;  // "/dev/ttyUSB0"
  bool Open = false;
  std::optional<LineErrorCounts> LineErrors;  // since the first open; nullopt without counters
};

struct TerminalMetrics {
  int Number = 0;  // 1-4
  int Port = 0;    // its COM number
  TerminalLinkState State = TerminalLinkState::NoPort;
  LinkCounts Link;
  TerminalJobCounts Job;
};

struct MetricsSnapshot {
  std::string Version;
  std::time_t StartTime = 0;
  std::vector<PortMetrics> Ports;          // the ports a connected terminal uses
  std::vector<TerminalMetrics> Terminals;  // the connected terminals
  JobCounts Jobs;
};

// A label value as the format writes it between quotes: backslash, double
// quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);
// The whole file: every metric with its # HELP and # TYPE lines.
std::string FormatMetrics(const MetricsSnapshot& snapshot);
