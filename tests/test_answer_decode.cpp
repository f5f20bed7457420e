// Answer decoding: person-record and status lines byte for byte, bad block
// lengths, and the meal codes of an encoded line read back by the decoder.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "link/AnswerDecode.h"
#include "link/Coding.h"
#include "link/Settings.h"

namespace {

using namespace std::string_literals;

// A person record as the terminal stores it: type, number, bytes 0A 0B 0C 0D,
// flag, 14 day bytes, the DT bytes when given, two trailing bytes.
std::string Record(char type, uint16_t number, const std::string& days, char flag = '0', const std::string& dt = "") {
  std::string record{type, static_cast<char>(number >> 8), static_cast<char>(number & 0xFF), 0x0A, 0x0B, 0x0C, 0x0D, flag};
  return record + days + dt + "\xEE\xEE";
}

BlockDecode Decode(const std::string& block, CodingSettings coding = {}) {
  return DecodeAnswerBlock(reinterpret_cast<const uint8_t*>(block.data()), static_cast<int>(block.size()), coding);
}

CodingSettings WithDT() {
  CodingSettings coding;
  coding.UseDT = true;
  return coding;
}

const std::string kCoded(14, '\x39');  // '1' '0' 'A' every day (MealCoding set, 4 breakfasts, 6 dinners)
const std::string kCodedText = std::string(14, '1') + std::string(14, '0') + std::string(14, 'A');
const std::string kEmpty(14, '\0');
const std::string kStars(42, '*');

class AnswerDecodeTest : public ::testing::Test {};

TEST_F(AnswerDecodeTest, PersonRecords) {
  const BlockDecode two = Decode(Record('R', 7, kCoded) + Record('R', 12345, kEmpty));
  EXPECT_FALSE(two.BadLength);
  EXPECT_EQ(two.RecordCount, 2);
  ASSERT_EQ(two.Lines.size(), 2u);
  EXPECT_EQ(two.Lines[0], "R00070A0B0C0D0" + kCodedText);
  EXPECT_EQ(two.Lines[1], "R123450A0B0C0D0" + kStars);

  // A continuation joins its record; 'Z' shows as 'Q'; other types keep their letter.
  const BlockDecode mixed =
      Decode(Record('R', 1, kCoded) + Record('r', 1, kEmpty) + Record('Z', 2, kCoded) + Record('X', 4, kEmpty));
  EXPECT_EQ(mixed.RecordCount, 4);
  const std::vector<std::string> expected = {"R00010A0B0C0D0" + kCodedText + kStars, "Q00020A0B0C0D0" + kCodedText,
                                             "X00040A0B0C0D0" + kStars};
  EXPECT_EQ(mixed.Lines, expected);

  const BlockDecode twice = Decode(Record('Z', 1, kEmpty) + Record('q', 1, kCoded) + Record('q', 1, kEmpty));
  EXPECT_EQ(twice.RecordCount, 3);
  ASSERT_EQ(twice.Lines.size(), 2u);
  EXPECT_EQ(twice.Lines[0], "Q00010A0B0C0D0" + kStars + kCodedText);
  EXPECT_EQ(twice.Lines[1], "q00010A0B0C0D0" + kStars);
}

TEST_F(AnswerDecodeTest, RecordFlagAndRawDays) {
  const std::string raw = "ABCDEFGHIJKLMN";
  const std::string stars(28, '*');
  EXPECT_EQ(Decode(Record('R', 7, raw, '\xC1')).Lines.at(0), "R00070A0B0C0D\xC1" + raw + stars);
  EXPECT_EQ(Decode(Record('R', 7, "AB\0DEFGHIJKLMN"s, '\x80')).Lines.at(0), "R00070A0B0C0D\x80" "AB" + stars);
  EXPECT_EQ(Decode(Record('R', 7, kCoded, '\0')).Lines.at(0), "R00070A0B0C0D");

  const DayStrings days = DecodeMealDays(0x80, reinterpret_cast<const uint8_t*>("\x01\xFF\0DEFGHIJKLMN"), {});
  EXPECT_EQ(days.Main, "\x01\xFF\0DEFGHIJKLMN"s);
  EXPECT_EQ(days.Breakfast, std::string(14, '*'));
  EXPECT_EQ(days.Dinner, std::string(14, '*'));
}

TEST_F(AnswerDecodeTest, DTBytes) {
  const BlockDecode one = Decode(Record('R', 7, kCoded, '0', "\x26\x12\x06\x20\x11"), WithDT());
  ASSERT_EQ(one.Lines.size(), 1u);
  EXPECT_EQ(one.Lines[0], "R00070A0B0C0D0" + kCodedText + "2612062011");

  const BlockDecode joined =
      Decode(Record('R', 7, kCoded, '0', "\x26\x12\x06\x20\x11") + Record('r', 7, kEmpty, '0', "\x99\x99\x99\x99\x99"), WithDT());
  EXPECT_EQ(joined.RecordCount, 2);
  EXPECT_EQ(joined.Lines, std::vector<std::string>{"R00070A0B0C0D0" + kCodedText + kStars + "2612062011"});
}

TEST_F(AnswerDecodeTest, BadLengthsAndOtherBlocks) {
  const BlockDecode r50 = Decode(Record('R', 1, kCoded) + Record('R', 2, kCoded) + "\x01\x02");
  EXPECT_TRUE(r50.BadLength);
  EXPECT_TRUE(r50.LogBadLength);
  EXPECT_EQ(r50.RecordCount, 0);
  EXPECT_TRUE(r50.Lines.empty());
  EXPECT_TRUE(Decode(Record('R', 1, kCoded) + Record('R', 2, kCoded), WithDT()).LogBadLength);  // 48 is no multiple of 29

  const BlockDecode s28 = Decode("S" + std::string(27, 'x'));
  EXPECT_TRUE(s28.BadLength);
  EXPECT_FALSE(s28.LogBadLength);
  EXPECT_TRUE(s28.Lines.empty());

  for (const std::string& block : {"Error"s, "P0001"s, ""s, "\0R"s}) {
    const BlockDecode other = Decode(block);
    EXPECT_FALSE(other.BadLength);
    EXPECT_EQ(other.RecordCount, 0);
    EXPECT_TRUE(other.Lines.empty());
  }
}

TEST_F(AnswerDecodeTest, StatusBlock) {
  const std::string unit = "S\x01\x02\x03\x04\xAB\xCD\xEF\xFF" "ORVETA v2\0garbag"s + "\x01\x02";
  ASSERT_EQ(unit.size(), 27u);
  const BlockDecode two = Decode(unit + "S" + std::string(26, 'y'));
  EXPECT_EQ(two.RecordCount, 2);
  EXPECT_EQ(two.Lines, std::vector<std::string>{"S01020304ABCDEFORVETA v2"});

  const std::string full = "S\0\0\0\0\0\0\0\x01"s + "0123456789ABCDEF" + "XY";
  EXPECT_EQ(Decode(full).Lines, std::vector<std::string>{"S000000000000000123456789ABCDEF"});
}

TEST_F(AnswerDecodeTest, ZeroCountsThrowForEveryRecord) {
  CodingSettings noDinners;
  noDinners.DinnerCount = 0;
  EXPECT_THROW(Decode(Record('R', 1, kCoded, '\x80'), noDinners), EDivByZero);
  EXPECT_EQ(Decode("S" + std::string(26, 'y'), noDinners).Lines.size(), 1u);
}

// Meal codes written by the encoder come back from the decoder, for several
// code settings; with MealCoding set 'N' shares code 0 and returns as '*'.
TEST_F(AnswerDecodeTest, EncodedMealsDecodeBack) {
  struct Coding {
    bool mealCoding;
    int breakfasts, dinners;
  };
  const std::string alphabet = "*N01A2B3C4D5E6F7G8H";
  std::mt19937 random(20240611);
  for (const Coding coding : {Coding{true, 4, 6}, Coding{false, 4, 6}, Coding{true, 3, 5}, Coding{false, 5, 7},
                              Coding{true, 1, 1}, Coding{false, 2, 2}}) {
    CodingSettings settings;
    settings.MealCoding = coding.mealCoding;
    settings.BreakfastCount = coding.breakfasts;
    settings.DinnerCount = coding.dinners;
    const int mainLimit = std::min<int>(coding.mealCoding ? 18 : 19, 256 / (coding.breakfasts * coding.dinners));
    auto codeOf = [&](size_t index) { return coding.mealCoding && index > 0 ? index - 1 : index; };
    // A random alphabet character whose code is below `limit`, and the character expected back.
    auto pick = [&](int limit, std::string& sent, std::string& back) {
      size_t index;
      do index = random() % alphabet.size();
      while (codeOf(index) >= static_cast<size_t>(limit));
      sent += alphabet[index];
      back += codeOf(index) == 0 ? '*' : alphabet[index];
    };
    for (int round = 0; round < 25; ++round) {
      std::string main, breakfast, dinner, expected[3];
      for (int day = 0; day < 14; ++day) {
        pick(mainLimit, main, expected[0]);
        pick(coding.breakfasts, breakfast, expected[1]);
        pick(coding.dinners, dinner, expected[2]);
      }
      char line[kWorkBufferSize] = {};
      ("R0001ABCDEFGH0" + main + breakfast + dinner + "Name").copy(line, kWorkBufferSize - 1);
      ASSERT_EQ(EncodeCommand(line, settings).Length, 40);
      const auto* payload = reinterpret_cast<const uint8_t*>(line);
      const DayStrings days = DecodeMealDays(payload[11], payload + 12, settings);
      EXPECT_EQ(days.Main, expected[0]) << main;
      EXPECT_EQ(days.Breakfast, expected[1]) << breakfast;
      EXPECT_EQ(days.Dinner, expected[2]) << dinner;
    }
  }
  // Raw days go through unchanged.
  std::string raw;
  for (int day = 0; day < 14; ++day) raw += static_cast<char>(1 + random() % 255);
  char line[kWorkBufferSize] = {};
  ("R0001ABCDEFGH\xC0" + raw).copy(line, kWorkBufferSize - 1);
  EncodeCommand(line, {});
  const DayStrings days =
      DecodeMealDays(static_cast<uint8_t>(line[11]), reinterpret_cast<const uint8_t*>(line) + 12, {});
  EXPECT_EQ(days.Main, raw);
  EXPECT_EQ(days.Dinner, std::string(14, '*'));
}

}  // namespace
