#pragma once
// The names of the program's own files in the start directory, beside the
// request and output files whose names the configuration sets.

#include <string_view>

constexpr char kStatusFileName[] = "rudazo.sta";
constexpr char kErrorLogFileName[] = "errorlog.txt";
constexpr char kDumpFileName[] = "binarni.bin";

// True for a name the program writes itself: no configured file may take it.
constexpr bool IsProgramFileName(std::string_view name) {
  return name == kStatusFileName || name == kErrorLogFileName || name == kDumpFileName;
}
