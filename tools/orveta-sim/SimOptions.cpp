#include "tools/orveta-sim/SimOptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <string_view>
#include <vector>

#include "config/Options.h"

namespace {

constexpr int kMaxMs = 600000;
constexpr int kMaxCount = 1000000000;
constexpr int kMaxPersons = 65536;  // person numbers are 16 bits
constexpr int kMaxBacklogSeconds = 86400;

struct IntOption {
  std::string_view Name;
  int SimOptions::*Field;
  int Min;
  int Max;
};

struct FlagOption {
  std::string_view Name;
  bool SimOptions::*Field;
  bool Value;
};

struct TextOption {
  std::string_view Name;
  std::string SimOptions::*Field;
};

constexpr std::array kIntOptions = {
    IntOption{"--baud", &SimOptions::Baud, 1, 115200},
    IntOption{"--poll-ms", &SimOptions::PollMs, 1, kMaxMs},
    IntOption{"--window-ms", &SimOptions::WindowMs, 0, kMaxMs},
    IntOption{"--ack-ms", &SimOptions::AckMs, 0, kMaxMs},
    IntOption{"--data-ms", &SimOptions::DataMs, 0, kMaxMs},
    IntOption{"--after-data-ms", &SimOptions::AfterDataMs, 0, kMaxMs},
    IntOption{"--no-ack", &SimOptions::NoAck, 0, kMaxCount},
    IntOption{"--short-answer", &SimOptions::ShortAnswer, 0, kMaxCount},
    IntOption{"--noise-ms", &SimOptions::NoiseMs, 0, kMaxMs},
    IntOption{"--backlog", &SimOptions::BacklogSeconds, 0, kMaxBacklogSeconds},
    IntOption{"--capacity", &SimOptions::Capacity, 0, kMaxPersons},
};

constexpr std::array kFlagOptions = {
    FlagOption{"--no-pacing", &SimOptions::Pacing, false},
    FlagOption{"--nak", &SimOptions::Nak, true},
    FlagOption{"--poll-after-data", &SimOptions::PollAfterData, true},
    FlagOption{"--bad-poll", &SimOptions::BadPoll, true},
    FlagOption{"--silent", &SimOptions::Silent, true},
    FlagOption{"--dt", &SimOptions::Dt, true},
    FlagOption{"--o-switches-role", &SimOptions::OSwitchesRole, true},
    FlagOption{"--help", &SimOptions::Help, true},
};

constexpr std::array kTextOptions = {
    TextOption{"--link", &SimOptions::Link},
    TextOption{"--device", &SimOptions::Device},
    TextOption{"--log", &SimOptions::Log},
};

// A whole decimal number within [min, max].
bool ParseInt(std::string_view text, int min, int max, int& out) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return false;
  }
  out = value;
  return true;
}

// "ADDR:master" or "ADDR:slave".
bool ParseTerminal(std::string_view text, SimTerminalSpec& out) {
  auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view role = text.substr(colon + 1);
  if (role != "master" && role != "slave") return false;
  if (!ParseInt(text.substr(0, colon), 0, 255, out.Address)) return false;
  out.Master = role == "master";
  return true;
}

// The options of the tables above, and --terminal, as rules for the parser.
std::vector<OptionRule> SimRules(SimOptions& out) {
  std::vector<OptionRule> rules;
  for (const FlagOption& option : kFlagOptions) {
    rules.push_back({option.Name, {}, [&out, option](const std::string&) {
                       out.*(option.Field) = option.Value;
                       return std::string();
                     }, option.Name == "--help"});
  }
  for (const TextOption& option : kTextOptions) {
    rules.push_back({option.Name, "PATH", [&out, option](const std::string& value) {
                       out.*(option.Field) = value;
                       return std::string();
                     }});
  }
  for (const IntOption& option : kIntOptions) {
    rules.push_back({option.Name, "N", [&out, option](const std::string& value) {
                       if (ParseInt(value, option.Min, option.Max, out.*(option.Field))) return std::string();
                       return std::string(option.Name) + ": expected a whole number from " +
                              std::to_string(option.Min) + " to " + std::to_string(option.Max) + ", got '" + value +
                              "'";
                     }});
  }
  rules.push_back({"--terminal", "ADDR:ROLE", [&out](const std::string& value) {
                     SimTerminalSpec terminal;
                     if (!ParseTerminal(value, terminal)) {
                       return "--terminal: expected ADDR:master or ADDR:slave with ADDR 0-255, got '" + value + "'";
                     }
                     out.Terminals.push_back(terminal);
                     return std::string();
                   }});
  return rules;
}

}  // namespace

