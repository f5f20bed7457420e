#pragma once
// Process-wide state of the running program, filled at start-up and kept for
// the whole run. Touched on the main thread only.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "config/Config.h"
#include "link/Customport.h"
#include "link/Orveta.h"

// The port object of each COM port a connected terminal uses (index = COM
// number - 1); null for a port nobody needs. A port that failed to open keeps
// its object with Opened false. The ports are released when the process ends.
extern std::array<std::unique_ptr<TSer_Port>, kPortCount> PortTable;

// The terminal object of each connected terminal whose port opened (index =
// terminal number - 1); null otherwise. Destroyed when the window closes.
extern std::array<std::unique_ptr<TOrveta>, kTerminalCount> Terminals;

// Set when the main window starts being destroyed; never cleared.
extern bool ShuttingDown;

// The lines of the job in progress (bytes, code page 1250).
extern std::vector<std::string> RequestLines;

// --metrics FILE: the metrics file for node_exporter; empty for none.
extern std::string MetricsPath;
