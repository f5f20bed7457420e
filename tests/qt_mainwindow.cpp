// The main window, offscreen: its texts and lists, saving the configuration,
// the live settings, the error-log viewer, the periodic link check, the About
// page's LEDs, closing, and what the link layer shows. Message boxes are
// recorded and answered here instead of blocking.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "app/Zmena.h"
#include "link/CommPort.h"
#include "link/ErrorLog.h"
#include "link/Settings.h"
#include "tools/orveta-sim/Simulator.h"

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void firstStartShowsTheDefaultsWithTheTextsOfTheForm();
  void storedIndexesOutsideTheirListsSelectTheDefaults();
  void savingRefusesBadNumbersAndWritesEveryValue();
  void turnaroundAndTimeoutControlsChangeTheLiveSettings();
  void anIniThatCannotBeWrittenIsReported();
  void errorLogViewerShowsAndEmptiesTheStartDirectoryLog();
  void periodicCheckRetestsOnlyARedIndicator();
  void aboutPageLedsFollowTheSelectedTerminal();
  void closingAsksUnlessTerminated();
  void closingDuringTheStartUpEndsOnceTheWindowIsBuilt();
  void linkDisplayKeepsBytesAndShowsText();
  void enterSendsOnlyAfterTheCommandLineChanged();
  void helpOpensTheCompiledOrElseTheHtmlHelpOfTheCurrentDirectory();

 private:
  void WriteIni(const ConfigBlock& block, const QString& com1);
  void Start();
  int Boxes(const QString& text) const;
  QString IniPath() const { return dir_->filePath(QStringLiteral("tarvion.ini")); }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TForm1> form_;
  QList<BoxRequest> boxes_;
  BoxAnswer answer_ = BoxAnswer::No;
  QString startCwd_;
};

void MainWindowTest::init() {
  startCwd_ = QDir::currentPath();
  dir_ = std::make_unique<QTemporaryDir>();
  QVERIFY(dir_->isValid());
  QDir::setCurrent(dir_->path());
  ShuttingDown = false;
  Settings() = LinkSettings{};
  boxes_.clear();
  answer_ = BoxAnswer::No;
  SetMessageBoxHandler([this](const BoxRequest& request) {
    boxes_.append(request);
    return request.Buttons == BoxButtons::YesNo ? answer_ : BoxAnswer::Ok;
  });
  WriteIni(DefaultConfigBlock(), dir_->filePath(QStringLiteral("no-such-device")));
}

void MainWindowTest::cleanup() {
  form_.reset();
  for (auto& port : PortTable) port.reset();
  for (int i = 0; i < PortCount; ++i) SetComDevicePath(i, "/dev/ttyS" + std::to_string(i));
  SetMessageBoxHandler(nullptr);
  SetUrlOpener(nullptr);
  QDir::setCurrent(startCwd_);
  dir_.reset();
}

void MainWindowTest::WriteIni(const ConfigBlock& block, const QString& com1) {
  const auto bytes = EncodeConfigBlock(block);
  QFile ini(IniPath());
  QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ini.write("[Konfigurace]\nCfg_binary=" + QByteArray::fromStdString(HexFromBytes(bytes.data(), bytes.size())) +
            "\n[Porty]\nCOM1=" + com1.toUtf8() + "\n");
}

void MainWindowTest::Start() { form_ = std::make_unique<TForm1>(IniPath()); }

int MainWindowTest::Boxes(const QString& text) const {
  return static_cast<int>(std::count_if(boxes_.begin(), boxes_.end(), [&](const BoxRequest& b) { return b.Text == text; }));
}

