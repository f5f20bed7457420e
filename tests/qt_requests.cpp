// The main window's side of request processing, offscreen, against a
// simulated slave terminal: the manual commands of its buttons, one exchange
// at a time, the watcher's pause and its orderly end. Message boxes are
// recorded and answered here instead of blocking.

#include <sys/stat.h>

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/Unit1.h"
#include "app/Zmena.h"
#include "link/StopRequest.h"
#include "link/CommPort.h"
#include "link/Settings.h"
#include "requests/ClockLine.h"
#include "support/SimulatorLog.h"
#include "support/TempDir.h"
#include "support/WaitFor.h"
#include "support/WriteIni.h"
#include "tools/orveta-sim/Simulator.h"

namespace {

using namespace std::chrono_literals;

// The enabled state of the controls that start an exchange.
struct ControlStates {
  bool Button1 = true, Button3 = true, Clock = true, Selekt = true;
  bool AnyEnabled() const { return Button1 || Button3 || Clock || Selekt; }
  bool AllEnabled() const { return Button1 && Button3 && Clock && Selekt; }
};

ControlStates StatesOf(const TForm1& f) {
  return {f.Button1->isEnabled(), f.Button3->isEnabled(), f.JvXPButton3->isEnabled(), f.Selekt->isEnabled()};
}

}  // namespace

class RequestsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void controlsAreLockedWhileAJobRuns();
  void clockButtonSendsTheLocalTime();
  void commandFileDialogKeepsTheCurrentDirectory();
  void requestArrivingDuringAManualCommandWaitsForIt();
  void pausedWatcherMakesNoChecks();
  void endingWhileAHandOverWaitsLeavesTheRequestForTheNextStart();

 private:
  void Start();
  QString Dir() const { return QString::fromStdString(dir_->Path().string()); }
  QString Path(const QString& name) const { return Dir() + QLatin1Char('/') + name; }
  QByteArray Read(const QString& name) const;
  void Write(const QString& name, const QByteArray& bytes) const;
  // Drops a request as the other program does: another name, then renamed.
  void DropRequest(const QByteArray& bytes) const;
  // "address:payload" of every frame the terminal received since Mark().
  QStringList Commands() const;
  int BadFrames() const;
  void Mark() { mark_ = sim_->LogLines().size(); }
  // Answers the command-file dialog once it is open: `answer` gets it.
  void WhenDialogOpens(std::function<void(QFileDialog&)> answer);
  // Picks a file in the open dialog as a user does, and presses OK.
  void Choose(QFileDialog& dialog, const QString& name) const;

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<TForm1> form_;
  QList<BoxRequest> boxes_;
  QString startCwd_;
  size_t mark_ = 0;
};

void RequestsWindowTest::init() {
  startCwd_ = QDir::currentPath();
  dir_ = std::make_unique<TempDir>("qt-requests");
  QDir::setCurrent(Dir());
  ShuttingDown = false;
  ClearStopRequest();
  Settings() = LinkSettings{};
  boxes_.clear();
  SetMessageBoxHandler([this](const BoxRequest& request) {
    boxes_.append(request);
    return request.Default;
  });
  SimOptions options;
  options.Link = Path(QStringLiteral("line")).toStdString();
  options.Terminals = {SimTerminalSpec{1, false}};
  sim_ = std::make_unique<Simulator>(options);
  std::string error;
  QVERIFY2(sim_->Start(error), error.c_str());
  // Short turnaround waits: the window's busy waits share the machine with
  // the simulated terminal's thread.
  const auto turnaround = EncodeTurnaroundBlock(TurnaroundBlock{1000, 1000});
  WriteIniFile(dir_->Path() / "tarvion.ini",
               IniValuesOf(DefaultConfigBlock(), HexFromBytes(turnaround.data(), turnaround.size())),
               {{1, sim_->LinkPath()}});
}

void RequestsWindowTest::cleanup() {
  form_.reset();
  sim_.reset();
  for (auto& port : PortTable) port.reset();
  for (int i = 0; i < kPortCount; ++i) SetComDevicePath(i, "/dev/ttyS" + std::to_string(i));
  SetMessageBoxHandler(nullptr);
  QDir::setCurrent(startCwd_);
  dir_.reset();
}

