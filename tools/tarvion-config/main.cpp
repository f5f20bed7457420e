// tarvion-config: Tarvion's settings in words. "show" lists every setting of
// the INI file; "set KEY=VALUE..." checks the values as the window does and
// writes the file as its "Uložit CFG" does, keeping everything else in it;
// "devices" lists the devices the connected terminals need (what the
// service's generator makes it wait for at boot).
// See ConfigUsage() for the options and exit statuses.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/CommandLine.h"
#include "config/FileLocations.h"
#include "config/IniFile.h"
#include "config/Options.h"
#include "link/CommPort.h"
#include "tools/tarvion-config/ConfigKeys.h"

namespace {

constexpr int kDone = 0;
constexpr int kFileFailed = 1;
constexpr int kRefused = 2;
// Where the words of a setting begin in "show".
constexpr size_t kWordsColumn = 30;

constexpr char kRestart[] =
    "Tarvion reads this file only when it starts: restart it after a change\n"
    "(sudo systemctl restart tarvion; a desktop Tarvion: end it and start it again).";

struct Arguments {
  std::string ConfigPath = SiteIniFile();
  std::string Command;                   // "show", "set" or "devices"
  std::vector<std::string> Assignments;  // KEY=VALUE of set
  bool Help = false;
};

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "tarvion-config: %s\n", message.c_str());
  return status;
}

std::string ConfigUsage() {
  std::string text = std::string(
                         "Usage: tarvion-config [--config FILE] show\n"
                         "       tarvion-config [--config FILE] set KEY=VALUE...\n"
                         "       tarvion-config [--config FILE] devices\n"
                         "Shows Tarvion's settings in words, or sets them, in the INI file FILE\n"
                         "(default ") +
                     SiteIniFile() +
                     ", the file the service reads; a desktop\n"
                     "user's Tarvion reads ~/.config/tarvion/tarvion.ini once it has saved one).\n\n"
                     "set checks each value with the ranges and messages of Tarvion's window and\n"
                     "writes the file as its \"Uložit CFG\" does: the values change, the comments\n"
                     "and every other line stay. When a value is refused nothing is written.\n\n"
                     "devices prints the device of each COM port that a connected terminal uses,\n"
                     "one a line: the devices the service waits for at boot.\n\n" +
                     kRestart + "\n\nKeys and their values:\n";
  for (const ConfigKey& key : ConfigKeys()) {
    std::string name = key.Name;
    if (name.starts_with("terminal") && name[8] != '1') continue;
    if (name.starts_with("COM") && name != "COM1") continue;
    if (name.starts_with("terminal")) name.replace(8, 1, "N");
    if (name == "COM1") name = "COM1 ... COM8";
    name = "  " + name;
    name.resize(std::max<size_t>(name.size() + 1, 24), ' ');
    text += name + key.Allowed + "\n";
  }
  return text +
         "  (N is the terminal, 1 to 4)\n\n"
         "  --config FILE   the INI file to read (and set)\n"
         "  --help          show this help and exit\n\n"
         "Exit status: 0 done; 1 the file cannot be read or written; 2 a bad option,\n"
         "command or key, or a value refused (then nothing is written).\n";
}

// False with `error` set on an unknown option, no command or another one,
// assignments for show or devices, or none for set.
bool ParseArguments(const std::vector<std::string>& arguments, Arguments& out, std::string& error) {
  const OptionRule rules[] = {
      {"--help", {},
       [&out](const std::string&) {
         out.Help = true;
         return std::string();
       },
       true},
      {"--config", "FILE",
       [&out](const std::string& value) {
         out.ConfigPath = value;
         return std::string();
       }},
  };
  const ParsedOptions parsed = ParseOptions(arguments, rules);
  error = parsed.Error;
  if (!error.empty()) return false;
  if (out.Help) return true;
  if (!parsed.Operands.empty()) {
    out.Command = parsed.Operands.front();
    out.Assignments.assign(parsed.Operands.begin() + 1, parsed.Operands.end());
  }
  if (out.Command != "show" && out.Command != "set" && out.Command != "devices") {
    error = out.Command.empty() ? "no command: show, set or devices" : "unknown command '" + out.Command + "'";
    return false;
  }
  if (out.Command != "set" && !out.Assignments.empty()) {
    error = out.Command + " takes no KEY=VALUE";
    return false;
  }
  if (out.Command == "set" && out.Assignments.empty()) {
    error = "set needs at least one KEY=VALUE";
    return false;
  }
  return true;
}

