#include "config/ConfigFields.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>

namespace {

template <typename>
struct MemberOf;
template <typename Class, typename T>
struct MemberOf<T Class::*> {
  using Owner = Class;
  using Type = T;
};

// The part of the stored configuration that holds a member of `Part`.
template <typename Part, typename Config>
auto& PartOf(Config& config, int terminal) {
  if constexpr (std::is_same_v<Part, TerminalEntry>) {
    return config.Block.Terminals[terminal];
  } else if constexpr (std::is_same_v<Part, ConfigBlock>) {
    return config.Block;
  } else if constexpr (std::is_same_v<Part, TurnaroundBlock>) {
    return config.Turnaround;
  } else {
    return config;
  }
}

// A control of each terminal is an array member; any other a single one.
template <typename T>
T& ControlOf(T& value, int) {
  return value;
}
template <typename T, size_t N>
T& ControlOf(std::array<T, N>& values, int terminal) {
  return values[terminal];
}
template <typename T, size_t N>
const T& ControlOf(const std::array<T, N>& values, int terminal) {
  return values[terminal];
}

template <typename T>
FieldValue ValueOf(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value;
  } else {
    return static_cast<int64_t>(value);
  }
}

template <typename T>
void Assign(T& target, const FieldValue& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    target = std::get<std::string>(value);
  } else {
    target = static_cast<T>(std::get<int64_t>(value));
  }
}

// The access of a row kept in `stored` (a member of ConfigBlock,
// TerminalEntry, TurnaroundBlock or StoredConfig) and shown in `shown` (a
// member of ConfigControls, an array for a terminal's control).
template <auto stored, auto shown>
constexpr FieldAccess Members() {
  using Part = typename MemberOf<decltype(stored)>::Owner;
  return {[](const StoredConfig& c, int t) { return ValueOf(PartOf<Part>(c, t).*stored); },
          [](StoredConfig& c, int t, const FieldValue& v) { Assign(PartOf<Part>(c, t).*stored, v); },
          [](const ConfigControls& c, int t) { return ValueOf(ControlOf(c.*shown, t)); },
          [](ConfigControls& c, int t, const FieldValue& v) { Assign(ControlOf(c.*shown, t), v); }};
}

std::string PortText(int item) { return "COM" + std::to_string(item + 1); }
std::string BaudText(int item) { return std::to_string(BaudFromIndex(item)); }
std::string AttemptsText(int item) { return std::to_string(item + 1); }
std::string DelayAddText(int item) { return std::to_string(DelayAddItemValue(item)); }

std::string LinkTimeoutMeaning(int item, int64_t stored) {
  const std::string limit = std::to_string(LinkTimeoutForItem(item)) + " ms";
  if (item < 0) {
    return "stored item " + std::to_string(stored) + " is outside the list: an idle limit of " + limit + " is used";
  }
  return "ms added to the idle limit of 40 ms: " + limit;
}

