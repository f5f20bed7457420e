#pragma once
// One request line carried out on a terminal: the command, and for a data
// command the answer block, its dump file binarni.bin and its decoding into
// lines. What the line came to is a value, folded into the job's report.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TOrveta;

struct LineResult {
  bool Acknowledged = false;  // the terminal acknowledged the command
  // The data block was larger than the capacity: the rest was read away,
  // nothing was decoded and the capacity message is in the error log (a
  // repeat would only overflow again).
  bool Overflow = false;
  // The data block's length was no whole number of its units (the 'E' mark):
  // nothing was decoded; the batch repeats the line for a whole answer.
  bool ReceiveRepeat = false;
  int32_t AnswerLength = 0;        // bytes of the data block
  int32_t RecordCount = 0;         // records of a whole data block
  std::vector<std::string> Lines;  // its decoded lines (bytes, code page 1250)

  // Acknowledged and not overflowed: the attempt needs no repeat for the link.
  bool CarriedOut() const { return Acknowledged && !Overflow; }
  // Counts among the commands carried out (DoneCount).
  bool Counted() const { return CarriedOut() && !ReceiveRepeat; }
};

// Carries out one request line (shorter than kWorkBufferSize; a longer one is
// refused, not cut) on `terminal`: sends it and, for a data command, reads,
// dumps and decodes its answer block. Throws EDivByZero from the coding
// before anything is sent.
LineResult ExecuteLine(TOrveta& terminal, std::string_view line);
