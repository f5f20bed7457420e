// EncodeCommand with every combination of its settings. Input: one byte of
// switches (bit 0 MealCoding, bit 1 CreditOn), one byte each for the breakfast
// and the dinner count (see FuzzInput::Count), then the request line, cut to
// kWorkBufferSize - 1 bytes in a zero-filled work buffer as ExecuteLine hands it.
// Seed "3hj..." is the default configuration.

#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/FuzzInput.h"
#include "link/Coding.h"
#include "link/ErrorLog.h"
#include "link/Settings.h"

namespace {

constexpr int kLongestPayload = 43;
constexpr unsigned char kRawDaysFlag = 0x80;
constexpr int kFlagColumn = 13;
constexpr int kMealColumn = 14;
constexpr int kDaysOffset = 12;
constexpr int kDayCount = 14;
constexpr int kAlphabetSize = 19;

bool IsPersonLetter(char letter) { return letter == 'R' || letter == 'Q' || letter == 'r' || letter == 'q'; }

char PayloadLetter(char letter) { return letter == 'Q' ? 'X' : letter; }

int ExpectedLength(char letter, const CodingSettings& coding) {
  if (letter == 'c') return 17;
  return letter == 'Q' && coding.CreditOn ? 43 : 40;
}

void CheckEncoded(const std::string& before, const char* line, int length, const CodingSettings& coding) {
  const char letter = before[0];
  if (!IsPersonLetter(letter) && letter != 'c') {
    Require(length == static_cast<int>(strnlen(before.data(), kWorkBufferSize)), "text length for other letters");
    Require(std::memcmp(line, before.data(), kWorkBufferSize) == 0, "other letters leave the buffer alone");
    return;
  }
  Require(length == ExpectedLength(letter, coding), "payload length of a converted letter");
  Require(length <= kLongestPayload, "payload of a converted letter fits 43 bytes");
  Require(line[0] == PayloadLetter(letter), "payload letter");
  Require(line[length] == '\0', "one zero byte after the payload");
  Require(std::memcmp(line + length + 1, before.data() + length + 1, kWorkBufferSize - length - 1) == 0,
          "nothing written behind the payload and its zero byte");
}

// The code of a meal character, read from MealChar: the first code that gives
// it back; 0 for a character no code gives ('N' included while MealCoding is set).
int64_t CodeOf(char ch, const CodingSettings& coding) {
  for (int code = 0; code < kAlphabetSize; ++code)
    if (MealChar(code, coding) == ch) return code;
  return 0;
}

// Where the three codes of a day fit their digits without wrapping past 255,
// DecodeMealByte gives back the characters of those codes.
// Every code refused is a breakfast or dinner code not below its count, and
// each such code is refused.
void CheckRejected(const std::string& before, const std::vector<RejectedMeal>& rejected, const CodingSettings& coding) {
  std::vector<RejectedMeal> expected;
  for (int pass = 1; pass <= 2; ++pass) {
    const int64_t count = pass == 1 ? coding.BreakfastCount : coding.DinnerCount;
    for (int i = 0; i < kDayCount; ++i) {
      if (CodeOf(before[kMealColumn + pass * kDayCount + i], coding) >= count) {
        expected.push_back(pass == 1 ? RejectedMeal::Breakfast : RejectedMeal::Dinner);
      }
    }
  }
  Require(rejected == expected, "the codes refused are those beyond their counts, in order");
}

void CheckDaysDecodeBack(const std::string& before, const char* payload, const CodingSettings& coding) {
  const int64_t B = coding.BreakfastCount;
  const int64_t D = coding.DinnerCount;
  if (B <= 0 || D <= 0) return;
  for (int i = 0; i < kDayCount; ++i) {
    const int64_t m = CodeOf(before[kMealColumn + i], coding);
    const int64_t b = CodeOf(before[kMealColumn + kDayCount + i], coding);
    const int64_t d = CodeOf(before[kMealColumn + 2 * kDayCount + i], coding);
    if (b >= B || d >= D || (m > 0 && B * D > 255) || m * B * D + b * D + d > 255) continue;
    const auto decoded = DecodeMealByte(static_cast<unsigned char>(payload[kDaysOffset + i]), coding);
    Require(decoded[0] == MealChar(static_cast<int>(m), coding) && decoded[1] == MealChar(static_cast<int>(b), coding) &&
                decoded[2] == MealChar(static_cast<int>(d), coding),
            "an encoded day decodes back to its codes");
  }
}

bool CountsValid(const CodingSettings& coding) { return coding.BreakfastCount != 0 && coding.DinnerCount != 0; }

// A person line with coded days must meet a zero count; raw days never do.
bool NeedsCounts(const std::string& line) {
  return IsPersonLetter(line[0]) && static_cast<unsigned char>(line[kFlagColumn]) < kRawDaysFlag;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  CodingSettings coding;
  const uint8_t switches = input.Byte();
  coding.MealCoding = (switches & 1) != 0;
  coding.CreditOn = (switches & 2) != 0;
  coding.BreakfastCount = input.Count();
  coding.DinnerCount = input.Count();

  const std::string_view text = input.Rest();
  char line[kWorkBufferSize] = {};
  std::memcpy(line, text.data(), std::min<size_t>(text.size(), kWorkBufferSize - 1));
  const std::string before(line, kWorkBufferSize);
  try {
    const EncodedCommand encoded = EncodeCommand(line, coding);
    const int length = encoded.Length;
    Require(length >= 0 && length <= kWorkBufferSize - 1, "length within the work buffer");
    Require(CountsValid(coding) || !NeedsCounts(before), "a zero count throws before encoding");
    CheckEncoded(before, line, length, coding);
    if (NeedsCounts(before)) {
      CheckDaysDecodeBack(before, line, coding);
      CheckRejected(before, encoded.Rejected, coding);
    } else {
      Require(encoded.Rejected.empty(), "only coded days refuse codes");
    }
  } catch (const EDivByZero&) {
    Require(!CountsValid(coding) && NeedsCounts(before), "EDivByZero only for a zero count");
    Require(std::memcmp(line, before.data(), kWorkBufferSize) == 0, "nothing encoded when it throws");
  }
  return 0;
}
