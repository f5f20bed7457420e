#include "tools/tarvion-request/RequestClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/Config.h"
#include "config/Options.h"
#include "link/FileReplace.h"
#include "link/StartFiles.h"
#include "requests/RequestClientRules.h"
#include "requests/RequestFile.h"
#include "requests/RequestLine.h"
#include "requests/RequestTakeIn.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRetryName = std::chrono::milliseconds(250);

// The renames and removals in one folder, in the order they happened.
class DirectoryWatch {
 public:
  struct Event {
    uint32_t Mask = 0;
    uint32_t Cookie = 0;
    std::string Name;
  };

  explicit DirectoryWatch(const std::string& directory)
      : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
        watching_(fd_ >= 0 &&
                  inotify_add_watch(fd_, directory.c_str(), IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE) >= 0) {}
  ~DirectoryWatch() {
    if (fd_ >= 0) close(fd_);
  }
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  bool Watching() const { return watching_; }

  // The next event, waiting until `until` at the latest.
  std::optional<Event> Next(Clock::time_point until) {
    while (queue_.empty()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0) return std::nullopt;
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left) + 1) > 0) Collect();
    }
    Event event = queue_.front();
    queue_.erase(queue_.begin());
    return event;
  }

  // Forgets the events up to the rename away from `name`, that one included
  // (all of them when it is not among them).
  void DropThroughRenameOf(const std::string& name) {
    Collect();
    const auto renamed = std::find_if(queue_.begin(), queue_.end(), [&name](const Event& event) {
      return (event.Mask & IN_MOVED_FROM) && event.Name == name;
    });
    queue_.erase(queue_.begin(), renamed == queue_.end() ? renamed : renamed + 1);
  }

  // True when `name` changed again after the event last taken: every change
  // made up to this call is among the events by then.
  bool ChangedSince(const std::string& name) {
    Collect();
    return std::any_of(queue_.begin(), queue_.end(), [&name](const Event& event) { return event.Name == name; });
  }

 private:
  void Collect() {
    alignas(inotify_event) char buffer[8192];
    for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        const auto* raw = reinterpret_cast<const inotify_event*>(buffer + at);
        queue_.push_back({raw->mask, raw->cookie, raw->len > 0 ? std::string(raw->name) : std::string()});
        at += static_cast<ssize_t>(sizeof(inotify_event) + raw->len);
      }
    }
  }

  int fd_;
  bool watching_;
  std::vector<Event> queue_;
};

