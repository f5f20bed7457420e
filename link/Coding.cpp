#include "link/Coding.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/Commands.h"

namespace {

// Payload of a converted line: built here, then copied over the line.
constexpr int kPayloadBufferSize = 80;
// A numeric field copy: up to 9 characters and its terminator.
constexpr int kFieldSize = 10;

constexpr int kPersonPayloadLength = 40;
constexpr int kCreditPayloadLength = 43;
constexpr int kValuePayloadLength = 17;
constexpr int kDayCount = 14;
constexpr unsigned char kRawDaysFlag = 0x80;
constexpr int kCreditLimit = 31000;

// Request line columns of a person record.
constexpr int kNumberColumn = 1;
constexpr int kFlagColumn = 13;
constexpr int kMealColumn = 14;
constexpr int kNameColumn = 56;
constexpr int kNameWidth = 14;
constexpr int kCreditMarkColumn = 70;
constexpr int kCreditSignColumn = 71;

// Payload offsets of a person record.
constexpr int kDaysOffset = 12;
constexpr int kNameOffset = 26;
constexpr int kCreditMarkOffset = 40;
constexpr int kCreditOffset = 41;

// The meal code alphabet in code order with MealCoding clear; with MealCoding
// set 'N' shares code 0 with '*' and every later character is one lower.
constexpr char kMealAlphabet[] = "*N01A2B3C4D5E6F7G8H";
constexpr int kMealAlphabetSize = sizeof kMealAlphabet - 1;

// Code page 852 bytes 0x80..0xFF as sent to the terminal; '=' sends the byte
// itself (no entry of the table is '=').
constexpr unsigned char kPlain[128] = {
    '=', 0xFC, 'e', 'a', 'a', 'u', 'c', 'c', 'l', 'e', 'O', 'o', 'i', 'Z', 'A', 'C',   // 0x80
    'E', 'L',  'l', 'o', 'o', 'L', 'l', 'S', 's', 'O', 'U', 'T', 't', 'L', '=', 'c',   // 0x90
    'a', 'i',  'o', 'u', 'A', 'a', 'Z', 'z', 'E', 'e', '=', 'z', 'C', 's', 0xAA, 0xBB, // 0xA0
    '=', '=',  '=', '=', '=', 'A', 'A', 'E', 'S', '=', '=', '=', '=', 'Z', 'z', '=',   // 0xB0
    '=', '=',  '=', '=', '=', '=', '=', '=', '=', '=', '=', '=', '=', '=', '=', '=',   // 0xC0
    'd', 'D',  'D', 'E', 'd', 'N', 'I', 'I', 'e', '=', '=', '=', '=', 'T', 'U', '=',   // 0xD0
    'O', 0xDF, 'O', 'N', 'n', 'n', 'S', 's', 'R', 'U', 'r', 'U', 'y', 'Y', 't', '=',   // 0xE0
    '=', '=',  '=', '=', '=', '=', '=', '=', '=', '=', '=', 'u', 'R', 'r', '=', '=',   // 0xF0
};

struct Field {
  char text[kFieldSize];
};

// Copies `width` (at most kFieldSize - 1) bytes of the line from `column` into
// a zero-terminated field; a zero byte in the line ends the field early.
Field CopyField(const char* line, int column, int width) {
  Field field{};
  std::memcpy(field.text, line + column, std::min(width, kFieldSize - 1));
  return field;
}

void PutWord(unsigned char* at, uint16_t word) {
  at[0] = static_cast<unsigned char>(word >> 8);
  at[1] = static_cast<unsigned char>(word & 0xFF);
}

// Parses a numeric field of the line into a big-endian word at `at`; a field
// that does not parse leaves the (zero) bytes alone.
void PutParsedWord(const char* line, int column, int width, unsigned char* at) {
  Field field = CopyField(line, column, width);
  uint16_t word = 0;
  if (ParseWord(field.text, word)) PutWord(at, word);
}

// Code of a meal character in the alphabet selected by `mealCoding`; 0 for
// any character outside it (a zero byte included).
int64_t MealCode(char ch, bool mealCoding) {
  const char* found = static_cast<const char*>(std::memchr(kMealAlphabet, ch, kMealAlphabetSize));
  if (found == nullptr) return 0;
  const int64_t code = found - kMealAlphabet;
  return mealCoding ? std::max<int64_t>(code - 1, 0) : code;
}

// m x B x D + b x D + d modulo 256. Unsigned arithmetic wraps, which keeps the
// low byte right for any counts.
unsigned char PackDay(int64_t m, int64_t b, int64_t d, int64_t B, int64_t D) {
  const uint64_t value = static_cast<uint64_t>(m) * static_cast<uint64_t>(B) * static_cast<uint64_t>(D) +
                         static_cast<uint64_t>(b) * static_cast<uint64_t>(D) + static_cast<uint64_t>(d);
  return static_cast<unsigned char>(value & 0xFF);
}

// The three digits of a day byte for counts B and D (neither 0).
struct DayDigits {
  int64_t m, b, d;
};
DayDigits SplitDay(unsigned char dayByte, int64_t B, int64_t D) {
  return {dayByte / (B * D), (dayByte / D) % B, dayByte % D};
}

// Character of a code in the alphabet selected by `mealCoding`; '0' for a code
// outside it.
char AlphabetChar(int64_t code, bool mealCoding) {
  const int64_t size = mealCoding ? kMealAlphabetSize - 1 : kMealAlphabetSize;
  if (code < 0 || code >= size) return '0';
  if (code == 0) return '*';
  return kMealAlphabet[mealCoding ? code + 1 : code];
}

// Day bytes: three passes over the meal fields, or the raw days as they are.
void EncodeDays(const char* line, unsigned char* payload, const CodingSettings& settings,
                std::vector<RejectedMeal>& rejected) {
  unsigned char* days = payload + kDaysOffset;
  if (static_cast<unsigned char>(line[kFlagColumn]) >= kRawDaysFlag) {
    std::memcpy(days, line + kMealColumn, kDayCount);
    return;
  }
  for (int pass = 0; pass < 3; ++pass) {
    for (int i = 0; i < kDayCount; ++i) {
      if (const auto day = EncodeMeal(days[i], line[kMealColumn + kDayCount * pass + i], pass, settings)) {
        days[i] = *day;
      } else {
        rejected.push_back(pass == 1 ? RejectedMeal::Breakfast : RejectedMeal::Dinner);
      }
    }
  }
}

// Credit word of a 'Q' line: the credit of columns 71-76 as a 16-bit word,
// ones' complement of the magnitude when negative, limited to 31000.
uint16_t CreditWord(const char* line) {
  Field signedField = CopyField(line, kCreditSignColumn, 6);
  int32_t value = 0;
  if (!ParseLong(signedField.text, value)) return 0;
  if (line[kCreditSignColumn] == '-') {
    const int32_t magnitude = std::min(-std::max(value, -kCreditLimit), kCreditLimit);
    return static_cast<uint16_t>(65535 - magnitude);
  }
  Field magnitudeField = CopyField(line, kCreditSignColumn + 1, 5);
  if (!ParseLong(magnitudeField.text, value)) return 0;
  return static_cast<uint16_t>(std::min<uint32_t>(static_cast<uint32_t>(value), kCreditLimit));
}

int EncodePersonRecord(const Command& command, const char* line, unsigned char* payload,
                       const CodingSettings& settings, std::vector<RejectedMeal>& rejected) {
  payload[0] = static_cast<unsigned char>(command.SentAs);
  PutParsedWord(line, kNumberColumn, 4, payload + 1);
  std::memcpy(payload + 3, line + 5, 9);
  EncodeDays(line, payload, settings, rejected);
  for (int i = 0; i < kNameWidth; ++i) payload[kNameOffset + i] = PlainChar(static_cast<unsigned char>(line[kNameColumn + i]));
  if (command.Payload != PayloadKind::CreditRecord || !settings.CreditOn) return kPersonPayloadLength;
  payload[kCreditMarkOffset] = static_cast<unsigned char>(line[kCreditMarkColumn]);
  PutWord(payload + kCreditOffset, CreditWord(line));
  return kCreditPayloadLength;
}

int EncodeValues(const char* line, unsigned char* payload) {
  std::memcpy(payload, line, 5);
  for (int k = 0; k < 6; ++k) PutParsedWord(line, 6 + 5 * k, 4, payload + 5 + 2 * k);
  return kValuePayloadLength;
}

}  // namespace

