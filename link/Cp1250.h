#pragma once
// Code page 1250, the Czech Windows code page of the program's files and of the
// other program's texts. Bytes stay bytes everywhere; these two conversions are
// for writing a Czech message into a file and for showing bytes on screen.

#include <string>
#include <string_view>

// UTF-8 text to code page 1250 bytes; a character the code page lacks becomes '?'.
std::string Cp1250FromUtf8(std::string_view utf8);

// Code page 1250 bytes to UTF-8; the five bytes the code page leaves undefined
// become U+FFFD.
std::string Utf8FromCp1250(std::string_view bytes);