// The file that the event just taken brought under `name`: its content, or
// nullopt when the name changed again before the file was opened (a later
// file, of this job or of the next one, or none stands there now). Tarvion
// replaces a file by renaming a new one over it, so the file once opened
// keeps the content it came with.
std::optional<std::string> ContentAsOfEvent(DirectoryWatch& watch, const std::string& directory,
                                            const std::string& name) {
  const int fd = open((directory + "/" + name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  std::optional<std::string> content;
  if (fd >= 0 && !watch.ChangedSince(name)) {
    content.emplace();
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) content->append(buffer, static_cast<size_t>(n));
  }
  if (fd >= 0) close(fd);
  return content;
}

ReadPair PairOf(const std::optional<std::string>& content) {
  StatusPair pair;
  if (!content || std::sscanf(content->c_str(), "%d,%d", &pair.First, &pair.Second) != 2) return std::nullopt;
  return pair;
}

// An event as the rules take it; nullopt for one they do not know.
std::optional<DirectoryChange> ChangeOf(const DirectoryWatch::Event& event) {
  DirectoryChange change;
  change.Name = event.Name;
  if (event.Mask & IN_MOVED_FROM) {
    change.Kind = ChangeKind::MovedFrom;
  } else if (event.Mask & IN_MOVED_TO) {
    change.Kind = ChangeKind::MovedTo;
  } else if (event.Mask & IN_DELETE) {
    change.Kind = ChangeKind::Removed;
  } else {
    return std::nullopt;
  }
  return change;
}

// The change an event makes, with what a status or output file of the job
// brought read at once: by the time the job ends, a later job may have
// replaced both.
std::optional<DirectoryChange> ReadChange(const DirectoryWatch::Event& event, const RequestClientRules& rules,
                                          DirectoryWatch& watch, const std::string& directory,
                                          const StartFiles& files, std::optional<std::string>& output) {
  auto change = ChangeOf(event);
  if (!change || change->Kind != ChangeKind::MovedTo || rules.Stage() != JobStage::TakenIn) return change;
  if (change->Name == kStatusFileName) change->Pair = PairOf(ContentAsOfEvent(watch, directory, kStatusFileName));
  if (change->Name == files.Output) output = ContentAsOfEvent(watch, directory, files.Output);
  return change;
}

// What the client reports once the rules say the wait is over; `output` is
// the job's output file as it came, nullopt when it was replaced unread.
std::optional<JobOutcome> Outcome(const RequestClientRules& rules, const std::optional<std::string>& output,
                                  const StartFiles& files, int& failure, std::string& error) {
  if (rules.Stage() == JobStage::NotRun) {
    failure = kRefused;
    error = "Tarvion found the request still being written and kept it as " + HalfWrittenPath(files.Request) +
            "; nothing was sent";
    return std::nullopt;
  }
  if (!rules.PairRead()) {
    failure = kPairUnknown;
    error = "the job ended, but a later status replaced its final one in " + std::string(kStatusFileName) +
            " before it could be read (tarvion-request ran late): its pair and output are not known";
    return std::nullopt;
  }
  JobOutcome outcome{rules.Pair().First, rules.Pair().Second, {}, {}};
  if (rules.Stage() == JobStage::Unfinished) {
    outcome.Note = "the job did not finish (Tarvion was stopped or killed in the middle of it, or could not write "
                   "its final status; its error log says which); the request is kept as " +
                   InterruptedPath(files.Request);
    return outcome;
  }
  if (outcome.First < 0) return outcome;  // refused: no output of its own
  if (rules.OutputLost()) {
    outcome.Note = "Tarvion could not write the output file " + files.Output +
                   " (its error log says why): the job's output is lost";
  } else if (!output) {
    outcome.Note = "a later job replaced the output file " + files.Output +
                   " before it could be read (tarvion-request ran late): the job's output is not known";
  } else {
    outcome.Output = SplitLines(*output);
  }
  return outcome;
}

// Renames the written request into place once the name is free.
bool Drop(const std::string& temporary, const std::string& request, DirectoryWatch& watch, Clock::time_point deadline,
          int& failure, std::string& error) {
  while (!RenameNoReplace(temporary, request)) {
    if (errno != EEXIST) {
      error = request + ": " + std::strerror(errno);
      return false;
    }
    if (Clock::now() >= deadline) {
      failure = kTimedOut;
      error = "an earlier request still waits in " + request + "; nothing was handed in";
      return false;
    }
    watch.Next(std::min(deadline, Clock::now() + kRetryName));  // any change may have freed the name
  }
  return true;
}

}  // namespace

std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& arguments, std::string& error) {
  ClientOptions options;
  const auto text = [](std::string& field) {
    return [&field](const std::string& value) {
      field = value;
      return std::string();
    };
  };
  const auto help = [&options](const std::string&) {
    options.Help = true;
    return std::string();
  };
  const OptionRule rules[] = {
      {"--help", {}, help, true},
      {"-h", {}, help, true},
      {"--dir", "DIR", text(options.Directory)},
      {"--ini", "FILE", text(options.IniPath)},
      {"--term", "N",
       [&options](const std::string& value) {
         const auto terminal = IntegerWithin(value, 1, kTerminalCount);
         if (!terminal) {
           return "--term: a terminal number from 1 to " + std::to_string(kTerminalCount) + ", not '" + value + "'";
         }
         options.Terminal = *terminal;
         return std::string();
       }},
      {"--timeout", "S",
       [&options](const std::string& value) {
         const auto seconds = IntegerWithin(value, 1, 7 * 24 * 3600);
         if (!seconds) return "--timeout: whole seconds from 1 on, not '" + value + "'";
         options.Timeout = std::chrono::seconds(*seconds);
         return std::string();
       }},
  };
  const ParsedOptions parsed = ParseOptions(arguments, rules);
  error = parsed.Error;
  if (!error.empty()) return std::nullopt;
  if (options.Help) return options;
  if (parsed.Operands.size() > 1) {
    error = "one request file only, not also " + parsed.Operands[1];
    return std::nullopt;
  }
  if (!parsed.Operands.empty()) options.Input = parsed.Operands.front();
  return options;
}

