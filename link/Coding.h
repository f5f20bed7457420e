#pragma once
// Command encoding: turns a textual request line into the payload of a command
// frame. A line whose command (link/Commands.h) has a packed payload, a
// person record or the values, becomes a compact binary payload; every other
// line goes out as its text. The inverse of the meal packing (MealChar,
// DecodeMealByte) is used by the answer decoder.
// Pure code: what it depends on comes in as CodingSettings, what it refuses
// goes out in its results; nothing is logged here.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "link/Settings.h"

// Size of the zero-filled work buffer a request line is copied into before
// encoding; a line handed to the encoder is at most kWorkBufferSize - 1 bytes.
constexpr int kWorkBufferSize = 200;

// A breakfast or dinner count of 0 makes the meal packing impossible. The
// message is UTF-8 text (Czech); it goes to the error log in code page 1250.
class EDivByZero : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the coding of person records depends on.
struct CodingSettings {
  int BreakfastCount = 4;  // radix of the breakfast digit of a day byte
  int DinnerCount = 6;     // radix of the dinner digit
  bool MealCoding = true;  // the code alphabet without a separate value for 'N'
  bool CreditOn = true;    // 'Q' lines carry a credit
  bool UseDT = false;      // an answer's person records carry five DT bytes (29 bytes)
};
// The coding part of the link settings.
CodingSettings CodingSettingsOf(const LinkSettings& settings);

// A breakfast or dinner code that its count does not take: the day byte keeps
// that digit as it was.
enum class RejectedMeal : uint8_t { Breakfast, Dinner };
// Its error-log line: "Spatne kodovani snidani", "Spatne kodovani veceri".
const char* RejectedMealMessage(RejectedMeal meal);

// Parses one zero-terminated field (at most 10 bytes with the terminator; it
// may be shortened in place): trailing blanks removed, base 16 when the second
// character is 'x' or 'X', else 10, strtol rules, saturating at the 32-bit
// limits. True when the whole trimmed field was a number (an empty field is 0).
// On failure `value` is left untouched.
bool ParseWord(char* field, uint16_t& value);
bool ParseLong(char* field, int32_t& value);

// Code page 852 byte to the byte sent to the terminal: ASCII unchanged,
// accented letters to their base letters.
unsigned char PlainChar(unsigned char c);

// Puts the code of `ch` into digit `pass` (0 main meal, 1 breakfast, 2 dinner)
// of a day byte. Throws EDivByZero when a count is 0. nullopt for a breakfast
// or dinner code that is not below its count: the byte stays as it was.
std::optional<unsigned char> EncodeMeal(unsigned char current, char ch, int pass, const CodingSettings& settings);

// The code alphabet read backwards; a code above the alphabet gives '0'.
char MealChar(int code, const CodingSettings& settings);

// The three characters (main meal, breakfast, dinner) packed in a day byte.
// Throws EDivByZero when a count is 0.
std::array<char, 3> DecodeMealByte(unsigned char dayByte, const CodingSettings& settings);

struct EncodedCommand {
  int Length = 0;                      // the payload's length
  std::vector<RejectedMeal> Rejected;  // the codes refused, breakfasts then dinners, by day
};

// Encodes the request line in `line` (a buffer of kWorkBufferSize bytes, zero
// after the text) in place. For a converted letter the payload and one zero
// byte overwrite the start of the buffer (at most 44 bytes); any other line
// is left as it is and its text length is the length. The caller logs each
// rejected code and then the line. Throws EDivByZero (before anything is
// sent) when a count is 0.
EncodedCommand EncodeCommand(char* line, const CodingSettings& settings);
