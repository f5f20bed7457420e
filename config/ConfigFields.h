#pragma once
// The settings of the INI file, one row each: where the value is kept, its
// default and bounds, the control of the window that shows it and the words
// tarvion-config gives it. Loading, saving, the bounds and tarvion-config all
// read this table: a new setting is a new row (and its member in
// ConfigBlock, TurnaroundBlock or StoredConfig and in ConfigControls).
// Plain C++.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "config/Config.h"

enum class FieldKind {
  Number,    // an edit box holding a whole number, kept as its text
  PickList,  // a list; the record holds the item's index
  Switch,    // a check box
  FileName,  // an edit box holding a file name, bytes of code page 1250
};

// A value as the records or the controls hold it: a name or a text as bytes,
// anything else (a number, an item, a switch) as a number.
using FieldValue = std::variant<int64_t, std::string>;

// How a row reaches its value in the stored configuration and in the
// controls. `terminal` (0-3) counts for a terminal's field only.
struct FieldAccess {
  FieldValue (*Stored)(const StoredConfig& config, int terminal) = nullptr;
  void (*Store)(StoredConfig& config, int terminal, const FieldValue& value) = nullptr;
  FieldValue (*Shown)(const ConfigControls& controls, int terminal) = nullptr;
  void (*Show)(ConfigControls& controls, int terminal, const FieldValue& value) = nullptr;
};

// In the texts of a row, '#' stands for the terminal number (1-4).
struct ConfigField {
  const char* Key = "";  // tarvion-config's key
  FieldKind Kind = FieldKind::Number;
  const char* Ini = "";  // the key of section "Konfigurace" that holds it
  size_t Offset = 0;     // in that key's record; a terminal's field: in terminal 1's entry
  size_t Width = 0;      // bytes in the record; 0: the key holds the value alone, "1" or "0"
  bool Signed = false;   // a 4-byte field: signed
  bool PerTerminal = false;  // one per terminal place, entry t at Offset + t * kTerminalEntrySize
  int64_t Default = 0;       // a list: the item; a terminal's field: terminal 1's, the others' is 0
  const char* DefaultName = "";  // a file name's default
  int64_t Low = 0;               // a number's range
  int64_t High = 0;
  int Items = 0;                             // a list's item count
  std::string (*ItemText)(int item) = nullptr;  // the text of a list's item
  const char* Control = "";      // the window's control
  const char* Caption = "";      // its caption; "" when it has none of its own
  const char* MessageName = "";  // a number without a caption: the name its messages give it
  const char* LoadName = "";     // the load note's name of a value not used as stored; "": never bounded at load
  // tarvion-config: the values a list takes; after a number's range, a note.
  const char* Allowed = "";
  // tarvion-config: what the value means; a switch's when on, a list's when
  // an item is selected. The caption follows, quoted.
  const char* Words = "";
  const char* WordsOff = "";  // a switch's when off
  const char* Outside = "";   // a list's when its stored index ('%') lies outside it
  // Words that follow the item (-1: none selected, `stored` the index
  // stored), in place of Words and Outside; nullptr for most.
  std::string (*Meaning)(int item, int64_t stored) = nullptr;
  const char* SwitchValues[2] = {"yes", "no"};  // a switch's values, as tarvion-config names them
  bool FirstIsOn = true;                        // which of the two means on
  FieldAccess Access;
};

constexpr size_t kTerminalEntrySize = 3;

// Every row, in the order of the window (and of tarvion-config's keys).
std::span<const ConfigField> ConfigFields();
// The row of a tarvion-config key as the table spells it ("terminal#.port").
const ConfigField& ConfigFieldOf(std::string_view key);

// How many places a row has: one per terminal, or one.
int PlaceCount(const ConfigField& field);
// `text` with '#' replaced by the number of terminal `terminal` (0-3).
std::string ForTerminal(std::string_view text, int terminal);
// The byte of the field's place in its record.
size_t PlaceOffset(const ConfigField& field, int terminal);
// The size of the record of an INI key; 0 for a key that holds a value alone.
size_t RecordSize(std::string_view ini);

// The number of a Number row as its messages name it.
NumberField NumberFieldOf(const ConfigField& field, int terminal);
