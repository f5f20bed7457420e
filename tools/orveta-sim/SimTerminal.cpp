#include "tools/orveta-sim/SimTerminal.h"

#include <algorithm>
#include <cstdio>

namespace {

// Payload layout of the person-record commands.
constexpr std::size_t kRecordPayload = 40;      // 'R', 'X', 'r', 'q'
constexpr std::size_t kCreditPayload = 43;      // 'X' with a credit word
constexpr std::size_t kValuesPayload = 17;      // 'c'
constexpr std::size_t kIdentAt = 3;
constexpr std::size_t kFlagAt = 11;
constexpr std::size_t kDaysAt = 12;
constexpr std::size_t kCreditAt = 41;
constexpr std::size_t kValuesAt = 5;
constexpr std::size_t kStatusTextSize = 16;

uint8_t Byte(const std::string& bytes, std::size_t at) { return static_cast<uint8_t>(bytes[at]); }

uint16_t Word(const std::string& bytes, std::size_t at) {
  return static_cast<uint16_t>(Byte(bytes, at) << 8 | Byte(bytes, at + 1));
}

void AppendWord(std::string& out, unsigned value) {
  out.push_back(static_cast<char>(value >> 8 & 0xFF));
  out.push_back(static_cast<char>(value & 0xFF));
}

}  // namespace

SimTerminal::SimTerminal(const SimTerminalSpec& entry, const SimTerminalSettings& settings, SimTime now)
    : address_(entry.Address), master_(entry.Master), settings_(settings), clock_(now) {}

SimAnswer SimTerminal::Execute(const std::string& payload, SimTime now) {
  switch (payload[0]) {
    case 'R':
    case 'X':
      StoreRecord(payload, now);
      break;
    case 'r':
    case 'q':
      StoreContinuation(payload, now);
      break;
    case 'c':
      if (payload.size() >= kValuesPayload) {
        for (std::size_t i = 0; i < values_.size(); ++i) values_[i] = Word(payload, kValuesAt + 2 * i);
      }
      break;
    case 'T':
      SetClock(payload, now);
      break;
    case 'C':
      persons_.clear();
      break;
    case 'O':
      if (settings_.OSwitchesRole) master_ = !master_;
      break;
    case 'P':
      return {true, PersonAnswer(false)};
    case 'Y':
      return {true, PersonAnswer(true)};
    case 'S':
      return {true, StatusAnswer(now)};
    default:
      break;
  }
  return {};
}

void SimTerminal::StoreRecord(const std::string& payload, SimTime now) {
  if (payload.size() < kRecordPayload) return;
  uint16_t number = Word(payload, 1);
  bool known = persons_.count(number) != 0;
  if (!known && settings_.Capacity >= 0 && PersonCount() >= settings_.Capacity) return;
  Person person;
  person.Type = payload[0] == 'X' ? 'Z' : 'R';
  std::copy_n(payload.begin() + kIdentAt, person.Ident.size(), person.Ident.begin());
  person.Flag = Byte(payload, kFlagAt);
  if (person.Type == 'Z' && payload.size() >= kCreditPayload) person.Credit = Word(payload, kCreditAt);
  person.First = TakeDays(payload, now);
  persons_[number] = person;
}

void SimTerminal::StoreContinuation(const std::string& payload, SimTime now) {
  if (payload.size() < kRecordPayload) return;
  auto found = persons_.find(Word(payload, 1));
  if (found != persons_.end()) found->second.Second = TakeDays(payload, now);
}

SimTerminal::DayBlock SimTerminal::TakeDays(const std::string& payload, SimTime now) const {
  DayBlock block;
  std::copy_n(payload.begin() + kDaysAt, block.Bytes.size(), block.Bytes.begin());
  SimClockTime time = clock_.Read(now);
  block.Dt = {ToBcd(time.Year), ToBcd(time.Month), ToBcd(time.Day), ToBcd(time.Hour), ToBcd(time.Minute)};
  return block;
}

void SimTerminal::SetClock(const std::string& payload, SimTime now) {
  SimClockTime time;
  if (ParseClockDigits(payload.substr(1), time)) clock_.Set(time, now);
}

std::string SimTerminal::PersonAnswer(bool onlyZ) const {
  std::string out;
  for (const auto& [number, person] : persons_) {
    if (onlyZ && person.Type != 'Z') continue;
    out += Record(person.Type, number, person, person.First, person.Credit);
    if (person.Second) out += Record(person.Type == 'Z' ? 'q' : 'r', number, person, *person.Second, 0);
  }
  return out;
}

std::string SimTerminal::Record(char type, uint16_t number, const Person& person, const DayBlock& days,
                                uint16_t credit) const {
  std::string out(1, type);
  AppendWord(out, number);
  out.append(person.Ident.begin(), person.Ident.end());
  out.push_back(static_cast<char>(person.Flag));
  out.append(days.Bytes.begin(), days.Bytes.end());
  if (settings_.Dt) out.append(days.Dt.begin(), days.Dt.end());
  AppendWord(out, credit);
  return out;
}

std::string SimTerminal::StatusAnswer(SimTime now) const {
  SimClockTime time = clock_.Read(now);
  int count = PersonCount();
  std::string out(1, 'S');
  for (int value : {time.Year, time.Month, time.Day, time.Weekday, time.Hour, time.Minute, time.Second}) {
    out.push_back(static_cast<char>(ToBcd(value)));
  }
  out.push_back(static_cast<char>(count % 256));
  char text[kStatusTextSize + 1] = {};
  std::snprintf(text, sizeof text, "SIM TERMINAL %d", address_);
  out.append(text, kStatusTextSize);
  AppendWord(out, static_cast<unsigned>(std::min(count, 0xFFFF)));  // 65536 persons would wrap to 0
  return out;
}
