#include "link/Commands.h"

#include <array>

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kNone{0};

constexpr std::array kCommands{
    Command{'R', 'R', PayloadKind::PersonRecord, false, kNone, false, 'r', "person record"},
    Command{'Q', 'X', PayloadKind::CreditRecord, false, kNone, false, 'q', "person record with credit"},
    Command{'r', 'r', PayloadKind::PersonRecord, false, kNone, false, '\0', "second half of a long person record"},
    Command{'q', 'q', PayloadKind::PersonRecord, false, kNone, false, '\0', "second half of a long person record with credit"},
    Command{'c', 'c', PayloadKind::Values, false, kNone, false, '\0', "values"},
    Command{'Y', 'Y', PayloadKind::Text, true, kNone, false, '\0', "data command"},
    Command{'P', 'P', PayloadKind::Text, true, kNone, false, '\0', "data command"},
    Command{'S', 'S', PayloadKind::Text, true, kNone, false, '\0', "data command, status block"},
    Command{'C', 'C', PayloadKind::Text, false, milliseconds(3000), false, '\0', "text, 3000 ms pause after"},
    Command{'T', 'T', PayloadKind::Text, false, kNone, false, '\0', "clock setting"},
    Command{'O', 'O', PayloadKind::Text, false, kNone, true, '\0', "text, link retested after"},
};

constexpr Command kTextCommand{'\0', '\0', PayloadKind::Text, false, kNone, false, '\0', "text"};

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
