#include "config/Config.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <limits>
#include <tuple>

#include "link/StartFiles.h"

namespace {

// Offsets of the fields of ConfigBlock in the 68-byte record.
constexpr size_t kTerminalsAt = 0;
constexpr size_t kBaudIndexAt = 12;
constexpr size_t kCapacityAt = 16;
constexpr size_t kBreakfastAt = 20;
constexpr size_t kDinnerAt = 24;
constexpr size_t kMealCodingAt = 28;
constexpr size_t kUseDTAt = 29;
constexpr size_t kCreditOnAt = 30;
constexpr size_t kRequestNameAt = 31;
constexpr size_t kOutputNameAt = 46;
constexpr size_t kRepeatIndexAt = 62;
constexpr size_t kHighPriorityAt = 63;
constexpr size_t kTimeoutIndexAt = 64;

constexpr int kBaudRates[kBaudItemCount] = {1200, 2400, 4800, 9600, 19200};
constexpr int kDefaultBaud = 19200;
constexpr uint32_t kLinkTimeoutBaseMs = 40;
constexpr int kDelayAddStepMs = 4;
constexpr int kRecordBytes = 24;
constexpr int kRecordBytesWithDT = 29;

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

void PutI32(uint8_t* at, int32_t value) { PutU32(at, static_cast<uint32_t>(value)); }
int32_t GetI32(const uint8_t* at) { return static_cast<int32_t>(GetU32(at)); }

// A name field: up to the first zero byte, at most 12 bytes.
std::string GetName(const uint8_t* at) {
  const auto* end = std::find(at, at + kFileNameFieldSize, uint8_t{0});
  return std::string(at, end);
}

void PutName(uint8_t* at, const std::string& name) {
  const size_t n = std::min(name.size(), kFileNameFieldSize);
  std::memcpy(at, name.data(), n);
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

// A list index that the program does not use as stored: it lies outside the
// list, and the list's default item is used.
void NoteIndexOutsideList(std::vector<BoundedValue>& bounded, const char* key, int64_t stored, int count,
                          int defaultIndex) {
  if (ItemIndexInList(static_cast<int>(stored), count) < 0) bounded.push_back({key, stored, 0, count - 1, defaultIndex});
}

// Brings a stored number within `low` .. `high` and notes it when it was not.
template <typename T>
void Bound(std::vector<BoundedValue>& bounded, const char* key, T& value, int64_t low, int64_t high) {
  const int64_t stored = value;
  const int64_t used = std::clamp(stored, low, high);
  if (used == stored) return;
  value = static_cast<T>(used);
  bounded.push_back({key, stored, low, high, used});
}

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
  ConfigBlock block;
  block.Terminals[0] = TerminalEntry{1, 0, true};
  block.BaudIndex = kDefaultBaudIndex;
  block.Capacity = 2500;
  block.BreakfastCount = 4;
  block.DinnerCount = 6;
  block.MealCoding = true;
  block.UseDT = false;
  block.CreditOn = true;
  block.RequestFileName = "request.cfg";
  block.OutputFileName = "output.txt";
  block.RepeatIndex = kDefaultRepeatIndex;
  block.HighPriority = true;
  block.TimeoutIndex = kDefaultTimeoutIndex;
  return block;
}

std::array<uint8_t, kConfigBlockSize> EncodeConfigBlock(const ConfigBlock& block) {
  std::array<uint8_t, kConfigBlockSize> bytes{};
  for (int i = 0; i < kTerminalCount; ++i) {
    const TerminalEntry& entry = block.Terminals[i];
    bytes[kTerminalsAt + 3 * i] = entry.Address;
    bytes[kTerminalsAt + 3 * i + 1] = entry.PortIndex;
    bytes[kTerminalsAt + 3 * i + 2] = entry.Connected ? 1 : 0;
  }
  PutI32(&bytes[kBaudIndexAt], block.BaudIndex);
  PutI32(&bytes[kCapacityAt], block.Capacity);
  PutI32(&bytes[kBreakfastAt], block.BreakfastCount);
  PutI32(&bytes[kDinnerAt], block.DinnerCount);
  bytes[kMealCodingAt] = block.MealCoding ? 1 : 0;
  bytes[kUseDTAt] = block.UseDT ? 1 : 0;
  bytes[kCreditOnAt] = block.CreditOn ? 1 : 0;
  PutName(&bytes[kRequestNameAt], block.RequestFileName);
  PutName(&bytes[kOutputNameAt], block.OutputFileName);
  bytes[kRepeatIndexAt] = block.RepeatIndex;
  bytes[kHighPriorityAt] = block.HighPriority ? 1 : 0;
  bytes[kTimeoutIndexAt] = block.TimeoutIndex;
  return bytes;
}

ConfigBlock DecodeConfigBlock(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kConfigBlockSize) return DefaultConfigBlock();
  const uint8_t* b = bytes.data();
  ConfigBlock block;
  for (int i = 0; i < kTerminalCount; ++i) {
    block.Terminals[i] = TerminalEntry{b[kTerminalsAt + 3 * i], b[kTerminalsAt + 3 * i + 1],
                                       b[kTerminalsAt + 3 * i + 2] != 0};
  }
  block.BaudIndex = GetI32(b + kBaudIndexAt);
  block.Capacity = GetI32(b + kCapacityAt);
  block.BreakfastCount = GetI32(b + kBreakfastAt);
  block.DinnerCount = GetI32(b + kDinnerAt);
  block.MealCoding = b[kMealCodingAt] != 0;
  block.UseDT = b[kUseDTAt] != 0;
  block.CreditOn = b[kCreditOnAt] != 0;
  block.RequestFileName = GetName(b + kRequestNameAt);
  block.OutputFileName = GetName(b + kOutputNameAt);
  block.RepeatIndex = b[kRepeatIndexAt];
  block.HighPriority = b[kHighPriorityAt] != 0;
  block.TimeoutIndex = b[kTimeoutIndexAt];
  return block;
}

