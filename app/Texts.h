#pragma once
// The program's bytes (code page 1250: request and answer lines, names in the
// configuration, the error log) and the text of the controls, one function
// for each direction. Texts that request processing hands over for the screen
// are UTF-8 already and go straight into QString::fromStdString.

#include <QString>
#include <string>
#include <string_view>

#include "link/Cp1250.h"

// Code page 1250 bytes as they are shown.
inline QString ShownText(std::string_view cp1250) { return QString::fromStdString(Utf8FromCp1250(cp1250)); }

// What a control shows, as code page 1250 bytes.
inline std::string Cp1250Of(const QString& text) { return Cp1250FromUtf8(text.toStdString()); }
