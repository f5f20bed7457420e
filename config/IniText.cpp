#include "config/IniText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

// One line of the text, without its line end, and that line end.
struct Line {
  std::string Text;
  std::string End;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    const size_t newline = text.find('\n');
    std::string_view body = text.substr(0, newline);
    std::string end = newline == std::string_view::npos ? "" : "\n";
    if (!body.empty() && body.back() == '\r' && !end.empty()) {
      body.remove_suffix(1);
      end = "\r\n";
    }
    lines.push_back({std::string(body), end});
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
  }
  return lines;
}

// The section a heading line opens; nullopt for any other line.
std::optional<std::string_view> HeadingOf(std::string_view line) {
  const std::string_view trimmed = Trimmed(line);
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  const size_t close = trimmed.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trimmed.substr(1, close - 1);
}

// The key of a "key=value" line; nullopt for comments and lines without '='.
std::optional<std::string_view> KeyOf(std::string_view line) {
  const std::string_view trimmed = Trimmed(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  const size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return Trimmed(trimmed.substr(0, equals));
}

// What follows a value on its line: blanks and a comment, or nothing.
std::string_view TrailingComment(std::string_view line) {
  bool quoted = false;
  for (size_t i = line.find('=') + 1; i < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ';' && !quoted) {
      const size_t blanks = line.find_last_not_of(kBlanks, i - 1);
      return line.substr(blanks == std::string_view::npos ? i : blanks + 1);
    }
  }
  return {};
}

// The section each line belongs to ("" before the first heading).
std::vector<std::string> SectionOfEachLine(const std::vector<Line>& lines) {
  std::vector<std::string> sections;
  std::string current;
  for (const Line& line : lines) {
    if (const auto heading = HeadingOf(line.Text)) current = *heading;
    sections.push_back(current);
  }
  return sections;
}

bool SetExistingKey(std::vector<Line>& lines, const std::vector<std::string>& sections, const IniSetting& setting) {
  bool found = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (sections[i] != setting.Section || KeyOf(lines[i].Text) != std::string_view(setting.Key)) continue;
    lines[i].Text = setting.Key + "=" + IniValueText(setting.Value) + std::string(TrailingComment(lines[i].Text));
    found = true;
  }
  return found;
}

// Where a new key of `section` goes: after the last key line of its first
// block, or right after its heading; nullopt when the text has no such section.
std::optional<size_t> PlaceForNewKey(const std::vector<Line>& lines, const std::string& section) {
  size_t i = 0;
  while (i < lines.size() && HeadingOf(lines[i].Text) != std::string_view(section)) ++i;
  if (i == lines.size()) return std::nullopt;
  size_t place = i + 1;
  for (size_t j = i + 1; j < lines.size() && !HeadingOf(lines[j].Text); ++j) {
    if (KeyOf(lines[j].Text)) place = j + 1;
  }
  return place;
}

void AddKey(std::vector<Line>& lines, const IniSetting& setting, const std::string& end) {
  const Line added{setting.Key + "=" + IniValueText(setting.Value), end};
  if (const auto place = PlaceForNewKey(lines, setting.Section)) {
    if (lines[*place - 1].End.empty()) lines[*place - 1].End = end;
    lines.insert(lines.begin() + static_cast<long>(*place), added);
    return;
  }
  if (!lines.empty()) {
    if (lines.back().End.empty()) lines.back().End = end;
    if (!Trimmed(lines.back().Text).empty()) lines.push_back({"", end});
  }
  lines.push_back({"[" + setting.Section + "]", end});
  lines.push_back(added);
}

std::string SystemReason() { return std::strerror(errno); }

bool ReadWholeFile(const fs::path& path, std::string& text, std::string& error) {
  std::error_code failure;
  if (!fs::exists(path, failure)) {
    text.clear();
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (in) text.assign(std::istreambuf_iterator<char>(in), {});
  if (!in || in.bad()) {
    error = "cannot read " + path.string() + ": " + SystemReason();
    return false;
  }
  return true;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return ::fsync(fd) == 0;
}

// Root keeps the old owner; for any other user the new file is the user's.
bool KeepOwner(int fd, const struct stat& old) { return ::fchown(fd, old.st_uid, old.st_gid) == 0; }

// The new text in a temporary file beside the existing file `path`, then
// renamed over it. False with errno set when that failed; `madeTemporary`
// says whether the folder took the temporary file at all.
bool ReplaceByRename(const fs::path& path, const struct stat& old, const std::string& text, bool& madeTemporary) {
  std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  madeTemporary = fd >= 0;
  if (fd < 0) return false;
  KeepOwner(fd, old);
  const bool written = ::fchmod(fd, old.st_mode & 07777) == 0 && WriteAll(fd, text);
  const int error = errno;
  ::close(fd);
  if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  const int renameError = written ? errno : error;
  ::unlink(temporary.c_str());
  errno = renameError;
  return false;
}

bool RewriteInPlace(const fs::path& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text);
  const int error = errno;
  ::close(fd);
  errno = error;
  return written;
}

}  // namespace

std::string SetIniValues(std::string_view text, const std::vector<IniSetting>& settings) {
  std::vector<Line> lines = SplitLines(text);
  const std::string end = !lines.empty() && lines.front().End == "\r\n" ? "\r\n" : "\n";
  for (const IniSetting& setting : settings) {
    if (!SetExistingKey(lines, SectionOfEachLine(lines), setting)) AddKey(lines, setting, end);
  }
  std::string result;
  for (const Line& line : lines) result += line.Text + line.End;
  return result;
}

std::string IniValueText(std::string_view value) {
  std::string text = !value.empty() && value.front() == '@' ? "@" : "";
  bool quote = !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                                  kBlanks.find(value.back()) != std::string_view::npos);
  for (const char c : value) {
    if (c == ';' || c == ',' || c == '=') quote = true;
    if (c == '\\' || c == '"') text += '\\';
    text += c;
  }
  return quote ? "\"" + text + "\"" : text;
}

std::vector<IniSetting> ConfigSettings(const IniValues& values) {
  std::vector<IniSetting> settings;
  for (const IniKey& key : IniKeys()) settings.push_back({kIniSection, key.Name, (values.*key.Value).value_or("")});
  return settings;
}

bool WriteIniSettings(const std::string& path, const std::vector<IniSetting>& settings, std::string& error) {
  std::error_code failure;
  fs::path target = path;
  if (fs::is_symlink(target, failure)) {
    const fs::path named = fs::canonical(target, failure);
    if (!failure) target = named;
  }
  std::string text;
  if (!ReadWholeFile(target, text, error)) return false;
  const std::string changed = SetIniValues(text, settings);
  struct stat old {};
  bool madeTemporary = false;
  if (::stat(target.c_str(), &old) == 0) {
    if (ReplaceByRename(target, old, changed, madeTemporary)) return true;
  }
  // A new file (nothing to lose), or a folder that takes no new file.
  if (!madeTemporary && RewriteInPlace(target, changed)) return true;
  error = "cannot write " + target.string() + ": " + SystemReason();
  return false;
}

bool SaveConfig(const IniLocation& ini, const StoredConfig& config, const std::vector<IniSetting>& more,
                std::string& error) {
  if (!PrepareIniSave(ini)) {
    error = "cannot make " + ini.Save + " or its folder";
    return false;
  }
  std::vector<IniSetting> settings = ConfigSettings(EncodeIni(config));
  settings.insert(settings.end(), more.begin(), more.end());
  return WriteIniSettings(ini.Save, settings, error);
}
