#pragma once
// The receive error counters a serial driver keeps for its line
// (TIOCGICOUNT): what a bad cable, a missing termination or bias, or a wrong
// baud rate or parity leaves behind. Plain C++.

#include <cstdint>
#include <string>

struct LineErrorCounts {
  uint32_t Framing = 0;
  uint32_t Parity = 0;
  uint32_t Overrun = 0;  // the UART's own and the driver buffer's overruns together
  uint32_t Break = 0;

  bool operator==(const LineErrorCounts&) const = default;
};

// True when any count is above zero.
bool AnyLineErrors(const LineErrorCounts& counts);
// What `now` holds more than `before`, count by count. A count below its
// earlier value (the device came back and counts from zero again) counts
// from zero.
LineErrorCounts LineErrorsGrown(const LineErrorCounts& before, const LineErrorCounts& now);
LineErrorCounts& operator+=(LineErrorCounts& total, const LineErrorCounts& more);

// "framing 2, parity 0, overrun 1, break 0"
std::string LineErrorWords(const LineErrorCounts& counts);
// The error-log line of a job that saw new errors on COM port `portIndex`
// (0 = COM1), Czech, UTF-8:
// "COM1 chyby příjmu během úlohy: rámec 2, parita 0, přetečení 1, break 0".
std::string LineErrorLogMessage(int portIndex, const LineErrorCounts& grown);
