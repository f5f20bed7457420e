#include "config/CommandLine.h"

#include <cstdio>
#include <string_view>

#include "config/FileLocations.h"
#include "config/Options.h"
#include "config/StandardError.h"

namespace {

// Where the help texts of the options begin.
constexpr size_t kHelpColumn = 19;

struct ValueOption {
  std::string_view Name;
  std::string_view Value;
  std::string CommandLine::*Field;
  std::string_view Help;
};

struct ActionOption {
  std::string_view Name;
  CommandLine::Action What;
  std::string_view Help;
};

constexpr ValueOption kValueOptions[] = {
    {"--config", "FILE", &CommandLine::ConfigPath, "read and save the INI file FILE, whoever runs the program"},
    {"--start-dir", "DIR", &CommandLine::StartDirectory,
     "change into DIR (made when missing): the start directory of\n"
     "                   the request, output, status and error-log files; ~/ is home"},
    {"--trace", "FILE", &CommandLine::TracePath,
     "record every event on the serial lines in FILE, one a line,\n"
     "                   appended (past 10 MB FILE moves to FILE.1, a new one starts)"},
    {"--capture", "FILE", &CommandLine::CapturePath,
     "record every frame, poll, ack, NAK, data block and RTS switch\n"
     "                   in FILE as a pcapng capture for Wireshark, appended (past\n"
     "                   10 MB FILE moves to FILE.1); beside --trace or alone"},
    {"--metrics", "FILE", &CommandLine::MetricsPath,
     "keep the state of the ports, terminals and jobs in FILE for\n"
     "                   Prometheus (node_exporter's textfile collector; a *.prom\n"
     "                   name in its folder), replaced at every change and each minute"},
};

constexpr ActionOption kActionOptions[] = {
    {"--help", CommandLine::Action::Help, "show this help and exit"},
    {"--version", CommandLine::Action::Version, "show the version and exit"},
};

CommandLine Failed(std::string message) {
  CommandLine result;
  result.What = CommandLine::Action::Error;
  result.Error = std::move(message);
  return result;
}

}  // namespace

const char* TarvionVersion() { return TARVION_VERSION; }

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  std::vector<OptionRule> rules;
  for (const ValueOption& option : kValueOptions) {
    rules.push_back({option.Name, option.Value, [&result, field = option.Field](const std::string& value) {
                       result.*field = value;
                       return std::string();
                     }});
  }
  for (const ActionOption& option : kActionOptions) {
    rules.push_back({option.Name, {}, [&result, what = option.What](const std::string&) {
                       result.What = what;
                       return std::string();
                     }, true});
  }
  const ParsedOptions parsed = ParseOptions(arguments, rules);
  if (!parsed.Error.empty()) return Failed(parsed.Error);
  if (!parsed.Operands.empty() && result.What == CommandLine::Action::Run) {
    return Failed("unexpected argument '" + parsed.Operands.front() + "'");
  }
  return result;
}

std::string CommandLineUsage() {
  std::string text = std::string("Usage: tarvion [OPTION]...\n") +
                     "Tarvion " + TarvionVersion() +
                     ": hands request files to ORVETA terminals on serial lines.\n"
                     "Without options the current directory is the start directory and the INI\n"
                     "file is the program's path with \".ini\"; but the installed program,\n  " +
                     InstallBinDir() +
                     "/tarvion,\n"
                     "reads ~/.config/tarvion/tarvion.ini ($XDG_CONFIG_HOME when set), or while\n"
                     "that does not exist the site file\n  " +
                     SiteIniFile() + ",\nand saves to the user's file.\n\n";
  for (const ValueOption& option : kValueOptions) {
    std::string head = "  " + std::string(option.Name) + " " + std::string(option.Value);
    head.resize(kHelpColumn, ' ');
    text += head + std::string(option.Help) + "\n";
  }
  for (const ActionOption& option : kActionOptions) {
    std::string head = "  " + std::string(option.Name);
    head.resize(kHelpColumn, ' ');
    text += head + std::string(option.Help) + "\n";
  }
  return text +
         "\nQt's own options (-platform, -display, ...) are not taken: set QT_QPA_PLATFORM,\n"
         "DISPLAY and the like in the environment (QT_QPA_PLATFORM=offscreen: no display).\n\n"
         "Exit status: 0 after an orderly end; 2 for a bad option, a start directory\n"
         "that cannot be made or entered, or a trace or capture file that cannot be\n"
         "opened; 255 when Tarvion is already running.\n";
}

int FinishCommandLine(const CommandLine& commandLine) {
  switch (commandLine.What) {
    case CommandLine::Action::Help:
      std::fputs(CommandLineUsage().c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::printf("Tarvion %s\n", TarvionVersion());
      return 0;
    case CommandLine::Action::Error:
      WriteStandardError(LogPriority::Error, "tarvion: " + commandLine.Error + "\nTry 'tarvion --help'.");
      return kBadUsageExit;
    case CommandLine::Action::Run:
      break;
  }
  return 0;
}
