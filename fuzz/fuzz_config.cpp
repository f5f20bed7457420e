// The INI values of the configuration: hexadecimal text to bytes, the
// ConfigBlock and TurnaroundBlock records, the switches and the settings
// derived from them. Input: up to four values separated by LF, in the order
// Cfg_binary, Test_binary, Parita, Neuspech_konec; a value not given is a
// missing key.

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "config/Config.h"
#include "fuzz/FuzzInput.h"
#include "link/Settings.h"

namespace {

// Splits at LF into at most four values; the last takes the rest.
std::vector<std::string> SplitValues(std::string_view text) {
  std::vector<std::string> values;
  while (values.size() < 3) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) break;
    values.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  values.emplace_back(text);
  return values;
}

std::optional<std::string> Value(const std::vector<std::string>& values, size_t i) {
  return i < values.size() ? std::optional<std::string>(values[i]) : std::nullopt;
}

// Bytes up to the first pair that is not two hex digits read back as the
// upper-case text; every byte after it is zero.
void CheckHex(std::string_view text) {
  const std::vector<uint8_t> bytes = BytesFromHex(text);
  Require(bytes.size() == text.size() / 2, "one byte per pair of characters");
  size_t valid = 0;
  while (valid < bytes.size() && std::isxdigit(static_cast<unsigned char>(text[2 * valid])) &&
         std::isxdigit(static_cast<unsigned char>(text[2 * valid + 1])))
    ++valid;
  std::string upper(text.substr(0, 2 * valid));
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  Require(HexFromBytes(bytes.data(), valid) == upper, "valid pairs read back as their text");
  Require(std::all_of(bytes.begin() + valid, bytes.end(), [](uint8_t b) { return b == 0; }),
          "bytes from the first bad pair on are zero");
}

void CheckConfigBlock(const std::vector<uint8_t>& bytes) {
  const ConfigBlock block = DecodeConfigBlock(bytes);
  if (bytes.size() < kConfigBlockSize) {
    Require(block == DefaultConfigBlock(), "a short record gives the defaults");
    return;
  }
  for (const std::string* name : {&block.RequestFileName, &block.OutputFileName}) {
    Require(name->size() <= kFileNameFieldSize && name->find('\0') == std::string::npos, "file name field");
  }
  const auto encoded = EncodeConfigBlock(block);
  Require(DecodeConfigBlock({encoded.begin(), encoded.end()}) == block, "record round trip");
}

void CheckTurnaroundBlock(const std::vector<uint8_t>& bytes) {
  const TurnaroundBlock block = DecodeTurnaroundBlock(bytes);
  if (bytes.size() < kTurnaroundBlockSize) {
    Require(block == TurnaroundBlock{}, "a short record gives the defaults");
    return;
  }
  const auto encoded = EncodeTurnaroundBlock(block);
  Require(std::equal(encoded.begin(), encoded.end(), bytes.begin()), "turnaround record round trip");
}

void CheckNumber(const std::string& text) {
  int32_t value = 0;
  if (ParseInteger(text, value)) {
    int32_t again = 0;
    Require(ParseInteger(std::to_string(value), again) && again == value, "a parsed number reads back");
  }
  int64_t microseconds = -1;
  if (!ReadNumber(text, TxTurnaroundField(), microseconds)) {
    Require(microseconds >= 0 && microseconds <= kMaxTurnaroundUs, "turnaround in range");
  }
}

void CheckIni(const IniValues& values) {
  const StoredConfig config = DecodeIni(values);
  Require(DecodeIni(EncodeIni(config)) == config, "INI round trip");
  LinkSettings settings;
  settings.LinkTimeout = 12345;
  DeriveSettings(config, settings);
  Require(settings.AnswerBufferSize >= 0, "answer buffer size not negative");
  Require(settings.PortBaud == BaudFromIndex(config.Block.BaudIndex) && settings.PortBaud >= 1200 &&
              settings.PortBaud <= 19200,
          "baud rate from the list");
  Require(settings.LinkTimeout == 12345, "the link timeout follows the list item, not the record");

  StoredConfig bounded = config;
  BoundStoredConfig(bounded);
  DeriveSettings(bounded, settings);
  Require(bounded.Block.Capacity >= 0 && bounded.Block.Capacity <= kMaxCapacity, "capacity within its bounds");
  Require(settings.AnswerBufferSize <= kMaxCapacity * 29, "an answer buffer no larger than the largest answer");
  Require(settings.TxTurnaroundUs <= kMaxTurnaroundUs && settings.RxTurnaroundUs <= kMaxTurnaroundUs,
          "turnarounds within their bounds");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> values = SplitValues(text);
  for (const std::string& value : values) {
    CheckHex(value);
    const std::vector<uint8_t> bytes = BytesFromHex(value);
    CheckConfigBlock(bytes);
    CheckTurnaroundBlock(bytes);
    CheckNumber(value);
  }
  CheckIni(IniValues{Value(values, 0), Value(values, 1), Value(values, 2), Value(values, 3)});
  return 0;
}