bool ParseLong(char* field, int32_t& value) {
  size_t length = std::strlen(field);
  while (length > 0 && field[length - 1] == ' ') field[--length] = '\0';
  const int base = length >= 2 && (field[1] == 'x' || field[1] == 'X') ? 16 : 10;
  char* end = nullptr;
  const long long parsed = std::strtoll(field, &end, base);
  if (end != field + length) return false;
  value = static_cast<int32_t>(std::clamp<long long>(parsed, INT32_MIN, INT32_MAX));
  return true;
}

bool ParseWord(char* field, uint16_t& value) {
  int32_t parsed = 0;
  if (!ParseLong(field, parsed)) return false;
  value = static_cast<uint16_t>(parsed);
  return true;
}

unsigned char PlainChar(unsigned char c) {
  if (c < 0x80) return c;
  const unsigned char plain = kPlain[c - 0x80];
  return plain == '=' ? c : plain;
}

CodingSettings CodingSettingsOf(const LinkSettings& settings) {
  return {settings.BreakfastCount, settings.DinnerCount, settings.MealCoding, settings.CreditOn, settings.UseDT};
}

const char* RejectedMealMessage(RejectedMeal meal) {
  return meal == RejectedMeal::Breakfast ? "Spatne kodovani snidani" : "Spatne kodovani veceri";
}

