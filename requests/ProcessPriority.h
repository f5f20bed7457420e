#pragma once
// The raised process priority around one exchange with a terminal.

// Notes the current nice value and asks for -10; the noted value comes back
// when the object goes (also when the exchange throws). Without the privilege
// to raise it nothing changes, which is fine: the exchange simply runs at the
// normal priority. Never a real-time class: a spinning real-time thread would
// starve the kernel worker that delivers the received bytes.
class RaisedPriority {
 public:
  RaisedPriority();
  ~RaisedPriority();
  RaisedPriority(const RaisedPriority&) = delete;
  RaisedPriority& operator=(const RaisedPriority&) = delete;

 private:
  int noted_ = 0;
  bool raised_ = false;
};
