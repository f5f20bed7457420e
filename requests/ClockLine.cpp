#include "requests/ClockLine.h"

#include <cstdio>

std::string ClockLine(const std::tm& t) {
  const int weekday = t.tm_wday == 0 ? 7 : t.tm_wday;
  char line[96];  // room for any int fields
  std::snprintf(line, sizeof line, "T%02d%02d%02d%02d%02d%02d%02d", (t.tm_year + 1900) % 100, t.tm_mon + 1, t.tm_mday,
                weekday, t.tm_hour, t.tm_min, t.tm_sec);
  return line;
}

std::tm LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}