void MainWindowTest::firstStartShowsTheDefaultsWithTheTextsOfTheForm() {
  QFile::remove(IniPath());
  QFile ini(IniPath());  // only the port section: every configuration value is a default
  QVERIFY(ini.open(QIODevice::WriteOnly));
  ini.write("[Porty]\nCOM1=" + dir_->filePath(QStringLiteral("none")).toUtf8() + "\n");
  ini.close();
  Start();
  TForm1& f = *form_;

  // No port opened: the warning, the configuration page, the window shown.
  QCOMPARE(Boxes(QStringLiteral("Neni otevřen žádný port\nje nutno provést konfiguraci portu!")), 1);
  QCOMPARE(boxes_.first().Caption, QStringLiteral("Pozor!"));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet2);
  QVERIFY(f.StatusIcon1Startup());
  QVERIFY(PortTable[0] && !PortTable[0]->Opened);
  QVERIFY(!Terminals[0]);

  QCOMPARE(f.windowTitle(), QStringLiteral("Tarvion - komunikační program pro terminál ORVETA"));
  const QStringList tabs{"Ovládání terminálu", "Konfigurace terminálů", "Servisní nastavení", "O programu",
                         "Chybová hlášení"};
  for (int i = 0; i < tabs.size(); ++i) QCOMPARE(f.PageControl1->tabText(i), tabs[i]);
  QVERIFY(!f.PageControl1->isTabVisible(4));
  QCOMPARE(f.Selekt->title(), QStringLiteral("Terminál"));
  QCOMPARE(f.Selekt->toolTip(), QStringLiteral("Volba terminálu pro komunikaci"));
  for (int i = 0; i < 4; ++i) {
    QCOMPARE(f.SelektItems->button(i)->text(), QStringLiteral("T%1").arg(i + 1));
    QCOMPARE(f.Indicators[i]->geometry(), QRect(10 + 55 * i, 40, 30, 30));
    QCOMPARE(f.Indicator(i), TerminalIndicator::White);
  }
  QCOMPARE(f.SelectedIndex(), 0);
  QCOMPARE(f.Button1->text(), QStringLiteral("Odeslat příkaz"));
  QCOMPARE(f.Button3->text(), QStringLiteral("Příkazy ze souboru"));
  QCOMPARE(f.FButton2->text(), QStringLiteral("Schovat program   "));
  QCOMPARE(f.JvXPButton1->text(), QStringLiteral("Ukončení programu"));
  QCOMPARE(f.JvXPButton7->text(), QStringLiteral("Uložit CFG    "));
  QCOMPARE(f.JvXPButton4->text(), QStringLiteral("Výpis error-log"));
  QCOMPARE(f.BitBtn2->text(), QStringLiteral("   Zpět"));
  QCOMPARE(f.Label26->text(), QStringLiteral("Datum vytvoření programu: May 30 2006"));

  const QStringList labels{"Status:", "", "Načteno:", "", "Opakování vysílání:", "", "Opakování příjmu:", "",
                           "Příkazy", "0/0", ""};
  const int widths[] = {50, 50, 60, 60, 100, 20, 100, 20, 50, 80, 50};
  for (int i = 0; i < 11; ++i) {
    QCOMPARE(f.PanelText(i), labels[i]);
    QCOMPARE(f.StatusPanels[i]->width(), widths[i]);
  }
  QStringList menu;
  for (QAction* a : f.PopupMenu1->actions()) menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
  QCOMPARE(menu, (QStringList{"Zobrazit program", "Schovat program", "Nápověda", "-", "Konec"}));
  QCOMPARE(f.PopupMenu1->defaultAction(), f.Show_window);
  QCOMPARE(f.StatusIcon1->toolTip(), QStringLiteral("Komunikátor ORVETA"));

  // Every value of the defaults, in pick-only lists.
  QCOMPARE(f.Adr1->text(), QStringLiteral("1"));
  QVERIFY(f.Pripojen1->isChecked());
  for (QLineEdit* adr : {f.Adr2, f.Adr3, f.Adr4}) QCOMPARE(adr->text(), QStringLiteral("0"));
  for (QCheckBox* c : {f.Pripojen2, f.Pripojen3, f.Pripojen4, f.Mark1, f.DT_use1}) QVERIFY(!c->isChecked());
  for (QCheckBox* c : {f.CCode1, f.Kredit1, f.Priority_set, f.Write_error_repeat}) QVERIFY(c->isChecked());
  QCOMPARE(f.Port1->count(), 8);
  QCOMPARE(f.Port1->itemText(7), QStringLiteral("COM8"));
  QCOMPARE(f.Port1->currentText(), QStringLiteral("COM1"));
  QCOMPARE(f.K_Baud1->currentText(), QStringLiteral("19200"));
  QCOMPARE(f.Radku1->text(), QStringLiteral("2500"));
  QCOMPARE(f.MxSn1->text(), QStringLiteral("4"));
  QCOMPARE(f.MxVec1->text(), QStringLiteral("6"));
  QCOMPARE(f.InSoubor->text(), QStringLiteral("request.cfg"));
  QCOMPARE(f.OutSoubor->text(), QStringLiteral("output.txt"));
  QCOMPARE(f.Rep_write->count(), 9);
  QCOMPARE(f.Rep_write->currentText(), QStringLiteral("1"));
  QCOMPARE(f.Delay_add->count(), 60);
  QCOMPARE(f.Delay_add->itemText(59), QStringLiteral("236"));
  QCOMPARE(f.Delay_add->currentText(), QStringLiteral("80"));
  QCOMPARE(f.Edit2->text(), QStringLiteral("9500"));
  QCOMPARE(f.Edit3->text(), QStringLiteral("9500"));
  for (QComboBox* box : {f.Port1, f.K_Baud1, f.Rep_write, f.Delay_add}) QVERIFY(!box->isEditable());
  QCOMPARE(Settings().LinkTimeout, 120u);
  QCOMPARE(Settings().PortBaud, 19200);
}

