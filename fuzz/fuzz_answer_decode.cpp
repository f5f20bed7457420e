// The decoding of a data answer (DecodeAnswerBlock) with any block. Input: one
// byte of switches (bit 0 UseDT, bit 1 MealCoding, bit 2 hand over a negative
// length), one byte each for the breakfast and the dinner count (see
// FuzzInput::Count), then the block. The block lies in a buffer of exactly its
// length, so any read past it is caught.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "link/AnswerDecode.h"
#include "link/Coding.h"
#include "link/Settings.h"

namespace {

// Offsets in a person record.
constexpr int kFlagOffset = 7;
constexpr int kDaysOffset = 8;
constexpr int kDTOffset = 22;
constexpr uint8_t kRawDaysBit = 0x80;

// Type, number, eight hex digits, flag, six day strings, ten DT digits.
constexpr size_t kLongestLine = 1 + 5 + 8 + 1 + 6 * kRecordDayCount + 10;
// Type, fourteen hex digits, sixteen characters of text.
constexpr size_t kLongestStatusLine = 1 + 14 + 16;

void CheckLines(const BlockDecode& decoded, size_t longest) {
  for (const std::string& line : decoded.Lines) {
    Require(line.size() <= longest, "line length");
    Require(line.find('\0') == std::string::npos, "a line ends before its first zero byte");
  }
}

// Day strings: the decoded characters of every byte, or the raw bytes and '*'.
void CheckDays(const uint8_t* record, const CodingSettings& coding) {
  const uint8_t flag = record[kFlagOffset];
  const DayStrings days = DecodeMealDays(flag, record + kDaysOffset, coding);
  Require(days.Main.size() == kRecordDayCount && days.Breakfast.size() == kRecordDayCount &&
              days.Dinner.size() == kRecordDayCount,
          "14 characters per day string");
  for (int i = 0; i < kRecordDayCount; ++i) {
    const auto meals = DecodeMealByte(record[kDaysOffset + i], coding);
    if ((flag & kRawDaysBit) != 0) {
      Require(days.Main[i] == static_cast<char>(record[kDaysOffset + i]) && days.Breakfast[i] == '*' && days.Dinner[i] == '*',
              "raw days");
    } else {
      Require(days.Main[i] == meals[0] && days.Breakfast[i] == meals[1] && days.Dinner[i] == meals[2],
              "coded days");
    }
  }
}

// The person line as the C library's sprintf makes it from the record's
// fields, taken up to its first zero character.
std::string ReferenceLine(const uint8_t* record, const uint8_t* continuation, const CodingSettings& coding) {
  const bool useDT = coding.UseDT;
  const DayStrings days = DecodeMealDays(record[kFlagOffset], record + kDaysOffset, coding);
  DayStrings more;
  if (continuation != nullptr) more = DecodeMealDays(continuation[kFlagOffset], continuation + kDaysOffset, coding);
  char number[16];
  std::snprintf(number, sizeof number, "%04d", record[1] * 256 + record[2]);
  char line[256];
  int n = std::snprintf(line, sizeof line, "%c%s%02X%02X%02X%02X%c%s%s%s%s%s%s", record[0] == 'Z' ? 'Q' : record[0],
                        number, record[3], record[4], record[5], record[6], record[kFlagOffset], days.Main.c_str(),
                        days.Breakfast.c_str(), days.Dinner.c_str(), more.Main.c_str(), more.Breakfast.c_str(),
                        more.Dinner.c_str());
  if (useDT) std::snprintf(line + n, sizeof line - n, "%02X%02X%02X%02X%02X", record[kDTOffset],
                           record[kDTOffset + 1], record[kDTOffset + 2], record[kDTOffset + 3], record[kDTOffset + 4]);
  return std::string(line);
}

void CheckPersonLines(const BlockDecode& decoded, const uint8_t* block, const CodingSettings& coding) {
  const int size = coding.UseDT ? kPersonRecordSizeDT : kPersonRecordSize;
  size_t line = 0;
  for (int j = 0; j < decoded.RecordCount; ++j, ++line) {
    const uint8_t* record = block + j * size;
    CheckDays(record, coding);
    const uint8_t* next = j + 1 < decoded.RecordCount ? record + size : nullptr;
    const bool joined = next != nullptr && (next[0] == 'q' || next[0] == 'r');
    Require(line < decoded.Lines.size(), "a line for every record");
    Require(decoded.Lines[line] == ReferenceLine(record, joined ? next : nullptr, coding), "person line format");
    if (joined) ++j;
  }
  Require(line == decoded.Lines.size(), "no line without its record");
}

void CheckPersonRecords(const BlockDecode& decoded, const uint8_t* block, int length, const CodingSettings& coding) {
  const int size = coding.UseDT ? kPersonRecordSizeDT : kPersonRecordSize;
  Require(decoded.BadLength == (length % size != 0), "bad length exactly when not whole records");
  Require(decoded.LogBadLength == decoded.BadLength, "a bad person-record length is logged");
  if (decoded.BadLength) {
    Require(decoded.RecordCount == 0 && decoded.Lines.empty(), "no lines for a bad length");
    return;
  }
  Require(decoded.RecordCount * size == length, "RecordCount x record size is the length");
  Require(decoded.Lines.size() <= static_cast<size_t>(decoded.RecordCount), "at most one line per record");
  Require(2 * decoded.Lines.size() >= static_cast<size_t>(decoded.RecordCount), "a line takes at most two records");
  CheckLines(decoded, kLongestLine);
  CheckPersonLines(decoded, block, coding);
}

// The status line as "%c%02X%02X%02X%02X%02X%02X%02X%.16s" makes it.
std::string ReferenceStatusLine(const uint8_t* unit) {
  char text[17] = {};
  std::memcpy(text, unit + 9, 16);
  char line[64];
  std::snprintf(line, sizeof line, "%c%02X%02X%02X%02X%02X%02X%02X%.16s", unit[0], unit[1], unit[2], unit[3], unit[4],
                unit[5], unit[6], unit[7], text);
  return std::string(line);
}

void CheckStatus(const BlockDecode& decoded, const uint8_t* block, int length) {
  Require(!decoded.LogBadLength, "a bad status length is not logged");
  Require(decoded.BadLength == (length % kStatusUnitSize != 0), "bad length exactly when not whole units");
  if (decoded.BadLength) {
    Require(decoded.RecordCount == 0 && decoded.Lines.empty(), "no lines for a bad length");
    return;
  }
  Require(decoded.RecordCount * kStatusUnitSize == length, "RecordCount x 27 is the length");
  Require(decoded.Lines.size() == 1 && decoded.Lines[0][0] == 'S', "one status line");
  CheckLines(decoded, kLongestStatusLine);
  Require(decoded.Lines[0] == ReferenceStatusLine(block), "status line format");
}

void CheckDecoded(const BlockDecode& decoded, const uint8_t* block, int length, const CodingSettings& coding) {
  const uint8_t type = length > 0 ? block[0] : 0;
  if (type == 'R' || type == 'Z') return CheckPersonRecords(decoded, block, length, coding);
  if (type == 'S') return CheckStatus(decoded, block, length);
  Require(!decoded.BadLength && decoded.RecordCount == 0 && decoded.Lines.empty(), "other blocks give no lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  CodingSettings coding;
  const uint8_t switches = input.Byte();
  coding.UseDT = (switches & 1) != 0;
  coding.MealCoding = (switches & 2) != 0;
  coding.BreakfastCount = input.Count();
  coding.DinnerCount = input.Count();
  const bool negativeLength = (switches & 4) != 0;

  const std::string_view rest = input.Rest();
  const std::vector<uint8_t> block(rest.begin(), rest.end());
  const int length = static_cast<int>(block.size());
  const int handed = negativeLength ? -length - 1 : length;
  const bool zeroCount = coding.BreakfastCount == 0 || coding.DinnerCount == 0;
  try {
    const BlockDecode decoded = DecodeAnswerBlock(block.data(), handed, coding);
    if (handed <= 0) {
      Require(!decoded.BadLength && decoded.RecordCount == 0 && decoded.Lines.empty(), "an empty block gives nothing");
      return 0;
    }
    const bool personRecords = block[0] == 'R' || block[0] == 'Z';
    Require(!zeroCount || !personRecords || decoded.BadLength, "a zero count never decodes a record");
    CheckDecoded(decoded, block.data(), length, coding);
  } catch (const EDivByZero&) {
    Require(zeroCount && handed > 0, "EDivByZero only for a zero count");
  }
  return 0;
}
