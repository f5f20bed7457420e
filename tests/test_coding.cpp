// Command encoding: the command table against the encoder, person-record and
// 'c' payloads, numeric fields, credit words, meal packing with the codes it
// refuses, transliteration of names.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/Coding.h"
#include "link/Commands.h"

namespace {

std::string Fixed(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

// A person-record line: letter, number (4), nine characters whose last is the
// record flag, main-meal, breakfast and dinner codes (14 each), name (14), tail.
std::string PersonLine(char letter, const std::string& number, const std::string& middle, const std::string& main,
                       const std::string& breakfast, const std::string& dinner, const std::string& name,
                       const std::string& tail = "") {
  return letter + Fixed(number, 4) + Fixed(middle, 9) + Fixed(main, 14) + Fixed(breakfast, 14) + Fixed(dinner, 14) +
         Fixed(name, 14) + tail;
}

std::string Days(const std::string& codes) { return codes + std::string(14 - codes.size(), '*'); }

struct Encoded {
  std::string payload;
  char after;  // the byte behind the payload
  std::vector<RejectedMeal> rejected;
};

Encoded Encode(const std::string& line, const CodingSettings& coding = {}) {
  char buffer[kWorkBufferSize] = {};
  line.copy(buffer, kWorkBufferSize - 1);
  const EncodedCommand encoded = EncodeCommand(buffer, coding);
  return {std::string(buffer, encoded.Length), buffer[encoded.Length], encoded.Rejected};
}

uint8_t At(const std::string& payload, size_t i) { return static_cast<uint8_t>(payload.at(i)); }
uint16_t WordAt(const std::string& payload, size_t i) { return At(payload, i) * 256 + At(payload, i + 1); }

class CodingTest : public ::testing::Test {
 protected:
  CodingSettings coding_;  // the defaults: 4 breakfasts, 6 dinners, coding and credit on
};

TEST_F(CodingTest, PersonRecordLayout) {
  const std::string name = "Nov\x87k Jan\x9F\xE1\xB0xy";
  const Encoded r = Encode(PersonLine('R', "0012", "ABCDEFGH0", Days("1111"), Days("0000"), Days("AAAA"), name));
  ASSERT_EQ(r.payload.size(), 40u);
  EXPECT_EQ(r.after, '\0');
  EXPECT_EQ(r.payload.substr(0, 3), std::string("R\x00\x0C", 3));
  EXPECT_EQ(r.payload.substr(3, 9), "ABCDEFGH0");
  EXPECT_EQ(At(r.payload, 12), 0x39);  // '1' '0' 'A' with B 4, D 6, MealCoding set
  EXPECT_EQ(At(r.payload, 16), 0x00);  // '*' '*' '*'
  EXPECT_EQ(r.payload.substr(26), "Novck Janc\xDF\xB0xy");

  // Only a 'Q' line with CreditOn carries the credit mark and word.
  auto withCredit = [&](char letter) {
    return Encode(PersonLine(letter, "1", "", "", "", "", "", "K-00100"), coding_).payload;
  };
  EXPECT_EQ(withCredit('Q').size(), 43u);
  EXPECT_EQ(withCredit('Q')[0], 'X');
  EXPECT_EQ(withCredit('Q')[40], 'K');
  EXPECT_EQ(withCredit('q').size(), 40u);
  EXPECT_EQ(withCredit('q')[0], 'q');
  EXPECT_EQ(withCredit('r').size(), 40u);
  coding_.CreditOn = false;
  EXPECT_EQ(withCredit('Q').size(), 40u);
  EXPECT_EQ(withCredit('Q')[0], 'X');
}

TEST_F(CodingTest, PersonNumbersAndCreditWords) {
  const std::pair<const char*, uint16_t> numbers[] = {{"0x1F", 0x001F}, {"12  ", 0x000C}, {"12a4", 0x0000}, {"  ", 0}};
  for (const auto& [field, word] : numbers)
    EXPECT_EQ(WordAt(Encode(PersonLine('R', field, "", "", "", "", "")).payload, 1), word) << field;

  const std::pair<const char*, uint16_t> credits[] = {{"-00100", 0xFF9B}, {"-00000", 0xFFFF}, {"-99999", 0x86E7},
                                                      {" 40000", 0x7918}, {"+01234", 0x04D2}, {"abcdef", 0x0000},
                                                      {"-1    ", 0xFFFE}, {"-", 0x0000},      {"", 0x0000}};
  for (const auto& [field, word] : credits) {
    const Encoded q = Encode(PersonLine('Q', "7", "", "", "", "", "", std::string("K") + field));
    ASSERT_EQ(q.payload.size(), 43u) << field;
    EXPECT_EQ(WordAt(q.payload, 41), word) << field;
  }
}

TEST_F(CodingTest, RawDaysAndCodesOutsideTheAlphabet) {
  const std::string raw = "\x01\xFF" "ABCDEFGHIJKL";
  const Encoded r = Encode(PersonLine('R', "1", "XXXXXXXX\x80", raw, Days("HHHH"), Days("HHHH"), "n"));
  EXPECT_EQ(r.payload.substr(12, 14), raw);
  EXPECT_TRUE(r.rejected.empty());

  // Blanks, unknown letters and the zero bytes behind a short line are code 0.
  coding_.MealCoding = false;
  const Encoded odd = Encode(PersonLine('R', "1", "", "Zz?#", "x", "", ""), coding_);
  EXPECT_EQ(odd.payload.substr(12, 14), std::string(14, '\0'));
  EXPECT_TRUE(odd.rejected.empty());
  EXPECT_EQ(Encode(std::string("R0001"), coding_).payload, std::string("R\x00\x01", 3) + std::string(37, '\0'));
  EXPECT_EQ(At(Encode(PersonLine('R', "1", "", "N", "N", "N", ""), coding_).payload, 12), 1 * 24 + 1 * 6 + 1);
}

TEST_F(CodingTest, MealPackingWorkedExample) {
  EXPECT_EQ(EncodeMeal(*EncodeMeal(*EncodeMeal(0, '1', 0, coding_), '0', 1, coding_), 'A', 2, coding_), 0x39);
  EXPECT_EQ(DecodeMealByte(0x39, coding_), (std::array<char, 3>{'1', '0', 'A'}));
  EXPECT_EQ(MealChar(0, coding_), '*');
  EXPECT_EQ(MealChar(17, coding_), 'H');
  EXPECT_EQ(MealChar(18, coding_), '0');
  EXPECT_EQ(MealChar(-1, coding_), '0');
  EXPECT_EQ(EncodeMeal(0x39, '2', 1, coding_), std::nullopt) << "breakfast code 4 of 4: refused";
  coding_.MealCoding = false;
  EXPECT_EQ(MealChar(1, coding_), 'N');
  EXPECT_EQ(MealChar(18, coding_), 'H');
  EXPECT_EQ(MealChar(19, coding_), '0');
  // A main-meal code beyond the byte wraps modulo 256: 'H' is 18, 18 x 24 = 432.
  EXPECT_EQ(EncodeMeal(0, 'H', 0, coding_), 432 % 256);
}

TEST_F(CodingTest, RejectedCodesAreReportedAndKeepTheirDigit) {
  const std::string line1 = PersonLine('R', "5", "", Days("11111111111111"), "*N01A2********", Days("AAAAAAAAAAAAAA"),
                                       "Jan\x9F");
  const Encoded first = Encode(line1);
  ASSERT_EQ(first.payload.size(), 40u);
  // main code 2, dinner code 3: 2 x 24 + b x 6 + 3; the rejected '2' keeps b = 0.
  const std::string expected = "\x33\x33\x39\x3F\x45\x33\x33\x33\x33\x33\x33\x33\x33\x33";
  EXPECT_EQ(first.payload.substr(12, 14), expected);
  EXPECT_EQ(first.rejected, std::vector<RejectedMeal>{RejectedMeal::Breakfast});

  const std::string line2 = PersonLine('R', "6", "", Days("1"), Days(""), "3B3", "");
  const Encoded second = Encode(line2);
  EXPECT_EQ(At(second.payload, 12), 2 * 24);
  EXPECT_EQ(At(second.payload, 13), 5);
  EXPECT_EQ(At(second.payload, 14), 0);
  EXPECT_EQ(second.rejected, (std::vector<RejectedMeal>{RejectedMeal::Dinner, RejectedMeal::Dinner}));
  EXPECT_STREQ(RejectedMealMessage(RejectedMeal::Breakfast), "Spatne kodovani snidani");
  EXPECT_STREQ(RejectedMealMessage(RejectedMeal::Dinner), "Spatne kodovani veceri");
}

TEST_F(CodingTest, ZeroCountsThrow) {
  auto expectThrow = [](auto action, const char* message) {
    try {
      action();
      ADD_FAILURE() << "no EDivByZero";
    } catch (const EDivByZero& error) {
      EXPECT_STREQ(error.what(), message);
    }
  };
  const std::string line = PersonLine('R', "1", "", "1", "0", "A", "Jan");
  for (int zero = 0; zero < 2; ++zero) {
    CodingSettings coding;
    (zero == 0 ? coding.BreakfastCount : coding.DinnerCount) = 0;
    char buffer[kWorkBufferSize] = {};
    line.copy(buffer, kWorkBufferSize - 1);
    expectThrow([&] { EncodeCommand(buffer, coding); }, "Snidane nebo večeře = 0!");
    EXPECT_EQ(std::string(buffer), line);
    expectThrow([&] { DecodeMealByte(0x39, coding); }, "Špatný počet snídaní, nebo večeří!");
  }
}

TEST_F(CodingTest, OtherLettersGoAsText) {
  for (const std::string line : {"T25061012304501", "Y", "P0001", "S", "C", "O", "x\xE1\x9F text", ""}) {
    char buffer[kWorkBufferSize] = {};
    line.copy(buffer, kWorkBufferSize - 1);
    EXPECT_EQ(EncodeCommand(buffer, coding_).Length, static_cast<int>(line.size()));
    EXPECT_EQ(std::string(buffer), line);
  }
  // A full buffer without its terminator still stays inside the buffer.
  char full[kWorkBufferSize];
  std::memset(full, 'Y', sizeof full);
  EXPECT_EQ(EncodeCommand(full, coding_).Length, kWorkBufferSize);
}

// Each command of the table goes out as the table says: its first payload byte
// and the length of its kind of payload. The trace finds it by that byte.
TEST_F(CodingTest, CommandTableAgainstTheEncoder) {
  CodingSettings noCredit = coding_;
  noCredit.CreditOn = false;
  for (const Command& command : CommandTable()) {
    SCOPED_TRACE(std::string("letter ") + command.Letter);
    const std::string line =
        PersonLine(command.Letter, "0001", "ABCDEFGH0", Days(""), Days(""), Days(""), "NOVAK", "K+00150");
    const Encoded encoded = Encode(line, coding_);
    ASSERT_FALSE(encoded.payload.empty());
    EXPECT_EQ(encoded.payload[0], command.SentAs);
    EXPECT_EQ(CommandSentAs(command.SentAs), &command);
    // A long line's second command is a person record of its own letter.
    if (command.ContinuedAs != '\0') {
      EXPECT_EQ(CommandFor(command.ContinuedAs).Payload, PayloadKind::PersonRecord);
    }
    const size_t withoutCredit = Encode(line, noCredit).payload.size();
    switch (command.Payload) {
      case PayloadKind::Text:
        EXPECT_EQ(encoded.payload, line);
        break;
      case PayloadKind::PersonRecord:
        EXPECT_EQ(encoded.payload.size(), 40u);
        EXPECT_EQ(withoutCredit, 40u);
        break;
      case PayloadKind::CreditRecord:
        EXPECT_EQ(encoded.payload.size(), 43u);
        EXPECT_EQ(withoutCredit, 40u);
        break;
      case PayloadKind::Values:
        EXPECT_EQ(encoded.payload.size(), 17u);
        break;
    }
  }
  EXPECT_EQ(CommandFor('Z').Payload, PayloadKind::Text) << "a letter outside the table goes as text";
}

TEST_F(CodingTest, ValueLine) {
  const Encoded c = Encode("cABCD|0001|0x10|12a4|  7 |-1  ");
  ASSERT_EQ(c.payload.size(), 17u);
  EXPECT_EQ(c.after, '\0');
  EXPECT_EQ(c.payload, std::string("cABCD\x00\x01\x00\x10\x00\x00\x00\x07\xFF\xFF\x00\x00", 17));
}

TEST_F(CodingTest, NumericFields) {
  auto parseLong = [](std::string text, int32_t& value) { return ParseLong(text.data(), value); };
  int32_t value = 1234;
  EXPECT_FALSE(parseLong("12a4", value));
  EXPECT_FALSE(parseLong("0x", value));
  EXPECT_FALSE(parseLong("\t", value));
  EXPECT_FALSE(parseLong(" 12 3", value));
  EXPECT_EQ(value, 1234);
  EXPECT_TRUE(parseLong("", value));
  EXPECT_EQ(value, 0);
  const std::pair<const char*, int32_t> good[] = {{"   ", 0},        {" -42  ", -42},           {"0X1f", 31},
                                                  {"+7", 7},         {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
                                                  {"0x7FFFFFFFFF", INT32_MAX}};
  for (const auto& [text, expected] : good) {
    EXPECT_TRUE(parseLong(text, value)) << text;
    EXPECT_EQ(value, expected) << text;
  }
  char field[10] = "12   ";
  uint16_t word = 0;
  EXPECT_TRUE(ParseWord(field, word));
  EXPECT_STREQ(field, "12");
  std::strcpy(field, "70000");
  EXPECT_TRUE(ParseWord(field, word));
  EXPECT_EQ(word, 70000 & 0xFFFF);
  std::strcpy(field, "x");
  EXPECT_FALSE(ParseWord(field, word));
  EXPECT_EQ(word, 70000 & 0xFFFF);
}

TEST_F(CodingTest, PlainChar) {
  for (int c = 0; c < 0x80; ++c) EXPECT_EQ(PlainChar(c), c);
  const std::pair<uint8_t, uint8_t> table[] = {{0x9F, 'c'},  {0xE1, 0xDF}, {0xB0, 0xB0}, {0x81, 0xFC}, {0xAE, 0xAA},
                                               {0xAF, 0xBB}, {0x80, 0x80}, {0xFD, 'r'},  {0xC5, 0xC5}, {0xA6, 'Z'}};
  for (const auto& [in, out] : table) EXPECT_EQ(PlainChar(in), out) << int(in);
}

}  // namespace
