#include "tools/tarvion-config/ConfigKeys.h"

#include <algorithm>
#include <functional>

#include "link/CommPort.h"
#include "link/Cp1250.h"

namespace {

// One key: how it reads, what it means, how it is set.
struct KeyRules {
  ConfigKey Key;
  std::function<std::string(const EditedConfig&)> Shown;
  std::function<std::string(const EditedConfig&)> Words;
  std::function<std::optional<std::string>(EditedConfig&, std::string_view)> Set;
};

std::string YesNo(bool on) { return on ? "yes" : "no"; }

std::string Refused(std::string_view text, const std::string& why) { return "'" + std::string(text) + "' " + why; }

// The rules of a key whose value is one member of the configuration, reached
// by `access` (a generic lambda giving the member of a const or non-const
// EditedConfig). `shown` gives the member's text, `read` takes a text into
// the member or refuses it.
template <typename Access, typename Shown, typename Read>
KeyRules Member(ConfigKey key, Access access, Shown shown, Read read,
                std::function<std::string(const EditedConfig&)> words) {
  return {std::move(key), [access, shown](const EditedConfig& c) { return shown(access(c)); }, std::move(words),
          [access, read](EditedConfig& c, std::string_view text) -> std::optional<std::string> {
            auto value = access(c);
            if (auto refused = read(text, value)) return refused;
            access(c) = value;
            return std::nullopt;
          }};
}

std::function<std::string(const EditedConfig&)> Fixed(std::string words) {
  return [words = std::move(words)](const EditedConfig&) { return words; };
}

// yes or no; `words` say what either means.
template <typename Access>
KeyRules Switch(const std::string& name, Access access, std::function<std::string(bool)> words) {
  return Member(
      {name, "yes or no"}, access, [](bool on) { return YesNo(on); },
      [](std::string_view text, bool& on) -> std::optional<std::string> {
        if (text != "yes" && text != "no") return Refused(text, "is neither yes nor no");
        on = text == "yes";
        return std::nullopt;
      },
      [access, words](const EditedConfig& c) { return words(access(c)); });
}

std::string RangeWords(const NumberField& field) {
  return field.High == INT32_MAX ? std::to_string(field.Low) + " or more"
                                 : std::to_string(field.Low) + " to " + std::to_string(field.High);
}

// A number typed into a control: kept as the text, checked with the window's
// field, range and message.
template <typename Access>
KeyRules Number(const std::string& name, NumberField field, Access access, std::string words) {
  return Member(
      {name, RangeWords(field)}, access, [](const std::string& text) { return text; },
      [field](std::string_view text, std::string& kept) -> std::optional<std::string> {
        int64_t value = 0;
        if (auto refused = ReadNumber(text, field, value)) return refused;
        kept = std::string(text);
        return std::nullopt;
      },
      Fixed(std::move(words)));
}

// A turnaround: the number itself, checked as its edit box checks it.
template <typename Access>
KeyRules Turnaround(const std::string& name, NumberField field, Access access, std::string words) {
  return Member(
      {name, RangeWords(field) + " (microseconds; 0 means 9500)"}, access,
      [](uint32_t us) { return std::to_string(us); },
      [field](std::string_view text, uint32_t& us) -> std::optional<std::string> {
        int64_t value = 0;
        if (auto refused = ReadNumber(text, field, value)) return refused;
        us = static_cast<uint32_t>(value);
        return std::nullopt;
      },
      Fixed(std::move(words)));
}

// An item of a pick list of `count` items, `itemText(k)` the text of item k;
// no item selected (a stored index outside the list) shows as "none".
template <typename Access>
KeyRules PickList(const std::string& name, int count, std::function<std::string(int)> itemText, Access access,
                  std::string allowed, std::function<std::string(const EditedConfig&)> words) {
  return Member(
      {name, std::move(allowed)}, access, [itemText](int item) { return item >= 0 ? itemText(item) : "none"; },
      [count, itemText](std::string_view text, int& item) -> std::optional<std::string> {
        for (int k = 0; k < count; ++k) {
          if (itemText(k) != text) continue;
          item = k;
          return std::nullopt;
        }
        return Refused(text, "is not in the list");
      },
      std::move(words));
}

// The name of a file in the start directory: typed as UTF-8, kept as code
// page 1250 bytes, at most the 12 bytes of its field, no folder.
template <typename Access>
KeyRules FileName(const std::string& name, Access access, std::string words) {
  return Member(
      {name, "a file name of 1 to 12 characters of code page 1250, without '/'"}, access,
      [](const std::string& bytes) { return Utf8FromCp1250(bytes); },
      [](std::string_view text, std::string& bytes) -> std::optional<std::string> {
        const std::string cp1250 = Cp1250FromUtf8(text);
        if (text.empty() || cp1250.size() > kFileNameFieldSize || text.find('/') != std::string_view::npos ||
            Utf8FromCp1250(cp1250) != text) {
          return Refused(text, "is not such a name");
        }
        bytes = cp1250;
        return std::nullopt;
      },
      Fixed(std::move(words)));
}

// A [Porty] device: an absolute path, or empty for none.
KeyRules PortDevice(int j) {
  const std::string com = "COM" + std::to_string(j + 1);
  return Member(
      {com, "an absolute device path such as /dev/ttyUSB0, or nothing for no device", true},
      [j](auto& c) -> auto& { return c.Ports[j]; },
      [j](const std::optional<std::string>& path) { return path.value_or(ComDevicePath(j)); },
      [](std::string_view text, std::optional<std::string>& path) -> std::optional<std::string> {
        const bool control = std::any_of(text.begin(), text.end(), [](char ch) {
          return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F;
        });
        if (control || (!text.empty() && text.front() != '/')) return Refused(text, "is no absolute device path");
        path = std::string(text);
        return std::nullopt;
      },
      [j, com](const EditedConfig& c) {
        if (!c.Ports[j]) return std::string("no key: the default");
        if (c.Ports[j]->empty()) return std::string("none (no device)");
        return "the device of " + com;
      });
}

std::string Quoted(const char* label) { return std::string(" (\"") + label + "\")"; }

void AddTerminal(std::vector<KeyRules>& keys, int t) {
  const std::string prefix = "terminal" + std::to_string(t + 1) + ".";
  const std::string number = std::to_string(t + 1);
  keys.push_back(Number(prefix + "address", AddressField(t), [t](auto& c) -> auto& { return c.Controls.Address[t]; },
                        "bus address of terminal " + number));
  keys.push_back(PickList(
      prefix + "port", kPortCount, [](int j) { return "COM" + std::to_string(j + 1); },
      [t](auto& c) -> auto& { return c.Controls.PortItem[t]; }, "COM1 ... COM8", [t, number](const EditedConfig& c) {
        if (c.Controls.PortItem[t] >= 0) return "COM port of terminal " + number;
        return "stored port index " + std::to_string(c.Stored.Block.Terminals[t].PortIndex) +
               " names no port: terminal " + number + " is not used";
      }));
  keys.push_back(Switch(prefix + "connected", [t](auto& c) -> auto& { return c.Controls.Connected[t]; },
                        [number](bool on) {
                          return (on ? "Tarvion talks to terminal " : "Tarvion does not talk to terminal ") + number +
                                 Quoted("Připojen");
                        }));
}

// The words of a list key whose stored index lies outside its list.
std::string OutsideList(const char* what, int64_t stored, const std::string& used) {
  return std::string("stored ") + what + " " + std::to_string(stored) + " is outside the list: " + used + " is used";
}

std::vector<KeyRules> MakeRules() {
  std::vector<KeyRules> keys;
  for (int t = 0; t < kTerminalCount; ++t) AddTerminal(keys, t);
  keys.push_back(PickList(
      "baud", kBaudItemCount, [](int k) { return std::to_string(BaudFromIndex(k)); }, [](auto& c) -> auto& { return c.Controls.BaudItem; },
      "1200, 2400, 4800, 9600 or 19200", [](const EditedConfig& c) {
        if (c.Controls.BaudItem < 0) return OutsideList("item", c.Stored.Block.BaudIndex, "19200");
        return "baud rate of every port" + Quoted("Rychlost BAUD");
      }));
  keys.push_back(Member(
      {"parity", "none or mark"}, [](auto& c) -> auto& { return c.ParityMark; }, [](bool mark) { return std::string(mark ? "mark" : "none"); },
      [](std::string_view text, bool& mark) -> std::optional<std::string> {
        if (text != "none" && text != "mark") return Refused(text, "is neither none nor mark");
        mark = text == "mark";
        return std::nullopt;
      },
      Fixed("parity of every port" + Quoted("Parita MARK"))));
  keys.push_back(Switch("coding", [](auto& c) -> auto& { return c.Controls.MealCoding; }, [](bool on) {
    return (on ? "meal codes without a separate value for N" : "meal codes with a value for N") + Quoted("Kódování");
  }));
  keys.push_back(Switch("dt", [](auto& c) -> auto& { return c.Controls.UseDT; }, [](bool on) {
    return (on ? "person records carry five DT bytes" : "person records without DT bytes") + Quoted("Používat DT");
  }));
  keys.push_back(Switch("credit", [](auto& c) -> auto& { return c.Controls.CreditOn; }, [](bool on) {
    return (on ? "Q lines carry a credit" : "Q lines without a credit") + Quoted("Kredit");
  }));
  keys.push_back(Number("capacity", CapacityField(), [](auto& c) -> auto& { return c.Controls.Capacity; },
                        "most persons a terminal returns" + Quoted("Kapacita")));
  keys.push_back(Number("breakfasts", BreakfastCountField(), [](auto& c) -> auto& { return c.Controls.BreakfastCount; },
                        "breakfast code values" + Quoted("Max. p. snidaní")));
  keys.push_back(Number("dinners", DinnerCountField(), [](auto& c) -> auto& { return c.Controls.DinnerCount; },
                        "dinner code values" + Quoted("Max. p. večeří")));
  keys.push_back(FileName("request-file", [](auto& c) -> auto& { return c.Controls.RequestFileName; },
                          "request file in the start directory" + Quoted("Jméno souboru požadavků na terminál:")));
  keys.push_back(FileName("output-file", [](auto& c) -> auto& { return c.Controls.OutputFileName; },
                          "output file in the start directory" + Quoted("Jméno souboru výstupu z terminálu:")));
  keys.push_back(PickList(
      "attempts", kRepeatItemCount, [](int k) { return std::to_string(k + 1); }, [](auto& c) -> auto& { return c.Controls.RepeatItem; }, "1 to 9",
      [](const EditedConfig& c) {
        if (c.Controls.RepeatItem < 0) return OutsideList("item", c.Stored.Block.RepeatIndex, "1 attempt");
        return "send attempts of each line" + Quoted("Max. počet pokusů");
      }));
  keys.push_back(Switch("stop-on-failure", [](auto& c) -> auto& { return c.WriteErrorRepeat; }, [](bool on) {
    return (on ? "a line that fails all its attempts ends the job" : "a failed line does not end the job") +
           Quoted("Při neúspěšném opakování ukončit úlohu");
  }));
  keys.push_back(Switch("priority", [](auto& c) -> auto& { return c.Controls.HighPriority; }, [](bool on) {
    return (on ? "higher process priority during an exchange" : "normal priority during an exchange") +
           Quoted("Priorita komunikace HIGH_PRIORITY");
  }));
  keys.push_back(PickList(
      "timeout", kDelayAddItemCount, [](int k) { return std::to_string(DelayAddItemValue(k)); },
      [](auto& c) -> auto& { return c.Controls.TimeoutItem; }, "0, 4, 8, ... 236 (milliseconds)", [](const EditedConfig& c) {
        const std::string limit = std::to_string(LinkTimeoutForItem(c.Controls.TimeoutItem)) + " ms";
        if (c.Controls.TimeoutItem < 0) return OutsideList("item", c.Stored.Block.TimeoutIndex, "an idle limit of " + limit);
        return "ms added to the idle limit of 40 ms: " + limit + Quoted("Prodloužení testu MASTER o (ms)");
      }));
  keys.push_back(Turnaround("tx-turnaround", TxTurnaroundField(), [](auto& c) -> auto& { return c.Turnaround.TxTurnaroundUs; },
                            "µs after raising RTS, before the first byte" + Quoted("Konstanta pro vysílání")));
  keys.push_back(Turnaround("rx-turnaround", RxTurnaroundField(), [](auto& c) -> auto& { return c.Turnaround.RxTurnaroundUs; },
                            "µs after the transmitter is empty, before dropping RTS" + Quoted("Konstanta pro příjem")));
  for (int j = 0; j < kPortCount; ++j) keys.push_back(PortDevice(j));
  return keys;
}

const std::vector<KeyRules>& Rules() {
  static const std::vector<KeyRules> rules = MakeRules();
  return rules;
}

// `key` is one of ConfigKeys(), made from Rules() in the same order.
const KeyRules& RulesOf(const ConfigKey& key) { return Rules()[static_cast<size_t>(&key - ConfigKeys().data())]; }

}  // namespace

