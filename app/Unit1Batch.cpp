// TForm1 as the host of request processing: the controls and tables a job
// reads and shows, the watcher's calls, and the manual commands of the
// buttons "Odeslat příkaz", "Příkazy ze souboru" and "Nastavit čas".

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/Texts.h"
#include "app/Unit1.h"
#include "app/Zmena.h"
#include "link/StopRequest.h"
#include "requests/ClockLine.h"

namespace {

// The balloon "Odesílání" follows a batch line by line. A desktop that shows
// every balloon as a notification of its own would be flooded by a long
// batch, so a new one comes at most once in this interval.
constexpr auto kBalloonInterval = std::chrono::seconds(5);
// How long a progress balloon may stay: the shortest time-out of the system
// the program comes from.
constexpr int kBalloonSeconds = 10;
constexpr auto kClickRetryInterval = std::chrono::milliseconds(50);

}  // namespace

// --- The jobs' state as the window sees it ---

// Takes no keyboard focus, so it works the same while the window is hidden.
void TForm1::Select(int t) {
  if (QAbstractButton* item = SelektItems->button(t)) item->setChecked(true);
  Selekt->repaint();
}

// The output file's name is the configuration's as read at the start; in the
// configuration it is code page 1250, on disk a file name of this system.
void TForm1::KeepJobControls() {
  JobSettings& controls = processor_.Controls();
  controls.OutputFileName = QFile::encodeName(ShownText(config_.Block.OutputFileName)).toStdString();
  const auto attempts = [this, &controls] { controls.Attempts = Rep_write->currentIndex() + 1; };
  const auto stopOnFailure = [this, &controls] { controls.StopOnFailure = Write_error_repeat->isChecked(); };
  const auto raisePriority = [this, &controls] { controls.RaisePriority = Priority_set->isChecked(); };
  const auto selected = [this] { processor_.SelectTerminal(SelektItems->checkedId()); };
  connect(Rep_write, &QComboBox::currentIndexChanged, this, attempts);
  connect(Write_error_repeat, &QCheckBox::toggled, this, stopOnFailure);
  connect(Priority_set, &QCheckBox::toggled, this, raisePriority);
  connect(SelektItems, &QButtonGroup::idToggled, this, selected);
  attempts();
  stopOnFailure();
  raisePriority();
  selected();
}

void TForm1::PauseWatcher() {
  if (watcher_) watcher_->Pause();
}

void TForm1::ResumeWatcher() {
  if (watcher_) watcher_->Resume();
}

bool TForm1::IsShuttingDown() const { return ShuttingDown || StopRequested(); }

// --- Listening to the jobs ---

// The pair in the panel "Status:" is the last job's result, for the service's
// status line too (a new job empties the panel first: that is no result).
void TForm1::PanelChanged(int panel, const std::string& text) {
  SetPanelText(panel, QString::fromStdString(text));
  if (panel != kStatusPanel || text.empty()) return;
  lastJob_ = LastJob{LocalTimeNow(), text};
  UpdateServiceStatus();
}

void TForm1::TerminalSelected(int t) { Select(t); }

void TForm1::IndicatorChanged(int t, TerminalIndicator colour) {
  Indicators[t]->SetColour(colour);
  UpdateServiceStatus();
}

void TForm1::ProgressShown(const std::string& title, const std::string& text) {
  const auto now = std::chrono::steady_clock::now();
  if (balloonShown_ && now - lastBalloon_ < kBalloonInterval) return;
  ShowBalloonHint(QString::fromStdString(title), QString::fromStdString(text), QSystemTrayIcon::NoIcon, kBalloonSeconds);
  balloonShown_ = true;
  lastBalloon_ = now;
}

// Qt has no call that takes a balloon down. Where Qt draws the balloon itself
// (a tray without a notification service), it is a window of the program and
// is closed here; a notification service's bubble goes at its time-out. An
// empty message is never sent: such a service would show an empty bubble.
void TForm1::ProgressEnded() {
  if (!balloonShown_) return;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qstrcmp(window->metaObject()->className(), "QBalloonTip") == 0) window->close();
  }
  balloonShown_ = false;
}

void TForm1::ResultListCleared() { Memo1->clear(); }

// The list is hidden while a block's lines are added, so it is drawn once.
void TForm1::AnswerLinesAdded(const std::vector<std::string>& lines) {
  Memo1->setVisible(false);
  for (const std::string& line : lines) AppendAnswerLine(line);
  Memo1->setVisible(true);
}

