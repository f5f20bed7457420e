#include "link/WireTrace.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "link/WireCapture.h"
#include "link/WireTraceFormat.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration_cast;
using std::chrono::microseconds;

constexpr auto kWritePeriod = std::chrono::milliseconds(100);
// What memory may hold while the writer is behind; further events are counted
// as lost rather than let the program grow.
constexpr size_t kMostPendingBytes = size_t{64} << 20;
// The writer is the least urgent thread of the process.
constexpr int kWriterNice = 19;

int64_t MicrosecondsOf(std::chrono::system_clock::time_point t) {
  return duration_cast<microseconds>(t.time_since_epoch()).count();
}

// A file of the recording: lines or packets appended; one that would take
// the file past its limit first moves it to FILE.1 and starts a new one.
// `start` is written first in each file and at each opening (a capture's
// section header); the trace's is empty.
class TraceFile {
 public:
  TraceFile() = default;
  ~TraceFile() { Close(); }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  bool Open(const std::string& path, uint64_t limit, const std::string& start, const char* what,
            std::string& error) {
    path_ = path;
    limit_ = limit;
    start_ = start;
    file_ = std::fopen(path.c_str(), "ab");
    if (file_ == nullptr) {
      error = std::string("the ") + what + " file " + path + " cannot be opened: " + std::strerror(errno);
      return false;
    }
    std::fseek(file_, 0, SEEK_END);
    const long size = std::ftell(file_);
    size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    buffer_ = start_;
    // A file already full moves aside before it gets another section start.
    if (size_ > 0 && size_ + start_.size() > limit_) Rotate();
    return true;
  }

  void Add(const std::string& piece) {
    const uint64_t held = size_ + buffer_.size();
    if (held > start_.size() && held + piece.size() > limit_) {
      Flush();
      Rotate();
    }
    buffer_ += piece;
  }

  void Flush() {
    if (file_ != nullptr && !buffer_.empty()) {
      std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
      std::fflush(file_);
    }
    size_ += buffer_.size();
    buffer_.clear();
  }

  void Close() {
    Flush();
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
  }

 private:
  void Rotate() {
    if (file_ != nullptr) std::fclose(file_);
    // When the old file cannot be moved aside, it is started anew: the
    // recording stays bounded either way.
    const bool moved = std::rename(path_.c_str(), (path_ + ".1").c_str()) == 0;
    file_ = std::fopen(path_.c_str(), moved ? "ab" : "wb");
    size_ = 0;
    buffer_ = start_;
  }

  std::string path_;
  uint64_t limit_ = kTraceRotateBytes;
  std::string start_;
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
  std::string buffer_;
};

// One file of the recording and what makes its contents from the records.
struct Output {
  TraceFile File;
  std::unique_ptr<TraceOutput> Writer;
};

// Opens the file of one output and adds it with its `Writer`.
template <typename Writer>
bool AddOutput(std::vector<std::unique_ptr<Output>>& outputs, const std::string& path, uint64_t limit,
               const std::string& start, const char* what, std::string& error) {
  auto output = std::make_unique<Output>();
  if (!output->File.Open(path, limit, start, what, error)) return false;
  TraceFile* file = &output->File;
  output->Writer = std::make_unique<Writer>([file](const std::string& piece) { file->Add(piece); });
  outputs.push_back(std::move(output));
  return true;
}

// The outputs of `files`, opened; none with `error` set when one cannot be.
std::vector<std::unique_ptr<Output>> OpenOutputs(const WireTraceFiles& files, std::string& error) {
  std::vector<std::unique_ptr<Output>> outputs;
  const bool opened =
      (files.Trace.empty() ||
       AddOutput<TraceFormatter>(outputs, files.Trace, files.RotateBytes, "", "trace", error)) &&
      (files.Capture.empty() || AddOutput<CaptureFormatter>(outputs, files.Capture, files.RotateBytes,
                                                            CaptureSectionStart(files.Application), "capture", error));
  if (!opened) outputs.clear();
  return outputs;
}

class Recorder {
 public:
  ~Recorder() { Stop(); }

  bool Start(const WireTraceFiles& files, std::string& error) {
    Stop();
    if (files.Trace.empty() && files.Capture.empty()) return true;
    outputs_ = OpenOutputs(files, error);
    if (outputs_.empty()) return false;
    {
      std::lock_guard lock(mutex_);
      start_ = Clock::now();
      startWallUs_ = MicrosecondsOf(std::chrono::system_clock::now());
      pending_.clear();
      lost_ = 0;
      stopping_ = false;
      running_ = true;
    }
    writer_ = std::thread(&Recorder::Run, this);
    wire_trace::Active.store(true);
    return true;
  }

