// Program entry: the single-instance lock, the application, the main window
// and the event loop. SIGTERM and SIGINT end the program in order through a
// self-pipe that the event loop watches.

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/Dialogs.h"
#include "app/SingleInstance.h"
#include "app/Unit1.h"

namespace {

constexpr int kAlreadyRunning = -1;

// An exception escaping an event handler is shown, and the loop goes on.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      ShowErrorMessage(nullptr, QString::fromUtf8(error.what()));
    }
    return false;
  }
};

std::array<int, 2> signalPipe{-1, -1};

void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

bool InstallSignalPipe() {
  if (::pipe2(signalPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

void DrainSignalPipe() {
  char bytes[16];
  while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
  }
}

// With no display at all (a server, an ssh session) Qt would abort before the
// lock is taken; the program runs headless instead, as with
// QT_QPA_PLATFORM=offscreen, and says so.
void RunHeadlessWithoutDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::fputs("Tarvion: no display (DISPLAY and WAYLAND_DISPLAY are not set): running headless, as with "
             "QT_QPA_PLATFORM=offscreen\n",
             stderr);
}

void ShowRefusal(const QString& text) {
  ShowMessageBox(BoxRequest{nullptr, BoxIcon::Error, BoxButtons::Ok, QStringLiteral("*** Pozor ***"), text,
                            BoxAnswer::Ok});
}

// Builds the window, runs the loop, and destroys the window (its orderly end).
void RunMainWindow(TApplication& app) {
  TForm1 form(IniPathForExecutable(QCoreApplication::applicationFilePath()));
  QObject::connect(&form, &TForm1::CloseAccepted, &app, [] { QCoreApplication::exit(0); });
  QSocketNotifier terminate(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&terminate, &QSocketNotifier::activated, &form, [&form] {
    DrainSignalPipe();
    form.RequestOrderlyEnd();
  });
  if (form.StatusIcon1Startup()) form.show();
  app.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  RunHeadlessWithoutDisplay();
  const bool signalsWatched = InstallSignalPipe();
  TApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Tarvion 2.3"));
  QApplication::setQuitOnLastWindowClosed(false);
  if (!signalsWatched) std::perror("Tarvion: SIGTERM/SIGINT cannot be watched");

  SingleInstance instance;
  switch (instance.Acquire()) {
    case SingleInstance::Result::Acquired:
      break;
    case SingleInstance::Result::AlreadyRunning:
      ShowRefusal(QStringLiteral("Tento program je již spuštěn!!!"));
      return kAlreadyRunning;
    case SingleInstance::Result::Failed:
      ShowRefusal(QStringLiteral("Zámek proti druhému spuštění nelze vytvořit:\n%1")
                      .arg(QString::fromStdString(instance.Error())));
      return kAlreadyRunning;
  }

  try {
    RunMainWindow(app);
  } catch (const std::exception& error) {
    ShowErrorMessage(nullptr, QString::fromUtf8(error.what()));
  }
  return 0;
}
