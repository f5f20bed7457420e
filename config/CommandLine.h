#pragma once
// The program's command line. Plain C++, read before Qt starts, so that
// --help and --version work without a display. Only these options are taken;
// Qt's own (-platform, -display, ...) are not: Qt is configured through its
// environment variables (QT_QPA_PLATFORM, DISPLAY, ...).

#include <string>
#include <vector>

// Exit status of a bad option (and of a trace or capture file that cannot be
// opened).
constexpr int kBadUsageExit = 2;

// The version, from the build (CMake's project version).
const char* TarvionVersion();

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action What = Action::Run;
  std::string TracePath;       // --trace FILE: the wire trace's file; empty for none
  std::string CapturePath;     // --capture FILE: the capture for Wireshark; empty for none
  std::string ConfigPath;      // --config FILE: the INI file to read and save; empty for the usual one
  std::string StartDirectory;  // --start-dir DIR: changed into (made when missing) first; empty to stay
  std::string MetricsPath;     // --metrics FILE: node_exporter's textfile; empty for none
  std::string Error;           // with Action::Error: what was wrong
};

// Reads the arguments after the program name in order (see Options.h); the
// first --help, --version or error decides. An empty value, an unknown
// option or any other argument is an error.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text of --help.
std::string CommandLineUsage();

// Prints what a Help, Version or Error action asks for (help and version to
// standard output, an error to standard error) and gives the exit status:
// 0, or 2 for an error.
int FinishCommandLine(const CommandLine& commandLine);
