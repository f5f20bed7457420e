#pragma once
// Colour of a terminal's indicator square, shared by request processing and
// the main window: White = no terminal (not connected in the configuration,
// or its port did not open), Green = master, Cyan = slave, Red = did not
// answer its last link test (and is to be tested again).

enum class TerminalIndicator { White, Green, Cyan, Red };
