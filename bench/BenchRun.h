#pragma once
// What every benchmark run sets up: a start directory of its own, and the
// simulated line in it.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "link/ErrorLog.h"
#include "tools/orveta-sim/Simulator.h"

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
