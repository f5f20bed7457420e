#include "link/Commands.h"

#include <array>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kNone{0};

constexpr std::array kCommands{
    Command{'R', 'R', PayloadKind::PersonRecord, false, kNone, false, "person record"},
    Command{'Q', 'X', PayloadKind::CreditRecord, false, kNone, false, "person record with credit"},
    Command{'r', 'r', PayloadKind::PersonRecord, false, kNone, false, "second half of a long person record"},
    Command{'q', 'q', PayloadKind::PersonRecord, false, kNone, false, "second half of a long person record with credit"},
    Command{'c', 'c', PayloadKind::Values, false, kNone, false, "values"},
    Command{'Y', 'Y', PayloadKind::Text, true, kNone, false, "data command"},
    Command{'P', 'P', PayloadKind::Text, true, kNone, false, "data command"},
    Command{'S', 'S', PayloadKind::Text, true, kNone, false, "data command, status block"},
    Command{'C', 'C', PayloadKind::Text, false, milliseconds(3000), false, "text, 3000 ms pause after"},
    Command{'T', 'T', PayloadKind::Text, false, kNone, false, "clock setting"},
    Command{'O', 'O', PayloadKind::Text, false, kNone, true, "text, link retested after"},
};

constexpr Command kTextCommand{'\0', '\0', PayloadKind::Text, false, kNone, false, "text"};

}  // namespace

const Command& CommandFor(char letter) {
  for (const Command& command : kCommands) {
    if (command.Letter == letter) return command;
  }
  return kTextCommand;
}

const Command* CommandSentAs(char sent) {
  for (const Command& command : kCommands) {
    if (command.SentAs == sent) return &command;
  }
  return nullptr;
}

std::span<const Command> CommandTable() { return kCommands; }
