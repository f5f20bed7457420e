#pragma once
// The configuration records of the INI file and the settings derived from
// them. Plain C++: the window reads and writes the INI keys and hands the
// values here; everything that encodes, decodes or checks them lives here,
// field by field as the table of ConfigFields.h describes them.
//
// INI section "Konfigurace":
//   Cfg_binary      ConfigBlock, 68 bytes as hexadecimal text
//   Test_binary     TurnaroundBlock, 8 bytes as hexadecimal text
//   Parita          "1"/"0": MARK parity
//   Neuspech_konec  "1"/"0": end the job when all attempts of a line failed

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Settings.h"

constexpr size_t kConfigBlockSize = 68;
constexpr size_t kTurnaroundBlockSize = 8;
constexpr size_t kFileNameFieldSize = 12;

// One terminal place; terminal number n is entry n - 1.
struct TerminalEntry {
  uint8_t Address = 0;    // bus address 0-255
  uint8_t PortIndex = 0;  // 0 = COM1 ... 7 = COM8; above 7 names no port
  bool Connected = false;

  bool operator==(const TerminalEntry&) const = default;
};
using TerminalTable = std::array<TerminalEntry, kTerminalCount>;

// True when the system talks to this terminal: ticked and on a real port.
bool TerminalInUse(const TerminalEntry& entry);

// The COM ports (index 0-7) that the terminals in use need.
std::array<bool, kPortCount> NeededPorts(const TerminalTable& table);

struct ConfigBlock {
  TerminalTable Terminals{};
  int32_t BaudIndex = 0;       // 0 = 1200 ... 4 = 19200; -1 when nothing was selected
  int32_t Capacity = 0;
  int32_t BreakfastCount = 0;
  int32_t DinnerCount = 0;
  bool MealCoding = false;
  bool UseDT = false;
  bool CreditOn = false;
  std::string RequestFileName;  // bytes, at most kFileNameFieldSize
  std::string OutputFileName;   // bytes, at most kFileNameFieldSize
  uint8_t RepeatIndex = 0;      // send attempts minus one
  bool HighPriority = false;
  uint8_t TimeoutIndex = 0;     // item of the link-timeout list

  bool operator==(const ConfigBlock&) const = default;
};

// Every field at the default of its row of the table.
ConfigBlock DefaultConfigBlock();

// The 68-byte little-endian record, each field at its row's place. Reserved
// bytes and byte 65 are written as zero; a name is cut to 12 bytes and
// zero-padded.
std::array<uint8_t, kConfigBlockSize> EncodeConfigBlock(const ConfigBlock& block);
// Fewer than 68 bytes give DefaultConfigBlock() and none of them are used;
// bytes beyond 68 are ignored. A bool byte is true when non-zero.
ConfigBlock DecodeConfigBlock(const std::vector<uint8_t>& bytes);

struct TurnaroundBlock {
  uint32_t TxTurnaroundUs = kDefaultTurnaroundUs;
  uint32_t RxTurnaroundUs = kDefaultTurnaroundUs;

  bool operator==(const TurnaroundBlock&) const = default;
};

std::array<uint8_t, kTurnaroundBlockSize> EncodeTurnaroundBlock(const TurnaroundBlock& block);
// Fewer than 8 bytes give kDefaultTurnaroundUs for both.
TurnaroundBlock DecodeTurnaroundBlock(const std::vector<uint8_t>& bytes);

// Two upper-case hexadecimal digits per byte, no separators.
std::string HexFromBytes(const uint8_t* bytes, size_t count);
// One byte per pair of characters (an odd last character is ignored), so the
// length alone decides how many bytes a value holds. Digits of either case are
// read; from the first pair that is not two hexadecimal digits on, every byte
// is zero.
std::vector<uint8_t> BytesFromHex(std::string_view text);

// The section and its keys.
constexpr char kIniSection[] = "Konfigurace";
constexpr char kIniCfgBinary[] = "Cfg_binary";
constexpr char kIniTestBinary[] = "Test_binary";
constexpr char kIniParita[] = "Parita";
constexpr char kIniNeuspechKonec[] = "Neuspech_konec";

// The values of the four keys as text; nullopt for a missing key.
struct IniValues {
  std::optional<std::string> CfgBinary;
  std::optional<std::string> TestBinary;
  std::optional<std::string> Parita;
  std::optional<std::string> NeuspechKonec;

  bool operator==(const IniValues&) const = default;
};

// The four keys in the order they are written, each with its value in
// IniValues and the size of its binary record (0: the key holds one switch).
struct IniKey {
  const char* Name;
  std::optional<std::string> IniValues::*Value;
  size_t RecordSize;
};
std::span<const IniKey> IniKeys();

// Everything the INI file holds.
struct StoredConfig {
  ConfigBlock Block = DefaultConfigBlock();
  TurnaroundBlock Turnaround{};
  bool ParityMark = false;
  bool WriteErrorRepeat = true;

  bool operator==(const StoredConfig&) const = default;
};

// Missing or short values give the defaults; a switch that is not an integer
// gives its default (Parita false, Neuspech_konec true), a non-zero one true.
StoredConfig DecodeIni(const IniValues& values);
// Every key, switches as "1" or "0".
IniValues EncodeIni(const StoredConfig& config);

// Baud rate of item 0-4 of the rate list; any other index gives 19200.
int BaudFromIndex(int32_t baudIndex);
// Capacity x 29 with DT bytes, x 24 without; a negative capacity gives 0 and
// the product stops at the largest int.
int AnswerBufferSizeFor(int32_t capacity, bool useDT);

// The link-timeout list: item k is the extension 4k ms, k = 0 ... 59.
constexpr int kDelayAddItemCount = 60;
constexpr int kDefaultTimeoutIndex = 20;
int DelayAddItemValue(int item);
// Extension of the item + 40 ms; an index outside the list counts as the
// default item.
uint32_t LinkTimeoutForItem(int item);

