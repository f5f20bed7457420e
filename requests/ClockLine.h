#pragma once
// The command that sets a terminal's clock: "T" and seven two-digit fields,
// year modulo 100, month, day, weekday (Monday 1 ... Sunday 7), hour, minute,
// second. Monday 6 March 2006 14:05:09 gives T06030601140509.

#include <ctime>
#include <string>

// Uses tm_year, tm_mon, tm_mday, tm_wday, tm_hour, tm_min and tm_sec.
std::string ClockLine(const std::tm& localTime);

// The PC's local date and time now.
std::tm LocalTimeNow();