const ConfigField kFields[] = {
    {.Key = "terminal#.address", .Kind = FieldKind::Number, .Ini = kIniCfgBinary, .Offset = 0, .Width = 1,
     .PerTerminal = true, .Default = 1, .Low = 0, .High = UINT8_MAX, .Control = "Adr#",
     .MessageName = "Adresa terminálu #", .Words = "bus address of terminal #",
     .Access = Members<&TerminalEntry::Address, &ConfigControls::Address>()},
    {.Key = "terminal#.port", .Kind = FieldKind::PickList, .Ini = kIniCfgBinary, .Offset = 1, .Width = 1,
     .PerTerminal = true, .Default = 0, .Items = kPortCount, .ItemText = PortText, .Control = "Port#",
     .Allowed = "COM1 ... COM8", .Words = "COM port of terminal #",
     .Outside = "stored port index % names no port: terminal # is not used",
     .Access = Members<&TerminalEntry::PortIndex, &ConfigControls::PortItem>()},
    {.Key = "terminal#.connected", .Kind = FieldKind::Switch, .Ini = kIniCfgBinary, .Offset = 2, .Width = 1,
     .PerTerminal = true, .Default = 1, .Control = "Pripojen#", .Caption = "Připojen",
     .Words = "Tarvion talks to terminal #", .WordsOff = "Tarvion does not talk to terminal #",
     .Access = Members<&TerminalEntry::Connected, &ConfigControls::Connected>()},
    {.Key = "baud", .Kind = FieldKind::PickList, .Ini = kIniCfgBinary, .Offset = 12, .Width = 4, .Signed = true,
     .Default = kDefaultBaudIndex, .Items = kBaudItemCount, .ItemText = BaudText, .Control = "K_Baud1",
     .Caption = "Rychlost BAUD", .LoadName = "Rychlost BAUD (položka)", .Allowed = "1200, 2400, 4800, 9600 or 19200",
     .Words = "baud rate of every port", .Outside = "stored item % is outside the list: 19200 is used",
     .Access = Members<&ConfigBlock::BaudIndex, &ConfigControls::BaudItem>()},
    {.Key = "parity", .Kind = FieldKind::Switch, .Ini = kIniParita, .Default = 0, .Control = "Mark1",
     .Caption = "Parita MARK", .Words = "parity of every port", .WordsOff = "parity of every port",
     .SwitchValues = {"none", "mark"}, .FirstIsOn = false,
     .Access = Members<&StoredConfig::ParityMark, &ConfigControls::ParityMark>()},
    {.Key = "coding", .Kind = FieldKind::Switch, .Ini = kIniCfgBinary, .Offset = 28, .Width = 1, .Default = 1,
     .Control = "CCode1", .Caption = "Kódování", .Words = "meal codes without a separate value for N",
     .WordsOff = "meal codes with a value for N",
     .Access = Members<&ConfigBlock::MealCoding, &ConfigControls::MealCoding>()},
    {.Key = "dt", .Kind = FieldKind::Switch, .Ini = kIniCfgBinary, .Offset = 29, .Width = 1, .Default = 0,
     .Control = "DT_use1", .Caption = "Používat DT", .Words = "person records carry five DT bytes",
     .WordsOff = "person records without DT bytes",
     .Access = Members<&ConfigBlock::UseDT, &ConfigControls::UseDT>()},
    {.Key = "credit", .Kind = FieldKind::Switch, .Ini = kIniCfgBinary, .Offset = 30, .Width = 1, .Default = 1,
     .Control = "Kredit1", .Caption = "Kredit", .Words = "Q lines carry a credit",
     .WordsOff = "Q lines without a credit",
     .Access = Members<&ConfigBlock::CreditOn, &ConfigControls::CreditOn>()},
    {.Key = "capacity", .Kind = FieldKind::Number, .Ini = kIniCfgBinary, .Offset = 16, .Width = 4, .Signed = true,
     .Default = 2500, .Low = 0, .High = kMaxCapacity, .Control = "Radku1", .Caption = "Kapacita",
     .LoadName = "Kapacita", .Words = "most persons a terminal returns",
     .Access = Members<&ConfigBlock::Capacity, &ConfigControls::Capacity>()},
    // A negative meal count would code wrong meals.
    {.Key = "breakfasts", .Kind = FieldKind::Number, .Ini = kIniCfgBinary, .Offset = 20, .Width = 4, .Signed = true,
     .Default = 4, .Low = 0, .High = INT32_MAX, .Control = "MxSn1", .Caption = "Max. p. snidaní",
     .LoadName = "Max. p. snidaní", .Words = "breakfast code values",
     .Access = Members<&ConfigBlock::BreakfastCount, &ConfigControls::BreakfastCount>()},
    {.Key = "dinners", .Kind = FieldKind::Number, .Ini = kIniCfgBinary, .Offset = 24, .Width = 4, .Signed = true,
     .Default = 6, .Low = 0, .High = INT32_MAX, .Control = "MxVec1", .Caption = "Max. p. večeří",
     .LoadName = "Max. p. večeří", .Words = "dinner code values",
     .Access = Members<&ConfigBlock::DinnerCount, &ConfigControls::DinnerCount>()},
    {.Key = "request-file", .Kind = FieldKind::FileName, .Ini = kIniCfgBinary, .Offset = 31,
     .Width = kFileNameFieldSize, .DefaultName = "request.cfg", .Control = "InSoubor",
     .Caption = "Jméno souboru požadavků na terminál:", .Words = "request file in the start directory",
     .Access = Members<&ConfigBlock::RequestFileName, &ConfigControls::RequestFileName>()},
    {.Key = "output-file", .Kind = FieldKind::FileName, .Ini = kIniCfgBinary, .Offset = 46,
     .Width = kFileNameFieldSize, .DefaultName = "output.txt", .Control = "OutSoubor",
     .Caption = "Jméno souboru výstupu z terminálu:", .Words = "output file in the start directory",
     .Access = Members<&ConfigBlock::OutputFileName, &ConfigControls::OutputFileName>()},
    {.Key = "attempts", .Kind = FieldKind::PickList, .Ini = kIniCfgBinary, .Offset = 62, .Width = 1,
     .Default = kDefaultRepeatIndex, .Items = kRepeatItemCount, .ItemText = AttemptsText, .Control = "Rep_write",
     .Caption = "Max. počet pokusů", .LoadName = "Max. počet pokusů (položka)", .Allowed = "1 to 9",
     .Words = "send attempts of each line", .Outside = "stored item % is outside the list: 1 attempt is used",
     .Access = Members<&ConfigBlock::RepeatIndex, &ConfigControls::RepeatItem>()},
    {.Key = "stop-on-failure", .Kind = FieldKind::Switch, .Ini = kIniNeuspechKonec, .Default = 1,
     .Control = "Write_error_repeat", .Caption = "Při neúspěšném opakování ukončit úlohu",
     .Words = "a line that fails all its attempts ends the job", .WordsOff = "a failed line does not end the job",
     .Access = Members<&StoredConfig::WriteErrorRepeat, &ConfigControls::WriteErrorRepeat>()},
    {.Key = "priority", .Kind = FieldKind::Switch, .Ini = kIniCfgBinary, .Offset = 63, .Width = 1, .Default = 1,
     .Control = "Priority_set", .Caption = "Priorita komunikace HIGH_PRIORITY",
     .Words = "higher process priority during an exchange", .WordsOff = "normal priority during an exchange",
     .Access = Members<&ConfigBlock::HighPriority, &ConfigControls::HighPriority>()},
    {.Key = "timeout", .Kind = FieldKind::PickList, .Ini = kIniCfgBinary, .Offset = 64, .Width = 1,
     .Default = kDefaultTimeoutIndex, .Items = kDelayAddItemCount, .ItemText = DelayAddText, .Control = "Delay_add",
     .Caption = "Prodloužení testu MASTER o (ms)", .LoadName = "Prodloužení testu MASTER (položka)",
     .Allowed = "0, 4, 8, ... 236 (milliseconds)", .Meaning = LinkTimeoutMeaning,
     .Access = Members<&ConfigBlock::TimeoutIndex, &ConfigControls::TimeoutItem>()},
    // 0 keeps its meaning: the link's default turnaround.
    {.Key = "tx-turnaround", .Kind = FieldKind::Number, .Ini = kIniTestBinary, .Offset = 0, .Width = 4,
     .Default = kDefaultTurnaroundUs, .Low = 0, .High = kMaxTurnaroundUs, .Control = "Edit2",
     .Caption = "Konstanta pro vysílání", .LoadName = "vysílání (µs)",
     .Allowed = " (microseconds; 0 means 9500)", .Words = "µs after raising RTS, before the first byte",
     .Access = Members<&TurnaroundBlock::TxTurnaroundUs, &ConfigControls::TxTurnaround>()},
    {.Key = "rx-turnaround", .Kind = FieldKind::Number, .Ini = kIniTestBinary, .Offset = 4, .Width = 4,
     .Default = kDefaultTurnaroundUs, .Low = 0, .High = kMaxTurnaroundUs, .Control = "Edit3",
     .Caption = "Konstanta pro příjem", .LoadName = "příjem (µs)", .Allowed = " (microseconds; 0 means 9500)",
     .Words = "µs after the transmitter is empty, before dropping RTS",
     .Access = Members<&TurnaroundBlock::RxTurnaroundUs, &ConfigControls::RxTurnaround>()},
};

}  // namespace

std::span<const ConfigField> ConfigFields() { return kFields; }

const ConfigField& ConfigFieldOf(std::string_view key) {
  for (const ConfigField& field : kFields) {
    if (field.Key == key) return field;
  }
  throw std::out_of_range("no configuration field " + std::string(key));
}

int PlaceCount(const ConfigField& field) { return field.PerTerminal ? kTerminalCount : 1; }

std::string ForTerminal(std::string_view text, int terminal) {
  std::string result;
  for (const char c : text) result += c == '#' ? std::to_string(terminal + 1) : std::string(1, c);
  return result;
}

size_t PlaceOffset(const ConfigField& field, int terminal) {
  return field.Offset + (field.PerTerminal ? static_cast<size_t>(terminal) * kTerminalEntrySize : 0);
}

size_t RecordSize(std::string_view ini) {
  for (const IniKey& key : IniKeys()) {
    if (key.Name == ini) return key.RecordSize;
  }
  return 0;
}

NumberField NumberFieldOf(const ConfigField& field, int terminal) {
  return {ForTerminal(*field.MessageName != '\0' ? field.MessageName : field.Caption, terminal), field.Low,
          field.High};
}
