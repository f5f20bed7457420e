// Program entry: the command line, the start directory, the single-instance
// lock, the application, the INI file's location, the main window and the
// event loop. SIGTERM and SIGINT end the program in order, as a confirmed
// close, from the first moment of the start-up on. Everything it writes to
// standard error goes through WriteStandardError, Qt's own messages too.

#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "config/CommandLine.h"
#include "app/Dialogs.h"
#include "config/FileLocations.h"
#include "app/Globals.h"
#include "app/ServiceNotify.h"
#include "app/SingleInstance.h"
#include "config/StandardError.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "link/ErrorLog.h"
#include "link/WireTrace.h"

namespace {

constexpr int kAlreadyRunning = -1;

// An exception escaping an event handler is shown, and the loop goes on.
class GuardedApplication : public QApplication {
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
  WriteStandardError(LogPriority::Notice,
                     "Tarvion: no display (DISPLAY and WAYLAND_DISPLAY are not set): running headless, as with "
                     "QT_QPA_PLATFORM=offscreen");
}

LogPriority PriorityOf(QtMsgType type) {
  switch (type) {
    case QtDebugMsg: return LogPriority::Debug;
    case QtInfoMsg: return LogPriority::Info;
    case QtWarningMsg: return LogPriority::Warning;
    case QtCriticalMsg: return LogPriority::Error;
    case QtFatalMsg: break;
  }
  return LogPriority::Critical;
}

void QtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  WriteStandardError(PriorityOf(type), qFormatLogMessage(type, context, message).toStdString());
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  const passwd* user = ::getpwuid(::getuid());
  return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The --config file, or without it the usual file for this executable and
// user.
IniLocation FindIni(const std::string& configPath) {
  return FindIniLocation(IniSearch{configPath, QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(),
                                   InstallBinDir(), SiteIniFile(), EnvironmentValue("XDG_CONFIG_HOME"), HomeDirectory()});
}

// Before anything else: the --config and --metrics files made absolute
// against the directory the program was started in, then the start
// directory entered; false after saying why it cannot be used.
bool EnterStartLocation(CommandLine& commandLine) {
  std::error_code ignored;
  if (!commandLine.ConfigPath.empty()) commandLine.ConfigPath = std::filesystem::absolute(commandLine.ConfigPath, ignored);
  if (!commandLine.MetricsPath.empty()) {
    commandLine.MetricsPath = std::filesystem::absolute(commandLine.MetricsPath, ignored);
  }
  if (commandLine.StartDirectory.empty()) return true;
  std::string error;
  if (EnterStartDirectory(ExpandHome(commandLine.StartDirectory, HomeDirectory()), error)) return true;
  WriteStandardError(LogPriority::Error, "tarvion: " + error);
  return false;
}

void ShowRefusal(const QString& text) {
  ShowMessageBox(BoxRequest{nullptr, BoxIcon::Error, BoxButtons::Ok, QStringLiteral("*** Pozor ***"), text,
                            BoxAnswer::Ok});
}

// Takes `lock`; false after the refusal has been shown. `where`, when given,
// is said on standard error when another program holds the lock.
bool AcquireLock(SingleInstance& lock, const std::string& path, const std::string& where) {
  switch (lock.AcquireAt(path)) {
    case SingleInstance::Result::Acquired:
      return true;
    case SingleInstance::Result::AlreadyRunning:
      if (!where.empty()) WriteStandardError(LogPriority::Error, "tarvion: " + where);
      ShowRefusal(QStringLiteral("Tento program je již spuštěn!!!"));
      return false;
    case SingleInstance::Result::Failed:
      break;
  }
  ShowRefusal(QStringLiteral("Zámek proti druhému spuštění nelze vytvořit:\n%1").arg(QString::fromStdString(lock.Error())));
  return false;
}

// Lines of the error log that must reach the journal too, and those the log
// file could not take.
void WriteLogLineToStandardError(bool failure, const std::string& line) {
  WriteStandardError(failure ? LogPriority::Error : LogPriority::Notice, "Tarvion: " + line);
}

// Builds the window, runs the loop, and destroys the window (its orderly end).
// A close accepted during the start-up (a signal, or "Konec" while the link
// tests run) ends the program as soon as the window is built.
void RunMainWindow(GuardedApplication& app, const IniLocation& ini) {
  const TerminationSignals termination;
  TForm1 form(ini, &termination);
  QObject::connect(&form, &TForm1::CloseAccepted, &app, [] { QCoreApplication::exit(0); });
  if (ShuttingDown) return;
  if (form.StatusIcon1Startup()) form.show();
  app.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  CommandLine commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (commandLine.What != CommandLine::Action::Run) return FinishCommandLine(commandLine);
  if (!EnterStartLocation(commandLine)) return kBadUsageExit;

  qInstallMessageHandler(QtMessage);
  RunHeadlessWithoutDisplay();
  const bool signalsWatched = TerminationSignals::Install();
  const int signalsError = errno;
  // Qt sees the program name alone: its own options are not taken.
  int qtArgc = 1;
  GuardedApplication app(qtArgc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Tarvion 2.3"));
  QApplication::setQuitOnLastWindowClosed(false);
  if (!signalsWatched) {
    WriteStandardError(LogPriority::Error, std::string("Tarvion: SIGTERM/SIGINT cannot be watched: ") + std::strerror(signalsError));
  }

  SetStandardErrorWriter(WriteLogLineToStandardError);
  // A service's log lines reach its journal each with its fields.
  if (StandardErrorIsJournal()) SetLogEntryWriter(SendJournalEntry);
  // The session's lock, then the start directory's: nothing in the directory
  // is touched before this program alone holds it.
  SingleInstance instance, directoryLock;
  std::error_code ignored;
  const std::string directory = std::filesystem::current_path(ignored).string();
  if (!AcquireLock(instance, SingleInstance::LockPath(), "") ||
      !AcquireLock(directoryLock, SingleInstance::StartDirectoryLockPath(directory),
                   "another Tarvion works in the start directory " + directory + " (it holds " +
                       SingleInstance::StartDirectoryLockPath(directory) + ")")) {
    return kAlreadyRunning;
  }

  const WireTraceFiles traceFiles{commandLine.TracePath, commandLine.CapturePath,
                                  std::string("Tarvion ") + TarvionVersion()};
  std::string traceError;
  if (!StartWireTrace(traceFiles, traceError)) {
    WriteStandardError(LogPriority::Error, "tarvion: " + traceError);
    return kBadUsageExit;
  }
  MetricsPath = commandLine.MetricsPath;
  try {
    RunMainWindow(app, FindIni(commandLine.ConfigPath));
  } catch (const std::exception& error) {
    ShowErrorMessage(nullptr, QString::fromUtf8(error.what()));
  }
  StopWireTrace();
  return 0;
}
