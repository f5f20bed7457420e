// The configuration records of the INI file: defaults, the 68- and 8-byte
// layouts, the hexadecimal values, the derived settings and the checks made
// when the controls are saved; where the INI file and the start directory
// are; what the service tells systemd and the journal.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "config/Config.h"
#include "config/ConfigFields.h"
#include "config/FileLocations.h"
#include "config/IniFile.h"
#include "config/IniText.h"
#include "app/ServiceNotify.h"
#include "config/StandardError.h"
#include "support/TempDir.h"

namespace {

std::string HexOf(const std::vector<uint8_t>& bytes) { return HexFromBytes(bytes.data(), bytes.size()); }

StoredConfig Loaded(std::optional<std::string> cfg, std::optional<std::string> test = std::nullopt) {
  IniValues values;
  values.CfgBinary = std::move(cfg);
  values.TestBinary = std::move(test);
  return DecodeIni(values);
}

ConfigControls ValidControls() {
  ConfigControls c = ControlsFromConfig(StoredConfig{});
  c.Address = {"1", "2", "3", "4"};
  c.PortItem = {0, 0, 1, 2};
  c.Connected = {true, true, false, false};
  return c;
}

}  // namespace

TEST(ConfigDefaults, FirstStartWithoutIniGivesEveryDefault) {
  const StoredConfig config = DecodeIni(IniValues{});
  const ConfigBlock& b = config.Block;
  EXPECT_EQ(b.Terminals[0].Address, 1);
  EXPECT_EQ(b.Terminals[0].PortIndex, 0);
  EXPECT_TRUE(b.Terminals[0].Connected);
  for (int i = 1; i < kTerminalCount; ++i) {
    EXPECT_EQ(b.Terminals[i].Address, 0);
    EXPECT_EQ(b.Terminals[i].PortIndex, 0);
    EXPECT_FALSE(b.Terminals[i].Connected);
  }
  EXPECT_EQ(b.BaudIndex, 4);
  EXPECT_EQ(b.Capacity, 2500);
  EXPECT_EQ(b.BreakfastCount, 4);
  EXPECT_EQ(b.DinnerCount, 6);
  EXPECT_TRUE(b.MealCoding);
  EXPECT_FALSE(b.UseDT);
  EXPECT_TRUE(b.CreditOn);
  EXPECT_EQ(b.RequestFileName, "request.cfg");
  EXPECT_EQ(b.OutputFileName, "output.txt");
  EXPECT_EQ(b.RepeatIndex, 0);
  EXPECT_TRUE(b.HighPriority);
  EXPECT_EQ(b.TimeoutIndex, 20);
  EXPECT_EQ(config.Turnaround.TxTurnaroundUs, 9500u);
  EXPECT_EQ(config.Turnaround.RxTurnaroundUs, 9500u);
  EXPECT_FALSE(config.ParityMark);
  EXPECT_TRUE(config.WriteErrorRepeat);
  EXPECT_EQ(config, StoredConfig{});

  LinkSettings s;
  s.PortBaud = 0;
  s.AnswerBufferSize = 0;
  DeriveSettings(config, s);
  EXPECT_EQ(s.PortBaud, 19200);
  EXPECT_EQ(s.AnswerBufferSize, 60000);
  EXPECT_EQ(s.Capacity, 2500);
  EXPECT_EQ(s.BreakfastCount, 4);
  EXPECT_EQ(s.DinnerCount, 6);
  EXPECT_TRUE(s.MealCoding);
  EXPECT_FALSE(s.UseDT);
  EXPECT_TRUE(s.CreditOn);
  EXPECT_EQ(s.TxTurnaroundUs, 9500u);
  EXPECT_EQ(s.RxTurnaroundUs, 9500u);
  EXPECT_EQ(LinkTimeoutForItem(b.TimeoutIndex), 120u);
}

TEST(ConfigDefaults, ShortValuesUseNoneOfTheirBytes) {
  std::vector<uint8_t> bytes(67, 0x77);
  EXPECT_EQ(Loaded(HexOf(bytes)).Block, DefaultConfigBlock());
  // 135 digits are 67 bytes too; the odd digit does not count.
  EXPECT_EQ(Loaded(HexOf(bytes) + "7").Block, DefaultConfigBlock());
  EXPECT_EQ(Loaded("").Block, DefaultConfigBlock());

  std::vector<uint8_t> seven(7, 0x11);
  const StoredConfig config = Loaded(std::nullopt, HexOf(seven));
  EXPECT_EQ(config.Turnaround, (TurnaroundBlock{9500, 9500}));
}

TEST(ConfigDefaults, SwitchesReadAsIntegersWithTheirOwnDefaults) {
  IniValues values;
  values.Parita = "1";
  values.NeuspechKonec = "0";
  StoredConfig config = DecodeIni(values);
  EXPECT_TRUE(config.ParityMark);
  EXPECT_FALSE(config.WriteErrorRepeat);

  values.Parita = "7";
  EXPECT_TRUE(DecodeIni(values).ParityMark);
  values.Parita = "yes";          // unreadable: false
  values.NeuspechKonec = "maybe";  // unreadable: the default, true
  config = DecodeIni(values);
  EXPECT_FALSE(config.ParityMark);
  EXPECT_TRUE(config.WriteErrorRepeat);
}