void MainWindowTest::storedIndexesOutsideTheirListsSelectTheDefaults() {
  ConfigBlock block = DefaultConfigBlock();
  block.BaudIndex = 7;
  block.TimeoutIndex = 200;
  block.RepeatIndex = 50;
  block.Terminals[1] = TerminalEntry{2, 9, true};  // names no port: not connected, shown as COM1
  WriteIni(block, dir_->filePath(QStringLiteral("none")));
  Start();
  QCOMPARE(form_->K_Baud1->currentText(), QStringLiteral("19200"));
  QCOMPARE(form_->Delay_add->currentText(), QStringLiteral("80"));
  QCOMPARE(form_->Rep_write->currentText(), QStringLiteral("1"));
  QCOMPARE(form_->Port2->currentText(), QStringLiteral("COM1"));
  QCOMPARE(Settings().LinkTimeout, 120u);
  QCOMPARE(Settings().PortBaud, 19200);
  QVERIFY(!PortTable[1] && !Terminals[1]);
}

void MainWindowTest::savingRefusesBadNumbersAndWritesEveryValue() {
  Start();
  TForm1& f = *form_;
  QFile ini(IniPath());
  QVERIFY(ini.open(QIODevice::ReadOnly));
  const QByteArray before = ini.readAll();
  ini.close();

  // An empty address, also of a terminal that is not connected: nothing written.
  boxes_.clear();
  f.Adr3->setText(QString());
  f.JvXPButton2->click();
  QCOMPARE(Boxes(QStringLiteral("'' is not a valid integer value")), 1);
  QCOMPARE(boxes_.size(), 1);
  QVERIFY(ini.open(QIODevice::ReadOnly));
  QCOMPARE(ini.readAll(), before);
  ini.close();

  f.Adr1->setText(QStringLiteral("15"));
  f.Adr2->setText(QStringLiteral("2"));
  f.Adr3->setText(QStringLiteral("3"));
  f.Port2->setCurrentIndex(4);
  f.Pripojen2->setChecked(true);
  f.K_Baud1->setCurrentIndex(2);
  f.Mark1->setChecked(true);
  f.CCode1->setChecked(false);
  f.DT_use1->setChecked(true);
  f.Kredit1->setChecked(false);
  f.Radku1->setText(QStringLiteral("1000"));
  f.MxSn1->setText(QStringLiteral("3"));
  f.MxVec1->setText(QStringLiteral("5"));
  f.InSoubor->setText(QStringLiteral("fifteen_chars_x"));
  f.OutSoubor->setText(QStringLiteral("výstup.txt"));
  f.Rep_write->setCurrentIndex(2);
  f.Delay_add->setCurrentIndex(5);
  f.Priority_set->setChecked(false);
  f.Write_error_repeat->setChecked(false);
  f.Edit2->setText(QStringLiteral("1200"));
  f.Edit3->setText(QStringLiteral("800"));
  boxes_.clear();
  QSignalSpy closes(&f, &TForm1::CloseAccepted);
  f.JvXPButton7->click();
  QCOMPARE(boxes_.size(), 1);  // the restart question, answered No
  QCOMPARE(boxes_[0].Caption, QStringLiteral("Varování"));
  QCOMPARE(closes.count(), 0);
  // Only the parity setting changes at once; the rest waits for the next start.
  QVERIFY(Settings().ParityMark);
  QCOMPARE(Settings().PortBaud, 19200);
  QCOMPARE(f.Config().Block.Terminals[0].Address, 1);

  QVERIFY(ini.open(QIODevice::ReadOnly));
  const QByteArray written = ini.readAll();
  ini.close();
  QVERIFY(written.contains("[Porty]"));  // the device section is kept
  const int at = written.indexOf("Cfg_binary=") + 11;
  const QByteArray hex = written.mid(at, 136);
  QCOMPARE(hex, hex.toUpper());

  // Yes to the restart question asks the closing question; No keeps running.
  answer_ = BoxAnswer::Yes;
  boxes_.clear();
  SetMessageBoxHandler([this](const BoxRequest& request) {
    boxes_.append(request);
    return boxes_.size() == 1 ? BoxAnswer::Yes : BoxAnswer::No;
  });
  f.BitBtn1Click();
  QCOMPARE(boxes_.size(), 2);
  QCOMPARE(boxes_[1].Text, QStringLiteral("Opravdu si přeješ ukončit program?\nKomunikace bude ukončena!"));
  QCOMPARE(closes.count(), 0);

  form_.reset();
  ShuttingDown = false;
  for (auto& port : PortTable) port.reset();
  Settings() = LinkSettings{};
  Start();
  TForm1& g = *form_;
  QCOMPARE(g.Adr1->text(), QStringLiteral("15"));
  QCOMPARE(g.Adr3->text(), QStringLiteral("3"));
  QCOMPARE(g.Port2->currentIndex(), 4);
  QVERIFY(g.Pripojen2->isChecked());
  QCOMPARE(g.K_Baud1->currentText(), QStringLiteral("4800"));
  QVERIFY(g.Mark1->isChecked() && !g.CCode1->isChecked() && g.DT_use1->isChecked() && !g.Kredit1->isChecked());
  QCOMPARE(g.Radku1->text(), QStringLiteral("1000"));
  QCOMPARE(g.MxSn1->text(), QStringLiteral("3"));
  QCOMPARE(g.MxVec1->text(), QStringLiteral("5"));
  QCOMPARE(g.InSoubor->text(), QStringLiteral("fifteen_char"));
  QCOMPARE(g.OutSoubor->text(), QStringLiteral("výstup.txt"));
  QCOMPARE(g.Rep_write->currentText(), QStringLiteral("3"));
  QCOMPARE(g.Delay_add->currentText(), QStringLiteral("20"));
  QVERIFY(!g.Priority_set->isChecked() && !g.Write_error_repeat->isChecked());
  QCOMPARE(g.Edit2->text(), QStringLiteral("1200"));
  QCOMPARE(g.Edit3->text(), QStringLiteral("800"));
  QCOMPARE(Settings().PortBaud, 4800);
  QCOMPARE(Settings().AnswerBufferSize, 29000);
  QCOMPARE(Settings().LinkTimeout, 60u);
  QCOMPARE(g.Config().Block.OutputFileName, std::string("v\xFDstup.txt"));  // code page 1250 in the record
}

