#include "app/Globals.h"

std::array<std::unique_ptr<TSer_Port>, PortCount> PortTable;
std::array<std::unique_ptr<TOrveta>, TerminalCount> Terminals;
bool ShuttingDown = false;
std::vector<std::string> RequestLines;
