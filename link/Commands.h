#pragma once
// The command letters: what each first letter of a request line means on the
// line. The encoder, the link, the batch, the stop-time bound and the trace
// all read this one table.

#include <chrono>
#include <span>

#include "link/Pauses.h"

// How a line becomes the payload of its frame.
enum class PayloadKind {
  Text,          // the line's own bytes
  PersonRecord,  // a packed person record (40 bytes)
  CreditRecord,  // a packed person record with a credit word when credits are on (43 bytes)
  Values,        // 'c': five characters and six 16-bit words
};

struct Command {
  char Letter;   // the first character of the request line
  char SentAs;   // the first byte of the payload
  PayloadKind Payload;
  bool DataAnswer;  // a data block follows the acknowledgement
  // After the acknowledgement wait, acknowledged or not.
  std::chrono::milliseconds PauseAfterSend;
  // The link is tested again before the next command.
  bool RetestAfter;
  // A long line of this letter goes out as two commands, the second
  // beginning with this letter; '\0': a long line of it is refused.
  char ContinuedAs;
  const char* Meaning;  // for the trace and the documentation
};

// The entry of `letter`; a letter not in the table is a text command with no
// data answer.
const Command& CommandFor(char letter);
// The entry whose payload begins with `sent` (read from a frame), or null.
const Command* CommandSentAs(char sent);
// Every entry of the table.
std::span<const Command> CommandTable();

// The pause after an acknowledged command: only a command with no data answer
// to a master has one.
inline std::chrono::milliseconds PauseAfterAcknowledged(const Command& command, bool master) {
  return command.DataAnswer ? std::chrono::milliseconds(0) : pauses::AfterAcknowledgedCommand.For(master);
}