void MainWindowTest::turnaroundAndTimeoutControlsChangeTheLiveSettings() {
  Start();
  TForm1& f = *form_;
  boxes_.clear();
  f.Edit2->setText(QStringLiteral("1200"));
  QCOMPARE(Settings().TxTurnaroundUs, 1200u);
  f.Edit3->setText(QStringLiteral("abc"));
  QCOMPARE(Boxes(QStringLiteral("'abc' is not a valid integer value")), 1);
  QCOMPARE(Settings().RxTurnaroundUs, 9500u);
  f.Edit2->setText(QStringLiteral("1000001"));  // beyond a second: refused, a bad Edit2 leaves both
  QCOMPARE(Boxes(QStringLiteral("'1000001' is not a valid integer value")), 1);
  QCOMPARE(Settings().TxTurnaroundUs, 1200u);
  f.Edit2->setText(QStringLiteral("-5"));
  QCOMPARE(Settings().TxTurnaroundUs, 1200u);
  f.Edit3->setText(QStringLiteral("700"));
  QCOMPARE(Settings().RxTurnaroundUs, 9500u);  // Edit2 still holds "-5"
  f.Edit2->setText(QStringLiteral("0"));
  QCOMPARE(Settings().TxTurnaroundUs, 0u);
  QCOMPARE(Settings().RxTurnaroundUs, 700u);

  f.Delay_add->setCurrentIndex(0);
  QCOMPARE(Settings().LinkTimeout, 40u);
  f.Delay_add->setCurrentIndex(59);
  QCOMPARE(Settings().LinkTimeout, 276u);
}

