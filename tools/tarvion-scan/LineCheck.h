#pragma once
// tarvion-scan --check: whether a serial line can work, before anybody blames
// a terminal. Three parts:
//   - the facts of the file system: the device's sysfs entry (driver, USB
//     adapter, latency timer, FIFO trigger) and its stable by-id names;
//   - the probing of the device: the modem lines, the kernel's RS-485 mode,
//     the traffic on the line, the drain of a 46-byte frame against its wire
//     time, the echo, the driver's error counters before and after;
//   - the judging: a verdict for each point from the facts and figures alone
//     (ok, a warning with what to do, or a fault), and the report as text or
//     JSON.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "link/LineErrors.h"

class PortBackend;

// The length of the test frame: a person record's frame.
constexpr int kCheckFrameBytes = 46;

struct SysfsFacts {
  bool Found = false;  // /sys/class/tty/NAME exists
  std::string Driver;  // "ftdi_sio", "serial", "cdc_acm", ...; empty when unknown
  bool Usb = false;    // a USB device is behind it
  std::string VendorId, ProductId, Manufacturer, Product, Serial;
  std::optional<int> LatencyTimerMs;  // FTDI: latency_timer
  std::optional<int> RxTrigBytes;     // 16550-type UARTs: rx_trig_bytes
  std::optional<int> UartType;        // serial core ports: type (0: no UART found)
};

// The sysfs facts of the tty NAME ("ttyUSB0") under `sysRoot` ("/sys"). The
// driver is the first one up the device's chain that is not the serial core's
// own (bus serial-base); the USB adapter is the first ancestor with idVendor.
SysfsFacts ReadSysfsFacts(const std::filesystem::path& sysRoot, const std::string& ttyName);
// The links in `byIdDir` ("/dev/serial/by-id") that lead to `device`, sorted.
std::vector<std::string> ByIdNames(const std::filesystem::path& byIdDir, const std::filesystem::path& device);

enum class RtsProbe {
  NoModemLines,  // TIOCMGET is not supported (a pseudo-terminal, some adapters)
  Switches,      // TIOCMSET changed RTS and TIOCMGET read it back
  Stuck,         // RTS did not follow TIOCMSET
  Failed,        // the modem-line calls failed
};

enum class Rs485Probe {
  NotAvailable,   // TIOCGRS485 is not supported
  CannotBeSet,    // TIOCGRS485 answers, but TIOCSRS485 does not enable the mode
  Available,      // set, read back enabled, restored
  AlreadyOn,      // the mode is on already (left so by a setting or another program)
  NotRestored,    // set, but the old setting could not be put back
};

struct TrafficFigures {
  int ListenMs = 0;
  int Polls = 0;       // master polls heard
  int OtherBytes = 0;  // bytes that were no poll
};

struct DrainFigures {
  bool Written = false;   // the port took all the test bytes
  int Baud = 19200;
  int BitsPerByte = 10;   // start, 8 data bits, parity, stop
  int64_t WireUs = 0;     // the frame's time on the wire
  int64_t DrainUs = 0;    // from the write until the transmitter was reported empty
  bool LineStatus = false;  // the driver told the shift register's state (TIOCSERGETLSR)
  bool TimedOut = false;    // the driver queue did not empty
  // The driver's line status never said the transmitter is empty: the wait
  // ended when the bytes could have left (CommPort::TransmitCount).
  bool Unreported = false;
};

struct EchoFigures {
  int BytesBack = 0;            // the longest run of the test bytes read back in order
  int64_t LastAfterDrainUs = 0; // when the last of them was read, after the drain ended
  int OtherBytes = 0;           // further bytes read meanwhile
};

struct LineFacts {
  std::string Given;   // the name given
  std::string Device;  // the device it leads to
  std::vector<std::string> ByIdNames;
  bool PseudoTerminal = false;
  SysfsFacts Sysfs;
  std::optional<bool> LowLatency;  // ASYNC_LOW_LATENCY after the open asked for it; nullopt: no TIOCGSERIAL
  RtsProbe Rts = RtsProbe::NoModemLines;
  Rs485Probe Rs485 = Rs485Probe::NotAvailable;
  TrafficFigures Traffic;
  DrainFigures Drain;
  EchoFigures Echo;
  std::optional<LineErrorCounts> CountsBefore, CountsAfter;
  uint32_t RxTurnaroundUs = 9500;  // what the line is to run with
};

enum class Verdict { Ok, Warning, Fault };

struct CheckPoint {
  std::string Name;     // "device", "driver", "latency", "rts", "rs485", "traffic", "drain", "echo", "errors"
  Verdict Level = Verdict::Ok;
  std::string Finding;  // what was found
  std::string Advice;   // what to do; empty when nothing is to be done
};

// One verdict for each point, in the order of CheckPoint::Name.
std::vector<CheckPoint> JudgeLine(const LineFacts& facts);
// 0 when every point is ok, 1 with a warning but no fault, 2 with a fault.
int CheckExitStatus(const std::vector<CheckPoint>& points);
// The report: a line per point (and its advice below it), then the summary.
std::string CheckText(const LineFacts& facts, const std::vector<CheckPoint>& points);
// The same as one JSON object, with the figures.
std::string CheckJson(const LineFacts& facts, const std::vector<CheckPoint>& points);

struct ProbeOptions {
  std::string Device;
  int Baud = 19200;
  bool Mark = false;
  uint32_t TurnaroundUs = 9500;  // both RTS waits; 0 means 9500
  int ListenMs = 500;            // how long the line is listened to first
  std::filesystem::path SysRoot = "/sys";
  std::filesystem::path ByIdDir = "/dev/serial/by-id";
};

// Probes the line. nullopt with `failure` (OpenFailure's sentence) when the
// device cannot be opened. The test bytes (FF FF and 20 ... 4B: no frame a
// terminal takes) go out right after a poll when a master polls.
std::optional<LineFacts> ProbeLine(const ProbeOptions& options, std::string& failure);

// Why `device` could not be opened, in one line, as the scan says it.
std::string OpenFailure(const std::string& device, const PortBackend& port);
