#pragma once
// Settings of one simulator run, as given on the command line of orveta-sim
// or filled in directly by a test.

#include <string>
#include <vector>

struct SimTerminalSpec {
  int Address = 1;  // bus address 0-255
  bool Master = true;
};

struct SimOptions {
  std::string Link;                         // --link PATH: symlink to the PC side of a new pseudo-terminal
  std::string Device;                       // --device DEV: an existing serial device instead
  std::vector<SimTerminalSpec> Terminals;   // --terminal ADDR:master|slave; empty means one master at 1
  int Baud = 19200;                         // --baud: pace of the bytes sent
  bool Pacing = true;                       // --no-pacing: send at once
  int PollMs = 40;                          // --poll-ms: poll period of a master while idle
  int WindowMs = 30;                        // --window-ms: wait for a frame after a poll
  int AckMs = 15;                           // --ack-ms: frame's last byte to acknowledgement
  int DataMs = 20;                          // --data-ms: acknowledgement to data answer
  int AfterDataMs = 400;                    // --after-data-ms: a master's silence after a data answer
  int NoAck = 0;                            // --no-ack N: the first N command frames are not acknowledged
  bool Nak = false;                         // --nak: every command frame is answered with 0x15
  int ShortAnswer = 0;                      // --short-answer N: the first N data answers lose their last byte
  bool PollAfterData = false;               // --poll-after-data: poll right after a data answer
  bool BadPoll = false;                     // --bad-poll: a damaged poll before each poll
  int NoiseMs = 0;                          // --noise-ms N: a non-poll byte every N ms while idle (0 = off)
  int BacklogSeconds = 0;                   // --backlog SECONDS: a master's polls of that time at once when
                                            // a PC opens the line (0 = none)
  bool Silent = false;                      // --silent: neither poll nor answer
  int Capacity = -1;                        // --capacity N: most persons per terminal (-1 = no limit)
  bool Dt = false;                          // --dt: person records carry five DT bytes
  bool OSwitchesRole = false;               // --o-switches-role: 'O' toggles master/slave
  std::string Log;                          // --log FILE: append the log lines there
  bool Help = false;                        // --help was given
};

// Baud rates the simulator paces at (the port's standard rates).
bool IsSupportedBaud(int baud);

// The terminals of a run: Terminals, or the default single master at address 1.
std::vector<SimTerminalSpec> EffectiveTerminals(const SimOptions& options);

// Checks the combination of settings (terminal addresses distinct and 0-255,
// at most one master, link or device but not both, numbers in range).
// Empty when valid, else the message.
std::string ValidateSimOptions(const SimOptions& options);

// Parses the command line (argv[0] is the program). Options take their value
// as the next argument or after '='. False with `error` set on an unknown
// option, a missing or malformed value, or an invalid combination; with
// --help, true and out.Help set, nothing else checked.
bool ParseSimOptions(int argc, char** argv, SimOptions& out, std::string& error);

// The text of --help.
std::string SimUsage();