std::array<uint8_t, kTurnaroundBlockSize> EncodeTurnaroundBlock(const TurnaroundBlock& block) {
  std::array<uint8_t, kTurnaroundBlockSize> bytes{};
  PutU32(&bytes[0], block.TxTurnaroundUs);
  PutU32(&bytes[4], block.RxTurnaroundUs);
  return bytes;
}

TurnaroundBlock DecodeTurnaroundBlock(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kTurnaroundBlockSize) return TurnaroundBlock{kDefaultTurnaroundUs, kDefaultTurnaroundUs};
  return TurnaroundBlock{GetU32(&bytes[0]), GetU32(&bytes[4])};
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

StoredConfig DecodeIni(const IniValues& values) {
  StoredConfig config;
  config.Block = DecodeConfigBlock(BytesOfKey(values.CfgBinary));
  config.Turnaround = DecodeTurnaroundBlock(BytesOfKey(values.TestBinary));
  config.ParityMark = SwitchValue(values.Parita, false);
  config.WriteErrorRepeat = SwitchValue(values.NeuspechKonec, true);
  return config;
}

IniValues EncodeIni(const StoredConfig& config) {
  const auto block = EncodeConfigBlock(config.Block);
  const auto turnaround = EncodeTurnaroundBlock(config.Turnaround);
  IniValues values;
  values.CfgBinary = HexFromBytes(block.data(), block.size());
  values.TestBinary = HexFromBytes(turnaround.data(), turnaround.size());
  values.Parita = config.ParityMark ? "1" : "0";
  values.NeuspechKonec = config.WriteErrorRepeat ? "1" : "0";
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
  ConfigBlock& block = config.Block;
  NoteIndexOutsideList(bounded, "Cfg_binary, Rychlost BAUD (položka)", block.BaudIndex, kBaudItemCount,
                       kDefaultBaudIndex);
  Bound(bounded, "Cfg_binary, Kapacita", block.Capacity, 0, kMaxCapacity);
  Bound(bounded, "Cfg_binary, Max. p. snidaní", block.BreakfastCount, BreakfastCountField().Low,
        BreakfastCountField().High);
  Bound(bounded, "Cfg_binary, Max. p. večeří", block.DinnerCount, DinnerCountField().Low, DinnerCountField().High);
  NoteIndexOutsideList(bounded, "Cfg_binary, Max. počet pokusů (položka)", block.RepeatIndex, kRepeatItemCount,
                       kDefaultRepeatIndex);
  NoteIndexOutsideList(bounded, "Cfg_binary, Prodloužení testu MASTER (položka)", block.TimeoutIndex,
                       kDelayAddItemCount, kDefaultTimeoutIndex);
  Bound(bounded, "Test_binary, vysílání (µs)", config.Turnaround.TxTurnaroundUs, 0, kMaxTurnaroundUs);
  Bound(bounded, "Test_binary, příjem (µs)", config.Turnaround.RxTurnaroundUs, 0, kMaxTurnaroundUs);
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

NumberField AddressField(int terminalIndex) {
  return {"Adresa terminálu " + std::to_string(terminalIndex + 1), 0, UINT8_MAX};
}
NumberField CapacityField() { return {"Kapacita", 0, kMaxCapacity}; }
NumberField BreakfastCountField() { return {"Max. p. snidaní", 0, INT32_MAX}; }
NumberField DinnerCountField() { return {"Max. p. večeří", 0, INT32_MAX}; }
NumberField TxTurnaroundField() { return {"Konstanta pro vysílání", 0, kMaxTurnaroundUs}; }
NumberField RxTurnaroundField() { return {"Konstanta pro příjem", 0, kMaxTurnaroundUs}; }

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

ConfigControls ControlsFromConfig(const ConfigBlock& block) {
  ConfigControls controls;
  for (int i = 0; i < kTerminalCount; ++i) {
    const TerminalEntry& entry = block.Terminals[i];
    controls.Address[i] = std::to_string(entry.Address);
    controls.PortItem[i] = ItemIndexInList(entry.PortIndex, kPortCount);
    controls.Connected[i] = entry.Connected;
  }
  controls.BaudItem = ItemIndexInList(block.BaudIndex, kBaudItemCount);
  controls.MealCoding = block.MealCoding;
  controls.UseDT = block.UseDT;
  controls.CreditOn = block.CreditOn;
  controls.Capacity = std::to_string(block.Capacity);
  controls.BreakfastCount = std::to_string(block.BreakfastCount);
  controls.DinnerCount = std::to_string(block.DinnerCount);
  controls.RequestFileName = block.RequestFileName;
  controls.OutputFileName = block.OutputFileName;
  controls.RepeatItem = ItemIndexInList(block.RepeatIndex, kRepeatItemCount);
  controls.TimeoutItem = ItemIndexInList(block.TimeoutIndex, kDelayAddItemCount);
  controls.HighPriority = block.HighPriority;
  return controls;
}

std::optional<std::string> BuildConfigBlock(const ConfigControls& controls, const ConfigBlock& stored,
                                            ConfigBlock& block) {
  // A list with nothing selected keeps what the file held.
  const auto item = [](int selected, auto storedIndex) { return selected >= 0 ? selected : int64_t{storedIndex}; };
  block = ConfigBlock{};
  for (int i = 0; i < kTerminalCount; ++i) {
    int64_t address = 0;
    if (auto refused = ReadNumber(controls.Address[i], AddressField(i), address)) return refused;
    block.Terminals[i] = TerminalEntry{static_cast<uint8_t>(address),
                                       static_cast<uint8_t>(item(controls.PortItem[i], stored.Terminals[i].PortIndex)),
                                       controls.Connected[i]};
  }
  block.BaudIndex = static_cast<int32_t>(item(controls.BaudItem, stored.BaudIndex));
  block.MealCoding = controls.MealCoding;
  block.UseDT = controls.UseDT;
  block.CreditOn = controls.CreditOn;
  const std::tuple<const std::string&, NumberField, int32_t&> numbers[] = {
      {controls.Capacity, CapacityField(), block.Capacity},
      {controls.BreakfastCount, BreakfastCountField(), block.BreakfastCount},
      {controls.DinnerCount, DinnerCountField(), block.DinnerCount}};
  for (const auto& [text, field, target] : numbers) {
    int64_t value = 0;
    if (auto refused = ReadNumber(text, field, value)) return refused;
    target = static_cast<int32_t>(value);
  }
  block.RequestFileName = controls.RequestFileName.substr(0, kFileNameFieldSize);
  block.OutputFileName = controls.OutputFileName.substr(0, kFileNameFieldSize);
  if (auto refused = FileNameRefusal(block)) return refused;
  block.RepeatIndex = static_cast<uint8_t>(item(controls.RepeatItem, stored.RepeatIndex));
  block.TimeoutIndex = static_cast<uint8_t>(item(controls.TimeoutItem, stored.TimeoutIndex));
  block.HighPriority = controls.HighPriority;
  return std::nullopt;
}

std::string ConversionMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}
