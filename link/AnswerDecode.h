#pragma once
// Decoding of a terminal's data answer into text lines, without any I/O: the
// person records of an 'R' or 'Z' answer (with their 'q'/'r' continuation
// records) and the status block of an 'S' answer. Lines are bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "link/Coding.h"

// Size of a person record in an answer block, without and with the DT bytes.
constexpr int kPersonRecordSize = 24;
constexpr int kPersonRecordSizeDT = 29;
constexpr int kStatusUnitSize = 27;
constexpr int kRecordDayCount = 14;

// The three meal strings of one record, 14 characters each.
struct DayStrings {
  std::string Main, Breakfast, Dinner;
};

// Bit 7 of `recordFlag` set: the main-meal characters are the day bytes
// themselves (a zero byte included) and breakfast and dinner are '*'.
// Otherwise each day is DecodeMealByte of its byte. DecodeMealByte runs for
// every day in both cases, so a breakfast or dinner count of 0 throws
// EDivByZero either way.
DayStrings DecodeMealDays(uint8_t recordFlag, const uint8_t* dayBytes, const CodingSettings& settings);

struct BlockDecode {
  // The block's length is not a whole number of records ('R'/'Z') or status
  // units ('S'): no lines, RecordCount 0, the request line gets its 'E' mark.
  bool BadLength = false;
  // Only for a bad 'R'/'Z' length: the caller writes "R,Z chybne nacteno: %d
  // byte" with the length into the error log.
  bool LogBadLength = false;
  // Records ('R'/'Z', continuation records included) or 27-byte units ('S')
  // of a well-formed block; 0 otherwise.
  int RecordCount = 0;
  // One line per person record (a record and its continuation share one), or
  // the one status line. Each line ends before its first zero byte.
  std::vector<std::string> Lines;
};

// Decodes `length` bytes of an answer block by its first byte: 'R' or 'Z'
// person records (29 bytes each with the settings' UseDT, else 24), 'S'
// status units; any other first byte, or an empty block, gives no lines.
// Throws EDivByZero when a breakfast or dinner count is 0 and the block has a
// record.
BlockDecode DecodeAnswerBlock(const uint8_t* block, int length, const CodingSettings& settings);
