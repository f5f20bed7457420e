#pragma once
// SIGTERM and SIGINT as a Qt signal: the handler writes a byte into a pipe
// that the event loop watches (also the loops of open message boxes and the
// waits of the link layer, which serve events), so the program ends in order
// from wherever it is.

#include <QObject>
#include <QSocketNotifier>
#include <atomic>
#include <memory>

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; call before the application is created, so that a
  // signal during its start is kept too. False (errno set) when they cannot be.
  static bool Install();

  // Watches the pipe from now on; needs the application.
  explicit TerminationSignals(QObject* parent = nullptr);

  // Set by the handler the moment a signal comes, for threads that cannot
  // wait for the event loop.
  static const std::atomic<bool>& Received();
  ~TerminationSignals() override;

 signals:
  // A SIGTERM or SIGINT came (once per batch of signals).
  void Requested();

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};
