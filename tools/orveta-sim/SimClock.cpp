#include "tools/orveta-sim/SimClock.h"

#include <ctime>

namespace {

using namespace std::chrono;

// Monday 1 to Sunday 7 of a calendar day.
int IsoWeekday(sys_days day) { return static_cast<int>(weekday{day}.iso_encoding()); }

bool InRange(int value, int min, int max) { return value >= min && value <= max; }

}  // namespace

SimClock::SimClock(SimTime now) : setAt_(now) {
  std::time_t host = std::time(nullptr);
  std::tm local{};
  localtime_r(&host, &local);
  sys_days day{year{local.tm_year + 1900} / month{static_cast<unsigned>(local.tm_mon + 1)} /
               std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
  base_ = day + hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
}

SimClockTime SimClock::Read(SimTime now) const {
  sys_seconds current = base_ + duration_cast<seconds>(now - setAt_);
  sys_days day = floor<days>(current);
  year_month_day date{day};
  hh_mm_ss<seconds> time{current - day};
  SimClockTime out;
  out.Year = (static_cast<int>(date.year()) % 100 + 100) % 100;
  out.Month = static_cast<int>(static_cast<unsigned>(date.month()));
  out.Day = static_cast<int>(static_cast<unsigned>(date.day()));
  out.Weekday = (IsoWeekday(day) - 1 + weekdayShift_) % 7 + 1;
  out.Hour = static_cast<int>(time.hours().count());
  out.Minute = static_cast<int>(time.minutes().count());
  out.Second = static_cast<int>(time.seconds().count());
  return out;
}

bool SimClock::Set(const SimClockTime& time, SimTime now) {
  if (!InRange(time.Year, 0, 99) || !InRange(time.Weekday, 1, 7) || !InRange(time.Hour, 0, 23) ||
      !InRange(time.Minute, 0, 59) || !InRange(time.Second, 0, 59) || !InRange(time.Month, 1, 12) ||
      !InRange(time.Day, 1, 31)) {
    return false;
  }
  year_month_day date{year{2000 + time.Year}, month{static_cast<unsigned>(time.Month)},
                      day{static_cast<unsigned>(time.Day)}};
  if (!date.ok()) return false;
  sys_days calendarDay{date};
  base_ = calendarDay + hours{time.Hour} + minutes{time.Minute} + seconds{time.Second};
  setAt_ = now;
  weekdayShift_ = (time.Weekday - IsoWeekday(calendarDay) + 7) % 7;
  return true;
}

bool ParseClockDigits(const std::string& digits, SimClockTime& out) {
  if (digits.size() != 14) return false;
  int values[7];
  for (int i = 0; i < 7; ++i) {
    char high = digits[2 * i];
    char low = digits[2 * i + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return false;
    values[i] = (high - '0') * 10 + (low - '0');
  }
  out = SimClockTime{values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
  return true;
}

unsigned char ToBcd(int value) { return static_cast<unsigned char>((value / 10) << 4 | value % 10); }
