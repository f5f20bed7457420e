// Program entry: the command line, the single-instance lock, the
// application, the main window and the event loop. SIGTERM and SIGINT end the
// program in order, as a confirmed close, from the first moment of the
// start-up on.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "link/WireTrace.h"

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
// A close accepted during the start-up (a signal, or "Konec" while the link
// tests run) ends the program as soon as the window is built.
void RunMainWindow(TApplication& app) {
  const TerminationSignals termination;
  TForm1 form(IniPathForExecutable(QCoreApplication::applicationFilePath()), &termination);
  QObject::connect(&form, &TForm1::CloseAccepted, &app, [] { QCoreApplication::exit(0); });
  if (ShuttingDown) return;
  if (form.StatusIcon1Startup()) form.show();
  app.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  const CommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (commandLine.What != CommandLine::Action::Run) return FinishCommandLine(commandLine);

  RunHeadlessWithoutDisplay();
  const bool signalsWatched = TerminationSignals::Install();
  // Qt sees the program name alone: its own options are not taken.
  int qtArgc = 1;
  TApplication app(qtArgc, argv);
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

  std::string traceError;
  if (!commandLine.TracePath.empty() && !StartWireTrace(commandLine.TracePath, traceError)) {
    std::fprintf(stderr, "tarvion: %s\n", traceError.c_str());
    return kBadUsageExit;
  }
  try {
    RunMainWindow(app);
  } catch (const std::exception& error) {
    ShowErrorMessage(nullptr, QString::fromUtf8(error.what()));
  }
  StopWireTrace();
  return 0;
}
