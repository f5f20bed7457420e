#pragma once
// How a program that hands a request in tells its own job's result from
// everything else in the start directory, as a machine without I/O: the
// caller follows the directory's renames and removals in the order they
// happened (inotify keeps it), feeds each one in and acts on the stage it
// leads to.
//
// What Tarvion does there for one request, in this order: it takes the
// request in (renames it to TakenInPath); an accepted TERM line writes 1,0
// before anything is sent; the output file is replaced; the final pair is
// written, and right after it the taken-in file goes (removed; put back
// under the request name, or kept as HalfWrittenPath, when its writer
// changed it during the job; kept as InterruptedPath when the job was
// stopped). A file that cannot be written is removed instead: the output
// file, and the job goes on; the status file, and the taken-in file then
// stays until the next request or start keeps it as InterruptedPath (the
// next start writes -1,-1 for it).
//
// The rules, once the request has been taken in:
//   - a pair with a negative first number is final;
//   - so is the first pair after the output file came: replaced, or removed
//     because it could not be written (its lines are then lost);
//   - the taken-in file removed, put back or kept as HalfWrittenPath after a
//     pair of this job while no output came: that pair was the final one,
//     and its output file could not be written and left nothing to remove.
//     Put back before any pair: it waits to be taken in again. Kept as
//     HalfWrittenPath before any pair: it is never run;
//   - the taken-in file kept as RefusedPath: too large, final -1,-1 (the
//     pair Tarvion writes next);
//   - kept as InterruptedPath before a final pair: the job did not finish
//     (Tarvion was killed, or its final status could not be written, or it
//     was stopped and its output could not be written): -1,-1, as Tarvion
//     reports a killed job at its next start;
//   - the status file removed after the output came: the final pair could
//     not be written, and the job did not finish. Removed before, it was
//     the 1,0 (the job goes on) or a refusal (the taken-in file stays and
//     is kept as InterruptedPath later, as above).
// Before the take-in nothing counts: it belongs to earlier jobs.
//
// A caller that runs late may find a status file already replaced by a later
// one (of this job or of the next) when it comes to read it: that pair is
// fed in unread, takes its place in the rules all the same, and when it is
// the final one the job's pair is unknown, never a later pair taken for it.

#include <optional>
#include <string>

struct StatusPair {
  int First = 0;
  int Second = 0;
};

// A status file's pair as the caller read it: nullopt when the file that came
// was gone or replaced again before it could be read.
using ReadPair = std::optional<StatusPair>;

enum class ChangeKind { MovedFrom, MovedTo, Removed };

// One change in the start directory. A rename is a MovedFrom of the old name
// followed at once by a MovedTo of the new one.
struct DirectoryChange {
  ChangeKind Kind = ChangeKind::MovedTo;
  std::string Name;
  ReadPair Pair;  // MovedTo of the status file: the pair it held
};

enum class JobStage {
  Waiting,     // not taken in (yet, or again after it was put back)
  TakenIn,     // its job runs; no final pair yet
  Final,       // Pair() is the job's final pair
  Unfinished,  // the job ended without a final pair of its own; Pair() is -1,-1
  NotRun,      // kept as HalfWrittenPath when it was taken in: nothing was sent, no pair
};

class RequestClientRules {
 public:
  // The names of the request and output files in the start directory.
  RequestClientRules(std::string requestName, std::string outputName);

  // Feeds the next change in; the stage it leads to.
  JobStage Seen(const DirectoryChange& change);

  JobStage Stage() const { return stage_; }
  // Final, Unfinished or NotRun: the wait is over, later changes no longer
  // count.
  bool Ended() const { return stage_ != JobStage::Waiting && stage_ != JobStage::TakenIn; }
  // Meaningful when PairRead().
  StatusPair Pair() const { return pair_.value_or(StatusPair{}); }
  // False when the final pair's file was replaced before it could be read:
  // the job ended, its pair is unknown.
  bool PairRead() const { return pair_.has_value(); }
  // Final with a pair of at least 0: the output file could not be written.
  bool OutputLost() const { return outputLost_; }

 private:
  void TakeIn();
  void MovedTo(const std::string& from, const DirectoryChange& change);
  void TakenInFileMoved(const std::string& to);
  void FinalWithoutOutput();
  void PairWritten(const ReadPair& pair);
  void Removed(const std::string& name);
  void End(JobStage stage, ReadPair pair);

  std::string request_;
  std::string takenIn_;
  std::string output_;
  JobStage stage_ = JobStage::Waiting;
  std::string movedFrom_;             // the name the rename under way takes away
  std::optional<ReadPair> lastPair_;  // this job's latest pair that stands
  bool outputCame_ = false;
  bool outputLost_ = false;
  ReadPair pair_;
};
