#pragma once
// One simulated ORVETA terminal: its role on the line, its table of persons,
// its clock, and what it does with the payload of a command frame.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "tools/orveta-sim/SimClock.h"
#include "tools/orveta-sim/SimOptions.h"

struct SimTerminalSettings {
  int Capacity = -1;           // most persons kept; -1 = no limit
  bool Dt = false;             // person records carry five DT bytes
  bool OSwitchesRole = false;  // 'O' toggles master/slave
};

// What a terminal sends after acknowledging a command.
struct SimAnswer {
  bool DataCommand = false;  // 'P', 'Y' or 'S': a data answer follows the acknowledgement
  std::string Data;          // its bytes; empty means nothing follows
};

class SimTerminal {
 public:
  SimTerminal(const SimTerminalSpec& entry, const SimTerminalSettings& settings, SimTime now);

  int Address() const { return address_; }
  bool IsMaster() const { return master_; }
  int PersonCount() const { return static_cast<int>(persons_.size()); }
  // The six values of the last 'c' command.
  const std::array<uint16_t, 6>& Values() const { return values_; }

  // Carries out one command payload (at least one byte) received at `now`.
  // Malformed person or clock payloads are acknowledged and ignored.
  SimAnswer Execute(const std::string& payload, SimTime now);

 private:
  using Days = std::array<uint8_t, 14>;
  using DtBytes = std::array<uint8_t, 5>;
  struct DayBlock {
    Days Bytes{};
    DtBytes Dt{};  // the clock when this block was stored
  };
  struct Person {
    char Type = 'R';  // 'R' or 'Z'
    std::array<uint8_t, 4> Ident{};
    uint8_t Flag = 0;
    uint16_t Credit = 0;  // 'Z' only
    DayBlock First;                 // days 1-14
    std::optional<DayBlock> Second;  // days 15-28
  };

  void StoreRecord(const std::string& payload, SimTime now);
  void StoreContinuation(const std::string& payload, SimTime now);
  void SetClock(const std::string& payload, SimTime now);
  DayBlock TakeDays(const std::string& payload, SimTime now) const;
  std::string PersonAnswer(bool onlyZ) const;
  std::string Record(char type, uint16_t number, const Person& person, const DayBlock& days, uint16_t credit) const;
  std::string StatusAnswer(SimTime now) const;

  int address_;
  bool master_;
  SimTerminalSettings settings_;
  SimClock clock_;
  std::map<uint16_t, Person> persons_;
  std::array<uint16_t, 6> values_{};
};