// The file as the program reads it; false when it exists but cannot be read.
bool Load(const std::string& path, EditedConfig& config, std::vector<BoundedValue>& bounded) {
  std::error_code failure;
  if (std::filesystem::exists(path, failure) && ::access(path.c_str(), R_OK) != 0) return false;
  const QString file = QString::fromStdString(path);
  StoredConfig stored = DecodeIni(ReadIniValues(file));
  bounded = BoundStoredConfig(stored);
  config = EditedFrom(stored, ReadPortValues(file));
  return true;
}

int Show(const std::string& path) {
  EditedConfig config;
  std::vector<BoundedValue> bounded;
  if (!Load(path, config, bounded)) return Fail("cannot read " + path, kFileFailed);
  std::error_code failure;
  const bool exists = std::filesystem::exists(path, failure);
  std::printf("# %s%s\n", path.c_str(), exists ? "" : ": no such file, every setting is its default");
  for (const ConfigKey& key : ConfigKeys()) {
    std::string line = key.Name + "=" + ShownValue(key, config);
    line.resize(std::max(line.size() + 2, kWordsColumn), ' ');
    std::printf("%s%s\n", line.c_str(), ValueWords(key, config).c_str());
  }
  for (const BoundedValue& value : bounded) std::printf("# %s\n", BoundedValueMessage(value).c_str());
  for (const char* line = kRestart; *line != '\0';) {
    const char* end = std::strchr(line, '\n');
    const size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
    std::printf("# %.*s\n", static_cast<int>(length), line);
    line += length + (end != nullptr ? 1 : 0);
  }
  return kDone;
}

// The device of each port a connected terminal uses, one a line, in COM
// order; a port set to no device has none.
int Devices(const std::string& path) {
  EditedConfig config;
  std::vector<BoundedValue> bounded;
  if (!Load(path, config, bounded)) return Fail("cannot read " + path, kFileFailed);
  const std::array<bool, kPortCount> needed = NeededPorts(config.Stored.Block.Terminals);
  for (int j = 0; j < kPortCount; ++j) {
    const std::string device = config.Ports[j].value_or(ComDevicePath(j));
    if (needed[j] && !device.empty()) std::printf("%s\n", device.c_str());
  }
  return kDone;
}

int Set(const std::string& path, const std::vector<std::string>& assignments) {
  EditedConfig config;
  std::vector<BoundedValue> bounded;
  if (!Load(path, config, bounded)) return Fail("cannot read " + path, kFileFailed);
  std::vector<const ConfigKey*> keys;
  bool refused = false;
  for (const std::string& assignment : assignments) {
    const size_t equals = assignment.find('=');
    const ConfigKey* key = equals == std::string::npos ? nullptr : FindConfigKey(assignment.substr(0, equals));
    if (key == nullptr) {
      refused = true;
      Fail(equals == std::string::npos ? "'" + assignment + "' is no KEY=VALUE"
                                       : "unknown key '" + assignment.substr(0, equals) + "' (see --help)",
           kRefused);
      continue;
    }
    if (const auto why = SetConfigKey(*key, assignment.substr(equals + 1), config)) {
      refused = true;
      Fail(key->Name + " refused: " + *why + "\n  " + key->Name + " takes " + key->Allowed, kRefused);
      continue;
    }
    keys.push_back(key);
  }
  if (refused) return Fail("nothing written", kRefused);
  std::string refusal;
  const auto save = ConfigToSave(config, refusal);
  if (!save) return Fail("refused: " + refusal + "\nnothing written", kRefused);
  std::string error;
  if (!SaveConfig(IniLocationAt(path), *save, PortSettings(config, keys), error)) return Fail(error, kFileFailed);
  std::printf("%s written.\n%s\n", path.c_str(), kRestart);
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  std::string error;
  if (!ParseArguments(std::vector<std::string>(argv + 1, argv + argc), arguments, error)) {
    return Fail(error + "\nTry 'tarvion-config --help'.", kRefused);
  }
  if (arguments.Help) {
    std::fputs(ConfigUsage().c_str(), stdout);
    return kDone;
  }
  if (arguments.Command == "show") return Show(arguments.ConfigPath);
  if (arguments.Command == "devices") return Devices(arguments.ConfigPath);
  return Set(arguments.ConfigPath, arguments.Assignments);
}
