#pragma once
// Where the program's own files are: the INI file it reads and saves, and
// the start directory a desktop start asks for. Plain C++.
//
// The INI file:
//   1. --config FILE: exactly FILE, read and saved.
//   2. The installed program (its directory is the install bindir, such as
//      /usr/bin): the user's $XDG_CONFIG_HOME/tarvion/tarvion.ini (default
//      ~/.config/tarvion/), read when it exists, else the site file
//      <sysconfdir>/tarvion/tarvion.ini; saved to the user's file, which is
//      first made as a copy of the site file (its [Porty] section stays).
//   3. Anywhere else (a build folder, an unpacked package, /opt/...): beside
//      the executable, its path with ".ini".

#include <string>

// The configured install bindir (such as /usr/bin) and the site file in the
// configured sysconfdir (/etc/tarvion/tarvion.ini), from the build.
const char* InstallBinDir();
const char* SiteIniFile();

struct IniLocation {
  std::string Read;  // read at start
  std::string Save;  // written by "Uložit CFG"
  std::string Seed;  // when Save does not exist yet, it starts as a copy of this; empty for none

  bool operator==(const IniLocation&) const = default;
};

// What decides the INI file.
struct IniSearch {
  std::string ConfigOption;   // --config FILE; empty without the option
  std::string Executable;     // the program's own path, links resolved
  std::string InstallBinDir;  // the configured install bindir
  std::string SiteFile;       // <sysconfdir>/tarvion/tarvion.ini
  std::string ConfigHome;     // $XDG_CONFIG_HOME; used only when absolute
  std::string Home;           // the user's home directory
};

// One file, read and saved.
IniLocation IniLocationAt(const std::string& path);
// The executable's path with its extension replaced by ".ini".
std::string IniPathBesideExecutable(const std::string& executable);
IniLocation FindIniLocation(const IniSearch& search);

// Before a save: when location.Save does not exist, its folders are made and
// the seed, when there is one, is copied to it. False when that fails.
bool PrepareIniSave(const IniLocation& location);

// A leading "~/" (or a lone "~") stands for `home`; any other path is kept.
std::string ExpandHome(const std::string& path, const std::string& home);
// Makes `directory` (with its parents) when missing and changes into it.
// False with `error` (English) when it cannot.
bool EnterStartDirectory(const std::string& directory, std::string& error);
