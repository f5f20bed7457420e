#pragma once
// The other program's side of the start directory, as a tool: a request is
// written whole under a temporary name and renamed into place without ever
// replacing a request already waiting there; then the program's renames in
// the directory are followed (inotify keeps them in order) until the
// request's final status, by the rules of requests/RequestClientRules.h:
//   - the request is taken in when its file is renamed away from the request
//     name (a file put back under that name waits to be taken in again);
//   - after that, a status with a negative first number is final, and so is
//     the first status written after the output file. An accepted TERM line
//     writes 1,0 before anything is sent; that one comes before the output.
//   - a job whose output or status file Tarvion could not write, or whose
//     taken-in file it set aside unfinished, ends the wait too, with a note.
// A status or output file is read the moment its rename is taken from the
// watch, and only when nothing replaced it since: a client that runs late
// never prints a later job's pair or lines for its own.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Exit statuses, as --help lists them.
constexpr int kAllAcknowledged = 0;
constexpr int kSomeNotAcknowledged = 1;
constexpr int kRefused = 2;
constexpr int kTimedOut = 3;
constexpr int kCannotRun = 4;
constexpr int kPairUnknown = 5;

struct ClientOptions {
  std::string Directory = ".";
  std::optional<int> Terminal;          // --term N: a TERM line goes first
  std::chrono::seconds Timeout{3600};   // the wait for the name and for the job
  std::string IniPath;                  // --ini FILE: the file names from it
  std::string Input = "-";              // FILE, or - for standard input
  bool Help = false;
};

// nullopt and `error` set when the arguments are wrong.
std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& arguments, std::string& error);
std::string ClientUsage();

// The commands the request's lines give (a TERM first line none, an empty
// line none, a long person line two, any other line one): the first status
// number when every command is acknowledged.
int CommandCount(const std::vector<std::string>& lines);

struct JobOutcome {
  int First = 0;
  int Second = 0;
  std::vector<std::string> Output;  // the output file's lines (none after a negative status)
  std::string Note;                 // what went wrong beside the pair: the job unfinished, the output lost
};

// The exit status for a job's final pair.
int ExitStatusFor(const JobOutcome& outcome, int commands);

// Names in the start directory.
struct StartFiles {
  std::string Request = "request.cfg";
  std::string Output = "output.txt";
};

// Hands `bytes` in as the request in `directory` and waits for its final
// status until `deadline`. nullopt with `error` set and `failure` the exit
// status when there is no pair to show: kTimedOut, kRefused (set aside
// unrun), kPairUnknown (the final status replaced before it could be read)
// or kCannotRun.
std::optional<JobOutcome> HandInRequest(const std::string& directory, const StartFiles& files, const std::string& bytes,
                                     std::chrono::steady_clock::time_point deadline, int& failure,
                                     std::string& error);
