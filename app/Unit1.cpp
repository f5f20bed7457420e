// TForm1: construction in the order of start-up, the opening of ports and
// terminals, the start of the request-file watcher, and the orderly end.

#include "app/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QWindow>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "config/StandardError.h"
#include "app/TerminationSignals.h"
#include "app/Zmena.h"
#include "link/CommPort.h"
#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "link/Settings.h"
#include "link/JobClock.h"
#include "link/Pauses.h"
#include "link/StopRequest.h"

namespace {


// Appends a Czech message (UTF-8 in the source) to the error log; true when
// the journal took it too.
bool Log(const std::string& message, const LogTag& tag = {}) {
  return AppendErrorLog(Cp1250FromUtf8(message), tag);
}

// A value of the INI file used other than stored: in the error log, and as a
// warning on standard error (unless the journal took the log line), where a
// service's administrator reads it in the journal.
void ReportLoadNote(const std::string& message) {
  if (Log(message, LogTag{"config", LogUrgency::Warning})) return;
  WriteStandardError(LogPriority::Warning, "Tarvion: " + message);
}

}  // namespace

TForm1::TForm1(const QString& iniPath, const TerminationSignals* termination, QWidget* parent)
    : TForm1(IniLocationAt(QFile::encodeName(iniPath).toStdString()), termination, parent) {}

TForm1::TForm1(IniLocation ini, const TerminationSignals* termination, QWidget* parent)
    : QMainWindow(parent), ini_(std::move(ini)), processor_(*this) {
  CreateControls();
  qApp->installEventFilter(this);
  connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* now) {
    if (now == nullptr) focusFromOutside_ = true;
  });
  if (termination != nullptr) connect(termination, &TerminationSignals::Requested, this, &TForm1::RequestOrderlyEnd);
  LoadConfig();
  SetStartDirectory(std::filesystem::current_path().string());
  ShowConfig();
  KeepJobControls();
  Log("Start programu");
  for (const std::string& note : loadNotes_) ReportLoadNote(note);
  hide();
  // While the link layer waits for a byte, the window keeps serving its events.
  SetDispatchHook([] { QCoreApplication::processEvents(); });
  OpenPortsAndTest();
  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

int TForm1::OpenPortsAndTest() {
  for (int i = 0; i < kTerminalCount; ++i) {
    Indicators[i] = new IndicatorShape(Terminaly1);
    Indicators[i]->move(10 + 55 * i, 40);
    Indicators[i]->show();
  }
  OpenPorts(NeededPorts(config_.Block.Terminals));
  processor_.TryExchange([this] { CreateAndTestTerminals(); });
  Memo1->clear();

  showAtStart_ = false;
  const bool anyUsable = std::any_of(PortTable.begin(), PortTable.end(), [](const auto& port) { return port && port->Opened; });
  if (anyUsable) {
    PageControl1->setCurrentWidget(TabSheet1);
    return 0;
  }
  PageControl1->setCurrentWidget(TabSheet2);
  // Closed during the link tests, or ended while the warning waited: the
  // program ends once the window is built, without showing it.
  if (!ShuttingDown) {
    ShowMessageBox(BoxRequest{this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
                              QStringLiteral("Neni otevřen žádný port\nje nutno provést konfiguraci portu!"),
                              BoxAnswer::Ok});
  }
  if (ShuttingDown) return 0;
  showAtStart_ = true;
  show();
  return 0;
}

void TForm1::OpenPorts(const std::array<bool, kPortCount>& needed) {
  for (int j = 0; j < kPortCount; ++j) {
    if (!needed[j]) continue;
    PortTable[j] = std::make_unique<TSer_Port>(j, Settings().PortBaud);
    if (ComDevicePath(j).empty()) {
      LogPortEvent(j, ("neotevřen: v sekci [Porty] nemá zařízení (COM" + std::to_string(j + 1) + " je prázdný)").c_str());
    } else {
      LogPortEvent(j, PortTable[j]->Opened ? "otevřen" : "neotevřen",
                   PortTable[j]->Opened ? LogUrgency::Info : LogUrgency::Warning);
    }
  }
}

