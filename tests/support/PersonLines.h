#pragma once
// Person lines as the other program writes them into a request, and the
// answer lines a terminal's read-back decodes them into (with the default
// coding: credit on, no DT bytes).

#include <cstdio>
#include <string>

// A 'Q' or 'R' line for person `number`; a long one carries days 15-28.
inline std::string PersonLine(char letter, int number, bool longLine) {
  char head[16];
  std::snprintf(head, sizeof head, "%c%04d", letter, number);
  std::string line = std::string(head) + "ABCDwxyzF" + "01A2B3C4D01A2B" + "01A*01A*01A*01" + "2B*012B*012B*0";
  if (longLine) line += std::string("D4C3B2A10D4C3B") + "A10*A10*A10*A1" + "012B*012B*012B";
  return line + "NOVAK JAN     " + (letter == 'Q' ? "K+00150" : "");
}

// The decoded answer line of such a person, with CR LF.
inline std::string AnswerLine(char letter, int number, bool longLine) {
  const std::string line = PersonLine(letter, number, longLine);
  return line.substr(0, 5) + "41424344F" + line.substr(14, longLine ? 84 : 42) + "\r\n";
}