void TForm1::RepaintDue() {
  StatusBar1->repaint();
  Selekt->repaint();
  Memo1->repaint();
}

void TForm1::JobExchangeStarted() { SetExchangeControlsEnabled(false); }

void TForm1::JobExchangeEnded() { SetExchangeControlsEnabled(true); }

void TForm1::BatchStarted() { PauseWatcher(); }

void TForm1::BatchEnded() { ResumeWatcher(); }

void TForm1::AttemptStarts(std::chrono::milliseconds longest) { stopExtension_.AttemptStarts(longest); }

void TForm1::AttemptEnds() { stopExtension_.AttemptEnds(); }

// --- One exchange at a time ---

void TForm1::SetExchangeControlsEnabled(bool enabled) {
  for (QWidget* control : std::initializer_list<QWidget*>{Button1, Button3, JvXPButton3, Selekt}) {
    control->setEnabled(enabled);
  }
}

// --- The watcher's calls ---

// A request that cannot be taken in now (another exchange in progress, its
// writer still holds it, it cannot be deleted) stays where it is, and a later
// check hands it over again.
void TForm1::HandOverRequest(const std::string& path, const FileSighting& settled) {
  processor_.ProcessRequestFile(path, settled);
}

// Skipped while another exchange is in progress, and once shutting down.
// Between jobs the ports are looked after and the lines' error counters
// looked at here too, so that the indicators and the service's status line
// follow them.
void TForm1::PeriodicCheck() {
  if (IsShuttingDown()) return;
  processor_.TryExchange([this] {
    LookAfterPorts();
    CheckSelectedTerminal();
    for (auto& port : PortTable) {
      if (port && port->Opened) port->LookAtLineErrors();
    }
    UpdateServiceStatus();
  });
}

// --- Manual commands ---

// A click that comes while the periodic check tests a terminal (the controls
// stay enabled for that short test) is carried out once the test has ended.
bool TForm1::DeferredUntilCheckEnds(void (TForm1::*click)()) {
  if (!processor_.Busy()) return false;
  QTimer::singleShot(kClickRetryInterval, this, click);
  return true;
}

void TForm1::Button1Click() {
  if (DeferredUntilCheckEnds(&TForm1::Button1Click)) return;
  ReportNoTerminal(processor_.SendTypedLine(Cp1250Of(Edit1->text())),
                   QStringLiteral("Příkaz nebyl odeslán."));
}

// The dialog is made for each use: a file dialog watches its folder, and one
// kept in the background would read the start directory again on the main
// thread after every file an exchange deletes or writes there.
void TForm1::Button33Click() {
  const QString noted = QDir::currentPath();
  QFileDialog dialog(this, QStringLiteral("Soubory příkazů do terminálu."), noted,  // the initial folder "."
                     QStringLiteral("Konfigurační soubory (*.cfg);;Bat soubory (*.bat)"));
  dialog.setDefaultSuffix(QStringLiteral("cfg"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  OpenDialog1 = &dialog;
  const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  OpenDialog1 = nullptr;
  // Whatever the dialog did to the current directory, it is set back before
  // the job, so that every file of the job lands where it always does.
  QDir::setCurrent(noted);
  if (chosen) SendCommandFileOf(dialog.selectedFiles().constFirst());
}

void TForm1::SendCommandFileOf(const QString& path) {
  if (processor_.SendCommandFile(QFile::encodeName(path).toStdString()) != JobResult::FileUnreadable) return;
  ShowMessageBox(BoxRequest{this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
                            QStringLiteral("Soubor příkazů nelze přečíst:\n%1").arg(path), BoxAnswer::Ok});
}

// The time is taken at the click; the waits of the batch delay its arrival.
void TForm1::Button4Click() {
  if (DeferredUntilCheckEnds(&TForm1::Button4Click)) return;
  const std::tm now = LocalTimeNow();
  ReportNoTerminal(processor_.SetClock(now), QStringLiteral("Čas nebyl nastaven."));
}

// A typed line or the clock for a terminal that is not there or did not
// answer its last link test: nothing is sent, and the operator is told so.
void TForm1::ReportNoTerminal(JobResult result, const QString& notDone) {
  if (result != JobResult::NoTerminal) return;
  ShowMessageBox(BoxRequest{
      this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
      QStringLiteral("Zvolený terminál T%1 není připojen nebo neodpověděl na poslední test spojení.\n%2")
          .arg(SelectedIndex() + 1)
          .arg(notDone),
      BoxAnswer::Ok});
}
