#pragma once
// The settings of Tarvion's INI file in words, as tarvion-config shows and
// sets them. Each key stands for a control of the window, a row of the table
// of ConfigFields.h (or a [Porty] device): its value is the control's text or
// choice, checked with the window's own ranges and messages, and the
// configuration is then built from all of them as "Uložit CFG" builds it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"
#include "config/IniText.h"

// Everything the file holds, as the window shows it.
struct EditedConfig {
  StoredConfig Stored;        // as read (bounded as the program uses it)
  ConfigControls Controls;    // ControlsFromConfig(Stored), then the keys set
  std::array<std::optional<std::string>, kPortCount> Ports;  // [Porty]: nullopt for a missing key
};

EditedConfig EditedFrom(const StoredConfig& stored, const std::array<std::optional<std::string>, kPortCount>& ports);

struct ConfigKey {
  std::string Name;     // "terminal2.address", "baud", "COM1", ...
  std::string Allowed;  // the values it takes, in words
  bool InPorty = false; // a [Porty] device rather than a value of section Konfigurace
};

// Every key, in the order show lists them.
const std::vector<ConfigKey>& ConfigKeys();
const ConfigKey* FindConfigKey(std::string_view name);

// The functions below take a key of ConfigKeys() (as FindConfigKey gives it).
// The value of `key` as set would take it, and what it means.
std::string ShownValue(const ConfigKey& key, const EditedConfig& config);
std::string ValueWords(const ConfigKey& key, const EditedConfig& config);

// Sets `key` to `value`. nullopt when taken; otherwise the refusal (the
// window's message where it has one) and `config` is unchanged.
std::optional<std::string> SetConfigKey(const ConfigKey& key, std::string_view value, EditedConfig& config);

// The configuration to save, built from the controls as "Uložit CFG" builds
// it; nullopt with `refusal` set when BuildStoredConfig refuses.
std::optional<StoredConfig> ConfigToSave(const EditedConfig& config, std::string& refusal);

// The [Porty] settings among `keys`, with their values.
std::vector<IniSetting> PortSettings(const EditedConfig& config, const std::vector<const ConfigKey*>& keys);