void MainWindowTest::anIniThatCannotBeWrittenIsReported() {
  QFile notADirectory(dir_->filePath(QStringLiteral("file")));
  QVERIFY(notADirectory.open(QIODevice::WriteOnly));
  notADirectory.close();
  const QString ini = dir_->filePath(QStringLiteral("file/tarvion.ini"));
  SetComDevicePath(0, dir_->filePath(QStringLiteral("none")).toStdString());
  form_ = std::make_unique<TForm1>(ini);
  QCOMPARE(form_->Config(), StoredConfig{});  // no file: every default
  boxes_.clear();
  form_->BitBtn1Click();
  QCOMPARE(Boxes(QStringLiteral("Unable to write to %1").arg(ini)), 1);
  QCOMPARE(boxes_.size(), 1);  // no restart question after a failed save
}

void MainWindowTest::errorLogViewerShowsAndEmptiesTheStartDirectoryLog() {
  Start();
  TForm1& f = *form_;
  const QString log = QString::fromStdString(ErrorLogPath());
  QCOMPARE(QFileInfo(log).absolutePath(), QFileInfo(dir_->path()).absoluteFilePath());
  QVERIFY(QFile::remove(log));
  f.PageControl1->setCurrentWidget(f.TabSheet3);
  boxes_.clear();
  f.JvXPButton4->click();
  QCOMPARE(boxes_.size(), 1);
  QVERIFY(boxes_[0].Text.startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(log)));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet3);
  QVERIFY(!f.PageControl1->isTabVisible(4));

  AppendErrorLog("TERM 1 MASTER");
  AppendErrorLog("COM1 otev\xF8" "en");
  QVERIFY(QDir::setCurrent(QDir::tempPath()));  // the viewer still reads the start directory's log
  f.JvXPButton4->click();
  QVERIFY(f.PageControl1->isTabVisible(4));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet5);
  const QStringList lines = f.Memo2->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), 2);
  QVERIFY(lines[0].endsWith(QStringLiteral(" - TERM 1 MASTER")));
  QVERIFY(lines[1].endsWith(QStringLiteral(" - COM1 otevřen")));

  f.BitBtn5->click();
  QVERIFY(f.Memo2->toPlainText().isEmpty());
  QCOMPARE(QFileInfo(log).size(), 0);
  QVERIFY(QFileInfo::exists(log));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet5);
  f.BitBtn2->click();
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet3);
  QVERIFY(!f.PageControl1->isTabVisible(4));
  f.Button2Click();
  QVERIFY(f.Memo2->toPlainText().isEmpty());
  QVERIFY(f.PageControl1->isTabVisible(4));
}