  void Stop() {
    if (!writer_.joinable()) return;
    wire_trace::Active.store(false);
    {
      std::lock_guard lock(mutex_);
      running_ = false;
      stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    for (auto& output : outputs_) output->File.Close();
    outputs_.clear();
  }

  // `head` carries everything but SinceUs, which comes from `happened`.
  void Record(TraceEventHead head, Clock::time_point happened, const uint8_t* bytes) {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    if (pending_.size() + sizeof head + head.Count > kMostPendingBytes) {
      ++lost_;
      return;
    }
    head.SinceUs = duration_cast<microseconds>(happened - start_).count();
    const size_t at = pending_.size();
    pending_.resize(at + sizeof head + head.Count);
    std::memcpy(pending_.data() + at, &head, sizeof head);
    if (head.Count > 0) std::memcpy(pending_.data() + at + sizeof head, bytes, head.Count);
  }

 private:
  TraceStamp Now() const {
    return {MicrosecondsOf(std::chrono::system_clock::now()), duration_cast<microseconds>(Clock::now() - start_).count()};
  }

  void Run() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWriterNice);
    for (auto& output : outputs_) output->Writer->Note({startWallUs_, 0}, "trace started");
    std::vector<uint8_t> taken;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait_for(lock, kWritePeriod, [this] { return stopping_; });
      const bool last = stopping_;
      taken.swap(pending_);
      const size_t lost = std::exchange(lost_, 0);
      lock.unlock();
      WriteOut(taken, lost, last);
      taken.clear();
      if (last) return;
      lock.lock();
    }
  }

  void WriteOut(const std::vector<uint8_t>& records, size_t lost, bool last) {
    for (size_t at = 0; at + sizeof(TraceEventHead) <= records.size();) {
      TraceEventHead head;
      std::memcpy(&head, records.data() + at, sizeof head);
      for (auto& output : outputs_) output->Writer->Add(head, records.data() + at + sizeof head);
      at += sizeof head + head.Count;
    }
    const TraceStamp now = Now();
    for (auto& output : outputs_) {
      TraceOutput& writer = *output->Writer;
      writer.EndGroup(now.SinceUs, last);
      if (lost > 0) writer.Note(now, std::to_string(lost) + " events lost: the trace writer fell behind");
      if (last) writer.Note(now, "trace ended");
      output->File.Flush();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<uint8_t> pending_;
  size_t lost_ = 0;
  bool running_ = false;
  bool stopping_ = false;
  Clock::time_point start_;
  int64_t startWallUs_ = 0;
  std::thread writer_;
  // The writer thread's own while it runs.
  std::vector<std::unique_ptr<Output>> outputs_;
};

Recorder& TheRecorder() {
  static Recorder recorder;
  return recorder;
}

}  // namespace

namespace wire_trace {

std::atomic<bool> Active{false};

void Record(TraceKind kind, int portIndex, uint32_t arg, uint8_t detail, const uint8_t* bytes, size_t count) {
  // The clocks are read first: the time is when the event happened, not when
  // the lock was free.
  const Clock::time_point happened = Clock::now();
  const int64_t wallUs = MicrosecondsOf(std::chrono::system_clock::now());
  const TraceEventHead head{wallUs, 0, arg, static_cast<uint32_t>(count), kind, detail, static_cast<int16_t>(portIndex)};
  TheRecorder().Record(head, happened, bytes);
}

}  // namespace wire_trace

void RecordPortOpen(int portIndex, const std::string& path, int baud, bool opened, bool reopen, bool modemLines) {
  const uint8_t detail = static_cast<uint8_t>((opened ? kTraceOpened : 0) | (reopen ? kTraceReopen : 0) |
                                              (modemLines ? 0 : kTraceNoModemLines));
  wire_trace::Record(TraceKind::PortOpen, portIndex, static_cast<uint32_t>(baud), detail,
                     reinterpret_cast<const uint8_t*>(path.data()), path.size());
}

bool StartWireTrace(const WireTraceFiles& files, std::string& error) { return TheRecorder().Start(files, error); }

bool StartWireTrace(const std::string& path, std::string& error, uint64_t rotateBytes) {
  return StartWireTrace(WireTraceFiles{path, "", "", rotateBytes}, error);
}

void StopWireTrace() { TheRecorder().Stop(); }