// The item a stored index selects in a list of `count` items: the index
// itself when it lies in the list, else -1 (no item).
int ItemIndexInList(int index, int count);

// Default items of the pick lists.
constexpr int kRepeatItemCount = 9;  // "1" ... "9"
constexpr int kDefaultRepeatIndex = 0;
constexpr int kBaudItemCount = 5;    // "1200" ... "19200"
constexpr int kDefaultBaudIndex = 4;

// Fills the process-wide link and coding settings from the stored
// configuration (all but LinkTimeout, which follows the selected list item).
void DeriveSettings(const StoredConfig& config, LinkSettings& settings);

// A value of the file that the program does not use as it is stored.
struct BoundedValue {
  std::string Key;  // the INI key and the field, UTF-8
  int64_t Stored = 0;
  int64_t Low = 0;
  int64_t High = 0;
  int64_t Used = 0;
};
// The values of a hand-edited file within what the program can use: each row
// of the table that has a load name (ConfigFields.h). A number (Capacity, the
// meal counts, the two turnarounds) is changed to the nearest value of the
// range the window allows. A list index outside its list (BaudIndex,
// RepeatIndex, TimeoutIndex) stays as stored, so that a save keeps it; the
// program uses the list's default item. One entry per value not used as
// stored, in the table's order.
std::vector<BoundedValue> BoundStoredConfig(StoredConfig& config);

// The file names of the configuration may not take a name the program
// writes itself (rudazo.sta, errorlog.txt, binarni.bin), and the output file
// not the request file's name: the program would take its own output in as
// a request, or write over its status or log. nullopt when the names are
// fine, else the message (Czech, UTF-8) naming the name refused.
std::optional<std::string> FileNameRefusal(const ConfigBlock& block);
// At load: a name refused as above is replaced by its default (the request
// file's too, when the output's default is the request file's name). The
// error-log lines (Czech, UTF-8) of what was replaced.
std::vector<std::string> BoundFileNames(ConfigBlock& block);
// The error-log line of a bounded value, Czech, UTF-8.
std::string BoundedValueMessage(const BoundedValue& value);

// A whole decimal number as typed: optional blanks in front, optional sign,
// digits, nothing after; within 32 bits. False for anything else.
bool ParseInteger(std::string_view text, int32_t& value);
// ParseInteger's number when it lies within [low, high]; nullopt otherwise.
std::optional<int32_t> IntegerWithin(std::string_view text, int32_t low, int32_t high);

// The most person records one answer can hold: person numbers are 16 bits,
// and each person has at most one continuation record.
constexpr int32_t kMaxCapacity = 2 * 65536;
// The longest turnaround wait in microseconds.
constexpr uint32_t kMaxTurnaroundUs = 1000000;

// A number the configuration holds, with the name its messages give it.
struct NumberField {
  std::string Name;  // UTF-8, as the control is labelled
  int64_t Low = 0;
  int64_t High = 0;
};
// Numbers of the table's rows (ConfigFields.h) that the window and its
// tests read, named as the window names them.
NumberField CapacityField();
NumberField TxTurnaroundField();
NumberField RxTurnaroundField();

// Reads `text` typed into the control of `field`. nullopt when it is a whole
// decimal number (as ParseInteger reads one, of any size) within the field's
// range, which is then in `value`; otherwise the message to show, UTF-8: the
// standard conversion message for text that is no number, RangeMessage for a
// number outside the range. `value` is untouched then.
std::optional<std::string> ReadNumber(std::string_view text, const NumberField& field, int64_t& value);
// Czech: which field holds what, and which values it allows.
std::string RangeMessage(const NumberField& field, std::string_view text);

// The texts and selections of the configuration controls, as the save reads
// them: one member per row of the table. File names are code page 1250
// bytes. ControlsFromConfig(StoredConfig{}) gives the controls of the
// defaults.
struct ConfigControls {
  std::array<std::string, kTerminalCount> Address;
  std::array<int, kTerminalCount> PortItem{};
  std::array<bool, kTerminalCount> Connected{};
  int BaudItem = 0;
  bool ParityMark = false;
  bool MealCoding = false;
  bool UseDT = false;
  bool CreditOn = false;
  std::string Capacity;
  std::string BreakfastCount;
  std::string DinnerCount;
  std::string RequestFileName;
  std::string OutputFileName;
  int RepeatItem = 0;
  bool WriteErrorRepeat = false;
  bool HighPriority = false;
  int TimeoutItem = 0;
  std::string TxTurnaround;
  std::string RxTurnaround;
};

// What the controls show of the configuration, as the window fills them at
// start: numbers as decimal text, each list at the stored index, or with no
// item selected (-1) when the index lies outside the list; names as stored.
ConfigControls ControlsFromConfig(const StoredConfig& config);
// The same for the record alone; the controls of the other keys show their
// defaults.
ConfigControls ControlsFromConfig(const ConfigBlock& block);

// Builds the record to save from the controls and the record read at start
// (`stored`). A list with no item selected (its index -1: the stored index
// lay outside the list) keeps the stored index. The numbers are read with
// ReadNumber in save order; the first one refused gives its message and
// `block` is not to be used. Names are cut to 12 bytes.
std::optional<std::string> BuildConfigBlock(const ConfigControls& controls, const ConfigBlock& stored,
                                            ConfigBlock& block);
// The same for every key: the record, the turnarounds and the switches.
std::optional<std::string> BuildStoredConfig(const ConfigControls& controls, const StoredConfig& stored,
                                             StoredConfig& config);

// The text shown for a refused number, as the standard conversion message.
std::string ConversionMessage(std::string_view text);