void MainWindowTest::periodicCheckRetestsOnlyARedIndicator() {
  SimOptions options;
  options.Link = dir_->filePath(QStringLiteral("line")).toStdString();
  options.Terminals = {SimTerminalSpec{1, false}};
  Simulator sim(options);
  std::string error;
  QVERIFY2(sim.Start(error), error.c_str());
  ConfigBlock block = DefaultConfigBlock();
  block.Terminals[2] = TerminalEntry{3, 0, false};
  WriteIni(block, QString::fromStdString(sim.LinkPath()));
  Start();
  TForm1& f = *form_;
  f.PauseWatcher();  // the only periodic checks here are the test's own
  const auto frames = [&] {
    const std::vector<std::string> log = sim.LogLines();
    return std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find(" rx ") != std::string::npos; });
  };
  QVERIFY(Terminals[0] && Terminals[0]->IsSlave());
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);
  QCOMPARE(frames(), 1);
  QVERIFY(boxes_.isEmpty());
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet1);

  f.CheckSelectedTerminal();  // cyan: no test
  QCOMPARE(frames(), 1);
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);
  f.SetIndicator(0, TerminalIndicator::Red);
  f.CheckSelectedTerminal();  // red: tested again, found slave
  QCOMPARE(frames(), 2);
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);

  f.Select(2);  // not connected: untouched, no traffic
  f.CheckSelectedTerminal();
  QCOMPARE(f.Indicator(2), TerminalIndicator::White);
  QCOMPARE(frames(), 2);

  f.Select(0);
  sim.Stop();
  f.CheckSelectedTerminal();  // a terminal that stopped answering keeps its colour until it is red
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);
  f.SetIndicator(0, TerminalIndicator::Red);
  f.CheckSelectedTerminal();
  QCOMPARE(f.Indicator(0), TerminalIndicator::Red);
}

void MainWindowTest::aboutPageLedsFollowTheSelectedTerminal() {
  Start();
  TForm1& f = *form_;
  // No port opened, so the window is shown; its activation selects the first page.
  QVERIFY(QTest::qWaitForWindowActive(&f));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet1);
  Terminals[1] = std::make_unique<TOrveta>(nullptr, 2);
  Terminals[1]->Slave = true;
  f.Select(1);
  QVERIFY(!f.Master1->IsRunning() && !f.Slave1->IsRunning());
  f.PageControl1->setCurrentWidget(f.TabSheet4);
  QVERIFY(f.Master1->IsRunning() && f.Slave1->IsRunning());
  QTRY_VERIFY_WITH_TIMEOUT(f.Master1->IsLit(), 2000);
  QTRY_VERIFY_WITH_TIMEOUT(f.Slave1->IsLit(), 2000);
  f.PageControl1->setCurrentWidget(f.TabSheet1);
  QVERIFY(!f.Master1->IsRunning() && !f.Slave1->IsRunning() && !f.Master1->IsLit() && !f.Slave1->IsLit());

  Terminals[1]->Slave = false;
  Terminals[1]->Master = true;
  f.PageControl1->setCurrentWidget(f.TabSheet4);
  QVERIFY(f.Master1->IsRunning() && !f.Slave1->IsRunning());
  f.PageControl1->setCurrentWidget(f.TabSheet2);
  f.Select(3);  // no terminal object: both stay off
  f.PageControl1->setCurrentWidget(f.TabSheet4);
  QVERIFY(!f.Master1->IsRunning() && !f.Slave1->IsRunning());
}

