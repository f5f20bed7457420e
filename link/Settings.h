#pragma once
// Process-wide settings of the terminal link. Loaded once at start-up from the
// configuration file; the turnaround waits may change while running (the
// service page writes them on every edit). Touched on the main thread only.

#include <chrono>
#include <cstdint>

// The terminal places of the program and the COM ports they can use.
constexpr int kTerminalCount = 4;
constexpr int kPortCount = 8;  // COM1 ... COM8

// The turnaround wait a port uses when none is configured (also for 0 at the
// first open of a port).
constexpr uint32_t kDefaultTurnaroundUs = 9500;

// The longest one listening period lasts when the line keeps carrying bytes
// that never make a poll (noise of an unbiased bus with the terminals off, a
// wrong rate or parity): the idle limit alone would listen for ever. A master
// polls many times a second, also on a busy shared line, so 2 s never cuts a
// working line short; four terminals tested on noisy lines still end the
// start-up within about ten seconds.
constexpr std::chrono::milliseconds kListeningBound{2000};

struct LinkSettings {
  int PortBaud = 19200;             // every port: 1200, 2400, 4800, 9600 or 19200
  bool ParityMark = false;          // MARK parity instead of none
  uint32_t TxTurnaroundUs = kDefaultTurnaroundUs;  // after raising RTS, before the first byte
  uint32_t RxTurnaroundUs = kDefaultTurnaroundUs;  // after the transmit queue is empty, before dropping RTS
  uint32_t LinkTimeout = 120;       // ms of silence that end listening to a terminal
  int Capacity = 2500;              // most person records a terminal can return
  int AnswerBufferSize = 60000;     // Capacity x 24, or x 29 with UseDT
  int BreakfastCount = 4;           // radix of the breakfast digit of a day byte
  int DinnerCount = 6;              // radix of the dinner digit of a day byte
  bool MealCoding = true;           // code alphabet without a separate value for 'N'
  bool UseDT = false;               // person records carry five DT bytes (29 bytes)
  bool CreditOn = true;             // 'Q' lines carry a credit
};

LinkSettings& Settings();
