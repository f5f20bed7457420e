#include "app/ServiceNotify.h"

#include <sys/uio.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>

#include <string_view>
#include <vector>

namespace {

std::string_view PlaceWords(PlaceState state) {
  switch (state) {
    case PlaceState::Master: return "master";
    case PlaceState::Slave: return "slave";
    case PlaceState::NotConnected: return "not connected";
    case PlaceState::PortNotOpen: return "port not open";
    case PlaceState::Off: break;
  }
  return "off";
}

// sd_notify does nothing without NOTIFY_SOCKET; a failure to send changes
// nothing for the program.
void Notify(const std::string& message) { sd_notify(0, message.c_str()); }

}  // namespace

PlaceState PlaceStateFor(bool inUse, bool portOpen, TerminalIndicator indicator) {
  if (!inUse) return PlaceState::Off;
  if (!portOpen) return PlaceState::PortNotOpen;
  switch (indicator) {
    case TerminalIndicator::Green: return PlaceState::Master;
    case TerminalIndicator::Cyan: return PlaceState::Slave;
    case TerminalIndicator::Red:
    case TerminalIndicator::White: break;
  }
  return PlaceState::NotConnected;
}

std::string ServiceStatusText(const std::array<PlaceState, kTerminalCount>& places,
                              const std::optional<LastJob>& lastJob, const PortLineErrors& lineErrors) {
  std::string text;
  for (int t = 0; t < kTerminalCount; ++t) {
    if (t > 0) text += ", ";
    text += "T" + std::to_string(t + 1) + " ";
    text += PlaceWords(places[t]);
  }
  if (lastJob) {
    char time[32];
    std::strftime(time, sizeof time, "%d.%m.%Y %H:%M:%S", &lastJob->Time);
    text += std::string("; last job ") + time + ": " + lastJob->Pair;
  }
  for (int j = 0; j < kPortCount; ++j) {
    if (lineErrors[j] && AnyLineErrors(*lineErrors[j])) {
      text += "; COM" + std::to_string(j + 1) + " line errors: " + LineErrorWords(*lineErrors[j]);
    }
  }
  return text;
}

bool SendJournalEntry(const LogEntry& entry) {
  std::vector<std::string> fields{"MESSAGE=Tarvion: " + entry.Utf8Line,
                                  "PRIORITY=" + std::to_string(static_cast<int>(entry.Tag.Urgency)),
                                  "SYSLOG_IDENTIFIER=tarvion", std::string("TARVION_EVENT=") + entry.Tag.Event};
  if (entry.Terminal > 0) fields.push_back("TARVION_TERMINAL=" + std::to_string(entry.Terminal));
  if (entry.Tag.Port > 0) fields.push_back("TARVION_PORT=COM" + std::to_string(entry.Tag.Port));
  std::vector<iovec> parts;
  for (std::string& field : fields) parts.push_back({field.data(), field.size()});
  return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) == 0;
}

void NotifyReady(const std::string& status) { Notify("READY=1\nSTATUS=" + status); }

void NotifyStatus(const std::string& status) { Notify("STATUS=" + status); }

void NotifyStopping() { Notify("STOPPING=1"); }

void NotifyStopExtension(std::chrono::microseconds more) {
  Notify("EXTEND_TIMEOUT_USEC=" + std::to_string(more.count()));
}