std::optional<unsigned char> EncodeMeal(unsigned char current, char ch, int pass, const CodingSettings& settings) {
  const int64_t B = settings.BreakfastCount;
  const int64_t D = settings.DinnerCount;
  if (B == 0 || D == 0) throw EDivByZero("Snidane nebo večeře = 0!");
  const DayDigits digits = SplitDay(current, B, D);
  const int64_t f = MealCode(ch, settings.MealCoding);
  switch (pass) {
    case 0:
      return PackDay(f, digits.b, digits.d, B, D);
    case 1:
      if (f < B) return PackDay(digits.m, f, digits.d, B, D);
      return std::nullopt;
    default:
      if (f < D) return PackDay(digits.m, digits.b, f, B, D);
      return std::nullopt;
  }
}

char MealChar(int code, const CodingSettings& settings) { return AlphabetChar(code, settings.MealCoding); }

std::array<char, 3> DecodeMealByte(unsigned char dayByte, const CodingSettings& settings) {
  const int64_t B = settings.BreakfastCount;
  const int64_t D = settings.DinnerCount;
  if (B == 0 || D == 0) throw EDivByZero("Špatný počet snídaní, nebo večeří!");
  const DayDigits digits = SplitDay(dayByte, B, D);
  return {AlphabetChar(digits.m, settings.MealCoding), AlphabetChar(digits.b, settings.MealCoding),
          AlphabetChar(digits.d, settings.MealCoding)};
}

EncodedCommand EncodeCommand(char* line, const CodingSettings& settings) {
  EncodedCommand encoded;
  const Command& command = CommandFor(line[0]);
  if (command.Payload == PayloadKind::Text) {
    encoded.Length = static_cast<int>(strnlen(line, kWorkBufferSize));
    return encoded;
  }
  unsigned char payload[kPayloadBufferSize] = {};
  encoded.Length = command.Payload == PayloadKind::Values
                       ? EncodeValues(line, payload)
                       : EncodePersonRecord(command, line, payload, settings, encoded.Rejected);
  std::memcpy(line, payload, encoded.Length + 1);
  return encoded;
}
