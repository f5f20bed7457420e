#include "link/AnswerDecode.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "link/Coding.h"

namespace {

// Offsets in a person record.
constexpr int kNumberOffset = 1;
constexpr int kHexOffset = 3;
constexpr int kFlagOffset = 7;
constexpr int kDaysOffset = 8;
constexpr int kDTOffset = 22;
constexpr int kDTCount = 5;

// Offsets in a status unit.
constexpr int kStatusHexCount = 7;
constexpr int kStatusTextOffset = 9;
constexpr int kStatusTextWidth = 16;

constexpr uint8_t kRawDaysBit = 0x80;

// Longest line: type, five digits, eight hex digits, flag, six day strings,
// ten DT digits.
constexpr int kMaxLineLength = 1 + 5 + 8 + 1 + 6 * kRecordDayCount + 2 * kDTCount;

// "%02X" of each byte.
char* PutHex(char* out, const uint8_t* bytes, int count) {
  constexpr char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < count; ++i) {
    *out++ = digits[bytes[i] >> 4];
    *out++ = digits[bytes[i] & 0x0F];
  }
  return out;
}

// "%04d" of a number 0..65535.
char* PutNumber(char* out, unsigned number) {
  char digits[5];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0);
  for (int i = count; i < 4; ++i) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

// "%s" of a string: up to its first zero byte.
char* PutText(char* out, const std::string& text) {
  const size_t length = strnlen(text.data(), text.size());
  std::memcpy(out, text.data(), length);
  return out + length;
}

char* PutDays(char* out, const DayStrings& days) {
  out = PutText(out, days.Main);
  out = PutText(out, days.Breakfast);
  return PutText(out, days.Dinner);
}

// The line as the formatted C string reads: up to its first zero character.
std::string LineUpToZero(const char* line, const char* end) { return std::string(line, strnlen(line, end - line)); }

char ShownType(uint8_t type) { return type == 'Z' ? 'Q' : static_cast<char>(type); }

// One answer line of a person record, with the day strings of its
// continuation record when there is one.
std::string FormatPersonLine(const uint8_t* record, const DayStrings& days, const DayStrings* continuation,
                             bool useDT) {
  char line[kMaxLineLength];
  char* out = line;
  *out++ = ShownType(record[0]);
  out = PutNumber(out, record[kNumberOffset] * 256u + record[kNumberOffset + 1]);
  out = PutHex(out, record + kHexOffset, 4);
  *out++ = static_cast<char>(record[kFlagOffset]);
  out = PutDays(out, days);
  if (continuation != nullptr) out = PutDays(out, *continuation);
  if (useDT) out = PutHex(out, record + kDTOffset, kDTCount);
  return LineUpToZero(line, out);
}

DayStrings RecordDays(const uint8_t* record, const CodingSettings& settings) {
  return DecodeMealDays(record[kFlagOffset], record + kDaysOffset, settings);
}

bool IsContinuation(uint8_t type) { return type == 'q' || type == 'r'; }

void DecodePersonRecords(const uint8_t* block, int length, const CodingSettings& settings, BlockDecode& result) {
  const bool useDT = settings.UseDT;
  const int size = useDT ? kPersonRecordSizeDT : kPersonRecordSize;
  if (length % size != 0) {
    result.BadLength = true;
    result.LogBadLength = true;
    return;
  }
  result.RecordCount = length / size;
  result.Lines.reserve(result.RecordCount);
  for (int j = 0; j < result.RecordCount; ++j) {
    const uint8_t* record = block + j * size;
    const DayStrings days = RecordDays(record, settings);
    const uint8_t* next = j + 1 < result.RecordCount ? record + size : nullptr;
    if (next != nullptr && IsContinuation(next[0])) {
      const DayStrings continuation = RecordDays(next, settings);
      result.Lines.push_back(FormatPersonLine(record, days, &continuation, useDT));
      ++j;
    } else {
      result.Lines.push_back(FormatPersonLine(record, days, nullptr, useDT));
    }
  }
}

std::string FormatStatusLine(const uint8_t* unit) {
  char line[1 + 2 * kStatusHexCount + kStatusTextWidth];
  char* out = line;
  *out++ = static_cast<char>(unit[0]);
  out = PutHex(out, unit + 1, kStatusHexCount);
  const char* text = reinterpret_cast<const char*>(unit + kStatusTextOffset);
  out = std::copy_n(text, strnlen(text, kStatusTextWidth), out);
  return LineUpToZero(line, out);
}

void DecodeStatus(const uint8_t* block, int length, BlockDecode& result) {
  if (length % kStatusUnitSize != 0) {
    result.BadLength = true;
    return;
  }
  result.RecordCount = length / kStatusUnitSize;
  result.Lines.push_back(FormatStatusLine(block));
}

}  // namespace

DayStrings DecodeMealDays(uint8_t recordFlag, const uint8_t* dayBytes, const CodingSettings& settings) {
  const bool raw = (recordFlag & kRawDaysBit) != 0;
  DayStrings days{std::string(kRecordDayCount, '*'), std::string(kRecordDayCount, '*'), std::string(kRecordDayCount, '*')};
  char* main = days.Main.data();
  char* breakfast = days.Breakfast.data();
  char* dinner = days.Dinner.data();
  for (int i = 0; i < kRecordDayCount; ++i) {
    const std::array<char, 3> meals = DecodeMealByte(dayBytes[i], settings);
    if (raw) {
      main[i] = static_cast<char>(dayBytes[i]);
    } else {
      main[i] = meals[0];
      breakfast[i] = meals[1];
      dinner[i] = meals[2];
    }
  }
  return days;
}

BlockDecode DecodeAnswerBlock(const uint8_t* block, int length, const CodingSettings& settings) {
  BlockDecode result;
  if (length <= 0) return result;
  switch (block[0]) {
    case 'R':
    case 'Z':
      DecodePersonRecords(block, length, settings, result);
      break;
    case 'S':
      DecodeStatus(block, length, result);
      break;
    default:
      break;
  }
  return result;
}
