#pragma once
// The simulator's end of the serial line: a new pseudo-terminal whose other
// side is reached through a symbolic link, or an existing serial device. The
// only code of the simulator that touches a file descriptor of the line.
//
// A pseudo-terminal with nobody on the PC side "hangs up": its master end
// reports POLLHUP and reads fail with EIO. Bytes written then would wait in
// the PC side's input queue for whoever opens it next, so the simulator sends
// nothing while the line is hung up, and when a PC closes the line the bytes
// it left unread are discarded.

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "tools/orveta-sim/SimClock.h"

class SimPort {
 public:
  SimPort();
  ~SimPort();
  SimPort(const SimPort&) = delete;
  SimPort& operator=(const SimPort&) = delete;

  // Creates a pseudo-terminal in raw mode and a symbolic link `link` to the
  // side the PC opens. An existing symbolic link at `link` is replaced; any
  // other file there is an error.
  bool OpenPty(const std::string& link, std::string& error);
  // Opens an existing serial device in raw mode, 8N1 at `baud`.
  bool OpenDevice(const std::string& path, int baud, std::string& error);
  // Closes the line and removes the link if it still leads to this line.
  // Idempotent.
  void Close();

  // Bytes leave one at a time, one byte time (10 bits at `baud`) apart; 0
  // sends at once.
  void SetPacing(int baud) { pacingBaud_ = baud; }

  enum class WaitResult { Bytes, Timeout, HungUp, Woken };
  // Waits until bytes arrive (read into `bytes`, their arrival time in
  // `arrival`), `deadline` passes, the line is hung up, or Wake() is called.
  WaitResult Wait(SimTime deadline, std::string& bytes, SimTime& arrival);
  // Sleeps about `duration` unless Wake() is called; for a hung-up line.
  void Nap(std::chrono::milliseconds duration);
  // True when someone has the line open (the PC side of a pseudo-terminal).
  bool Attached() const;
  // Drops what the last PC left unread on the pseudo-terminal.
  void DiscardStale();

  // Whether a byte written now would be taken: false while the PC side's
  // queue is full (a PC that does not read).
  bool HasRoom() const;

  // What Send does when the line takes no more: wait for room (up to a
  // second, as for an answer the PC is about to read), or drop the rest at
  // once, as a terminal's poll on a line nobody reads.
  enum class WhenFull { Wait, Drop };
  // Sends `bytes`, paced or at once. Gives up early when the line hangs up,
  // `stop` is set, or the line is full (see WhenFull). Returns the number of
  // bytes sent; `end` is when the last one was written.
  std::size_t Send(std::string_view bytes, const std::atomic<bool>& stop, SimTime& end,
                   WhenFull whenFull = WhenFull::Wait);
  // Writes as much of `bytes` as the line takes at once, unpaced; the count.
  std::size_t SendAvailable(std::string_view bytes);

  // Ends the current or next Wait or Nap at once; callable from any thread.
  // Stays in effect: meant for stopping.
  void Wake();

 private:
  bool WriteAll(std::string_view bytes, const std::atomic<bool>& stop, std::size_t& sent, WhenFull whenFull);
  void SendPaced(std::string_view bytes, const std::atomic<bool>& stop, std::size_t& sent, WhenFull whenFull);

  int fd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string path_;      // the link or the device
  std::string ptyName_;   // the PC side of our pseudo-terminal; empty for a device
  int pacingBaud_ = 0;
};
