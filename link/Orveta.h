#pragma once
// TOrveta: one ORVETA terminal on a serial line and the link protocol to it.
// A terminal is master (it polls with 10 04 55 69 and the PC may send only
// right after a poll) or slave (silent until addressed); a link test finds
// which. Every command is one frame (address, length, payload, checksum)
// answered by the single byte 0x06.

#include <chrono>
#include <cstdint>
#include <vector>

#include "link/Customport.h"
#include "link/Frame.h"
#include "link/JobClock.h"
#include "link/LinkDisplay.h"
#include "link/Settings.h"

// What happened on the link to one terminal since the program started.
struct LinkCounts {
  uint64_t TestsMaster = 0;        // link tests that found a master
  uint64_t TestsSlave = 0;         // ... a slave
  uint64_t TestsNotConnected = 0;  // ... no answer (or a port that did not open again)
  uint64_t Acknowledged = 0;       // commands answered by the acknowledgement
  uint64_t NotAcknowledged = 0;    // commands that got none (or could not be sent)
};

class TOrveta {
 public:
  // `port` is shared with the other terminals on the same line, not owned.
  TOrveta(TSer_Port* port, uint32_t address);
  virtual ~TOrveta() = default;
  TOrveta(const TOrveta&) = delete;
  TOrveta& operator=(const TOrveta&) = delete;

  // Tests the link: master when a poll is heard within the idle limit, else
  // slave when the slave test frame is acknowledged, else not connected. A
  // port whose device failed is opened again first (not connected when that
  // fails); SendCommand tests the link whenever the port needs that. Once a
  // stop is asked for, nothing more is tested and the state stays as it was.
  bool TestLink();
  bool TestMaster();
  bool TestSlave();

  // Sends one request line. `line` is a writable buffer of kWorkBufferSize bytes
  // that EncodeCommand turns into the payload in place. 0 = acknowledged,
  // 1 = not acknowledged, not connected, or a payload too long for a frame.
  // Throws EDivByZero from the encoding before anything is sent.
  int SendCommand(char* line);
  void SendOnPoll(const uint8_t* frame);
  void SendDirect(const uint8_t* frame);
  // 0 when the next byte (within 1000 ms for a master, 80 ms otherwise) is 0x06.
  int ReadAck();

  // Reads the data block after an acknowledgement into Answer and sets
  // AnswerLength. The block ends after LinkTimeout ms of silence, or with the
  // terminal's poll (its first three bytes are stored). False when the block
  // overflowed Answer: the rest was read away until the line went quiet, the
  // capacity message has been shown and AnswerLength is the number of bytes
  // stored.
  bool ReceiveBlock();

  bool IsMaster() const { return Master; }
  bool IsSlave() const { return Slave; }
  bool IsConnected() const { return Master || Slave; }

  TSer_Port* Port;
  uint32_t Address;
  std::vector<uint8_t> Answer;
  bool Master = false;
  bool Slave = false;
  bool Retest = false;
  int32_t AnswerLength = 0;
  LinkCounts Counts;
  // Where answer lines, panel 3, cursors and the capacity message go; set by
  // the creator (the main window, or a test). May stay null.
  LinkDisplay* Display = nullptr;
  // Display, or one that shows nothing when there is none.
  LinkDisplay& Shown();

 private:
  enum class ListenEnd { Poll, Idle, Bound, Stop };
  // Listens until a poll is seen, LinkTimeout ms pass without any byte (the
  // idle clock starts at `referenceMs`), or kListeningBound passes with bytes
  // but no poll; a `stoppable` listening also ends once a stop is asked for.
  ListenEnd Listen(uint64_t referenceMs, bool stoppable);
};

// The longest one attempt of a line with command letter `letter` can take
// with these settings: a link test first, the wait for a poll, the frame,
// the acknowledgement wait, the fixed pauses, and for a command with a data
// answer a whole answer buffer at the line's rate. A bound for a stop's
// time-out, not a prediction.
std::chrono::milliseconds LongestAttemptTime(const LinkSettings& settings, char letter);