TEST(ConfigRecord, FieldsSitAtTheirOffsetsLittleEndian) {
  ConfigBlock b = DefaultConfigBlock();
  b.Terminals[2] = TerminalEntry{0x0F, 5, true};
  b.BaudIndex = 3;
  b.Capacity = 0x01020304;
  b.BreakfastCount = 2;
  b.DinnerCount = -1;
  b.UseDT = true;
  b.RepeatIndex = 8;
  b.TimeoutIndex = 59;
  b.HighPriority = false;
  const auto bytes = EncodeConfigBlock(b);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[2], 1);
  EXPECT_EQ(bytes[6], 0x0F);
  EXPECT_EQ(bytes[7], 5);
  EXPECT_EQ(bytes[8], 1);
  EXPECT_EQ(bytes[12], 3);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 20)), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(bytes[20], 2);
  EXPECT_EQ((std::vector<uint8_t>(bytes.begin() + 24, bytes.begin() + 28)),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(bytes[28], 1);
  EXPECT_EQ(bytes[29], 1);
  EXPECT_EQ(bytes[30], 1);
  EXPECT_EQ(std::string(bytes.begin() + 31, bytes.begin() + 43), std::string("request.cfg\0", 12));
  EXPECT_EQ(std::string(bytes.begin() + 46, bytes.begin() + 58), std::string("output.txt\0\0", 12));
  EXPECT_EQ(bytes[62], 8);
  EXPECT_EQ(bytes[63], 0);
  EXPECT_EQ(bytes[64], 59);
  for (size_t reserved : {43u, 44u, 45u, 58u, 59u, 60u, 61u, 65u, 66u, 67u}) EXPECT_EQ(bytes[reserved], 0) << reserved;

  const auto turnaround = EncodeTurnaroundBlock(TurnaroundBlock{0x00002526, 1000000});
  EXPECT_EQ(HexFromBytes(turnaround.data(), turnaround.size()), "2625000040420F00");
}

TEST(ConfigRecord, DecodingTakesTheFirst68BytesAndIgnoresReservedOnes) {
  const auto record = EncodeConfigBlock(DefaultConfigBlock());
  std::vector<uint8_t> bytes(record.begin(), record.end());
  bytes[43] = 0xAA;
  bytes[65] = 0x55;
  bytes[2] = 2;  // any non-zero byte is true
  bytes.resize(80, 0xEE);
  ConfigBlock decoded = DecodeConfigBlock(bytes);
  EXPECT_EQ(decoded, DefaultConfigBlock());

  // A 12-byte name fills its field without a terminating zero.
  ConfigBlock b = DefaultConfigBlock();
  b.RequestFileName = "ABCDEFGHIJKL";
  b.OutputFileName = "\x8A\x9A\xE8.txt";  // code page 1250 bytes stay bytes
  const auto encoded = EncodeConfigBlock(b);
  decoded = DecodeConfigBlock(std::vector<uint8_t>(encoded.begin(), encoded.end()));
  EXPECT_EQ(decoded.RequestFileName, "ABCDEFGHIJKL");
  EXPECT_EQ(decoded.OutputFileName, "\x8A\x9A\xE8.txt");
}