void TForm1::CreateAndTestTerminals() {
  for (int k = 0; k < kTerminalCount; ++k) {
    const TerminalEntry& entry = config_.Block.Terminals[k];
    if (TerminalInUse(entry) && PortTable[entry.PortIndex]->Opened) TakeUpTerminal(k);
  }
}

// The terminal gets its object when it has none yet (its port opened after
// the start), then is tested and logged as at the start. Nothing is tested
// once a stop is asked for.
void TForm1::TakeUpTerminal(int k) {
  const TerminalEntry& entry = config_.Block.Terminals[k];
  if (processor_.Terminal(k) == nullptr) {
    processor_.PutTerminal(k, std::make_unique<TOrveta>(PortTable[entry.PortIndex].get(), entry.Address)).Display = this;
  }
  if (PauseFor(pauses::BeforeStartupLinkTest)) TestStartupLink(k);
}

// Between jobs, for every port a connected terminal uses: a device that
// failed is noticed without sending anything (its terminals turn red, the
// device is closed), and a port that is not open (missing at the start, or
// failed) is opened again; once it opens, its terminals are taken up. The
// configuration of the start holds: a saved change counts at the next start.
void TForm1::LookAfterPorts() {
  const std::array<bool, kPortCount> needed = NeededPorts(config_.Block.Terminals);
  for (int j = 0; j < kPortCount; ++j) {
    TSer_Port* port = PortTable[j].get();
    if (!needed[j] || port == nullptr || ComDevicePath(j).empty()) continue;
    if (port->Opened) {
      if (port->NeedsReopen()) ShowPortLost(j);
      continue;
    }
    if (!port->Reopen()) continue;
    for (int k = 0; k < kTerminalCount; ++k) {
      if (UsesPort(k, j)) TakeUpTerminal(k);
    }
  }
}

void TForm1::ShowPortLost(int j) {
  for (int k = 0; k < kTerminalCount; ++k) {
    if (UsesPort(k, j) && processor_.Terminal(k) != nullptr) SetIndicator(k, TerminalIndicator::Red);
  }
}

bool TForm1::UsesPort(int k, int j) const {
  const TerminalEntry& entry = config_.Block.Terminals[k];
  return TerminalInUse(entry) && entry.PortIndex == j;
}

void TForm1::TestStartupLink(int k) {
  TOrveta& terminal = *processor_.Terminal(k);
  const std::string name = "TERM " + std::to_string(k + 1);
  const LogAbout about(k + 1, terminal.Port->PortIndex + 1);
  terminal.TestLink();
  if (StopRequested()) return;  // the test was cut short: nothing to tell
  if (!terminal.IsConnected()) {
    SetIndicator(k, TerminalIndicator::Red);
    Log(name + " NEPRIPOJEN", LogTag{"link", LogUrgency::Warning});
  } else if (terminal.IsMaster()) {
    SetIndicator(k, TerminalIndicator::Green);
    Log(name + " MASTER", LogTag{"link", LogUrgency::Info});
  } else {
    SetIndicator(k, TerminalIndicator::Cyan);
    Log(name + " SLAVE", LogTag{"link", LogUrgency::Info});
  }
}

bool TForm1::StatusIcon1Startup() const { return showAtStart_ || !trayAvailable_; }

// The request-file watcher starts one priority step below normal:
// QThread::LowPriority is the level just under NormalPriority.
// A job that a killed run left unfinished is set aside before the watcher
// looks for requests. Closed during the start-up: nothing is started, and a
// service is never reported ready.
void TForm1::FormCreate() {
  if (ShuttingDown || StopRequested()) return;
  processor_.SetAsideInterruptedJob(RequestPath());
  THlidac::MainThreadCalls calls{
      [this](const std::string& path, const FileSighting& settled) { HandOverRequest(path, settled); },
      [this] { PeriodicCheck(); }};
  watcher_ = std::make_unique<THlidac>(RequestPath(), std::move(calls));
  watcher_->start(QThread::LowPriority);
  ShowBalloonHint(QStringLiteral("Tarvion"), QStringLiteral("Start komunikačního programu"),
                  QSystemTrayIcon::Information, 2);
  serviceStatus_ = ServiceStatus();
  serviceReady_ = true;
  NotifyReady(serviceStatus_);
  StartMetrics();
}

