#include "tools/orveta-sim/SimLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kMaxKeptChars = 16 * 1024 * 1024;
// What may wait for the file before further lines are counted as lost.
constexpr std::size_t kMaxUnwrittenChars = 16 * 1024 * 1024;

}  // namespace

std::string HexBytes(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char byte : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
  }
  return out;
}

std::string_view SimLogEntry(std::string_view line) {
  if (line.empty() || line[0] < '0' || line[0] > '9') return line;
  auto blank = line.find(' ');
  return blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
}

SimLog::~SimLog() { StopWriter(); }

bool SimLog::OpenFile(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) {
    error = "cannot open the log file " + path + ": " + std::strerror(errno);
    return false;
  }
  StopWriter();
  std::lock_guard lock(mutex_);
  file_ = file;
  stopping_ = false;
  writer_ = std::thread(&SimLog::WriteFile, this);
  return true;
}

// Writes what was added, as it comes, until stopped; then the rest.
void SimLog::WriteFile() {
  std::string taken;
  std::unique_lock lock(mutex_);
  for (;;) {
    toWrite_.wait(lock, [this] { return stopping_ || !unwritten_.empty() || unwrittenLost_ > 0; });
    taken.swap(unwritten_);
    if (unwrittenLost_ > 0) {
      taken += std::to_string(std::exchange(unwrittenLost_, 0)) + " log lines lost: the log file fell behind\n";
    }
    const bool last = stopping_;
    lock.unlock();
    std::fputs(taken.c_str(), file_);
    std::fflush(file_);
    taken.clear();
    lock.lock();
    if (last && unwritten_.empty()) return;
  }
}

void SimLog::StopWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  toWrite_.notify_one();
  if (writer_.joinable()) writer_.join();
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void SimLog::Add(SimTime at, std::string_view dir, std::string_view bytes) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - start_).count();
  std::string line = std::to_string(ms) + " " + std::string(dir);
  if (!bytes.empty()) line += " " + HexBytes(bytes);
  Append(std::move(line));
}

void SimLog::AddReaction(std::chrono::microseconds reaction) {
  Append("reaction " + std::to_string(reaction.count()));
}

void SimLog::Append(std::string line) {
  {
    std::lock_guard lock(mutex_);
    if (file_ && unwritten_.size() + line.size() < kMaxUnwrittenChars) {
      unwritten_ += line;
      unwritten_ += '\n';
    } else if (file_) {
      ++unwrittenLost_;
    }
    keptChars_ += line.size();
    lines_.push_back(std::move(line));
    while (keptChars_ > kMaxKeptChars && lines_.size() > 1) {
      keptChars_ -= lines_.front().size();
      lines_.pop_front();
      ++dropped_;
    }
  }
  changed_.notify_all();
  toWrite_.notify_one();
}

std::vector<std::string> SimLog::Lines() const {
  std::lock_guard lock(mutex_);
  return {lines_.begin(), lines_.end()};
}

std::size_t SimLog::Count() const {
  std::lock_guard lock(mutex_);
  return dropped_ + lines_.size();
}

long SimLog::WaitFor(std::string_view entry, std::chrono::milliseconds timeout, std::size_t from) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  std::size_t next = from;
  for (;;) {
    for (std::size_t i = std::max(next, dropped_); i < dropped_ + lines_.size(); ++i) {
      if (SimLogEntry(lines_[i - dropped_]).substr(0, entry.size()) == entry) return static_cast<long>(i);
    }
    std::size_t seen = dropped_ + lines_.size();
    next = std::max(next, seen);
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && seen == dropped_ + lines_.size()) {
      return -1;
    }
  }
}
