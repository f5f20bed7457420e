#pragma once
// Reading the sections "Konfigurace" and "Porty" of an INI file: the one
// reader that the program and its tools share (Qt's INI syntax, QtCore only).

#include <QString>

#include <array>
#include <optional>
#include <string>

#include "config/Config.h"

// The four keys as text; a missing file or key reads as missing.
IniValues ReadIniValues(const QString& iniPath);

// Section "Porty": the device of each COM port (COM1 ... COM8) as the file
// holds it, as bytes of a file name; nullopt for a missing key.
using PortValues = std::array<std::optional<std::string>, kPortCount>;
PortValues ReadPortValues(const QString& iniPath);
