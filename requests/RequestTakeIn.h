#pragma once
// Taking a request file in. The file is renamed to a name of the program's
// own beside it ("<request>.prevzato", in the same folder, so the rename is
// atomic) and read there: the request file's name is free for the next
// request at once, and a request renamed into place afterwards is never
// touched. The taken-in file stays until its job has written its final
// status, so one found at start-up belongs to a job that never finished.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "requests/RequestFile.h"
#include "requests/RequestWatch.h"

// The names a request file may get beside it, "<path><suffix>".
std::string TakenInPath(const std::string& requestPath);      // ".prevzato": its job runs
std::string InterruptedPath(const std::string& requestPath);  // ".nedokonceno": its job never finished
std::string RefusedPath(const std::string& requestPath);      // ".odmitnuto": too large to be a request
std::string HalfWrittenPath(const std::string& requestPath);  // ".rozepsano": still being written, its name taken

// The largest request file taken in: twice `capacity` long person lines (119
// characters and CR LF each), with a capacity below the default counted as
// the default, so that a small terminal still takes every real request.
uint64_t MaxRequestFileBytes(int capacity);

enum class TakeIn {
  Taken,       // renamed and read: the lines are in TakenRequest; the rename
               // is on disk
  NotReady,    // left where it is: gone, held by its writer, or written to
               // again since it was judged settled
  Unreadable,  // left where it is: it cannot be read (Error: why), such as a
               // file of another user that only its owner may read
  PutBack,     // found still being written after the rename: renamed back,
               // to be taken in once it has settled
  SetAside,    // found still being written, and a new request already had its
               // name: kept at HalfWrittenPath (or, with Error set, left at
               // TakenInPath because that rename failed)
  TooLarge,    // more than the bound: kept at RefusedPath, nothing read (or,
               // with Error set, left at TakenInPath because that rename failed)
  Blocked,     // could not be renamed (Error: why; an earlier taken-in file
               // still there is EEXIST): left where it is
};

struct TakenRequest {
  std::vector<std::string> Lines;
  FileStamp Stamp;  // the taken-in file as read (for TooLarge: its size)
  int Error = 0;    // the errno of the step that failed, else 0
};

// Takes the request file at `path` in. With `settled` (the watcher's
// sighting that judged it ready) a file that no longer matches it is not
// taken. Never loses a file: what is not taken stays under a name above.
TakeIn TakeInRequestFile(const std::string& path, const std::optional<FileSighting>& settled, uint64_t maxBytes,
                         TakenRequest& taken);

enum class Release {
  Removed,   // the job's file is gone, and that is on disk
  PutBack,   // its writer wrote to it again during the job (its content may
             // have changed): it is a new request under its name again
  SetAside,  // written to again, and a new request had the name: HalfWrittenPath
  Stuck,     // written to again, and it could be neither put back nor set
             // aside (errno tells why): it stays at TakenInPath
  Failed,    // it could not be removed (errno tells why)
};

// After the job's final status: removes the taken-in file read with `stamp`.
Release ReleaseTakenIn(const std::string& path, const FileStamp& stamp);

enum class Leftover { None, SetAside, Failed };

// A taken-in file left by a job that did not finish (the program was killed
// or stopped in the middle of it, the machine lost power, or its final
// status could not be written) moves to InterruptedPath, replacing an older
// one. Failed (errno tells why): it could not be moved and stays where it is.
Leftover SetAsideInterruptedFile(const std::string& path);
