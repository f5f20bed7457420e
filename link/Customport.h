#pragma once
// TSer_Port: one COM port with RTS direction control on a half-duplex line,
// shared by every terminal on that port. Every transmission is bracketed by
// TransmitMode (RTS on, settle) and ReceiveMode (let the last bits leave, RTS
// off). The two waits are microsecond busy-waits from the settings. The device
// itself is reached only through its PortBackend.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "link/CommPort.h"
#include "link/ErrorLog.h"
#include "link/PortBackend.h"

// Opens the device of a COM index (0 = COM1) at a baud rate and parity
// letter, 8 data bits and 1 stop bit; always returns a backend, a failure
// shows as its negative Status().
using PortOpener = std::function<std::unique_ptr<PortBackend>(int portIndex, int baud, char parity)>;
// The termios device of ComDevicePath(portIndex).
std::unique_ptr<PortBackend> OpenComDevice(int portIndex, int baud, char parity);

// Writes the error-log line of a port: "COM<n> <event>", the event given in
// UTF-8 ("otevřen", "neotevřen", "chyba zařízení"); something to look at
// unless `urgency` says otherwise.
void LogPortEvent(int portIndex, const char* utf8Event, LogUrgency urgency = LogUrgency::Warning);

class TSer_Port {
 public:
  TSer_Port(int portIndex, int baud);
  // The same over the devices `open` gives (tests put a scripted one here).
  TSer_Port(int portIndex, int baud, PortOpener open);
  ~TSer_Port();
  TSer_Port(const TSer_Port&) = delete;
  TSer_Port& operator=(const TSer_Port&) = delete;

  // Opens with the parity of the settings ("M" or "N"), 8 data bits, 1 stop
  // bit. On success a turnaround setting of 0 becomes kDefaultTurnaroundUs.
  // False when the port reports a negative status. The parity stays the one
  // of the first open for the whole run: a saved change counts at the next
  // start, also for a port opened again.
  bool OpenPort(int portIndex, int baud);
  void ClosePort();

  // True when the device failed under the open port (a hang-up: an adapter
  // unplugged, or the far end of a pseudo-terminal gone) or when opening it
  // again has failed so far. A failure that a read of the port met is known
  // from that read's result; otherwise the device is asked. The first
  // sighting of a failure is logged as "COM%d chyba zařízení" and the device
  // is closed at once (Opened false): a USB adapter plugged in again then
  // gets its old name back.
  bool NeedsReopen();
  // Opens the device again, after a failure or when it was not there at the
  // start, and logs "COM%d otevřen", or "COM%d neotevřen" once until it opens
  // (a port that did not open at the start has had its line logged already).
  // The turnaround settings stay as they are at run time. False, with nothing
  // closed or logged, while a wait of this port is in progress (a window
  // event dispatched during ReadByteWait): the port object under that wait
  // must stay.
  bool Reopen();

  // What listening on this line saw, for the error log: a listening period
  // that its bound ended while bytes kept coming without a poll is logged
  // once, until a listening ends by a poll or by silence again.
  void NoteBytesWithoutPoll(uint32_t bytes, std::chrono::milliseconds bound);
  void NoteLineQuietOrPolled() { noiseLogged_ = false; }

  // Next received byte (0-255) or -1 at once when none is queued.
  int ReadByte();
  // Next received byte, waiting up to `ms` (dispatching window events); -1 when
  // none came in time. Port error codes other than "no data" pass through.
  int ReadByteWait(unsigned ms);
  // Queues the bytes, then spins until the transmit queue is empty. True when
  // the port status shows no error (sticky: false after any earlier error).
  // The spin gives up after twice the bytes' time on the line plus a second;
  // what is left is then purged and the result is false.
  bool WriteBlock(const uint8_t* data, int count);
  void TransmitMode();
  void ReceiveMode();
  void ClearTransmit();
  // Empties the whole receive queue, however much a master terminal left in
  // it while nobody read, and reads away what arrives within a short settle
  // time afterwards (see SettleTime): nothing received before the clear can
  // then pass for a poll, an acknowledgement or a data block.
  void ClearReceive();

  // The line's error counters, where the driver keeps them. LookAtLineErrors
  // reads them and adds what they grew since the last look to the totals,
  // which the wire trace then shows as one event; the first reading of a
  // device (at each open) only notes where its counters stand.
  // LineErrorTotals: the growth since the port was first opened; nullopt
  // while the driver has shown no counters.
  void LookAtLineErrors();
  std::optional<LineErrorCounts> LineErrorTotals() const { return lineErrorTotals_; }

  // Busy-waits at least `us` microseconds on the monotonic clock; never sleeps.
  static void WaitMicroseconds(uint32_t us);

  std::unique_ptr<PortBackend> Port;
  int PortIndex = -1;
  int Baud = 0;
  bool Opened = false;

 private:
  // Opens the device at PortIndex with the parity of the first open.
  bool OpenDevice(int baud);
  // Passes the result of a read on, noting a failed device.
  int Noted(int result);

  PortOpener open_;
  // A read met a failed device since it was opened.
  bool failed_ = false;
  // A failure was seen and the device has not been opened again since.
  bool lost_ = false;
  // ReadByteWait calls in progress (they nest through the dispatch hook).
  int waits_ = 0;
  bool reopenFailureLogged_ = false;
  bool noiseLogged_ = false;
  char parity_ = 'N';  // 'M' or 'N', fixed at construction
  std::optional<LineErrorCounts> lineErrorsSeen_;  // the last reading of the device now open
  std::optional<LineErrorCounts> lineErrorTotals_;
};

// The line errors of one job on a port: looked at when the watch is made and
// when it goes; one error-log line (LineErrorLogMessage) when they grew in
// between. A null port or one whose driver keeps no counters logs nothing.
class LineErrorWatch {
 public:
  explicit LineErrorWatch(TSer_Port* port);
  ~LineErrorWatch();
  LineErrorWatch(const LineErrorWatch&) = delete;
  LineErrorWatch& operator=(const LineErrorWatch&) = delete;

 private:
  TSer_Port* port_;
  std::optional<LineErrorCounts> atStart_;
};
