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

// Set when the main window starts being destroyed; never cleared.
extern bool ShuttingDown;

// --metrics FILE: the metrics file for node_exporter; empty for none.
extern std::string MetricsPath;
