#include "config/Config.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>

#include "config/ConfigFields.h"
#include "link/StartFiles.h"

namespace {

constexpr int kBaudRates[kBaudItemCount] = {1200, 2400, 4800, 9600, 19200};
constexpr int kDefaultBaud = 19200;
constexpr uint32_t kLinkTimeoutBaseMs = 40;
constexpr int kDelayAddStepMs = 4;
constexpr int kRecordBytes = 24;
constexpr int kRecordBytesWithDT = 29;

// A configuration to fill from the table. (StoredConfig{} itself takes
// DefaultConfigBlock(), which is filled in one of these.)
StoredConfig Blank() { return StoredConfig{ConfigBlock{}, TurnaroundBlock{}, false, false}; }

// One place of a row: the row, and the terminal for a terminal's field.
struct FieldPlace {
  const ConfigField* Field;
  int Terminal;
};

// The places of the rows that `ini` holds (every row for an empty `ini`), in
// the table's order, each terminal's place of a row after the other.
std::vector<FieldPlace> PlacesOf(std::string_view ini) {
  std::vector<FieldPlace> places;
  for (const ConfigField& field : ConfigFields()) {
    if (!ini.empty() && field.Ini != ini) continue;
    for (int t = 0; t < PlaceCount(field); ++t) places.push_back({&field, t});
  }
  return places;
}

// A name field: up to the first zero byte, at most its width.
std::string GetName(const uint8_t* at, size_t width) {
  const auto* end = std::find(at, at + width, uint8_t{0});
  return std::string(at, end);
}

void PutName(uint8_t* at, const std::string& name, size_t width) {
  std::memcpy(at, name.data(), std::min(name.size(), width));
}

// A field of the record: a name, or a little-endian number.
FieldValue GetField(const uint8_t* at, const ConfigField& field) {
  if (field.Kind == FieldKind::FileName) return GetName(at, field.Width);
  uint32_t number = 0;
  for (size_t i = 0; i < field.Width; ++i) number |= static_cast<uint32_t>(at[i]) << (8 * i);
  return field.Signed ? int64_t{static_cast<int32_t>(number)} : int64_t{number};
}

void PutField(uint8_t* at, const ConfigField& field, const FieldValue& value) {
  if (field.Kind == FieldKind::FileName) return PutName(at, std::get<std::string>(value), field.Width);
  const auto number = static_cast<uint32_t>(std::get<int64_t>(value));
  for (size_t i = 0; i < field.Width; ++i) at[i] = static_cast<uint8_t>(number >> (8 * i));
}

FieldValue DefaultOf(const ConfigField& field, int terminal) {
  if (field.Kind == FieldKind::FileName) return std::string(field.DefaultName);
  return terminal == 0 ? field.Default : 0;
}

void SetDefaults(std::string_view ini, StoredConfig& config) {
  for (const auto& [field, t] : PlacesOf(ini)) field->Access.Store(config, t, DefaultOf(*field, t));
}

// The record of `ini`: fewer bytes than it holds give the defaults.
void ReadRecord(std::string_view ini, const std::vector<uint8_t>& bytes, StoredConfig& config) {
  if (bytes.size() < RecordSize(ini)) return SetDefaults(ini, config);
  for (const auto& [field, t] : PlacesOf(ini)) {
    field->Access.Store(config, t, GetField(&bytes[PlaceOffset(*field, t)], *field));
  }
}

void WriteRecord(std::string_view ini, const StoredConfig& config, uint8_t* bytes) {
  for (const auto& [field, t] : PlacesOf(ini)) {
    PutField(&bytes[PlaceOffset(*field, t)], *field, field->Access.Stored(config, t));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "1"/"0" keys are read as integers; text that is none gives the default.
bool SwitchValue(const std::optional<std::string>& text, bool fallback) {
  int32_t value = 0;
  if (!text || !ParseInteger(*text, value)) return fallback;
  return value != 0;
}

void ReadSwitch(std::string_view ini, const std::optional<std::string>& text, StoredConfig& config) {
  for (const auto& [field, t] : PlacesOf(ini)) field->Access.Store(config, t, SwitchValue(text, field->Default != 0));
}

std::string SwitchText(std::string_view ini, const StoredConfig& config) {
  std::string text;
  for (const auto& [field, t] : PlacesOf(ini)) {
    text = std::get<int64_t>(field->Access.Stored(config, t)) != 0 ? "1" : "0";
  }
  return text;
}

std::string RecordText(std::string_view ini, const StoredConfig& config) {
  std::vector<uint8_t> bytes(RecordSize(ini), 0);
  WriteRecord(ini, config, bytes.data());
  return HexFromBytes(bytes.data(), bytes.size());
}

// The bytes a key of hexadecimal digits holds; none for a missing key.
std::vector<uint8_t> BytesOfKey(const std::optional<std::string>& text) {
  return text ? BytesFromHex(*text) : std::vector<uint8_t>{};
}

enum class WholeNumber { Read, TooLarge, NotANumber };

// Optional blanks in front, optional sign, digits, nothing after. A number
// beyond 64 bits is TooLarge: still a number, just not one any field holds.
WholeNumber ReadWholeNumber(std::string_view text, int64_t& value) {
  const size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return WholeNumber::NotANumber;
  text.remove_prefix(start);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return WholeNumber::NotANumber;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (end != text.data() + text.size() || error == std::errc::invalid_argument) return WholeNumber::NotANumber;
  return error == std::errc{} ? WholeNumber::Read : WholeNumber::TooLarge;
}

// A value of a row with a load name that the program does not use as stored:
// a list index outside its list, or a number outside its range.
std::optional<BoundedValue> OutsideBounds(const ConfigField& field, int terminal, int64_t stored) {
  const std::string key = std::string(field.Ini) + ", " + ForTerminal(field.LoadName, terminal);
  if (field.Kind == FieldKind::PickList) {
    if (ItemIndexInList(static_cast<int>(stored), field.Items) >= 0) return std::nullopt;
    return BoundedValue{key, stored, 0, field.Items - 1, field.Default};
  }
  const int64_t used = std::clamp(stored, field.Low, field.High);
  if (used == stored) return std::nullopt;
  return BoundedValue{key, stored, field.Low, field.High, used};
}

// What a control shows of a stored value.
FieldValue ShownOf(const ConfigField& field, const FieldValue& stored) {
  switch (field.Kind) {
    case FieldKind::Number:
      return std::to_string(std::get<int64_t>(stored));
    case FieldKind::PickList:
      return int64_t{ItemIndexInList(static_cast<int>(std::get<int64_t>(stored)), field.Items)};
    case FieldKind::Switch:
    case FieldKind::FileName:
      break;
  }
  return stored;
}

// The value to store of what a control shows: nullopt with `refusal` set for
// a number refused. A list with nothing selected keeps what `stored` held.
std::optional<FieldValue> StoredOf(const FieldPlace& place, FieldValue shown, const StoredConfig& stored,
                                   std::string& refusal) {
  const ConfigField& field = *place.Field;
  switch (field.Kind) {
    case FieldKind::Number: {
      int64_t number = 0;
      if (auto refused = ReadNumber(std::get<std::string>(shown), NumberFieldOf(field, place.Terminal), number)) {
        refusal = *refused;
        return std::nullopt;
      }
      return number;
    }
    case FieldKind::PickList:
      return std::get<int64_t>(shown) >= 0 ? shown : field.Access.Stored(stored, place.Terminal);
    case FieldKind::FileName:
      return std::get<std::string>(shown).substr(0, field.Width);
    case FieldKind::Switch:
      break;
  }
  return shown;
}

// The rows of `ini` (every row for an empty one) built from the controls in
// save order; then the file names are checked.
std::optional<std::string> ReadControls(std::string_view ini, const ConfigControls& controls,
                                        const StoredConfig& stored, StoredConfig& config) {
  for (const FieldPlace& place : PlacesOf(ini)) {
    std::string refusal;
    const auto value = StoredOf(place, place.Field->Access.Shown(controls, place.Terminal), stored, refusal);
    if (!value) return refusal;
    place.Field->Access.Store(config, place.Terminal, *value);
  }
  return FileNameRefusal(config.Block);
}

const IniKey kIniKeys[] = {{kIniCfgBinary, &IniValues::CfgBinary, kConfigBlockSize},
                           {kIniTestBinary, &IniValues::TestBinary, kTurnaroundBlockSize},
                           {kIniParita, &IniValues::Parita, 0},
                           {kIniNeuspechKonec, &IniValues::NeuspechKonec, 0}};

}  // namespace

bool TerminalInUse(const TerminalEntry& entry) { return entry.Connected && entry.PortIndex < kPortCount; }

std::array<bool, kPortCount> NeededPorts(const TerminalTable& table) {
  std::array<bool, kPortCount> needed{};
  for (const TerminalEntry& entry : table) {
    if (TerminalInUse(entry)) needed[entry.PortIndex] = true;
  }
  return needed;
}

ConfigBlock DefaultConfigBlock() {
  StoredConfig config = Blank();
  SetDefaults(kIniCfgBinary, config);
  return config.Block;
}

std::array<uint8_t, kConfigBlockSize> EncodeConfigBlock(const ConfigBlock& block) {
  StoredConfig config = Blank();
  config.Block = block;
  std::array<uint8_t, kConfigBlockSize> bytes{};
  WriteRecord(kIniCfgBinary, config, bytes.data());
  return bytes;
}

ConfigBlock DecodeConfigBlock(const std::vector<uint8_t>& bytes) {
  StoredConfig config = Blank();
  ReadRecord(kIniCfgBinary, bytes, config);
  return config.Block;
}

std::array<uint8_t, kTurnaroundBlockSize> EncodeTurnaroundBlock(const TurnaroundBlock& block) {
  StoredConfig config = Blank();
  config.Turnaround = block;
  std::array<uint8_t, kTurnaroundBlockSize> bytes{};
  WriteRecord(kIniTestBinary, config, bytes.data());
  return bytes;
}

TurnaroundBlock DecodeTurnaroundBlock(const std::vector<uint8_t>& bytes) {
  StoredConfig config = Blank();
  ReadRecord(kIniTestBinary, bytes, config);
  return config.Turnaround;
}

std::string HexFromBytes(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::vector<uint8_t> BytesFromHex(std::string_view text) {
  std::vector<uint8_t> bytes(text.size() / 2, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) break;
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return bytes;
}

std::span<const IniKey> IniKeys() { return kIniKeys; }

StoredConfig DecodeIni(const IniValues& values) {
  StoredConfig config = Blank();
  for (const IniKey& key : kIniKeys) {
    const std::optional<std::string>& text = values.*key.Value;
    if (key.RecordSize == 0) {
      ReadSwitch(key.Name, text, config);
    } else {
      ReadRecord(key.Name, BytesOfKey(text), config);
    }
  }
  return config;
}

IniValues EncodeIni(const StoredConfig& config) {
  IniValues values;
  for (const IniKey& key : kIniKeys) {
    values.*key.Value = key.RecordSize == 0 ? SwitchText(key.Name, config) : RecordText(key.Name, config);
  }
  return values;
}

int BaudFromIndex(int32_t baudIndex) {
  return baudIndex >= 0 && baudIndex < kBaudItemCount ? kBaudRates[baudIndex] : kDefaultBaud;
}

int AnswerBufferSizeFor(int32_t capacity, bool useDT) {
  const int64_t size = int64_t{std::max(capacity, 0)} * (useDT ? kRecordBytesWithDT : kRecordBytes);
  return static_cast<int>(std::min<int64_t>(size, INT_MAX));
}

int DelayAddItemValue(int item) { return kDelayAddStepMs * item; }

uint32_t LinkTimeoutForItem(int item) {
  const int listed = ItemIndexInList(item, kDelayAddItemCount);
  const int valid = listed >= 0 ? listed : kDefaultTimeoutIndex;
  return static_cast<uint32_t>(DelayAddItemValue(valid)) + kLinkTimeoutBaseMs;
}

int ItemIndexInList(int index, int count) { return index >= 0 && index < count ? index : -1; }

void DeriveSettings(const StoredConfig& config, LinkSettings& settings) {
  const ConfigBlock& block = config.Block;
  settings.PortBaud = BaudFromIndex(block.BaudIndex);
  settings.ParityMark = config.ParityMark;
  settings.TxTurnaroundUs = config.Turnaround.TxTurnaroundUs;
  settings.RxTurnaroundUs = config.Turnaround.RxTurnaroundUs;
  settings.Capacity = block.Capacity;
  settings.AnswerBufferSize = AnswerBufferSizeFor(block.Capacity, block.UseDT);
  settings.BreakfastCount = block.BreakfastCount;
  settings.DinnerCount = block.DinnerCount;
  settings.MealCoding = block.MealCoding;
  settings.UseDT = block.UseDT;
  settings.CreditOn = block.CreditOn;
}

std::vector<BoundedValue> BoundStoredConfig(StoredConfig& config) {
  std::vector<BoundedValue> bounded;
  for (const auto& [field, t] : PlacesOf({})) {
    if (*field->LoadName == '\0') continue;
    const auto value = OutsideBounds(*field, t, std::get<int64_t>(field->Access.Stored(config, t)));
    if (!value) continue;
    if (field->Kind == FieldKind::Number) field->Access.Store(config, t, value->Used);
    bounded.push_back(*value);
  }
  return bounded;
}

std::optional<std::string> FileNameRefusal(const ConfigBlock& block) {
  static const std::string kProgramFiles = std::string(" (") + kStatusFileName + ", " + kErrorLogFileName + ", " +
                                           kDumpFileName + ")";
  if (IsProgramFileName(block.RequestFileName)) {
    return "Jméno souboru požadavků " + block.RequestFileName + " je jméno souboru programu" + kProgramFiles + ".";
  }
  if (IsProgramFileName(block.OutputFileName) || block.OutputFileName == block.RequestFileName) {
    return "Jméno souboru výstupu " + block.OutputFileName +
           " nesmí být jméno souboru požadavků ani souboru programu" + kProgramFiles + ".";
  }
  return std::nullopt;
}

std::vector<std::string> BoundFileNames(ConfigBlock& block) {
  const ConfigBlock defaults = DefaultConfigBlock();
  std::vector<std::string> notes;
  while (const std::optional<std::string> refused = FileNameRefusal(block)) {
    // The output takes its default, unless it has it already: then the
    // request file's name gives way.
    const bool request = IsProgramFileName(block.RequestFileName) || block.OutputFileName == defaults.OutputFileName;
    std::string& name = request ? block.RequestFileName : block.OutputFileName;
    name = request ? defaults.RequestFileName : defaults.OutputFileName;
    notes.push_back("INI Cfg_binary: " + *refused + " Použito " + name + ".");
  }
  return notes;
}

std::string BoundedValueMessage(const BoundedValue& value) {
  return "INI " + value.Key + ": uložená hodnota " + std::to_string(value.Stored) + " je mimo rozsah " +
         std::to_string(value.Low) + " až " + std::to_string(value.High) + ", použita hodnota " +
         std::to_string(value.Used);
}

bool ParseInteger(std::string_view text, int32_t& value) {
  int64_t parsed = 0;
  if (ReadWholeNumber(text, parsed) != WholeNumber::Read || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

std::optional<int32_t> IntegerWithin(std::string_view text, int32_t low, int32_t high) {
  int32_t value = 0;
  if (!ParseInteger(text, value) || value < low || value > high) return std::nullopt;
  return value;
}

NumberField CapacityField() { return NumberFieldOf(ConfigFieldOf("capacity"), 0); }
NumberField TxTurnaroundField() { return NumberFieldOf(ConfigFieldOf("tx-turnaround"), 0); }
NumberField RxTurnaroundField() { return NumberFieldOf(ConfigFieldOf("rx-turnaround"), 0); }

std::optional<std::string> ReadNumber(std::string_view text, const NumberField& field, int64_t& value) {
  int64_t parsed = 0;
  switch (ReadWholeNumber(text, parsed)) {
    case WholeNumber::NotANumber:
      return ConversionMessage(text);
    case WholeNumber::TooLarge:
      return RangeMessage(field, text);
    case WholeNumber::Read:
      break;
  }
  if (parsed < field.Low || parsed > field.High) return RangeMessage(field, text);
  value = parsed;
  return std::nullopt;
}

std::string RangeMessage(const NumberField& field, std::string_view text) {
  return field.Name + ": hodnota " + std::string(text) + " je mimo povolený rozsah!\nPovolené hodnoty jsou " +
         std::to_string(field.Low) + " až " + std::to_string(field.High) + ".";
}

ConfigControls ControlsFromConfig(const StoredConfig& config) {
  ConfigControls controls;
  for (const auto& [field, t] : PlacesOf({})) {
    field->Access.Show(controls, t, ShownOf(*field, field->Access.Stored(config, t)));
  }
  return controls;
}

ConfigControls ControlsFromConfig(const ConfigBlock& block) {
  StoredConfig config;
  config.Block = block;
  return ControlsFromConfig(config);
}

std::optional<std::string> BuildConfigBlock(const ConfigControls& controls, const ConfigBlock& stored,
                                            ConfigBlock& block) {
  StoredConfig from = Blank();
  from.Block = stored;
  StoredConfig built = Blank();
  auto refused = ReadControls(kIniCfgBinary, controls, from, built);
  block = built.Block;
  return refused;
}

std::optional<std::string> BuildStoredConfig(const ConfigControls& controls, const StoredConfig& stored,
                                             StoredConfig& config) {
  config = Blank();
  return ReadControls({}, controls, stored, config);
}

std::string ConversionMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}
