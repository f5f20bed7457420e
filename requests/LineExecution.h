#pragma once
// One request line carried out on a terminal: the command, and for the data
// commands 'Y', 'P' and 'S' the answer block, its dump file binarni.bin and
// its decoding into lines for the terminal's display.

class TOrveta;

// Carries out one request line (at most kWorkBufferSize - 1 bytes, in a
// writable buffer of at least that size plus its zero) on `terminal`: sends
// it and, for a data command, reads, dumps and decodes the answer block into
// lines for the display. False when not acknowledged, and when the answer
// was larger than the capacity: then the terminal's CapacityExceeded is set,
// the line is not counted in DoneCount, nothing is decoded and the capacity
// message is in the error log (a repeat would only overflow again). True
// with the first character replaced by 'E' when the block had a bad length;
// true otherwise. Throws EDivByZero from the coding.
bool ExecuteLine(TOrveta& terminal, char* line);