std::string ClientUsage() {
  return "Usage: tarvion-request [--dir DIR] [--term N] [--timeout S] [--ini FILE] [FILE|-]\n"
         "\n"
         "Hands the request lines of FILE (or of standard input) to the Tarvion\n"
         "running in the start directory DIR, waits for the job's final status,\n"
         "prints the lines of the output file on standard output and the status\n"
         "pair on standard error, after a line that says so when the job did not\n"
         "finish or Tarvion could not write the output file.\n"
         "\n"
         "  --dir DIR      Tarvion's start directory (default: the current one)\n"
         "  --term N       put the line TERMN first: the job goes to terminal N (1-4)\n"
         "  --timeout S    give up after S seconds, the wait for an earlier request\n"
         "                 included (default 3600)\n"
         "  --ini FILE     the request and output file names from Tarvion's INI\n"
         "                 file (default request.cfg and output.txt)\n"
         "  --help         this text\n"
         "\n"
         "The request is written under a hidden name in DIR and renamed to the\n"
         "request file's name; it never replaces a request already waiting there,\n"
         "it waits its turn instead.\n"
         "\n"
         "Exit status:\n"
         "  0  every command of the request was acknowledged\n"
         "  1  some were not\n"
         "  2  the request was refused: -1,0 (the TERM line names no available\n"
         "     terminal) or -1,-1 (empty or too large, no terminal, or the job was\n"
         "     interrupted); or it was set aside as still being written, unrun\n"
         "  3  time-out: no final status in time (a request handed in stays and\n"
         "     runs later)\n"
         "  4  bad arguments, unreadable input, or DIR cannot be used\n"
         "  5  the job ended, but a later status replaced its final one before\n"
         "     it could be read (this program ran late): its pair is not known\n";
}

int CommandCount(const std::vector<std::string>& lines) {
  int count = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == 0 && TerminalLineNumber(lines[i])) continue;
    switch (ClassifyLine(lines[i])) {
      case LineKind::Empty: break;
      case LineKind::Long: count += 2; break;
      case LineKind::Single:
      case LineKind::Refused: ++count; break;
    }
  }
  return count;
}

int ExitStatusFor(const JobOutcome& outcome, int commands) {
  if (outcome.First < 0) return kRefused;
  return outcome.First == commands ? kAllAcknowledged : kSomeNotAcknowledged;
}

std::optional<JobOutcome> HandInRequest(const std::string& directory, const StartFiles& files, const std::string& bytes,
                                     Clock::time_point deadline, int& failure, std::string& error) {
  failure = kCannotRun;
  DirectoryWatch watch(directory);
  if (!watch.Watching()) {
    error = directory + ": cannot watch the directory: " + std::strerror(errno);
    return std::nullopt;
  }
  const std::string request = directory + "/" + files.Request;
  const std::string temporaryName = ".tarvion-request." + std::to_string(getpid()) + ".tmp";
  const std::string temporary = directory + "/" + temporaryName;
  if (!ReplaceFile(temporary, bytes)) {
    error = temporary + ": cannot be written: " + std::strerror(errno);
    return std::nullopt;
  }
  if (!Drop(temporary, request, watch, deadline, failure, error)) {
    unlink(temporary.c_str());
    return std::nullopt;
  }
  // Everything up to our own rename belongs to earlier requests; what the
  // program does with ours comes after it, however late this line runs.
  watch.DropThroughRenameOf(temporaryName);

  RequestClientRules rules(files.Request, files.Output);
  std::optional<std::string> output;
  while (const auto event = watch.Next(deadline)) {
    if (event->Mask & IN_Q_OVERFLOW) {
      error = "too many changes in " + directory + " to follow the job";
      return std::nullopt;
    }
    const auto change = ReadChange(*event, rules, watch, directory, files, output);
    if (!change) continue;
    rules.Seen(*change);
    if (rules.Ended()) return Outcome(rules, output, files, failure, error);
  }
  failure = kTimedOut;
  error = rules.Stage() == JobStage::TakenIn ? "the job did not finish in time; it goes on in Tarvion"
                                             : "Tarvion did not take the request in; it still waits in " + request;
  return std::nullopt;
}
