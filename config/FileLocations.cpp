#include "config/FileLocations.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char kUserIniName[] = "tarvion/tarvion.ini";

bool SameDirectory(const fs::path& a, const fs::path& b) {
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(a, ea);
  const fs::path cb = fs::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

bool InstalledExecutable(const IniSearch& search) {
  return !search.InstallBinDir.empty() && SameDirectory(fs::path(search.Executable).parent_path(), search.InstallBinDir);
}

// $XDG_CONFIG_HOME/tarvion/tarvion.ini, or under ~/.config; a relative
// $XDG_CONFIG_HOME is ignored, as the base-directory rules say. Empty when
// there is no home either.
std::string UserIniFile(const IniSearch& search) {
  fs::path base;
  if (fs::path(search.ConfigHome).is_absolute()) {
    base = search.ConfigHome;
  } else if (!search.Home.empty()) {
    base = fs::path(search.Home) / ".config";
  } else {
    return "";
  }
  return (base / kUserIniName).string();
}

bool Exists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

}  // namespace

const char* InstallBinDir() { return TARVION_INSTALL_BINDIR; }

const char* SiteIniFile() { return TARVION_SITE_INI; }

IniLocation IniLocationAt(const std::string& path) { return IniLocation{path, path, ""}; }

std::string IniPathBesideExecutable(const std::string& executable) {
  return fs::path(executable).replace_extension(".ini").string();
}

IniLocation FindIniLocation(const IniSearch& search) {
  if (!search.ConfigOption.empty()) return IniLocationAt(search.ConfigOption);
  if (!InstalledExecutable(search)) return IniLocationAt(IniPathBesideExecutable(search.Executable));
  const std::string user = UserIniFile(search);
  if (user.empty()) return IniLocationAt(search.SiteFile);
  return IniLocation{Exists(user) ? user : search.SiteFile, user, search.SiteFile};
}

bool PrepareIniSave(const IniLocation& location) {
  if (Exists(location.Save)) return true;
  std::error_code failure;
  const fs::path folder = fs::path(location.Save).parent_path();
  if (!folder.empty() && !fs::create_directories(folder, failure) && failure) return false;
  if (location.Seed.empty() || !Exists(location.Seed)) return true;
  return fs::copy_file(location.Seed, location.Save, failure);
}

std::string ExpandHome(const std::string& path, const std::string& home) {
  if (home.empty() || (path != "~" && !path.starts_with("~/"))) return path;
  return home + path.substr(1);
}

bool EnterStartDirectory(const std::string& directory, std::string& error) {
  std::error_code failure;
  if (!fs::create_directories(directory, failure) && failure) {
    error = "cannot make the start directory " + directory + ": " + failure.message();
    return false;
  }
  fs::current_path(directory, failure);
  if (failure) {
    error = "cannot change into the start directory " + directory + ": " + failure.message();
    return false;
  }
  return true;
}
