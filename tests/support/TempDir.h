#pragma once
// A fresh folder under /tmp for one test, removed with everything in it when
// the object goes: the one temporary folder of all tests.

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

class TempDir {
 public:
  // /tmp/tarvion-<purpose>-XXXXXX; throws when it cannot be made.
  explicit TempDir(const std::string& purpose) {
    std::string pattern = "/tmp/tarvion-" + purpose + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make the folder " + pattern + ": " + std::strerror(errno));
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!kept_) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Leaves the folder for a look, renamed to its name followed by `suffix`;
  // that name.
  std::filesystem::path Keep(const std::string& suffix) {
    const std::filesystem::path kept = path_.string() + suffix;
    std::filesystem::rename(path_, kept);
    kept_ = true;
    return kept;
  }

 private:
  std::filesystem::path path_;
  bool kept_ = false;
};
