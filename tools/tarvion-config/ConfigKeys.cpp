#include "tools/tarvion-config/ConfigKeys.h"

#include <algorithm>

#include "config/ConfigFields.h"
#include "link/CommPort.h"
#include "link/Cp1250.h"

namespace {

// One key: a place of a row of the table, or a [Porty] device.
struct KeyPlace {
  ConfigKey Key;
  const ConfigField* Field = nullptr;  // nullptr: the device of port `Index`
  int Index = 0;                       // the terminal of a terminal's field, or the port
};

std::string Refused(std::string_view text, const std::string& why) { return "'" + std::string(text) + "' " + why; }

std::string Quoted(const char* label) { return std::string(" (\"") + label + "\")"; }

std::string RangeWords(const NumberField& field) {
  return field.High == INT32_MAX ? std::to_string(field.Low) + " or more"
                                 : std::to_string(field.Low) + " to " + std::to_string(field.High);
}

std::string SwitchWord(const ConfigField& field, bool on) { return field.SwitchValues[on == field.FirstIsOn ? 0 : 1]; }

std::string AllowedWords(const ConfigField& field, int terminal) {
  switch (field.Kind) {
    case FieldKind::Number:
      return RangeWords(NumberFieldOf(field, terminal)) + field.Allowed;
    case FieldKind::PickList:
      break;
    case FieldKind::Switch:
      return std::string(field.SwitchValues[0]) + " or " + field.SwitchValues[1];
    case FieldKind::FileName:
      return "a file name of 1 to " + std::to_string(field.Width) + " characters of code page 1250, without '/'";
  }
  return field.Allowed;
}

// The value as set would take it: a number as typed, a list's item ("none"
// when none is selected), a switch's word, a name as UTF-8.
std::string FieldShown(const ConfigField& field, const FieldValue& value) {
  switch (field.Kind) {
    case FieldKind::Number:
      break;
    case FieldKind::PickList: {
      const auto item = static_cast<int>(std::get<int64_t>(value));
      return item >= 0 ? field.ItemText(item) : "none";
    }
    case FieldKind::Switch:
      return SwitchWord(field, std::get<int64_t>(value) != 0);
    case FieldKind::FileName:
      return Utf8FromCp1250(std::get<std::string>(value));
  }
  return std::get<std::string>(value);
}

// What the value means, the control's caption after it; a list with no item
// selected says what is used instead.
std::string FieldWords(const ConfigField& field, int terminal, const EditedConfig& config) {
  const FieldValue value = field.Access.Shown(config.Controls, terminal);
  std::string words = field.Kind == FieldKind::Switch && std::get<int64_t>(value) == 0 ? field.WordsOff : field.Words;
  bool selected = true;
  if (field.Kind == FieldKind::PickList) {
    const auto item = static_cast<int>(std::get<int64_t>(value));
    const int64_t stored = std::get<int64_t>(field.Access.Stored(config.Stored, terminal));
    selected = item >= 0;
    if (field.Meaning != nullptr) {
      words = field.Meaning(item, stored);
    } else if (!selected) {
      words = field.Outside;
      words.replace(words.find('%'), 1, std::to_string(stored));
    }
  }
  words = ForTerminal(words, terminal);
  return selected && *field.Caption != '\0' ? words + Quoted(field.Caption) : words;
}

// The control's value of `text`, checked as the window checks it.
std::optional<std::string> ReadField(const ConfigField& field, int terminal, std::string_view text,
                                     FieldValue& value) {
  switch (field.Kind) {
    case FieldKind::Number: {
      int64_t number = 0;
      if (auto refused = ReadNumber(text, NumberFieldOf(field, terminal), number)) return refused;
      value = std::string(text);
      return std::nullopt;
    }
    case FieldKind::PickList:
      for (int k = 0; k < field.Items; ++k) {
        if (field.ItemText(k) != text) continue;
        value = int64_t{k};
        return std::nullopt;
      }
      return Refused(text, "is not in the list");
    case FieldKind::Switch:
      if (text != field.SwitchValues[0] && text != field.SwitchValues[1]) {
        return Refused(text, std::string("is neither ") + field.SwitchValues[0] + " nor " + field.SwitchValues[1]);
      }
      value = int64_t{(text == field.SwitchValues[0]) == field.FirstIsOn};
      return std::nullopt;
    case FieldKind::FileName:
      break;
  }
  // A file in the start directory: typed as UTF-8, kept as code page 1250
  // bytes, within its field, no folder.
  const std::string cp1250 = Cp1250FromUtf8(text);
  if (text.empty() || cp1250.size() > field.Width || text.find('/') != std::string_view::npos ||
      Utf8FromCp1250(cp1250) != text) {
    return Refused(text, "is not such a name");
  }
  value = cp1250;
  return std::nullopt;
}

KeyPlace FieldKey(const ConfigField& field, int terminal) {
  return {{ForTerminal(field.Key, terminal), AllowedWords(field, terminal)}, &field, terminal};
}

// A [Porty] device: an absolute path, or empty for none.
KeyPlace PortKey(int j) {
  const std::string allowed = "an absolute device path such as /dev/ttyUSB0, or nothing for no device";
  return {{"COM" + std::to_string(j + 1), allowed, true}, nullptr, j};
}

std::string PortShown(int j, const EditedConfig& c) { return c.Ports[j].value_or(ComDevicePath(j)); }

std::string PortWords(int j, const EditedConfig& c) {
  if (!c.Ports[j]) return "no key: the default";
  if (c.Ports[j]->empty()) return "none (no device)";
  return "the device of COM" + std::to_string(j + 1);
}

std::optional<std::string> SetPort(int j, std::string_view text, EditedConfig& c) {
  const bool control = std::any_of(text.begin(), text.end(), [](char ch) {
    return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F;
  });
  if (control || (!text.empty() && text.front() != '/')) return Refused(text, "is no absolute device path");
  c.Ports[j] = std::string(text);
  return std::nullopt;
}

// The terminals' keys terminal by terminal, then the other rows', then the
// devices.
std::vector<KeyPlace> MakeKeys() {
  std::vector<KeyPlace> keys;
  for (int t = 0; t < kTerminalCount; ++t) {
    for (const ConfigField& field : ConfigFields()) {
      if (field.PerTerminal) keys.push_back(FieldKey(field, t));
    }
  }
  for (const ConfigField& field : ConfigFields()) {
    if (!field.PerTerminal) keys.push_back(FieldKey(field, 0));
  }
  for (int j = 0; j < kPortCount; ++j) keys.push_back(PortKey(j));
  return keys;
}

const std::vector<KeyPlace>& Places() {
  static const std::vector<KeyPlace> places = MakeKeys();
  return places;
}

// `key` is one of ConfigKeys(), made from Places() in the same order.
const KeyPlace& PlaceOf(const ConfigKey& key) { return Places()[static_cast<size_t>(&key - ConfigKeys().data())]; }

}  // namespace