std::array<PlaceState, kTerminalCount> TForm1::PlaceStates() const {
  std::array<PlaceState, kTerminalCount> places{};
  for (int t = 0; t < kTerminalCount; ++t) {
    const TerminalEntry& entry = config_.Block.Terminals[t];
    const bool inUse = TerminalInUse(entry);
    const TOrveta* terminal = processor_.Terminal(t);
    const bool portOpen = inUse && terminal != nullptr && terminal->Port != nullptr && terminal->Port->Opened;
    places[t] = PlaceStateFor(inUse, portOpen, Indicator(t));
  }
  return places;
}

std::string TForm1::ServiceStatus() const {
  const std::array<PlaceState, kTerminalCount> places = PlaceStates();
  PortLineErrors lineErrors;
  for (int j = 0; j < kPortCount; ++j) {
    if (PortTable[j]) lineErrors[j] = PortTable[j]->LineErrorTotals();
  }
  return ServiceStatusText(places, lastJob_, lineErrors);
}

void TForm1::UpdateServiceStatus() {
  UpdateMetrics();
  if (!serviceReady_) return;
  std::string status = ServiceStatus();
  if (status == serviceStatus_) return;
  serviceStatus_ = std::move(status);
  NotifyStatus(serviceStatus_);
}

// The request file the watcher looks for: the name in InSoubor at this moment,
// in the start directory. An empty name gives the directory itself, which is
// never taken for a request file.
std::string TForm1::RequestPath() const {
  return StartDirectory() + "/" + QFile::encodeName(InSoubor->text()).toStdString();
}

void TForm1::FormActivate() { PageControl1->setCurrentWidget(TabSheet1); }

bool TForm1::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (activatedBefore_ && focusFromOutside_) FormActivate();
    activatedBefore_ = true;
    focusFromOutside_ = false;
  }
  return QMainWindow::event(event);
}

// The context-help button of the frame: the window system reports it to the
// application as the start of "What's This?" mode, which the program has no
// use for; it opens the help instead.
bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == qApp && event->type() == QEvent::EnterWhatsThisMode) {
    NapovedaExecute();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// A click that no control takes lands on the window's background.
void TForm1::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    NapovedaExecute();
    return;
  }
  QMainWindow::mousePressEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!FormClose()) {
    event->ignore();
    return;
  }
  event->accept();
  ShuttingDown = true;
  processor_.ShutDown();
  RequestStop();
  NotifyStopping();
  emit CloseAccepted();
}

bool TForm1::FormClose() {
  if (ShuttingDown) return false;
  if (terminateRequested_ || !InteractiveBoxes()) return true;
  const BoxAnswer answer = ShowMessageBox(
      BoxRequest{nullptr, BoxIcon::Question, BoxButtons::YesNo, QStringLiteral("Pozor!"),
                 QStringLiteral("Opravdu si přeješ ukončit program?\nKomunikace bude ukončena!"), BoxAnswer::Yes});
  // A SIGTERM that came while the question was open ends the program anyway.
  return answer == BoxAnswer::Yes || terminateRequested_;
}

void TForm1::RequestOrderlyEnd() {
  terminateRequested_ = true;
  // An open box runs its own event loop; ending the loops lets it return, and
  // a closing question then lets the close through.
  if (QApplication::activeModalWidget() != nullptr) QCoreApplication::exit(0);
  close();
}

void TForm1::FormDestroy() {
  ShuttingDown = true;
  processor_.ShutDown();
  // A hand-over the watcher is waiting on still runs while it is awaited; a
  // waiting periodic check does nothing now.
  if (watcher_) watcher_->EndAndWait();
  processor_.RemoveTerminals();
  Log("Stop programu");
  watcher_.reset();
  SetDispatchHook(nullptr);
  SetCursor(CursorShape::Default);
}
