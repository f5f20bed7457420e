// The judging of a line check: verdicts from recorded facts and figures, and
// the report. No device is touched here.

#include <algorithm>
#include <cstdio>

#include "tools/tarvion-scan/LineCheck.h"

namespace {

// The stable names udev makes: by-id and by-path.
constexpr char kStableFolder[] = "/dev/serial/";
// A drain reported this much later than the wire time is worth a word.
constexpr int64_t kLateNoteUs = 2000;

std::string Ms(int64_t us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", static_cast<double>(us) / 1000);
  return text;
}

int64_t ByteUs(const DrainFigures& drain) { return int64_t{drain.BitsPerByte} * 1'000'000 / std::max(drain.Baud, 1); }

CheckPoint Ok(const char* name, std::string finding) { return {name, Verdict::Ok, std::move(finding), ""}; }

std::string TtyName(const LineFacts& facts) { return std::filesystem::path(facts.Device).filename().string(); }

CheckPoint JudgeDevice(const LineFacts& facts) {
  const std::string leads = facts.Given == facts.Device ? facts.Given : facts.Given + " is " + facts.Device;
  if (facts.PseudoTerminal) return Ok("device", leads + ", a pseudo-terminal");
  const bool stable = facts.Given.starts_with(kStableFolder) ||
                      std::find(facts.ByIdNames.begin(), facts.ByIdNames.end(), facts.Given) != facts.ByIdNames.end();
  if (stable) return Ok("device", leads + " (a stable name)");
  if (facts.ByIdNames.empty()) return Ok("device", leads);
  return {"device", Verdict::Warning,
          leads + ": its number may change when adapters are plugged in another order",
          "name it by its stable name in [Porty]: sudo tarvion-config set COMn=" + facts.ByIdNames.front()};
}

std::string UartName(int type) {
  switch (type) {
    case 1: return "8250";
    case 2: return "16450";
    case 3: return "16550";
    case 4: return "16550A";
    default: return "type " + std::to_string(type);
  }
}

CheckPoint JudgeDriver(const LineFacts& facts) {
  const SysfsFacts& sysfs = facts.Sysfs;
  if (facts.PseudoTerminal) return Ok("driver", "pseudo-terminal: no modem lines, no counters");
  if (!sysfs.Found) return Ok("driver", "no entry in /sys/class/tty: the driver is unknown");
  if (sysfs.UartType == 0) {
    return {"driver", Verdict::Fault, TtyName(facts) + ": no UART answers at this port (its type is unknown)",
            "use a port that exists (dmesg | grep tty) or the adapter's own device"};
  }
  std::string finding = sysfs.Driver.empty() ? "driver unknown" : sysfs.Driver;
  if (sysfs.Usb) {
    finding += ", USB adapter " + sysfs.VendorId + ":" + sysfs.ProductId;
    for (const std::string* text : {&sysfs.Manufacturer, &sysfs.Product}) {
      if (!text->empty()) finding += " " + *text;
    }
    if (!sysfs.Serial.empty()) finding += ", serial " + sysfs.Serial;
  } else if (sysfs.UartType) {
    finding += ", " + UartName(*sysfs.UartType) + " UART";
  }
  return Ok("driver", finding);
}

std::string LowLatencyWords(const std::optional<bool>& lowLatency) {
  if (!lowLatency) return "";
  return *lowLatency ? "; low_latency set" : "; low_latency not kept by the driver";
}

CheckPoint JudgeLatency(const LineFacts& facts) {
  const SysfsFacts& sysfs = facts.Sysfs;
  const std::string name = TtyName(facts);
  const std::string lowLatency = LowLatencyWords(facts.LowLatency);
  if (facts.PseudoTerminal) return Ok("latency", "pseudo-terminal: no adapter between");
  const char* rule =
      "the udev rule sets it (the package installs /lib/udev/rules.d/99-tarvion-serial.rules: plug the adapter in "
      "again or run sudo udevadm trigger); at once: ";
  if (sysfs.LatencyTimerMs) {
    const int ms = *sysfs.LatencyTimerMs;
    const std::string finding = "latency_timer " + std::to_string(ms) + " ms" + lowLatency;
    if (ms <= 1) return Ok("latency", finding);
    return {"latency", Verdict::Warning, finding + ": a poll reaches the PC up to " + std::to_string(ms) + " ms late",
            rule + std::string("echo 1 | sudo tee /sys/bus/usb-serial/devices/") + name + "/latency_timer"};
  }
  if (sysfs.RxTrigBytes) {
    const int bytes = *sysfs.RxTrigBytes;
    const std::string finding = "rx_trig_bytes " + std::to_string(bytes) + lowLatency;
    if (bytes <= 1) return Ok("latency", finding);
    return {"latency", Verdict::Warning,
            finding + ": a 4-byte poll waits for the FIFO time-out, about 4 byte times (" +
                Ms(4 * ByteUs(facts.Drain)) + ")",
            rule + std::string("echo 1 | sudo tee /sys/class/tty/") + name + "/rx_trig_bytes"};
  }
  return Ok("latency", "no latency timer or FIFO trigger to set here" + lowLatency);
}

CheckPoint JudgeRts(const LineFacts& facts) {
  switch (facts.Rts) {
    case RtsProbe::Switches:
      return Ok("rts", "RTS can be switched (TIOCMSET, read back with TIOCMGET)");
    case RtsProbe::NoModemLines:
      if (facts.PseudoTerminal) return Ok("rts", "pseudo-terminal: no modem lines, RTS is not switched");
      return {"rts", Verdict::Warning, "no modem lines: RTS cannot be switched",
              "only an adapter that switches its transmitter by itself (automatic direction control) works here"};
    case RtsProbe::Stuck:
      return {"rts", Verdict::Warning, "RTS does not follow TIOCMSET",
              "only an adapter that switches its transmitter by itself (automatic direction control) works here"};
    case RtsProbe::Failed:
      break;
  }
  return {"rts", Verdict::Fault, "the modem-line calls failed", "unplug the adapter and plug it in again"};
}

CheckPoint JudgeRs485(const LineFacts& facts) {
  const char* own = "; Tarvion switches RTS itself";
  switch (facts.Rs485) {
    case Rs485Probe::NotAvailable:
      return Ok("rs485", std::string("the kernel's RS-485 mode is not available here") + own);
    case Rs485Probe::CannotBeSet:
      return Ok("rs485", std::string("TIOCGRS485 answers but the mode cannot be set: not available") + own);
    case Rs485Probe::Available:
      return Ok("rs485", std::string("the kernel's RS-485 mode exists here and is off (set, read back, restored)") +
                             own);
    case Rs485Probe::AlreadyOn:
      return {"rs485", Verdict::Warning,
              "the kernel's RS-485 mode is on: the driver switches RTS around each write, not Tarvion's turnarounds",
              "switch it off where it was set (a device-tree or boot setting, or another program)"};
    case Rs485Probe::NotRestored:
      break;
  }
  return {"rs485", Verdict::Warning, "the kernel's RS-485 mode was set for the check and could not be switched off again",
          "unplug the adapter and plug it in again"};
}

CheckPoint JudgeTraffic(const LineFacts& facts) {
  const TrafficFigures& traffic = facts.Traffic;
  const std::string during = " in " + std::to_string(traffic.ListenMs) + " ms";
  if (traffic.Polls > 0) {
    return Ok("traffic", "a master polls (" + std::to_string(traffic.Polls) + " polls" + during +
                             "); the test bytes went out after a poll");
  }
  if (traffic.OtherBytes > 0) {
    return {"traffic", Verdict::Warning, std::to_string(traffic.OtherBytes) + " bytes but no poll" + during,
            "another baud rate or parity on the line (--baud, --mark as the terminals are set), or noise: check the "
            "termination and bias"};
  }
  return Ok("traffic", "quiet" + during + ": no master polls");
}

CheckPoint JudgeDrain(const LineFacts& facts) {
  const DrainFigures& drain = facts.Drain;
  const std::string figures = std::to_string(kCheckFrameBytes) + " bytes: " +
                              (drain.Unreported ? "taken for empty after " : "reported empty after ") +
                              Ms(drain.DrainUs) + ", " + Ms(drain.WireUs) + " on the wire at " +
                              std::to_string(drain.Baud) + " baud";
  if (facts.PseudoTerminal) return Ok("drain", "not judged, a pseudo-terminal has no wire (" + figures + ")");
  if (!drain.Written) {
    return {"drain", Verdict::Fault, "the port did not take the test bytes", "unplug the adapter and plug it in again"};
  }
  if (drain.TimedOut) {
    return {"drain", Verdict::Fault, "the transmitter was not reported empty within " + Ms(drain.DrainUs),
            "flow control (CTS) holds it, or the adapter is stuck: unplug it and plug it in again"};
  }
  if (drain.Unreported) {
    return {"drain", Verdict::Warning,
            figures + ": the adapter never reports its transmitter empty (TIOCSERGETLSR), so Tarvion goes on when "
                      "the bytes can have left at the line's pace and drops RTS the receive turnaround later",
            "nothing to do while the terminals take every frame; an adapter that sends later than the line's pace "
            "gets its last bytes cut off: use one that reports it (a genuine FTDI chip) or one with automatic "
            "direction control"};
  }
  const char* source = drain.LineStatus ? " (TIOCOUTQ and TIOCSERGETLSR)" : " (TIOCOUTQ alone: no TIOCSERGETLSR)";
  const int64_t early = drain.WireUs - drain.DrainUs;
  const int64_t needed = std::max<int64_t>(early, 0) + ByteUs(drain);
  std::string finding = figures + source;
  if (early > ByteUs(drain)) {
    finding += ": the driver says empty " + Ms(early) + " before the last byte has left";
  } else if (-early > kLateNoteUs) {
    finding += ": the driver says empty " + Ms(-early) + " after the last byte left, so RTS drops that much later";
  }
  const std::string turnaround = "; RxTurnaround needs " + std::to_string(needed) + " µs, it is " +
                                 std::to_string(facts.RxTurnaroundUs) + " µs";
  if (facts.RxTurnaroundUs >= needed) return Ok("drain", finding + turnaround);
  return {"drain", Verdict::Warning, finding + turnaround + ": RTS drops before the frame's last bytes",
          "sudo tarvion-config set rx-turnaround=" + std::to_string(needed) + " (\"Konstanta pro příjem\")"};
}

CheckPoint JudgeEcho(const LineFacts& facts) {
  const EchoFigures& echo = facts.Echo;
  const std::string others = echo.OtherBytes > 0 ? " (" + std::to_string(echo.OtherBytes) + " other bytes came)" : "";
  if (echo.BytesBack == 0) return Ok("echo", "no echo: the PC does not read its own bytes" + others);
  const std::string back = "the PC reads its own bytes back (" + std::to_string(echo.BytesBack) + " of " +
                           std::to_string(kCheckFrameBytes) + ")";
  const char* advice =
      "use an adapter with echo suppression (its receiver off while it sends), or switch its echo off";
  if (echo.LastAfterDrainUs > 0) {
    return {"echo", Verdict::Fault,
            back + ", the last " + Ms(echo.LastAfterDrainUs) +
                " after the transmitter was reported empty: read in place of a terminal's acknowledgement",
            advice};
  }
  if (facts.Traffic.Polls > 0) {
    return {"echo", Verdict::Fault, back + ": a master's acknowledgement comes after them and is missed", advice};
  }
  return {"echo", Verdict::Warning,
          back + ", all before the transmitter was reported empty: the clear of a slave exchange swallows them, "
                 "but a master terminal's acknowledgement comes after them and is missed",
          advice};
}

std::string ErrorAdvice(const LineErrorCounts& grown) {
  std::string advice;
  const auto add = [&advice](const char* text) { advice += (advice.empty() ? "" : "; ") + std::string(text); };
  if (grown.Framing > 0 || grown.Parity > 0) {
    add("framing or parity errors: another baud rate or parity than the terminals', a bad cable, or no termination "
        "or bias");
  }
  if (grown.Overrun > 0) add("overruns: the PC read too late (latency_timer, rx_trig_bytes, a busy machine)");
  if (grown.Break > 0) add("breaks: the line was held low (A and B swapped, or a terminal without power)");
  return advice;
}

CheckPoint JudgeErrors(const LineFacts& facts) {
  if (facts.PseudoTerminal) return Ok("errors", "pseudo-terminal: no counters");
  if (!facts.CountsBefore || !facts.CountsAfter) {
    return Ok("errors", "the driver keeps no error counters (TIOCGICOUNT)");
  }
  const LineErrorCounts grown = LineErrorsGrown(*facts.CountsBefore, *facts.CountsAfter);
  const std::string total = "since the driver started: " + LineErrorWords(*facts.CountsAfter);
  if (AnyLineErrors(grown)) {
    return {"errors", Verdict::Warning, "during the check: " + LineErrorWords(grown) + " (" + total + ")",
            ErrorAdvice(grown)};
  }
  return Ok("errors", "none during the check (" + total + ")");
}

const char* VerdictWord(Verdict level) {
  switch (level) {
    case Verdict::Ok: return "ok";
    case Verdict::Warning: return "warning";
    case Verdict::Fault: break;
  }
  return "fault";
}

Verdict Worst(const std::vector<CheckPoint>& points) {
  Verdict worst = Verdict::Ok;
  for (const CheckPoint& point : points) worst = std::max(worst, point.Level);
  return worst;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

template <typename T>
std::string JsonOptional(const std::optional<T>& value) {
  if (!value) return "null";
  if constexpr (std::is_same_v<T, bool>) return *value ? "true" : "false";
  return std::to_string(*value);
}

std::string JsonCounts(const std::optional<LineErrorCounts>& counts) {
  if (!counts) return "null";
  return "{\"framing\": " + std::to_string(counts->Framing) + ", \"parity\": " + std::to_string(counts->Parity) +
         ", \"overrun\": " + std::to_string(counts->Overrun) + ", \"break\": " + std::to_string(counts->Break) + "}";
}

std::string JsonFigures(const LineFacts& facts) {
  const DrainFigures& drain = facts.Drain;
  std::string byId;
  for (const std::string& name : facts.ByIdNames) byId += (byId.empty() ? "" : ", ") + JsonText(name);
  return "  \"by_id\": [" + byId + "],\n  \"pseudo_terminal\": " + (facts.PseudoTerminal ? "true" : "false") +
         ",\n  \"driver\": " + JsonText(facts.Sysfs.Driver) +
         ",\n  \"latency_timer_ms\": " + JsonOptional(facts.Sysfs.LatencyTimerMs) +
         ",\n  \"rx_trig_bytes\": " + JsonOptional(facts.Sysfs.RxTrigBytes) +
         ",\n  \"low_latency\": " + JsonOptional(facts.LowLatency) + ",\n  \"baud\": " + std::to_string(drain.Baud) +
         ",\n  \"rx_turnaround_us\": " + std::to_string(facts.RxTurnaroundUs) +
         ",\n  \"drain\": {\"bytes\": " + std::to_string(kCheckFrameBytes) +
         ", \"wire_us\": " + std::to_string(drain.WireUs) + ", \"drain_us\": " + std::to_string(drain.DrainUs) +
         ", \"line_status\": " + (drain.LineStatus ? "true" : "false") +
         ", \"timed_out\": " + (drain.TimedOut ? "true" : "false") +
         ", \"unreported\": " + (drain.Unreported ? "true" : "false") + "},\n  \"echo\": {\"bytes_back\": " +
         std::to_string(facts.Echo.BytesBack) + ", \"last_after_drain_us\": " +
         std::to_string(facts.Echo.LastAfterDrainUs) + "},\n  \"polls\": " + std::to_string(facts.Traffic.Polls) +
         ",\n  \"errors_before\": " + JsonCounts(facts.CountsBefore) +
         ",\n  \"errors_after\": " + JsonCounts(facts.CountsAfter) + ",\n";
}

}  // namespace

std::vector<CheckPoint> JudgeLine(const LineFacts& facts) {
  return {JudgeDevice(facts), JudgeDriver(facts),  JudgeLatency(facts), JudgeRts(facts),   JudgeRs485(facts),
          JudgeTraffic(facts), JudgeDrain(facts), JudgeEcho(facts),    JudgeErrors(facts)};
}

int CheckExitStatus(const std::vector<CheckPoint>& points) { return static_cast<int>(Worst(points)); }

std::string CheckText(const LineFacts& facts, const std::vector<CheckPoint>& points) {
  std::string text;
  for (const CheckPoint& point : points) {
    char head[32];
    std::snprintf(head, sizeof head, "%-9s%-9s", point.Name.c_str(), VerdictWord(point.Level));
    text += head + point.Finding + "\n";
    if (!point.Advice.empty()) text += std::string(18, ' ') + "-> " + point.Advice + "\n";
  }
  const auto count = [&points](Verdict level) {
    return std::count_if(points.begin(), points.end(), [level](const CheckPoint& p) { return p.Level == level; });
  };
  const long warnings = count(Verdict::Warning), faults = count(Verdict::Fault);
  text += facts.Given + ": " + VerdictWord(Worst(points));
  if (warnings + faults > 0) {
    text += " (" + std::to_string(warnings) + (warnings == 1 ? " warning, " : " warnings, ") +
            std::to_string(faults) + (faults == 1 ? " fault)" : " faults)");
  }
  return text + "\n";
}

std::string CheckJson(const LineFacts& facts, const std::vector<CheckPoint>& points) {
  std::string json = "{\n  \"device\": " + JsonText(facts.Given) + ",\n  \"resolved\": " + JsonText(facts.Device) +
                     ",\n  \"verdict\": " + JsonText(VerdictWord(Worst(points))) + ",\n" + JsonFigures(facts) +
                     "  \"points\": [\n";
  for (size_t i = 0; i < points.size(); ++i) {
    const CheckPoint& point = points[i];
    json += "    {\"point\": " + JsonText(point.Name) + ", \"verdict\": " + JsonText(VerdictWord(point.Level)) +
            ", \"finding\": " + JsonText(point.Finding) + ", \"advice\": " + JsonText(point.Advice) + "}" +
            (i + 1 < points.size() ? ",\n" : "\n");
  }
  return json + "  ]\n}\n";
}
