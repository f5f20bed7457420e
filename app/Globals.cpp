#include "app/Globals.h"

std::array<std::unique_ptr<TSer_Port>, kPortCount> PortTable;
std::array<std::unique_ptr<TOrveta>, kTerminalCount> Terminals;
bool ShuttingDown = false;
std::vector<std::string> RequestLines;
std::string MetricsPath;
