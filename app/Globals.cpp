#include "app/Globals.h"

std::array<std::unique_ptr<TSer_Port>, kPortCount> PortTable;
bool ShuttingDown = false;
std::string MetricsPath;
