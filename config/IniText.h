#pragma once
// Setting keys of an INI file while keeping everything else in it: comments,
// the other sections and keys, blank lines, their order and line ends. The one
// writer of the program's INI file: "Uložit CFG" and tarvion-config both write
// through it, and what it writes reads back through the program's reader
// (IniFile.h, Qt's INI syntax) as the values given. Plain C++.
//
// The syntax as Qt reads it: "[Section]" starts a section (a section may come
// in several blocks), "key=value" with blanks around both allowed, and ';'
// starts a comment, at the start of a line or after a value.

#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"
#include "config/FileLocations.h"

struct IniSetting {
  std::string Section;
  std::string Key;
  std::string Value;  // as the reader is to give it back; no control characters

  bool operator==(const IniSetting&) const = default;
};

// `text` with each setting made: every "Key=..." line of its section, in any
// block of it, becomes "Key=Value" (a comment after the old value stays); a
// key the section lacks goes after the last key line of its first block (or
// right after its heading); a section the text lacks is added at the end. New
// lines take the line end of the text's first line.
std::string SetIniValues(std::string_view text, const std::vector<IniSetting>& settings);

// A value written so that Qt's reader gives it back unchanged: backslashes
// and double quotes escaped, the whole in double quotes when it holds ';',
// ',' or '=' or begins or ends with a blank, a leading '@' doubled.
std::string IniValueText(std::string_view value);

// The four keys of section "Konfigurace" that "Uložit CFG" writes, in its
// order; a missing value is written empty.
std::vector<IniSetting> ConfigSettings(const IniValues& values);

// Makes the settings in the file at `path` (a missing file counts as empty;
// a symbolic link is followed to the file it names). The new text goes to a
// temporary file beside it that then replaces it, with the old file's mode
// (and owner, where that may be kept); where its folder takes no new file, the
// file itself is rewritten. False with `error` (English, with the system's
// reason) when the file cannot be read or written; it is then unchanged,
// unless the rewrite in place itself failed half-way.
bool WriteIniSettings(const std::string& path, const std::vector<IniSetting>& settings, std::string& error);

// "Uložit CFG": the four keys of `config` (ConfigSettings), then `more`,
// written to ini.Save, which is made first from its seed when it does not
// exist yet (PrepareIniSave). False with `error` as WriteIniSettings gives it.
bool SaveConfig(const IniLocation& ini, const StoredConfig& config, const std::vector<IniSetting>& more,
                std::string& error);
