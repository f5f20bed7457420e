#pragma once
// What every benchmark run sets up: a start directory of its own, and the
// simulated line in it.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "link/ErrorLog.h"
#include "tools/orveta-sim/Simulator.h"

// The request line of person `number` as the other program writes it: a
// letter 'R' or 'Q', the number, the identification "IDnnABCD" and flag 'K',
// codes for days 1-14 (and 15-28 for a long line), the name, and for 'Q' a
// credit of 150.
inline std::string BenchPersonLine(char letter, int number, bool longLine = false) {
  const std::string days = std::string("01A2B3C4D*01A2") + "*N01A*N01A*N01" + "*N01A2*N01A2*N";
  char head[32];
  std::snprintf(head, sizeof head, "%c%04dID%02dABCDK", letter, number, number % 100);
  std::string name = "PERSON " + std::to_string(number);
  name.resize(14, ' ');
  return head + days + (longLine ? days : "") + name + (letter == 'Q' ? "K+00150" : "");
}

// A fresh directory under the temporary folder, made the start directory.
inline std::filesystem::path MakeRunDirectory(const std::string& benchmark) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("tarvion-" + benchmark + "-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  SetStartDirectory(directory.string());
  return directory;
}

// Starts the simulator; says why it could not on stderr.
inline bool StartSimulator(Simulator& sim) {
  std::string error;
  if (sim.Start(error)) return true;
  std::fprintf(stderr, "simulator: %s\n", error.c_str());
  return false;
}