EditedConfig EditedFrom(const StoredConfig& stored, const std::array<std::optional<std::string>, kPortCount>& ports) {
  EditedConfig config;
  config.Stored = stored;
  config.Controls = ControlsFromConfig(stored);
  config.Ports = ports;
  return config;
}

const std::vector<ConfigKey>& ConfigKeys() {
  static const std::vector<ConfigKey> keys = [] {
    std::vector<ConfigKey> all;
    for (const KeyPlace& place : Places()) all.push_back(place.Key);
    return all;
  }();
  return keys;
}

const ConfigKey* FindConfigKey(std::string_view name) {
  for (const ConfigKey& key : ConfigKeys()) {
    if (key.Name == name) return &key;
  }
  return nullptr;
}

std::string ShownValue(const ConfigKey& key, const EditedConfig& config) {
  const KeyPlace& place = PlaceOf(key);
  if (place.Field == nullptr) return PortShown(place.Index, config);
  return FieldShown(*place.Field, place.Field->Access.Shown(config.Controls, place.Index));
}

std::string ValueWords(const ConfigKey& key, const EditedConfig& config) {
  const KeyPlace& place = PlaceOf(key);
  if (place.Field == nullptr) return PortWords(place.Index, config);
  return FieldWords(*place.Field, place.Index, config);
}

std::optional<std::string> SetConfigKey(const ConfigKey& key, std::string_view value, EditedConfig& config) {
  const KeyPlace& place = PlaceOf(key);
  if (place.Field == nullptr) return SetPort(place.Index, value, config);
  FieldValue read;
  if (auto refused = ReadField(*place.Field, place.Index, value, read)) return refused;
  place.Field->Access.Show(config.Controls, place.Index, read);
  return std::nullopt;
}

std::optional<StoredConfig> ConfigToSave(const EditedConfig& config, std::string& refusal) {
  StoredConfig save;
  if (auto refused = BuildStoredConfig(config.Controls, config.Stored, save)) {
    refusal = *refused;
    return std::nullopt;
  }
  return save;
}

std::vector<IniSetting> PortSettings(const EditedConfig& config, const std::vector<const ConfigKey*>& keys) {
  std::vector<IniSetting> settings;
  for (const ConfigKey* key : keys) {
    if (key->InPorty) settings.push_back({"Porty", key->Name, ShownValue(*key, config)});
  }
  return settings;
}
