// The text exposition format of the metrics: the families in a fixed order,
// each with its # HELP and # TYPE lines, then its samples.

#include "requests/Metrics.h"

#include <array>
#include <charconv>
#include <utility>

namespace {

using Label = std::pair<std::string_view, std::string>;

std::string Labels(std::initializer_list<Label> labels) {
  if (labels.size() == 0) return "";
  std::string text = "{";
  for (const Label& label : labels) {
    if (text.size() > 1) text += ',';
    text += std::string(label.first) + "=\"" + EscapeLabelValue(label.second) + '"';
  }
  return text + '}';
}

// The shortest text that reads back as `value`.
std::string Number(double value) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

class Exposition {
 public:
  // Starts a metric family: its # HELP and # TYPE lines.
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    name_ = name;
    text_ += "# HELP " + name_ + " " + std::string(help) + "\n# TYPE " + name_ + " " + std::string(type) + "\n";
  }
  // One sample of the family begun last.
  void Sample(std::initializer_list<Label> labels, double value) {
    text_ += name_ + Labels(labels) + " " + Number(value) + "\n";
  }
  std::string Text() && { return std::move(text_); }

 private:
  std::string name_;
  std::string text_;
};

std::string Com(int number) { return "COM" + std::to_string(number); }

void Program(Exposition& out, const MetricsSnapshot& s) {
  out.Family("tarvion_build_info", "gauge", "The program's version; always 1.");
  out.Sample({{"version", s.Version}}, 1);
  out.Family("tarvion_start_time_seconds", "gauge", "When the program started, seconds since the epoch.");
  out.Sample({}, static_cast<double>(s.StartTime));
}

void Ports(Exposition& out, const std::vector<PortMetrics>& ports) {
  out.Family("tarvion_port_info", "gauge", "The device of each COM port a connected terminal uses; always 1.");
  for (const PortMetrics& port : ports) out.Sample({{"port", Com(port.Number)}, {"device", port.Device}}, 1);
  out.Family("tarvion_port_open", "gauge", "1 while the port's device is open, else 0.");
  for (const PortMetrics& port : ports) out.Sample({{"port", Com(port.Number)}}, port.Open ? 1 : 0);
  out.Family("tarvion_port_line_errors_total", "counter",
             "Receive errors the serial driver counted on the line since the port was first opened.");
  for (const PortMetrics& port : ports) {
    if (!port.LineErrors) continue;
    const LineErrorCounts& e = *port.LineErrors;
    const std::array<std::pair<std::string_view, uint32_t>, 4> kinds{
        {{"framing", e.Framing}, {"parity", e.Parity}, {"overrun", e.Overrun}, {"break", e.Break}}};
    for (const auto& [kind, count] : kinds) {
      out.Sample({{"port", Com(port.Number)}, {"kind", std::string(kind)}}, count);
    }
  }
}

std::string_view StateName(TerminalLinkState state) {
  switch (state) {
    case TerminalLinkState::Master: return "master";
    case TerminalLinkState::Slave: return "slave";
    case TerminalLinkState::NotConnected: return "not_connected";
    case TerminalLinkState::NoPort: break;
  }
  return "no_port";
}

void TerminalStates(Exposition& out, const std::vector<TerminalMetrics>& terminals) {
  out.Family("tarvion_terminal_state", "gauge",
             "The terminal's link state: 1 for the state it is in, 0 for the others.");
  for (const TerminalMetrics& t : terminals) {
    for (TerminalLinkState state : {TerminalLinkState::Master, TerminalLinkState::Slave,
                                    TerminalLinkState::NotConnected, TerminalLinkState::NoPort}) {
      const std::string name(StateName(state));
      out.Sample({{"terminal", std::to_string(t.Number)}, {"port", Com(t.Port)}, {"state", name}}, t.State == state ? 1 : 0);
    }
  }
}

void TerminalCounters(Exposition& out, const std::vector<TerminalMetrics>& terminals) {
  out.Family("tarvion_terminal_link_tests_total", "counter", "Link tests of the terminal by what they found.");
  for (const TerminalMetrics& t : terminals) {
    const std::string n = std::to_string(t.Number);
    out.Sample({{"terminal", n}, {"result", "master"}}, static_cast<double>(t.Link.TestsMaster));
    out.Sample({{"terminal", n}, {"result", "slave"}}, static_cast<double>(t.Link.TestsSlave));
    out.Sample({{"terminal", n}, {"result", "not_connected"}}, static_cast<double>(t.Link.TestsNotConnected));
  }
  out.Family("tarvion_terminal_commands_total", "counter", "Commands sent to the terminal, acknowledged or not.");
  for (const TerminalMetrics& t : terminals) {
    const std::string n = std::to_string(t.Number);
    out.Sample({{"terminal", n}, {"result", "acknowledged"}}, static_cast<double>(t.Link.Acknowledged));
    out.Sample({{"terminal", n}, {"result", "not_acknowledged"}}, static_cast<double>(t.Link.NotAcknowledged));
  }
  out.Family("tarvion_terminal_receive_repeats_total", "counter",
             "Data commands sent again because their answer had a bad length.");
  for (const TerminalMetrics& t : terminals) {
    out.Sample({{"terminal", std::to_string(t.Number)}}, static_cast<double>(t.Job.ReceiveRepeats));
  }
  out.Family("tarvion_terminal_records_received_total", "counter", "Records received in the terminal's data answers.");
  for (const TerminalMetrics& t : terminals) {
    out.Sample({{"terminal", std::to_string(t.Number)}}, static_cast<double>(t.Job.RecordsReceived));
  }
}

void Jobs(Exposition& out, const JobCounts& jobs) {
  out.Family("tarvion_jobs_total", "counter",
             "Jobs (request files, typed commands, command files, clock settings) by outcome.");
  constexpr std::array<std::string_view, kJobOutcomeCount> kOutcomes{"done", "refused", "stopped", "not_finished"};
  for (size_t i = 0; i < kOutcomes.size(); ++i) {
    out.Sample({{"outcome", std::string(kOutcomes[i])}}, static_cast<double>(jobs.Jobs[i]));
  }
  if (!jobs.Last) return;
  out.Family("tarvion_last_job_end_time_seconds", "gauge", "When the last job ended, seconds since the epoch.");
  out.Sample({}, static_cast<double>(jobs.Last->End));
  out.Family("tarvion_last_job_duration_seconds", "gauge", "How long the last job took.");
  out.Sample({}, jobs.Last->DurationSeconds);
  out.Family("tarvion_last_job_status", "gauge",
             "The last job's status pair: commands carried out (first) and records received (second); -1 for none.");
  out.Sample({{"position", "first"}}, jobs.Last->First);
  out.Sample({{"position", "second"}}, jobs.Last->Second);
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string escaped;
  for (const char c : value) {
    if (c == '\\' || c == '"') {
      escaped += '\\';
      escaped += c;
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string FormatMetrics(const MetricsSnapshot& snapshot) {
  Exposition out;
  Program(out, snapshot);
  Ports(out, snapshot.Ports);
  TerminalStates(out, snapshot.Terminals);
  TerminalCounters(out, snapshot.Terminals);
  Jobs(out, snapshot.Jobs);
  return std::move(out).Text();
}
