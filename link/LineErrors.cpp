#include "link/LineErrors.h"

namespace {

uint32_t Grown(uint32_t before, uint32_t now) { return now >= before ? now - before : now; }

// The four counts after their names, in the order of LineErrorCounts.
std::string Counted(const LineErrorCounts& counts, const char* const (&names)[4]) {
  const uint32_t values[] = {counts.Framing, counts.Parity, counts.Overrun, counts.Break};
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text += ", ";
    text += std::string(names[i]) + " " + std::to_string(values[i]);
  }
  return text;
}

}  // namespace

bool AnyLineErrors(const LineErrorCounts& counts) { return !(counts == LineErrorCounts{}); }

LineErrorCounts LineErrorsGrown(const LineErrorCounts& before, const LineErrorCounts& now) {
  return {Grown(before.Framing, now.Framing), Grown(before.Parity, now.Parity), Grown(before.Overrun, now.Overrun),
          Grown(before.Break, now.Break)};
}

LineErrorCounts& operator+=(LineErrorCounts& total, const LineErrorCounts& more) {
  total.Framing += more.Framing;
  total.Parity += more.Parity;
  total.Overrun += more.Overrun;
  total.Break += more.Break;
  return total;
}

std::string LineErrorWords(const LineErrorCounts& counts) {
  return Counted(counts, {"framing", "parity", "overrun", "break"});
}

std::string LineErrorLogMessage(int portIndex, const LineErrorCounts& grown) {
  return "COM" + std::to_string(portIndex + 1) +
         " chyby příjmu během úlohy: " + Counted(grown, {"rámec", "parita", "přetečení", "break"});
}
