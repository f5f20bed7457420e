#pragma once
// The kinds of events the link records for its trace and capture, and what
// their fields mean: shared by the recording (WireTrace.h) and the writers
// that turn the records into lines and packets (WireTraceFormat.h,
// WireCapture.h). The port records what it does (bytes written and read, RTS,
// a flush of the receive queue); the link records what it concluded (a poll,
// an answer to a frame, a data block), and the writers name the bytes by
// that alone.

#include <cstdint>

enum class TraceKind : uint8_t {
  Rts,        // arg 1 raised, 0 dropped
  Written,    // bytes: what was handed to the port; arg: how many it accepted
  Received,   // bytes: what one read took from the receive queue
  IdleLimit,  // arg: the idle limit (ms) that ended a listening period without a poll
  Block,      // arg: length of a data block received (for one larger than the
              // capacity: all its bytes, also those read away); detail: TraceBlockEnd
  LinkTest,   // arg: terminal address; detail: TraceLinkState
  PortOpen,   // bytes: device path; arg: baud; detail: kTraceOpened, kTraceReopen
              // (after a failure), kTraceNoModemLines
  ReceiveFlushed,  // arg: bytes the read queue held when the receive queue was flushed
                   // (recorded also when 0: bytes on their way may have gone)
  LineErrors, // bytes: two LineErrorCounts, what the counters grew since the last
              // look and their totals since the port was opened
  ListeningBound,  // arg: bytes received during a listening period that the bound
                   // (kListeningBound) ended without a poll
  Concluded,  // what the link made of the bytes it last read: detail: LinkConclusion;
              // arg: how many of the bytes last received on the port it names (the
              // link reads one byte at a time: they are the bytes it judged)
};

// Detail bits of PortOpen.
constexpr uint8_t kTraceOpened = 1;
constexpr uint8_t kTraceReopen = 2;
constexpr uint8_t kTraceNoModemLines = 4;

enum class TraceBlockEnd : uint8_t { Silence, Poll, Capacity };
enum class TraceLinkState : uint8_t { NotConnected, Master, Slave };

// What the link concluded from bytes it had just read, one at a time.
enum class LinkConclusion : uint8_t {
  Poll,             // they completed a poll
  Acknowledged,     // the byte answered a frame with the acknowledgement
  NotAcknowledged,  // the byte answered a frame, but not with the acknowledgement
};
