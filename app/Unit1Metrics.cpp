// TForm1: the --metrics file, node_exporter's textfile. It is written at the
// end of the start-up, after every job, whenever a terminal's or a port's
// state or a count changes (looked at with the service's status line), and
// once a minute besides, so that a file that stops changing shows a program
// that stopped.

#include <QTimer>
#include <cerrno>
#include <cstring>

#include "app/Globals.h"
#include "app/Unit1.h"
#include "config/CommandLine.h"
#include "config/StandardError.h"
#include "link/CommPort.h"
#include "link/FileReplace.h"

namespace {

constexpr auto kMetricsInterval = std::chrono::minutes(1);
// node_exporter runs as a user of its own: the file is for everybody to read,
// whatever the service's umask.
constexpr mode_t kMetricsFileMode = 0644;

TerminalLinkState LinkStateOf(PlaceState place) {
  switch (place) {
    case PlaceState::Master: return TerminalLinkState::Master;
    case PlaceState::Slave: return TerminalLinkState::Slave;
    case PlaceState::NotConnected: return TerminalLinkState::NotConnected;
    case PlaceState::PortNotOpen:
    case PlaceState::Off: break;
  }
  return TerminalLinkState::NoPort;
}

}  // namespace

MetricsSnapshot TForm1::Metrics() const {
  MetricsSnapshot snapshot{TarvionVersion(), startTime_, {}, {}, processor_.Counts()};
  const std::array<bool, kPortCount> needed = NeededPorts(config_.Block.Terminals);
  for (int j = 0; j < kPortCount; ++j) {
    if (!needed[j] || !PortTable[j]) continue;
    snapshot.Ports.push_back({j + 1, ComDevicePath(j), PortTable[j]->Opened, PortTable[j]->LineErrorTotals()});
  }
  const std::array<PlaceState, kTerminalCount> places = PlaceStates();
  for (int t = 0; t < kTerminalCount; ++t) {
    if (places[t] == PlaceState::Off) continue;
    const TOrveta* terminal = processor_.Terminal(t);
    const LinkCounts link = terminal != nullptr ? terminal->Counts : LinkCounts{};
    snapshot.Terminals.push_back({t + 1, config_.Block.Terminals[t].PortIndex + 1, LinkStateOf(places[t]), link,
                                  processor_.Counts().Terminals[t]});
  }
  return snapshot;
}

void TForm1::StartMetrics() {
  if (MetricsPath.empty()) return;
  metricsStarted_ = true;
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this] { UpdateMetrics(true); });
  timer->start(std::chrono::duration_cast<std::chrono::milliseconds>(kMetricsInterval));
  UpdateMetrics(true);
}

// A file that cannot be written is said on standard error once, and again
// only after it has been written in between. A folder that is not there is
// a site without node_exporter (the packaged unit names its folder
// whether or not it is installed): a notice, not a warning.
void TForm1::UpdateMetrics(bool always) {
  if (!metricsStarted_) return;
  std::string text = FormatMetrics(Metrics());
  if (!always && text == metricsWritten_) return;
  if (!ReplaceFile(MetricsPath, text, {}, kMetricsFileMode)) {
    if (!metricsFailureSaid_) {
      const int error = errno;
      WriteStandardError(error == ENOENT ? LogPriority::Notice : LogPriority::Warning,
                         "Tarvion: metrics file " + MetricsPath + ": " + std::strerror(error) +
                             (error == ENOENT ? " (no metrics are written)" : ""));
    }
    metricsFailureSaid_ = true;
    return;
  }
  metricsFailureSaid_ = false;
  metricsWritten_ = std::move(text);
}

void TForm1::JobEnded() { UpdateServiceStatus(); }