void RequestsWindowTest::Start() {
  form_ = std::make_unique<TForm1>(Path(QStringLiteral("tarvion.ini")));
  QVERIFY(form_->Processor().Terminal(0) && form_->Processor().Terminal(0)->IsSlave());
  // A raised priority would let the window's busy waits crowd out the
  // simulated terminal, which runs in this process.
  form_->Priority_set->setChecked(false);
  form_->Show_windowClick();
  Mark();
}

QByteArray RequestsWindowTest::Read(const QString& name) const {
  QFile file(Path(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void RequestsWindowTest::Write(const QString& name, const QByteArray& bytes) const {
  QFile file(Path(name));
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

void RequestsWindowTest::DropRequest(const QByteArray& bytes) const {
  Write(QStringLiteral("request.tmp"), bytes);
  QVERIFY(QFile::rename(Path(QStringLiteral("request.tmp")), Path(QStringLiteral("request.cfg"))));
}

QStringList RequestsWindowTest::Commands() const {
  QStringList commands;
  for (const std::string& hex : HexOfKind(ParseSimLog(sim_->LogLines()), "rx", mark_)) {
    commands << QString::fromLatin1(CommandOf(hex));
  }
  return commands;
}

int RequestsWindowTest::BadFrames() const {
  return static_cast<int>(HexOfKind(ParseSimLog(sim_->LogLines()), "bad").size());
}

void RequestsWindowTest::WhenDialogOpens(std::function<void(QFileDialog&)> answer) {
  auto* poll = new QTimer(form_.get());
  connect(poll, &QTimer::timeout, poll, [this, poll, answer] {
    if (form_->OpenDialog1 == nullptr || !form_->OpenDialog1->isVisible()) return;
    poll->deleteLater();
    poll->stop();
    answer(*form_->OpenDialog1);
  });
  poll->start(10);
}

// The dialog's name field takes a selected name only while it has no focus.
void RequestsWindowTest::Choose(QFileDialog& dialog, const QString& name) const {
  if (QWidget* focused = dialog.focusWidget()) focused->clearFocus();
  dialog.selectFile(Path(name));
  static_cast<QDialog&>(dialog).accept();
}

void RequestsWindowTest::controlsAreLockedWhileAJobRuns() {
  Start();
  if (QTest::currentTestFailed()) return;
  TForm1& f = *form_;
  QVERIFY(StatesOf(f).AllEnabled());
  f.Edit1->setText(QStringLiteral("X1"));
  // Runs while the job waits for the terminal's acknowledgement: nothing
  // there can start a second exchange.
  ControlStates during;
  QTimer::singleShot(0, &f, [&] {
    during = StatesOf(f);
    f.Button1->click();
    QTest::keyClick(f.Edit1, Qt::Key_Return);
    f.JvXPButton3->click();
  });
  f.Button1->click();
  QVERIFY(!during.AnyEnabled());
  QVERIFY(StatesOf(f).AllEnabled());
  QCOMPARE(Commands(), QStringList{QStringLiteral("1:X1")});
  QCOMPARE(Read(QStringLiteral("rudazo.sta")), QByteArray("1,0\r\n"));
  QCOMPARE(Read(QStringLiteral("output.txt")), QByteArray());
  QCOMPARE(f.PanelText(1), QStringLiteral("1,0"));

  // A terminal that is not there: nothing sent, and the operator is told.
  f.Select(2);
  f.Button1->click();
  f.JvXPButton3->click();
  QCOMPARE(boxes_.size(), 2);
  QVERIFY(boxes_[0].Text.startsWith(QStringLiteral("Zvolený terminál T3 není připojen")));
  QVERIFY(boxes_[0].Text.endsWith(QStringLiteral("Příkaz nebyl odeslán.")));
  QVERIFY(boxes_[1].Text.endsWith(QStringLiteral("Čas nebyl nastaven.")));
  QCOMPARE(Commands().size(), 1);
  QVERIFY(StatesOf(f).AllEnabled());
}

void RequestsWindowTest::clockButtonSendsTheLocalTime() {
  Start();
  if (QTest::currentTestFailed()) return;
  TForm1& f = *form_;
  f.AppendAnswerLine("kept");
  Write(QStringLiteral("output.txt"), "earlier\r\n");
  const QString before = QString::fromStdString(ClockLine(LocalTimeNow()));
  f.JvXPButton3->click();
  const QString after = QString::fromStdString(ClockLine(LocalTimeNow()));
  const QStringList commands = Commands();
  QCOMPARE(commands.size(), 1);
  const QString line = commands[0].mid(2);
  QVERIFY2(line == before || line == after, qPrintable(line + " " + before + " " + after));
  QVERIFY(QRegularExpression(QStringLiteral("^T\\d{14}$")).match(line).hasMatch());
  QCOMPARE(line.mid(7, 2).toInt(), QDate::currentDate().dayOfWeek());  // Monday 1 ... Sunday 7
  // The status only: the result list and the output file stay.
  QCOMPARE(Read(QStringLiteral("rudazo.sta")), QByteArray("1,0\r\n"));
  QCOMPARE(f.ResultLines(), std::vector<std::string>{"kept"});
  QCOMPARE(Read(QStringLiteral("output.txt")), QByteArray("earlier\r\n"));
}

void RequestsWindowTest::commandFileDialogKeepsTheCurrentDirectory() {
  Start();
  if (QTest::currentTestFailed()) return;
  TForm1& f = *form_;
  Write(QStringLiteral("commands.cfg"), "TERM2\r\nX1\r\n");
  QVERIFY(QDir(Dir()).mkdir(QStringLiteral("elsewhere")));
  const QString start = QDir::currentPath();

  // The dialog as the form has it; one that moves the current directory
  // while browsing does not move the job's files.
  QStringList shown;
  WhenDialogOpens([&](QFileDialog& dialog) {
    shown << dialog.windowTitle() << dialog.nameFilters() << dialog.defaultSuffix()
          << dialog.directory().absolutePath();
    QDir::setCurrent(Path(QStringLiteral("elsewhere")));
    Choose(dialog, QStringLiteral("commands.cfg"));
  });
  f.Button3->click();
  QCOMPARE(shown, (QStringList{QStringLiteral("Soubory příkazů do terminálu."),
                               QStringLiteral("Konfigurační soubory (*.cfg)"), QStringLiteral("Bat soubory (*.bat)"),
                               QStringLiteral("cfg"), start}));
  QCOMPARE(QDir::currentPath(), start);
  QCOMPARE(Commands(), (QStringList{QStringLiteral("1:TERM2"), QStringLiteral("1:X1")}));
  QCOMPARE(Read(QStringLiteral("rudazo.sta")), QByteArray("2,0\r\n"));
  QVERIFY(QFile::exists(Path(QStringLiteral("output.txt"))));
  QVERIFY(QFile::exists(Path(QStringLiteral("commands.cfg"))));
  QCOMPARE(f.SelectedIndex(), 0);  // a TERM line of a command file selects nothing

  // Cancelled: nothing sent, the directory set back all the same.
  Mark();
  WhenDialogOpens([&](QFileDialog& dialog) {
    QDir::setCurrent(Path(QStringLiteral("elsewhere")));
    dialog.reject();
  });
  f.Button3->click();
  QCOMPARE(QDir::currentPath(), start);
  QVERIFY(Commands().isEmpty());

  // A file that cannot be read: a clear message, nothing sent.
  QCOMPARE(mkfifo(Path(QStringLiteral("pipe.cfg")).toLocal8Bit().constData(), 0600), 0);
  boxes_.clear();
  WhenDialogOpens([&](QFileDialog& dialog) {
    Choose(dialog, QStringLiteral("pipe.cfg"));
  });
  f.Button3->click();
  QCOMPARE(boxes_.size(), 1);
  QCOMPARE(boxes_[0].Caption, QStringLiteral("Pozor!"));
  QCOMPARE(boxes_[0].Text, QStringLiteral("Soubor příkazů nelze přečíst:\n%1").arg(Path(QStringLiteral("pipe.cfg"))));
  QVERIFY(Commands().isEmpty());
  QVERIFY(StatesOf(f).AllEnabled());
}

// The watcher is paused while the manual command's batch runs, so a request
// that arrives meanwhile is taken in after it, and no byte of the two
// exchanges mixes on the line.
void RequestsWindowTest::requestArrivingDuringAManualCommandWaitsForIt() {
  Start();
  if (QTest::currentTestFailed()) return;
  TForm1& f = *form_;
  QByteArray commandFile;
  for (int i = 1; i <= 20; ++i) commandFile += QByteArray("X") + QByteArray::number(i) + "\r\n";
  Write(QStringLiteral("commands.cfg"), commandFile);
  WhenDialogOpens([&](QFileDialog& dialog) {
    Choose(dialog, QStringLiteral("commands.cfg"));
    // Once the job has started: the request arrives.
    QTimer::singleShot(0, &f, [&] { DropRequest("TERM1\r\nZ1\r\nZ2\r\nZ3\r\n"); });
  });
  f.Button3->click();
  QCOMPARE(Read(QStringLiteral("rudazo.sta")), QByteArray("20,0\r\n"));
  QVERIFY(QFile::exists(Path(QStringLiteral("request.cfg"))));
  QTRY_COMPARE_WITH_TIMEOUT(Read(QStringLiteral("rudazo.sta")), QByteArray("3,0\r\n"), 8000);
  QVERIFY(!QFile::exists(Path(QStringLiteral("request.cfg"))));
  const QStringList commands = Commands();
  QCOMPARE(commands.size(), 23);
  for (int i = 0; i < 20; ++i) QCOMPARE(commands[i], QStringLiteral("1:X%1").arg(i + 1));
  QCOMPARE(commands.mid(20), (QStringList{QStringLiteral("1:Z1"), QStringLiteral("1:Z2"), QStringLiteral("1:Z3")}));
  QCOMPARE(BadFrames(), 0);
}

void RequestsWindowTest::pausedWatcherMakesNoChecks() {
  const std::string path = Path(QStringLiteral("request.cfg")).toStdString();
  QStringList calls;
  THlidac watcher(path, {[&](const std::string& handed, const FileSighting&) { calls << QString::fromStdString(handed); },
                         [&] { calls << QStringLiteral("check"); }});
  watcher.Pause();
  watcher.start(QThread::LowPriority);
  DropRequest("X1\r\n");
  // Long enough for two request checks of a running watcher.
  QTest::qWait(2400);
  QVERIFY(calls.isEmpty());
  watcher.Resume();
  QTRY_COMPARE_WITH_TIMEOUT(calls, QStringList{QString::fromStdString(path)}, 3000);
  QTRY_VERIFY_WITH_TIMEOUT(calls.contains(QStringLiteral("check")), 4000);  // the 81st pass
  watcher.EndAndWait();
  QVERIFY(watcher.isFinished());
}

// A hand-over the watcher is waiting on when the window closes still runs and
// returns, so the watcher ends; it takes nothing in: the request stays for
// the next start.
void RequestsWindowTest::endingWhileAHandOverWaitsLeavesTheRequestForTheNextStart() {
  Start();
  if (QTest::currentTestFailed()) return;
  DropRequest("Z1\r\n");
  // No events are served while waiting here, so the watcher stays in its
  // hand-over call once it has made it.
  QVERIFY(WaitUntil([&] { return form_->Watcher()->CallWaiting(); }, 5s));
  form_.reset();
  QCOMPARE(Read(QStringLiteral("request.cfg")), QByteArray("Z1\r\n"));
  QVERIFY(!QFile::exists(Path(QStringLiteral("rudazo.sta"))));
  QVERIFY(Commands().isEmpty());
  const QList<QByteArray> log = Read(QStringLiteral("errorlog.txt")).trimmed().split('\n');
  QVERIFY(log.last().endsWith(" - Stop programu"));  // trimmed of its CR LF
}

QTEST_MAIN(RequestsWindowTest)
#include "qt_requests.moc"
