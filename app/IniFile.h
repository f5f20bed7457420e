#pragma once
// Reading the section "Konfigurace" of an INI file: the one reader that the
// program and its tools share (Qt's INI syntax, QtCore only).

#include <QString>

#include "app/Config.h"

// The four keys as text; a missing file or key reads as missing.
IniValues ReadIniValues(const QString& iniPath);
