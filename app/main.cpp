// Program entry: the command line, the single-instance lock, the
// application, the main window and the event loop. SIGTERM and SIGINT end the
// program in order, as a confirmed close, from the first moment of the
// start-up on.

#include <QApplication>
#include <cstdio>
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