void MainWindowTest::closingAsksUnlessTerminated() {
  Start();
  TForm1& f = *form_;
  QSignalSpy closes(&f, &TForm1::CloseAccepted);
  boxes_.clear();
  f.KonecClick();
  QCOMPARE(boxes_.size(), 1);
  QCOMPARE(boxes_[0].Caption, QStringLiteral("Pozor!"));
  QCOMPARE(boxes_[0].Owner, nullptr);
  QCOMPARE(closes.count(), 0);  // answered No: the program keeps running

  ShuttingDown = true;  // while being destroyed nothing closes again
  f.close();
  QCOMPARE(closes.count(), 0);
  ShuttingDown = false;

  boxes_.clear();
  f.RequestOrderlyEnd();  // SIGTERM: no question
  QCOMPARE(boxes_.size(), 0);
  QCOMPARE(closes.count(), 1);
  QVERIFY(ShuttingDown);  // at once: a running batch ends after its line
  f.RequestOrderlyEnd();  // a second SIGTERM changes nothing
  QCOMPARE(closes.count(), 1);

  form_.reset();
  ShuttingDown = false;
  Start();
  QSignalSpy closesAfterYes(form_.get(), &TForm1::CloseAccepted);
  answer_ = BoxAnswer::Yes;
  form_->JvXPButton1->click();
  QCOMPARE(closesAfterYes.count(), 1);
}

void MainWindowTest::closingDuringTheStartUpEndsOnceTheWindowIsBuilt() {
  const QString closing = QStringLiteral("Opravdu si přeješ ukončit program?\nKomunikace bude ukončena!");
  const QString noPort = QStringLiteral("Neni otevřen žádný port\nje nutno provést konfiguraci portu!");
  const auto lastLogLine = [] {
    QFile log(QString::fromStdString(ErrorLogPath()));
    return log.open(QIODevice::ReadOnly) ? log.readAll().trimmed().split('\n').last() : QByteArray();
  };

  // SIGTERM while the no-port warning waits for the operator: the window is
  // not shown, nothing is started, and the end is in order.
  TerminationSignals termination;
  SetMessageBoxHandler([&](const BoxRequest& request) {
    boxes_.append(request);
    if (request.Text == noPort) emit termination.Requested();
    return BoxAnswer::Ok;
  });
  form_ = std::make_unique<TForm1>(IniPath(), &termination);
  QVERIFY(ShuttingDown);
  QVERIFY(!form_->isVisible());
  QVERIFY(form_->Watcher() == nullptr);
  QCOMPARE(Boxes(closing), 0);
  form_.reset();
  QVERIFY(lastLogLine().endsWith(" - Stop programu"));

  // "Konec" while the start-up link test waits for the terminal: one
  // question, and the program ends once the tests are over.
  ShuttingDown = false;
  for (auto& port : PortTable) port.reset();
  SimOptions options;
  options.Link = dir_->filePath(QStringLiteral("line")).toStdString();
  options.Pacing = false;
  options.Terminals = {SimTerminalSpec{1, false}};
  Simulator sim(options);
  std::string error;
  QVERIFY2(sim.Start(error), error.c_str());
  WriteIni(DefaultConfigBlock(), QString::fromStdString(sim.LinkPath()));
  boxes_.clear();
  answer_ = BoxAnswer::Yes;
  SetMessageBoxHandler([this](const BoxRequest& request) {
    boxes_.append(request);
    return BoxAnswer::Yes;
  });
  QTimer::singleShot(0, [] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<TForm1*>(widget)) form->KonecClick();
    }
  });
  Start();
  QCOMPARE(Boxes(closing), 1);
  QVERIFY(ShuttingDown);
  QVERIFY(Terminals[0] && Terminals[0]->IsSlave());  // the link test was finished
  QVERIFY(form_->Watcher() == nullptr);
  form_.reset();
  QCOMPARE(Boxes(closing), 1);
  QVERIFY(lastLogLine().endsWith(" - Stop programu"));
}

void MainWindowTest::linkDisplayKeepsBytesAndShowsText() {
  Start();
  TForm1& f = *form_;
  const std::string line = "R,1,\x8A\xE8\xF8,\x01";
  f.AppendAnswerLine(line);
  f.AppendAnswerLine("");
  QCOMPARE(f.Memo1->item(0)->text(), QStringLiteral("R,1,Ščř,\x01"));
  QCOMPARE(f.ResultLines(), (std::vector<std::string>{line, ""}));
  f.SetLoadedPanel("240");
  QCOMPARE(f.PanelText(3), QStringLiteral("240"));
  f.ClearCounterPanels();
  QCOMPARE(f.PanelText(3), QString());
  QCOMPARE(f.PanelText(9), QStringLiteral("0/0"));

  f.SetCursor(CursorShape::Hourglass);
  QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  f.SetCursor(CursorShape::AppStarting);
  QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
  f.SetCursor(CursorShape::Default);
  QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

  f.SetResultListVisible(false);
  QVERIFY(f.Memo1->isHidden());
  boxes_.clear();
  f.ShowCapacityMessage();
  QCOMPARE(Boxes(QStringLiteral(
               "Překročena kapacita paměti!!!\nNutno zvýšit kapacitu paměti v konfiguraci a restartovat.")),
           1);
}

