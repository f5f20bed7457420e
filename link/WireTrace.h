#pragma once
// The wire trace (tarvion --trace FILE): one text line per event on the
// serial lines, for the people who wire and commission them. The link records
// each event as a small binary record in memory; while the trace is off that
// costs one flag check. A writer thread of the trace's own formats the
// records and appends them to the file about every 100 ms, so no disk write
// ever runs in the link's thread, neither between a poll and the frame that
// answers it nor during a turnaround. Past its rotation size the file moves
// to FILE.1 (replacing an older one) and a new FILE is started.
//
// A line: local date and time with milliseconds, microseconds since the
// trace started, the COM number, the event:
//   2026-12-08 04:01:36.123    1234567 COM1 rx 10 04 55 69  poll

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/LineErrors.h"
#include "link/WireEvents.h"

constexpr uint64_t kTraceRotateBytes = 10'000'000;

// The files of a recording; an empty name: not that one.
struct WireTraceFiles {
  std::string Trace;        // the text trace
  std::string Capture;      // the pcapng capture
  std::string Application;  // named in the capture's section headers
  uint64_t RotateBytes = kTraceRotateBytes;  // for each of the two files
};

// Starts recording into the files named (each appended to). True with
// nothing started when neither is named. False with `error` set when a file
// cannot be opened; a running recording is stopped first.
bool StartWireTrace(const WireTraceFiles& files, std::string& error);
// The text trace alone into `path`.
bool StartWireTrace(const std::string& path, std::string& error, uint64_t rotateBytes = kTraceRotateBytes);
// Writes out everything recorded, ends the writer thread, closes the files.
// Nothing happens when no recording runs.
void StopWireTrace();

namespace wire_trace {
extern std::atomic<bool> Active;
// Takes the event into memory: time stamps and a copy of the bytes.
void Record(TraceKind kind, int portIndex, uint32_t arg, uint8_t detail, const uint8_t* bytes = nullptr,
            size_t count = 0);
}  // namespace wire_trace

inline bool WireTraceOn() { return wire_trace::Active.load(std::memory_order_relaxed); }

// The events, each one a flag check while the trace is off. `portIndex` is
// the COM index (0 = COM1); -1 for a port opened by path.
inline void TraceRts(int portIndex, bool on) {
  if (WireTraceOn()) wire_trace::Record(TraceKind::Rts, portIndex, on ? 1 : 0, 0);
}
inline void TraceWritten(int portIndex, const uint8_t* bytes, int count, int accepted) {
  if (WireTraceOn() && count > 0) {
    wire_trace::Record(TraceKind::Written, portIndex, static_cast<uint32_t>(accepted), 0, bytes,
                       static_cast<size_t>(count));
  }
}
inline void TraceReceived(int portIndex, const uint8_t* bytes, int count) {
  if (WireTraceOn() && count > 0) {
    wire_trace::Record(TraceKind::Received, portIndex, 0, 0, bytes, static_cast<size_t>(count));
  }
}
inline void TraceIdleLimit(int portIndex, uint32_t limitMs) {
  if (WireTraceOn()) wire_trace::Record(TraceKind::IdleLimit, portIndex, limitMs, 0);
}
inline void TraceListeningBound(int portIndex, uint32_t bytes) {
  if (WireTraceOn()) wire_trace::Record(TraceKind::ListeningBound, portIndex, bytes, 0);
}
inline void TraceBlock(int portIndex, size_t length, TraceBlockEnd end) {
  if (WireTraceOn()) {
    wire_trace::Record(TraceKind::Block, portIndex, static_cast<uint32_t>(length), static_cast<uint8_t>(end));
  }
}
// The link's conclusion about the last `bytes` bytes received on the port.
inline void TraceConcluded(int portIndex, LinkConclusion conclusion, uint32_t bytes) {
  if (WireTraceOn()) wire_trace::Record(TraceKind::Concluded, portIndex, bytes, static_cast<uint8_t>(conclusion));
}
inline void TraceReceiveFlushed(int portIndex, uint32_t waiting) {
  if (WireTraceOn()) wire_trace::Record(TraceKind::ReceiveFlushed, portIndex, waiting, 0);
}
inline void TraceLinkTest(int portIndex, uint32_t address, TraceLinkState state) {
  if (WireTraceOn()) wire_trace::Record(TraceKind::LinkTest, portIndex, address, static_cast<uint8_t>(state));
}
inline void TraceLineErrors(int portIndex, const LineErrorCounts& grown, const LineErrorCounts& totals) {
  if (WireTraceOn()) {
    const LineErrorCounts both[] = {grown, totals};
    wire_trace::Record(TraceKind::LineErrors, portIndex, 0, 0, reinterpret_cast<const uint8_t*>(both), sizeof both);
  }
}
// The port hands over what its line records: its device path among it.
void RecordPortOpen(int portIndex, const std::string& device, int baud, bool opened, bool reopen, bool modemLines);
inline void TracePortOpen(int portIndex, const std::string& device, int baud, bool opened, bool reopen,
                          bool modemLines) {
  if (WireTraceOn()) RecordPortOpen(portIndex, device, baud, opened, reopen, modemLines);
}