bool IsSupportedBaud(int baud) {
  constexpr std::array kRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  return std::find(kRates.begin(), kRates.end(), baud) != kRates.end();
}

std::vector<SimTerminalSpec> EffectiveTerminals(const SimOptions& options) {
  if (options.Terminals.empty()) return {SimTerminalSpec{}};
  return options.Terminals;
}

std::string ValidateSimOptions(const SimOptions& options) {
  if (options.Link.empty() == options.Device.empty()) return "give exactly one of --link PATH and --device DEV";
  if (!IsSupportedBaud(options.Baud)) {
    return "--baud: " + std::to_string(options.Baud) + " is not one of 1200 2400 4800 9600 19200 38400 57600 115200";
  }
  std::set<int> addresses;
  int masters = 0;
  for (const auto& terminal : EffectiveTerminals(options)) {
    std::string address = "--terminal: address " + std::to_string(terminal.Address);
    if (terminal.Address < 0 || terminal.Address > 255) return address + " is not 0-255";
    if (!addresses.insert(terminal.Address).second) return address + " is given twice";
    masters += terminal.Master ? 1 : 0;
  }
  if (masters > 1) return "--terminal: at most one terminal may be master";
  if (options.PollMs < 1) return "--poll-ms must be at least 1";
  return {};
}

bool ParseSimOptions(int argc, char** argv, SimOptions& out, std::string& error) {
  out = SimOptions{};
  const ParsedOptions parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), SimRules(out));
  error = parsed.Error;
  if (!error.empty()) return false;
  if (out.Help) return true;
  if (!parsed.Operands.empty()) {
    error = "unexpected argument '" + parsed.Operands.front() + "'";
    return false;
  }
  error = ValidateSimOptions(out);
  return error.empty();
}

std::string SimUsage() {
  return "Usage: orveta-sim --link PATH | --device DEV [options]\n"
         "Plays ORVETA terminals on a serial line for Tarvion and its tests.\n"
         "\n"
         "  --link PATH            create a pseudo-terminal and a symbolic link PATH to the PC's side\n"
         "  --device DEV           use an existing serial device instead\n"
         "  --terminal ADDR:ROLE   a terminal at address ADDR (0-255), ROLE master or slave;\n"
         "                         repeatable, at most one master (default 1:master)\n"
         "  --baud N               pace of the bytes sent (default 19200)\n"
         "  --no-pacing            send every answer at once\n"
         "  --poll-ms N            poll period of a master while idle (default 40)\n"
         "  --window-ms N          wait for a frame after a poll (default 30)\n"
         "  --ack-ms N             end of a frame to its acknowledgement (default 15)\n"
         "  --data-ms N            acknowledgement to the data answer (default 20)\n"
         "  --after-data-ms N      a master's silence after a data answer (default 400)\n"
         "  --log FILE             append one line per frame or event to FILE\n"
         "  --backlog SECONDS      when a PC opens the line, a master's polls of SECONDS are\n"
         "                         written at once, as if the PC had not read for that long;\n"
         "                         SIGUSR1 writes such a backlog at any time (of SECONDS, or\n"
         "                         300 without this option)\n"
         "Faults:\n"
         "  --no-ack N             the first N command frames get no acknowledgement\n"
         "  --nak                  answer every command frame with 0x15\n"
         "  --short-answer N       the first N data answers lose their last byte\n"
         "  --poll-after-data      a master polls right after a data answer\n"
         "  --bad-poll             a master sends a damaged poll (10 04 55 6A, its checksum\n"
         "                         wrong, as noise leaves one) right before each poll\n"
         "  --noise-ms N           while idle, a byte other than a poll every N ms\n"
         "  --silent               neither poll nor answer\n"
         "  --capacity N           keep at most N persons per terminal\n"
         "  --dt                   person records carry five DT bytes (29 bytes)\n"
         "  --o-switches-role      an 'O' command switches a terminal between master and slave\n"
         "  --help                 show this text\n"
         "\n"
         "Prints \"ready PATH\" once the line is open; runs until SIGTERM or SIGINT.\n"
         "A poll that finds the line full (a PC that does not read) is dropped, never\n"
         "waited for; the log counts them (\"polls-cut N\").\n";
}