void MainWindowTest::enterSendsOnlyAfterTheCommandLineChanged() {
  Start();
  TForm1& f = *form_;
  f.Show_windowClick();
  QSignalSpy sends(f.Button1, &QPushButton::clicked);
  QTest::keyClick(f.Edit1, Qt::Key_Return);
  QCOMPARE(sends.count(), 0);
  QTest::keyClicks(f.Edit1, QStringLiteral("S"));
  QTest::keyClick(f.Edit1, Qt::Key_Return);
  QCOMPARE(sends.count(), 1);

  f.Hide_windowClick();  // no notification area offscreen: minimised, never out of reach
  QVERIFY(f.isMinimized());
  f.Show_windowClick();
  QVERIFY(!f.isMinimized() && f.isVisible());
}

void MainWindowTest::helpOpensTheCompiledOrElseTheHtmlHelpOfTheCurrentDirectory() {
  Start();
  QList<QUrl> opened;
  QStringList refused;  // file names the viewer cannot show
  SetUrlOpener([&](const QUrl& url) {
    opened.append(url);
    return !refused.contains(QFileInfo(url.toLocalFile()).fileName());
  });
  const auto touch = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
  };
  const QUrl chm = QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("help/Tarvion.chm")));
  const QUrl html = QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("help/Tarvion.html")));
  QCOMPARE(form_->Napoveda->shortcut(), QKeySequence(Qt::Key_F1));

  // Neither file: one box naming both, nothing opened.
  boxes_.clear();
  form_->Napoveda->trigger();
  QCOMPARE(opened.size(), 0);
  QCOMPARE(boxes_.size(), 1);
  QVERIFY(boxes_[0].Text.startsWith(QStringLiteral("Soubor nápovědy nebyl nalezen:")));
  QVERIFY(boxes_[0].Text.contains(chm.toLocalFile()));
  QVERIFY(boxes_[0].Text.contains(html.toLocalFile()));

  // Only the HTML help, as shipped.
  QVERIFY(QDir().mkpath(QStringLiteral("help")));
  QVERIFY(touch(QStringLiteral("help/Tarvion.html")));
  boxes_.clear();
  form_->Npovda1->trigger();
  QCOMPARE(opened, QList<QUrl>{html});
  QCOMPARE(boxes_.size(), 0);

  // A compiled help beside it is preferred.
  QVERIFY(touch(QStringLiteral("help/Tarvion.chm")));
  opened.clear();
  form_->Napoveda->trigger();
  QCOMPARE(opened, QList<QUrl>{chm});
  QCOMPARE(boxes_.size(), 0);

  // No viewer for the compiled help: the HTML help opens instead.
  refused = {QStringLiteral("Tarvion.chm")};
  opened.clear();
  form_->Napoveda->trigger();
  QCOMPARE(opened, (QList<QUrl>{chm, html}));
  QCOMPARE(boxes_.size(), 0);

  // No viewer at all: one box naming what could not be opened.
  refused.append(QStringLiteral("Tarvion.html"));
  form_->Napoveda->trigger();
  QCOMPARE(boxes_.size(), 1);
  QVERIFY(boxes_[0].Text.startsWith(QStringLiteral("Nápovědu se nepodařilo otevřít:")));
  QVERIFY(boxes_[0].Text.contains(html.toLocalFile()));
}

QTEST_MAIN(MainWindowTest)
#include "qt_mainwindow.moc"