TEST(ConfigHex, WriterIsUpperCaseAndReaderAcceptsEitherCase) {
  const std::vector<uint8_t> bytes{0x00, 0xAB, 0xCD, 0xEF, 0x9F};
  EXPECT_EQ(HexOf(bytes), "00ABCDEF9F");
  EXPECT_EQ(BytesFromHex("00abcdef9F"), bytes);
  EXPECT_EQ(BytesFromHex("00ABCDEF9F"), bytes);
  // Length alone gives the size; from a bad pair on the bytes are zero.
  EXPECT_EQ(BytesFromHex("01G20304"), (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(BytesFromHex("0102030"), (std::vector<uint8_t>{0x01, 0x02, 0x03}));
  EXPECT_TRUE(BytesFromHex("").empty());

  const auto encoded = EncodeConfigBlock(DefaultConfigBlock());
  std::string lower = HexFromBytes(encoded.data(), encoded.size());
  EXPECT_EQ(lower.size(), 136u);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Loaded(lower).Block, DefaultConfigBlock());
}

TEST(ConfigDerived, BaudBufferSizeAndLinkTimeout) {
  EXPECT_EQ(BaudFromIndex(0), 1200);
  EXPECT_EQ(BaudFromIndex(1), 2400);
  EXPECT_EQ(BaudFromIndex(2), 4800);
  EXPECT_EQ(BaudFromIndex(3), 9600);
  EXPECT_EQ(BaudFromIndex(4), 19200);
  EXPECT_EQ(BaudFromIndex(7), 19200);
  EXPECT_EQ(BaudFromIndex(-1), 19200);
  EXPECT_EQ(ItemIndexInList(7, kBaudItemCount), -1);  // shown with no item selected
  EXPECT_EQ(ItemIndexInList(-1, kBaudItemCount), -1);
  EXPECT_EQ(ItemIndexInList(2, kBaudItemCount), 2);

  EXPECT_EQ(AnswerBufferSizeFor(2500, true), 72500);
  EXPECT_EQ(AnswerBufferSizeFor(2500, false), 60000);
  EXPECT_EQ(AnswerBufferSizeFor(-5, true), 0);
  EXPECT_EQ(AnswerBufferSizeFor(INT32_MAX, true), INT32_MAX);

  StoredConfig config;
  config.Block.UseDT = true;
  config.Block.BaudIndex = 7;
  LinkSettings s;
  DeriveSettings(config, s);
  EXPECT_EQ(s.AnswerBufferSize, 72500);
  EXPECT_EQ(s.PortBaud, 19200);

  EXPECT_EQ(LinkTimeoutForItem(0), 40u);
  EXPECT_EQ(LinkTimeoutForItem(20), 120u);
  EXPECT_EQ(LinkTimeoutForItem(59), 276u);
  EXPECT_EQ(LinkTimeoutForItem(60), 120u);   // outside the list: the default item
  EXPECT_EQ(LinkTimeoutForItem(255), 120u);
  EXPECT_EQ(DelayAddItemValue(kDelayAddItemCount - 1), 236);
}

TEST(ConfigPorts, OnlyTickedTerminalsOnARealPortNeedAPort) {
  TerminalTable table{};
  table[0] = TerminalEntry{1, 1, true};
  table[1] = TerminalEntry{2, 1, true};
  table[2] = TerminalEntry{3, 4, false};
  table[3] = TerminalEntry{4, 8, true};  // names no port: treated as not connected
  const auto needed = NeededPorts(table);
  EXPECT_EQ(std::count(needed.begin(), needed.end(), true), 1);
  EXPECT_TRUE(needed[1]);
  EXPECT_FALSE(TerminalInUse(table[3]));
  EXPECT_FALSE(TerminalInUse(table[2]));
}

TEST(ConfigNumbers, WholeDecimalNumbersOnly) {
  int32_t v = 99;
  EXPECT_TRUE(ParseInteger("42", v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(ParseInteger("  -7", v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(ParseInteger("+5", v));
  EXPECT_EQ(v, 5);
  v = 99;
  for (const char* bad : {"", "   ", "12a", "1 ", "0x10", "abc", "+-1", "++1", "2147483648", "1.5"}) {
    EXPECT_FALSE(ParseInteger(bad, v)) << bad;
    EXPECT_EQ(v, 99) << bad;
  }
  EXPECT_TRUE(ParseInteger("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);

  int64_t us = 9500;
  EXPECT_EQ(ReadNumber("0", TxTurnaroundField(), us), std::nullopt);
  EXPECT_EQ(us, 0);
  EXPECT_EQ(ReadNumber(" +1000000", RxTurnaroundField(), us), std::nullopt);
  EXPECT_EQ(us, 1000000);
  EXPECT_EQ(ConversionMessage("abc"), "'abc' is not a valid integer value");
  // Text that is no number gets the conversion message; a number the field
  // cannot hold, however large, says what is allowed.
  for (const char* text : {"", "9k", "1 000", "--1"}) {
    EXPECT_EQ(ReadNumber(text, TxTurnaroundField(), us), ConversionMessage(text)) << text;
  }
  EXPECT_EQ(ReadNumber("1000001", TxTurnaroundField(), us),
            "Konstanta pro vysílání: hodnota 1000001 je mimo povolený rozsah!\nPovolené hodnoty jsou 0 až 1000000.");
  for (const char* text : {"-1", "99999999999999999999", "-99999999999999999999"}) {
    EXPECT_EQ(ReadNumber(text, RxTurnaroundField(), us), RangeMessage(RxTurnaroundField(), text)) << text;
  }
  EXPECT_EQ(us, 1000000);
}

TEST(ConfigSave, ControlsBuildTheRecordAndRefuseBadNumbers) {
  ConfigControls c = ValidControls();
  c.RequestFileName = "very_long_name.cfg";  // 18 characters: the first 12 are kept
  c.OutputFileName = "abcdefghijklmno";
  ConfigBlock block;
  ASSERT_FALSE(BuildConfigBlock(c, DefaultConfigBlock(), block).has_value());
  EXPECT_EQ(block.RequestFileName, "very_long_na");
  EXPECT_EQ(block.OutputFileName, "abcdefghijkl");
  const auto bytes = EncodeConfigBlock(block);
  EXPECT_EQ(std::string(bytes.begin() + 46, bytes.begin() + 58), "abcdefghijkl");
  EXPECT_EQ(bytes[43], 0);  // the reserved byte after the field is not overwritten
  EXPECT_EQ(block.Terminals[2].PortIndex, 1);
  EXPECT_EQ(block.Terminals[3].Address, 4);

  // Any empty address, also of a terminal not connected, refuses the save.
  const ConfigBlock stored = DefaultConfigBlock();
  for (int i = 0; i < kTerminalCount; ++i) {
    ConfigControls bad = ValidControls();
    bad.Address[i] = "";
    EXPECT_EQ(BuildConfigBlock(bad, stored, block), ConversionMessage("")) << i;
  }
  ConfigControls bad = ValidControls();
  bad.Address[1] = "256";  // an address is one byte on the bus
  EXPECT_EQ(BuildConfigBlock(bad, stored, block),
            "Adresa terminálu 2: hodnota 256 je mimo povolený rozsah!\nPovolené hodnoty jsou 0 až 255.");
  bad = ValidControls();
  bad.DinnerCount = "six";
  EXPECT_EQ(BuildConfigBlock(bad, stored, block), ConversionMessage("six"));
  bad = ValidControls();
  bad.Capacity = "131073";  // more than an answer can ever hold
  EXPECT_EQ(BuildConfigBlock(bad, stored, block), RangeMessage(CapacityField(), "131073"));
  bad.Capacity = "-1";
  EXPECT_EQ(BuildConfigBlock(bad, stored, block), RangeMessage(CapacityField(), "-1"));
  bad.BreakfastCount = "x";  // the first refused field in save order is reported
  EXPECT_EQ(BuildConfigBlock(bad, stored, block), RangeMessage(CapacityField(), "-1"));
  bad = ValidControls();
  bad.Capacity = "131072";
  ASSERT_EQ(BuildConfigBlock(bad, stored, block), std::nullopt);
  EXPECT_EQ(block.Capacity, kMaxCapacity);
}

// A list shown with no item selected (the file held an index outside it)
// keeps the file's index, so that a save changes nothing the operator did
// not change: a terminal on no port stays off its port.
TEST(ConfigSave, ListsWithoutSelectionKeepTheStoredIndex) {
  ConfigBlock stored = DefaultConfigBlock();
  stored.Terminals[1] = TerminalEntry{2, 9, true};
  stored.BaudIndex = 7;
  stored.RepeatIndex = 50;
  stored.TimeoutIndex = 200;
  ConfigControls c = ValidControls();
  c.PortItem = {0, -1, 1, 2};
  c.BaudItem = -1;
  c.RepeatItem = -1;
  c.TimeoutItem = -1;
  ConfigBlock block;
  ASSERT_EQ(BuildConfigBlock(c, stored, block), std::nullopt);
  EXPECT_EQ(block.Terminals[1].PortIndex, 9);
  EXPECT_FALSE(TerminalInUse(block.Terminals[1]));
  EXPECT_EQ(block.BaudIndex, 7);
  EXPECT_EQ(block.RepeatIndex, 50);
  EXPECT_EQ(block.TimeoutIndex, 200);
  c.BaudItem = 1;  // a selection made by the operator is saved
  c.PortItem[1] = 3;
  ASSERT_EQ(BuildConfigBlock(c, stored, block), std::nullopt);
  EXPECT_EQ(block.BaudIndex, 1);
  EXPECT_EQ(block.Terminals[1].PortIndex, 3);
}

// A hand-edited file: what sizes memory or time is brought within what the
// program can use, and each value not used as stored is named.
TEST(ConfigBounds, FileValuesThatSizeMemoryOrTimeAreBounded) {
  StoredConfig config;
  config.Block.Capacity = 0x7FFFFFFF;
  config.Block.UseDT = true;
  config.Turnaround = {0xFFFFFFFF, 0};  // 0 keeps its meaning: the default at open
  const std::vector<BoundedValue> bounded = BoundStoredConfig(config);
  ASSERT_EQ(bounded.size(), 2u);
  EXPECT_EQ(BoundedValueMessage(bounded[0]),
            "INI Cfg_binary, Kapacita: uložená hodnota 2147483647 je mimo rozsah 0 až 131072, použita hodnota 131072");
  EXPECT_EQ(bounded[1].Key, "Test_binary, vysílání (µs)");
  EXPECT_EQ(bounded[1].Stored, 4294967295);
  EXPECT_EQ(bounded[1].Used, 1000000);
  EXPECT_EQ(config.Block.Capacity, kMaxCapacity);
  EXPECT_EQ(config.Turnaround, (TurnaroundBlock{1000000, 0}));
  LinkSettings s;
  DeriveSettings(config, s);
  EXPECT_EQ(s.AnswerBufferSize, 131072 * 29);  // 3.8 MB, not 2 GB per terminal

  config = StoredConfig{};
  config.Block.Capacity = -5;
  config.Block.BaudIndex = -1;
  config.Block.RepeatIndex = 9;
  config.Block.TimeoutIndex = 60;
  config.Turnaround.RxTurnaroundUs = 1000001;
  const std::vector<BoundedValue> more = BoundStoredConfig(config);
  ASSERT_EQ(more.size(), 5u);
  EXPECT_EQ(config.Block.Capacity, 0);
  EXPECT_EQ(config.Turnaround.RxTurnaroundUs, kMaxTurnaroundUs);
  // A list index stays as stored, for the save; the default item is used.
  EXPECT_EQ(config.Block.BaudIndex, -1);
  EXPECT_EQ(config.Block.TimeoutIndex, 60);
  EXPECT_EQ(more[0].Key, "Cfg_binary, Rychlost BAUD (položka)");
  EXPECT_EQ(more[0].Used, kDefaultBaudIndex);
  EXPECT_EQ(more[2].Key, "Cfg_binary, Max. počet pokusů (položka)");
  EXPECT_EQ(more[2].High, 8);
  EXPECT_EQ(more[3].Used, kDefaultTimeoutIndex);

  // Meal counts below 0 would code wrong meal days: bounded as the window
  // bounds them.
  config = StoredConfig{};
  config.Block.BreakfastCount = -3;
  config.Block.DinnerCount = INT32_MIN;
  const std::vector<BoundedValue> meals = BoundStoredConfig(config);
  ASSERT_EQ(meals.size(), 2u);
  EXPECT_EQ(BoundedValueMessage(meals[0]),
            "INI Cfg_binary, Max. p. snidaní: uložená hodnota -3 je mimo rozsah 0 až 2147483647, použita hodnota 0");
  EXPECT_EQ(meals[1].Key, "Cfg_binary, Max. p. večeří");
  EXPECT_EQ(config.Block.DinnerCount, 0);

  StoredConfig edges;
  edges.Block.Capacity = kMaxCapacity;
  edges.Turnaround = {kMaxTurnaroundUs, 0};
  edges.Block.TimeoutIndex = kDelayAddItemCount - 1;
  EXPECT_TRUE(BoundStoredConfig(edges).empty());
}

// A name that makes the program take its own output in as a request, or
// write over its status, log or dump: refused at save, replaced at load.
TEST(ConfigBounds, NoFileNameTakesTheRequestFilesOrTheProgramsOwn) {
  ConfigBlock block = DefaultConfigBlock();
  EXPECT_EQ(FileNameRefusal(block), std::nullopt);
  block.OutputFileName = "request.cfg";
  EXPECT_EQ(FileNameRefusal(block), "Jméno souboru výstupu request.cfg nesmí být jméno souboru požadavků ani souboru "
                                    "programu (rudazo.sta, errorlog.txt, binarni.bin).");
  EXPECT_EQ(BoundFileNames(block).size(), 1u);
  EXPECT_EQ(block.OutputFileName, "output.txt");

  block.RequestFileName = "output.txt";  // the output's default is taken: the request file's name gives way
  const std::vector<std::string> notes = BoundFileNames(block);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].substr(0, 16), "INI Cfg_binary: ");
  EXPECT_TRUE(notes[0].ends_with(" Použito request.cfg.")) << notes[0];
  EXPECT_EQ(block.RequestFileName, "request.cfg");
  EXPECT_EQ(block.OutputFileName, "output.txt");
  for (const char* own : {"rudazo.sta", "errorlog.txt", "binarni.bin"}) {
    block.RequestFileName = own;
    block.OutputFileName = own;
    EXPECT_EQ(BoundFileNames(block).size(), 2u) << own;
    EXPECT_EQ(FileNameRefusal(block), std::nullopt) << own;
  }

  ConfigControls controls = ValidControls();
  controls.OutputFileName = "rudazo.sta";
  EXPECT_NE(BuildConfigBlock(controls, DefaultConfigBlock(), block), std::nullopt);
  controls = ValidControls();
  controls.RequestFileName = "errorlog.txt";
  EXPECT_EQ(BuildConfigBlock(controls, DefaultConfigBlock(), block),
            "Jméno souboru požadavků errorlog.txt je jméno souboru programu (rudazo.sta, errorlog.txt, binarni.bin).");
}

TEST(ConfigSave, SaveThenLoadGivesBackEveryValue) {
  StoredConfig config;
  ConfigBlock& b = config.Block;
  b.Terminals = {TerminalEntry{255, 7, true}, TerminalEntry{2, 3, false}, TerminalEntry{15, 0, true},
                 TerminalEntry{0, 1, false}};
  b.BaudIndex = 1;
  b.Capacity = 123456;
  b.BreakfastCount = 3;
  b.DinnerCount = 9;
  b.MealCoding = false;
  b.UseDT = true;
  b.CreditOn = false;
  b.RequestFileName = "req12345.cfg";
  b.OutputFileName = "o.txt";
  b.RepeatIndex = 5;
  b.HighPriority = false;
  b.TimeoutIndex = 33;
  config.Turnaround = TurnaroundBlock{0, 1000000};
  config.ParityMark = true;
  config.WriteErrorRepeat = false;

  const IniValues written = EncodeIni(config);
  EXPECT_EQ(written.CfgBinary->size(), 136u);
  EXPECT_EQ(written.TestBinary->size(), 16u);
  EXPECT_EQ(written.Parita, std::optional<std::string>("1"));
  EXPECT_EQ(written.NeuspechKonec, std::optional<std::string>("0"));
  EXPECT_EQ(DecodeIni(written), config);
  EXPECT_EQ(EncodeIni(DecodeIni(written)), written);

  // Through the controls of every key and back, as the window saves.
  StoredConfig rebuilt;
  ASSERT_EQ(BuildStoredConfig(ControlsFromConfig(config), config, rebuilt), std::nullopt);
  EXPECT_EQ(rebuilt, config);
}

// Each row of the table has bytes of its own within its key's record, a
// range its bytes can hold, a default within it, and a key of its own.
TEST(ConfigFields, EachRowHasItsOwnBytesAndADefaultWithinItsBounds) {
  std::map<std::string, std::vector<const ConfigField*>> holder;  // per INI key: the row of each byte
  for (const IniKey& key : IniKeys()) holder[key.Name].assign(key.RecordSize, nullptr);
  std::set<std::string> keys;
  for (const ConfigField& field : ConfigFields()) {
    ASSERT_TRUE(holder.contains(field.Ini)) << field.Key;
    std::vector<const ConfigField*>& bytes = holder[field.Ini];
    EXPECT_EQ(field.Width == 0, bytes.empty()) << field.Key << ": a switch key holds its value alone";
    EXPECT_TRUE(keys.insert(field.Key).second) << field.Key;
    for (int t = 0; t < PlaceCount(field); ++t) {
      for (size_t i = PlaceOffset(field, t); i < PlaceOffset(field, t) + field.Width; ++i) {
        ASSERT_LT(i, bytes.size()) << field.Key;
        EXPECT_EQ(bytes[i], nullptr) << field.Key << " shares byte " << i << " with " << bytes[i]->Key;
        bytes[i] = &field;
      }
    }
    const int64_t largest = field.Width == 4 ? (field.Signed ? INT32_MAX : UINT32_MAX) : UINT8_MAX;
    if (field.Kind == FieldKind::Number) {
      EXPECT_TRUE(field.Low <= field.Default && field.Default <= field.High) << field.Key;
      EXPECT_LE(field.High, largest) << field.Key;
    }
    if (field.Kind == FieldKind::PickList) {
      EXPECT_TRUE(field.Default >= 0 && field.Default < field.Items) << field.Key;
      EXPECT_LE(field.Items - 1, largest) << field.Key;
      ASSERT_NE(field.ItemText, nullptr) << field.Key;
    }
  }
}

namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

// --config wins; the installed program (its folder is the install bindir,
// also when that is reached through a link, as /bin is /usr/bin) uses the
// user's file, or the site file until the user has one; any other program
// keeps its INI beside it.
TEST(IniLocation, OptionThenTheInstalledProgramsFilesThenBesideTheExecutable) {
  const TempDir root("config");
  const fs::path bin = root.Path() / "usr/bin";
  fs::create_directories(bin);
  fs::create_symlink(bin, root.Path() / "bin");
  const std::string site = (root.Path() / "etc/tarvion/tarvion.ini").string();
  const std::string home = (root.Path() / "home").string();
  const std::string user = home + "/.config/tarvion/tarvion.ini";
  IniSearch search{"", (bin / "tarvion").string(), (root.Path() / "bin").string(), site, "", home};

  EXPECT_EQ(FindIniLocation(search), (IniLocation{site, user, site}));
  search.ConfigHome = "relative/config";  // not absolute: ignored
  EXPECT_EQ(FindIniLocation(search), (IniLocation{site, user, site}));
  search.ConfigHome = (root.Path() / "xdg").string();
  const std::string xdgUser = search.ConfigHome + "/tarvion/tarvion.ini";
  EXPECT_EQ(FindIniLocation(search), (IniLocation{site, xdgUser, site}));
  WriteText(xdgUser, "[Konfigurace]\n");
  EXPECT_EQ(FindIniLocation(search), (IniLocation{xdgUser, xdgUser, site}));
  search.ConfigHome = "";
  search.Home = "";  // nobody's home: the site file alone
  EXPECT_EQ(FindIniLocation(search), IniLocationAt(site));

  IniSearch elsewhere = search;
  elsewhere.Executable = (root.Path() / "build/tarvion").string();
  EXPECT_EQ(FindIniLocation(elsewhere), IniLocationAt((root.Path() / "build/tarvion.ini").string()));
  elsewhere.Executable = (root.Path() / "opt/tarvion.bin").string();
  EXPECT_EQ(FindIniLocation(elsewhere), IniLocationAt((root.Path() / "opt/tarvion.ini").string()));

  for (IniSearch withOption : {search, elsewhere}) {
    withOption.ConfigOption = "/srv/tarvion/tarvion.ini";
    EXPECT_EQ(FindIniLocation(withOption), IniLocationAt("/srv/tarvion/tarvion.ini"));
  }
}

// The first save makes the user's folders and starts the file as a copy of
// the site file, so its [Porty] section stays; later saves find it there.
TEST(IniLocation, FirstSaveCopiesTheSiteFileLaterOnesKeepTheUsersFile) {
  const TempDir root("config");
  const fs::path site = root.Path() / "etc/tarvion/tarvion.ini";
  const fs::path user = root.Path() / "home/.config/tarvion/tarvion.ini";
  WriteText(site, "[Porty]\nCOM1=/dev/ttyUSB0\n");
  const IniLocation location{site.string(), user.string(), site.string()};
  ASSERT_TRUE(PrepareIniSave(location));
  EXPECT_EQ(ReadFile(user), "[Porty]\nCOM1=/dev/ttyUSB0\n");

  WriteText(user, "[Porty]\nCOM1=/dev/ttyUSB1\n");
  ASSERT_TRUE(PrepareIniSave(location));
  EXPECT_EQ(ReadFile(user), "[Porty]\nCOM1=/dev/ttyUSB1\n");

  const fs::path fresh = root.Path() / "other/tarvion.ini";  // no site file: the folder alone
  ASSERT_TRUE(PrepareIniSave(IniLocation{"", fresh.string(), (root.Path() / "missing.ini").string()}));
  EXPECT_TRUE(fs::is_directory(fresh.parent_path()));
  EXPECT_FALSE(fs::exists(fresh));

  WriteText(root.Path() / "blocked", "a file where a folder would go");
  EXPECT_FALSE(PrepareIniSave(IniLocation{"", (root.Path() / "blocked/tarvion.ini").string(), site.string()}));
}

// The site file's comments and its commented-out [Porty] stay; each value is
// replaced where it stands, a key or section missing is added, and the
// program's reader gets back exactly what was set.
TEST(IniWriter, KeepsEveryOtherLineAndReadsBackAsSet) {
  const std::string site = ReadFile(TARVION_SOURCE_DIR "/deploy/tarvion.ini");
  ASSERT_NE(site.find("[Konfigurace]"), std::string::npos);
  StoredConfig config;
  config.Block.Terminals[1] = TerminalEntry{2, 0, true};
  config.ParityMark = true;
  std::vector<IniSetting> settings = ConfigSettings(EncodeIni(config));
  settings.push_back({"Porty", "COM1", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10XXXXX-if00-port0"});
  const std::string written = SetIniValues(site, settings);
  const std::vector<std::string> before = LinesOf(site), after = LinesOf(written);
  for (const std::string& line : before) {
    if (line.starts_with(";") || line.empty()) {
      EXPECT_NE(std::find(after.begin(), after.end(), line), after.end()) << line;
    }
  }
  EXPECT_EQ(after.size(), before.size() + 3) << written;  // a blank line, [Porty], COM1
  EXPECT_NE(written.find("\nParita=1\n"), std::string::npos) << written;

  const TempDir root("config");
  const fs::path ini = root.Path() / "tarvion.ini";
  WriteText(ini, written);
  const QString path = QString::fromStdString(ini.string());
  EXPECT_EQ(DecodeIni(ReadIniValues(path)), config);
  EXPECT_EQ(ReadPortValues(path)[0], settings.back().Value);
  EXPECT_EQ(ReadPortValues(path)[1], std::nullopt);

  // Blocks of one section, blanks, a comment after a value, CR LF ends and
  // no line end at the end of the text.
  const std::string odd = "[A]\r\n k = 1 ; keep\r\n[B]\r\nx=2\r\n[A]\r\nk=3\r\nj=4";
  EXPECT_EQ(SetIniValues(odd, {{"A", "k", "5"}, {"A", "n", "6"}, {"B", "y", "7"}, {"C", "z", "8"}}),
            "[A]\r\nk=5 ; keep\r\nn=6\r\n[B]\r\nx=2\r\ny=7\r\n[A]\r\nk=5\r\nj=4\r\n\r\n[C]\r\nz=8\r\n");
  EXPECT_EQ(SetIniValues("", {{"Porty", "COM2", ""}}), "[Porty]\nCOM2=\n");
}

// Device paths as Qt's reader would otherwise misread them: a comma makes a
// list, ';' a comment, blanks at the ends go, '@' and '\\' mean something.
TEST(IniWriter, ValuesComeBackUnchangedThroughTheReader) {
  const std::vector<std::string> paths = {"/dev/a,b", "/dev/x y", " lead", "a\\b", "q\"x", "a;b", "a=b",
                                          "@x", "/dev/ttyÚ", "#x", "", "/dev/ttyUSB0"};
  std::vector<IniSetting> settings;
  for (size_t i = 0; i < paths.size(); ++i) settings.push_back({"Porty", "COM" + std::to_string(i % 8 + 1), paths[i]});
  const TempDir root("config");
  const fs::path ini = root.Path() / "tarvion.ini";
  for (size_t from = 0; from < settings.size(); from += 8) {
    const std::vector<IniSetting> eight(settings.begin() + static_cast<long>(from),
                                        settings.begin() + static_cast<long>(std::min(from + 8, settings.size())));
    WriteText(ini, SetIniValues("", eight));
    const PortValues read = ReadPortValues(QString::fromStdString(ini.string()));
    for (size_t i = 0; i < eight.size(); ++i) EXPECT_EQ(read[i], eight[i].Value) << ReadFile(ini);
  }
}

// The file is replaced with its mode kept; a link is followed to its file; a
// file that is not there yet is made.
TEST(IniWriter, WritesTheFileALinkNamesKeepingItsMode) {
  const TempDir root("config");
  const fs::path file = root.Path() / "etc/tarvion.ini", link = root.Path() / "link.ini";
  WriteText(file, "; comment\n[Konfigurace]\nParita=0\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(file, link);
  std::string error;
  ASSERT_TRUE(WriteIniSettings(link.string(), {{"Konfigurace", "Parita", "1"}}, error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(file), "; comment\n[Konfigurace]\nParita=1\n");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1) << "no temporary file left";
  const fs::path fresh = root.Path() / "fresh.ini";
  ASSERT_TRUE(WriteIniSettings(fresh.string(), {{"Porty", "COM1", "/dev/ttyS1"}}, error)) << error;
  EXPECT_EQ(ReadFile(fresh), "[Porty]\nCOM1=/dev/ttyS1\n");
  EXPECT_FALSE(WriteIniSettings((fresh / "below").string(), {{"Porty", "COM1", "x"}}, error));
  EXPECT_NE(error.find("cannot"), std::string::npos) << error;
}

// --start-dir: "~/" is the home (a desktop entry's Exec line reaches no
// shell); the directory is made with its parents and entered.
TEST(StartDirectory, HomeIsExpandedAndTheDirectoryIsMadeAndEntered) {
  EXPECT_EQ(ExpandHome("~/Tarvion", "/home/jan"), "/home/jan/Tarvion");
  EXPECT_EQ(ExpandHome("~", "/home/jan"), "/home/jan");
  EXPECT_EQ(ExpandHome("~jan/Tarvion", "/home/jan"), "~jan/Tarvion");
  EXPECT_EQ(ExpandHome("/srv/~/x", "/home/jan"), "/srv/~/x");

  const TempDir root("config");
  const fs::path before = fs::current_path();
  std::string error;
  ASSERT_TRUE(EnterStartDirectory((root.Path() / "a/b").string(), error)) << error;
  EXPECT_EQ(fs::current_path(), root.Path() / "a/b");
  fs::current_path(before);
  WriteText(root.Path() / "file", "");
  EXPECT_FALSE(EnterStartDirectory((root.Path() / "file").string(), error));
  EXPECT_NE(error.find("start directory " + (root.Path() / "file").string()), std::string::npos) << error;
  EXPECT_EQ(fs::current_path(), before);
}

TEST(ServiceStatus, EachPlaceAsItsIndicatorShowsItAndTheLastJob) {
  EXPECT_EQ(PlaceStateFor(false, true, TerminalIndicator::Green), PlaceState::Off);
  EXPECT_EQ(PlaceStateFor(true, false, TerminalIndicator::Green), PlaceState::PortNotOpen);
  EXPECT_EQ(PlaceStateFor(true, true, TerminalIndicator::Green), PlaceState::Master);
  EXPECT_EQ(PlaceStateFor(true, true, TerminalIndicator::Cyan), PlaceState::Slave);
  EXPECT_EQ(PlaceStateFor(true, true, TerminalIndicator::Red), PlaceState::NotConnected);

  const std::array<PlaceState, kTerminalCount> places{PlaceState::Master, PlaceState::Slave,
                                                     PlaceState::PortNotOpen, PlaceState::Off};
  EXPECT_EQ(ServiceStatusText(places, std::nullopt), "T1 master, T2 slave, T3 port not open, T4 off");
  std::tm time{};
  time.tm_year = 2026 - 1900;
  time.tm_mon = 11;
  time.tm_mday = 9;
  time.tm_hour = 10;
  time.tm_min = 15;
  time.tm_sec = 2;
  EXPECT_EQ(ServiceStatusText({PlaceState::NotConnected, PlaceState::Off, PlaceState::Off, PlaceState::Off},
                              LastJob{time, "4,3"}),
            "T1 not connected, T2 off, T3 off, T4 off; last job 09.12.2026 10:15:02: 4,3");
  // Line errors of a port whose counters grew; none where they did not or the driver keeps none.
  PortLineErrors lineErrors;
  lineErrors[0] = LineErrorCounts{};
  lineErrors[2] = LineErrorCounts{3, 0, 1, 0};
  EXPECT_EQ(ServiceStatusText(places, std::nullopt, lineErrors),
            "T1 master, T2 slave, T3 port not open, T4 off; COM3 line errors: framing 3, parity 0, overrun 1, break 0");
}

// journald reads "<N>" in front of each line of its stream as the line's
// priority; a line of a message without it would land as info.
TEST(StandardErrorLines, EveryLineCarriesItsPriorityOnTheJournalsStreamOnly) {
  EXPECT_EQ(JournalLines(LogPriority::Warning, "Pozor!: Neni otevřen žádný port\nje nutno provést konfiguraci portu!"),
            "<4>Pozor!: Neni otevřen žádný port\n<4>je nutno provést konfiguraci portu!\n");
  EXPECT_EQ(JournalLines(LogPriority::Error, "tarvion: bad\n"), "<3>tarvion: bad\n");

  struct stat status {};
  ASSERT_EQ(fstat(STDERR_FILENO, &status), 0);
  const std::string own = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  const std::string other = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino + 1);
  for (const auto& [stream, journal] : {std::pair<std::string, bool>{own, true}, {other, false},
                                        {own + "x", false}, {"", false}}) {
    setenv("JOURNAL_STREAM", stream.c_str(), 1);
    EXPECT_EQ(StandardErrorIsJournal(), journal) << stream;
  }
  unsetenv("JOURNAL_STREAM");
  EXPECT_FALSE(StandardErrorIsJournal());
}
