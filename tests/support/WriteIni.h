#pragma once
// The INI file of a test, written whole: section "Konfigurace" and the
// devices of section "Porty". The one writer of INI files in the tests; the
// text is put together here by hand, not by the program's own writer.

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "config/Config.h"

// The devices of section "Porty": COM number (1 for COM1) -> device path.
using PortDevices = std::map<int, std::string>;

// Section "Konfigurace" with the keys `values` holds, in the order the
// program writes them (a missing key is left out, the section too when it has
// none), a blank line, section "Porty" with `devices`, and last `handEdited`
// as it stands. A whole stored configuration gives its values by EncodeIni.
inline std::string IniFileText(const IniValues& values, const PortDevices& devices,
                               std::string_view handEdited = {}) {
  std::string text;
  const auto key = [&](const char* name, const std::optional<std::string>& value) {
    if (value) text += std::string(name) + "=" + *value + "\n";
  };
  key(kIniCfgBinary, values.CfgBinary);
  key(kIniTestBinary, values.TestBinary);
  key(kIniParita, values.Parita);
  key(kIniNeuspechKonec, values.NeuspechKonec);
  if (!text.empty()) text = "[" + std::string(kIniSection) + "]\n" + text + "\n";
  text += "[Porty]\n";
  for (const auto& [com, device] : devices) text += "COM" + std::to_string(com) + "=" + device + "\n";
  return text + std::string(handEdited);
}

inline void WriteIniFile(const std::filesystem::path& file, const IniValues& values, const PortDevices& devices,
                         std::string_view handEdited = {}) {
  std::ofstream(file, std::ios::binary) << IniFileText(values, devices, handEdited);
}

// Cfg_binary of `block` alone and, as an administrator may have typed it,
// Test_binary.
inline IniValues IniValuesOf(const ConfigBlock& block, std::optional<std::string> testBinary = std::nullopt) {
  const auto bytes = EncodeConfigBlock(block);
  IniValues values;
  values.CfgBinary = HexFromBytes(bytes.data(), bytes.size());
  values.TestBinary = std::move(testBinary);
  return values;
}