EditedConfig EditedFrom(const StoredConfig& stored, const std::array<std::optional<std::string>, kPortCount>& ports) {
  EditedConfig config;
  config.Stored = stored;
  config.Controls = ControlsFromConfig(stored.Block);
  config.Turnaround = stored.Turnaround;
  config.ParityMark = stored.ParityMark;
  config.WriteErrorRepeat = stored.WriteErrorRepeat;
  config.Ports = ports;
  return config;
}

const std::vector<ConfigKey>& ConfigKeys() {
  static const std::vector<ConfigKey> keys = [] {
    std::vector<ConfigKey> all;
    for (const KeyRules& rules : Rules()) all.push_back(rules.Key);
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

std::string ShownValue(const ConfigKey& key, const EditedConfig& config) { return RulesOf(key).Shown(config); }

std::string ValueWords(const ConfigKey& key, const EditedConfig& config) { return RulesOf(key).Words(config); }

std::optional<std::string> SetConfigKey(const ConfigKey& key, std::string_view value, EditedConfig& config) {
  return RulesOf(key).Set(config, value);
}

std::optional<StoredConfig> ConfigToSave(const EditedConfig& config, std::string& refusal) {
  StoredConfig save;
  if (auto refused = BuildConfigBlock(config.Controls, config.Stored.Block, save.Block)) {
    refusal = *refused;
    return std::nullopt;
  }
  save.Turnaround = config.Turnaround;
  save.ParityMark = config.ParityMark;
  save.WriteErrorRepeat = config.WriteErrorRepeat;
  return save;
}

std::vector<IniSetting> PortSettings(const EditedConfig& config, const std::vector<const ConfigKey*>& keys) {
  std::vector<IniSetting> settings;
  for (const ConfigKey* key : keys) {
    if (key->InPorty) settings.push_back({"Porty", key->Name, ShownValue(*key, config)});
  }
  return settings;
}
