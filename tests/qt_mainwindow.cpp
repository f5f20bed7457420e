// The main window, offscreen: its texts, lists, frame and pictures, the
// status bar's fit, saving the configuration (also of a hand-edited file),
// the live settings, the error-log viewer, the periodic link check, the About
// page's LEDs, the page shown on activation, closing, what Enter sends, the
// help, and what the link layer shows. Message boxes are recorded and
// answered here instead of blocking.

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
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QWhatsThis>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <string_view>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "app/Zmena.h"
#include "link/StopRequest.h"
#include "link/CommPort.h"
#include "link/Cp1250.h"
#include "link/ErrorLog.h"
#include "link/Settings.h"
#include "support/SimulatorLog.h"
#include "support/TempDir.h"
#include "support/WriteIni.h"
#include "tools/orveta-sim/Simulator.h"

// Counts the changes of a widget's enabled state.
class EnabledChanges : public QObject {
 public:
  explicit EnabledChanges(QWidget* widget) { widget->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) ++Count;
    return false;
  }
  int Count = 0;
};

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void firstStartShowsTheDefaultsWithTheTextsOfTheForm();
  void everyStatusPanelFitsTheWindowInTheFontInUse();
  void aHandEditedFileIsBoundedShownWithoutSelectionAndSavedUnchanged();
  void savingRefusesBadNumbersAndWritesEveryValue();
  void turnaroundAndTimeoutControlsChangeTheLiveSettings();
  void anIniThatCannotBeWrittenIsReported();
  void theUsersFirstSaveStartsFromTheSiteFileAndLeavesItAsItWas();
  void errorLogViewerShowsAndEmptiesTheStartDirectoryLog();
  void periodicCheckRetestsOnlyARedIndicator();
  void aboutPageLedsFollowTheSelectedTerminal();
  void ownMessageBoxesKeepThePageTheTrayShowsTheFirst();
  void closingAsksUnlessTerminated();
  void closingDuringTheStartUpEndsOnceTheWindowIsBuilt();
  void linkDisplayKeepsBytesAndShowsText();
  void enterSendsTheCommandLineOnlyFromIt();
  void helpOpensTheCompiledOrElseTheHtmlHelpOfTheCurrentDirectory();
  void contextHelpButtonAndBackgroundClickOpenTheHelp();

 private:
  // The INI file: the record, COM1's device and any hand-edited lines last.
  void WriteIni(const ConfigBlock& block, const QString& com1, std::string_view handEdited = {});
  void Start();
  int Boxes(const QString& text) const;
  QString Dir() const { return QString::fromStdString(dir_->Path().string()); }
  QString Path(const QString& name) const { return Dir() + QLatin1Char('/') + name; }
  QString IniPath() const { return Path(QStringLiteral("tarvion.ini")); }

  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<TForm1> form_;
  QList<BoxRequest> boxes_;
  BoxAnswer answer_ = BoxAnswer::No;
  QString startCwd_;
};

void MainWindowTest::init() {
  startCwd_ = QDir::currentPath();
  dir_ = std::make_unique<TempDir>("qt-mainwindow");
  QDir::setCurrent(Dir());
  ShuttingDown = false;
  ClearStopRequest();
  Settings() = LinkSettings{};
  boxes_.clear();
  answer_ = BoxAnswer::No;
  SetMessageBoxHandler([this](const BoxRequest& request) {
    boxes_.append(request);
    return request.Buttons == BoxButtons::YesNo ? answer_ : BoxAnswer::Ok;
  });
  WriteIni(DefaultConfigBlock(), Path(QStringLiteral("no-such-device")));
}

void MainWindowTest::cleanup() {
  form_.reset();
  for (auto& port : PortTable) port.reset();
  for (int i = 0; i < kPortCount; ++i) SetComDevicePath(i, "/dev/ttyS" + std::to_string(i));
  SetMessageBoxHandler(nullptr);
  SetUrlOpener(nullptr);
  QDir::setCurrent(startCwd_);
  dir_.reset();
}

void MainWindowTest::WriteIni(const ConfigBlock& block, const QString& com1, std::string_view handEdited) {
  WriteIniFile(IniPath().toStdString(), IniValuesOf(block), {{1, com1.toStdString()}}, handEdited);
}

void MainWindowTest::Start() { form_ = std::make_unique<TForm1>(IniPath()); }

int MainWindowTest::Boxes(const QString& text) const {
  return static_cast<int>(std::count_if(boxes_.begin(), boxes_.end(), [&](const BoxRequest& b) { return b.Text == text; }));
}

void MainWindowTest::firstStartShowsTheDefaultsWithTheTextsOfTheForm() {
  // Only the port section: every configuration value is a default.
  WriteIniFile(IniPath().toStdString(), IniValues{}, {{1, Path(QStringLiteral("none")).toStdString()}});
  Start();
  TForm1& f = *form_;

  // No port opened: the warning, the configuration page, the window shown.
  QCOMPARE(Boxes(QStringLiteral("Neni otevřen žádný port\nje nutno provést konfiguraci portu!")), 1);
  QCOMPARE(boxes_.first().Caption, QStringLiteral("Pozor!"));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet2);
  QVERIFY(f.StatusIcon1Startup());
  QVERIFY(PortTable[0] && !PortTable[0]->Opened);
  QVERIFY(!f.Processor().Terminal(0));

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
  for (int i = 0; i < 11; ++i) QCOMPARE(f.PanelText(i), labels[i]);
  QStringList menu;
  for (QAction* a : f.PopupMenu1->actions()) menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
  QCOMPARE(menu, (QStringList{"Zobrazit program", "Schovat program", "Nápověda", "-", "Konec"}));
  QCOMPARE(f.PopupMenu1->defaultAction(), f.Show_window);
  QCOMPARE(f.StatusIcon1->toolTip(), QStringLiteral("Komunikátor ORVETA"));

  // A fixed-size dialog frame with close box and context-help button, and
  // the pictures drawn for the program: on three pages, the tabs, the tray.
  QCOMPARE(f.size(), QSize(600, 400));
  QCOMPARE(f.minimumSize(), f.maximumSize());
  const Qt::WindowFlags flags = f.windowFlags();
  QVERIFY(flags & Qt::WindowContextHelpButtonHint && flags & Qt::WindowCloseButtonHint);
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  for (QWidget* page : {f.TabSheet2, f.TabSheet3, f.TabSheet4}) {
    const auto* picture = page->findChild<QLabel*>(QStringLiteral("Picture"));
    QVERIFY(picture != nullptr);
    QVERIFY(picture->pixmap().width() >= 140);
    QVERIFY(!picture->pixmap().toImage().allGray());  // drawn, not blank
  }
  for (int i = 0; i < 5; ++i) QVERIFY(!f.PageControl1->tabIcon(i).pixmap(20).toImage().allGray());
  QVERIFY(!f.StatusIcon1->icon().pixmap(22).toImage().allGray());

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

// Every label and value, at the widest each is made for, within its panel and
// the window, measured with the font the bar uses.
void MainWindowTest::everyStatusPanelFitsTheWindowInTheFontInUse() {
  Start();
  TForm1& f = *form_;
  f.show();
  QVERIFY(QTest::qWaitForWindowExposed(&f));
  const QStringList widest{"Status:", "9999,99999", "Načteno:", "9999999", "Opakování vysílání:", "9",
                           "Opakování příjmu:", "99", "Příkazy", "9999/9999", ""};
  for (int i = 0; i < 11; ++i) {
    f.SetPanelText(i, widest[i]);
    const QLabel* panel = f.StatusPanels[i];
    const int room = panel->contentsRect().width() - 2 * panel->margin();
    QVERIFY2(panel->fontMetrics().horizontalAdvance(widest[i]) <= room, qPrintable(widest[i]));
    QVERIFY2(panel->mapTo(&f, QPoint(panel->width(), 0)).x() <= f.width(), qPrintable(widest[i]));
    QVERIFY(panel->isVisible());
  }
  for (int i = 1; i < 11; ++i) QVERIFY(f.StatusPanels[i]->x() > f.StatusPanels[i - 1]->x());  // in order
}

// A hand-edited file: a line QSettings cannot parse, indexes outside their
// lists, a capacity no answer can reach, turnarounds of hours.
void MainWindowTest::aHandEditedFileIsBoundedShownWithoutSelectionAndSavedUnchanged() {
  ConfigBlock block = DefaultConfigBlock();
  block.BaudIndex = 7;
  block.TimeoutIndex = 200;
  block.RepeatIndex = 50;
  block.Capacity = 0x7FFFFFFF;
  block.Terminals[1] = TerminalEntry{2, 9, true};  // names no port: a terminal that does not run
  WriteIni(block, Path(QStringLiteral("none")),
           "[Konfigurace]\nTest_binary=FFFFFFFFFFFFFFFF\nthis line has no equals sign\n");
  QFile ini(IniPath());
  Start();
  TForm1& f = *form_;
  for (QComboBox* box : {f.K_Baud1, f.Delay_add, f.Rep_write, f.Port2}) QCOMPARE(box->currentIndex(), -1);
  QCOMPARE(f.Port1->currentText(), QStringLiteral("COM1"));
  QCOMPARE(Settings().LinkTimeout, 120u);
  QCOMPARE(Settings().PortBaud, 19200);
  QCOMPARE(f.Controls().Attempts, 0);  // counts as one
  QVERIFY(!PortTable[1] && !f.Processor().Terminal(1));
  // What sizes memory or time is used within its bounds, shown and logged so.
  QCOMPARE(f.Radku1->text(), QStringLiteral("131072"));
  QCOMPARE(f.Edit2->text(), QStringLiteral("1000000"));
  QCOMPARE(Settings().AnswerBufferSize, 131072 * 24);
  QCOMPARE(Settings().RxTurnaroundUs, 1000000u);
  QFile log(QString::fromStdString(ErrorLogPath()));
  QVERIFY(log.open(QIODevice::ReadOnly));
  const QString logged = QString::fromStdString(Utf8FromCp1250(log.readAll().toStdString()));
  QVERIFY(logged.indexOf(QStringLiteral("Start programu")) < logged.indexOf(QStringLiteral("Kapacita")));
  for (const char* line : {"INI Cfg_binary, Kapacita: uložená hodnota 2147483647 je mimo rozsah 0 až 131072, "
                           "použita hodnota 131072",
                           "INI Test_binary, příjem (µs): uložená hodnota 4294967295 je mimo rozsah 0 až 1000000, "
                           "použita hodnota 1000000",
                           "INI Cfg_binary, Rychlost BAUD (položka): uložená hodnota 7"}) {
    QVERIFY2(logged.contains(QString::fromUtf8(line)), line);
  }

  // Saved as it stands: the unparseable line is no write failure, and each
  // index outside its list comes back as it was.
  boxes_.clear();
  f.BitBtn1Click();
  QCOMPARE(boxes_.size(), 1);
  QCOMPARE(boxes_[0].Caption, QStringLiteral("Varování"));
  QSettings saved(IniPath(), QSettings::IniFormat);
  const StoredConfig back = DecodeIni(
      IniValues{saved.value("Konfigurace/Cfg_binary").toString().toStdString(),
                saved.value("Konfigurace/Test_binary").toString().toStdString(), std::nullopt, std::nullopt});
  QCOMPARE(back.Block.BaudIndex, 7);
  QCOMPARE(back.Block.TimeoutIndex, 200);
  QCOMPARE(back.Block.RepeatIndex, 50);
  QVERIFY(back.Block.Terminals[1] == (TerminalEntry{2, 9, true}));
  QCOMPARE(back.Block.Capacity, 131072);  // the value used, as "Kapacita" showed it
  QCOMPARE(back.Turnaround, (TurnaroundBlock{1000000, 1000000}));
  QCOMPARE(saved.value("Porty/COM1").toString(), Path(QStringLiteral("none")));

  // "Kapacita" refuses what no answer can hold, with the range.
  boxes_.clear();
  f.Radku1->setText(QStringLiteral("131073"));
  f.BitBtn1Click();
  QCOMPARE(Boxes(QString::fromStdString(RangeMessage(CapacityField(), "131073"))), 1);
  QCOMPARE(boxes_.size(), 1);
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
  QCOMPARE(boxes_[0].Default, BoxAnswer::Yes);
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
  QCOMPARE(boxes_[1].Default, boxes_[0].Default);  // one rule for both questions
  QCOMPARE(closes.count(), 0);

  form_.reset();
  ShuttingDown = false;
  ClearStopRequest();
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
  // Retyping: no message on a keystroke, the setting keeps its value.
  f.Edit3->clear();
  QTest::keyClicks(f.Edit3, QStringLiteral("ab"));
  QCOMPARE(boxes_.size(), 0);
  QCOMPARE(Settings().RxTurnaroundUs, 9500u);
  // Editing ends: the message once, also when the focus goes and comes back.
  QTest::keyClick(f.Edit3, Qt::Key_Return);
  QTest::keyClick(f.Edit3, Qt::Key_Return);
  emit f.Edit3->editingFinished();
  QCOMPARE(Boxes(QStringLiteral("'ab' is not a valid integer value")), 1);
  QCOMPARE(boxes_.size(), 1);
  QCOMPARE(Settings().RxTurnaroundUs, 9500u);
  QTest::keyClick(f.Edit3, Qt::Key_Backspace);  // "a": changed, so reported again when editing ends
  emit f.Edit3->editingFinished();
  QCOMPARE(Boxes(QStringLiteral("'a' is not a valid integer value")), 1);

  // A number out of range says which range is allowed. A bad Edit2 leaves
  // both settings as they were; a bad Edit3 only its own.
  boxes_.clear();
  f.Edit2->setText(QStringLiteral("1000001"));
  emit f.Edit2->editingFinished();
  QCOMPARE(Boxes(QStringLiteral("Konstanta pro vysílání: hodnota 1000001 je mimo povolený rozsah!\n"
                                "Povolené hodnoty jsou 0 až 1000000.")),
           1);
  QCOMPARE(Settings().TxTurnaroundUs, 1200u);
  f.Edit3->setText(QStringLiteral("700"));
  QCOMPARE(Settings().RxTurnaroundUs, 9500u);
  QCOMPARE(Settings().TxTurnaroundUs, 1200u);
  f.Edit2->setText(QStringLiteral("0"));
  QCOMPARE(Settings().TxTurnaroundUs, 0u);
  QCOMPARE(Settings().RxTurnaroundUs, 700u);
  emit f.Edit2->editingFinished();
  f.Edit3->setText(QStringLiteral("-1"));
  f.Edit2->setText(QStringLiteral("300"));
  QCOMPARE(Settings().TxTurnaroundUs, 300u);
  QCOMPARE(Settings().RxTurnaroundUs, 700u);
  QCOMPARE(boxes_.size(), 1);

  f.Delay_add->setCurrentIndex(0);
  QCOMPARE(Settings().LinkTimeout, 40u);
  f.Delay_add->setCurrentIndex(59);
  QCOMPARE(Settings().LinkTimeout, 276u);
}

void MainWindowTest::anIniThatCannotBeWrittenIsReported() {
  QFile notADirectory(Path(QStringLiteral("file")));
  QVERIFY(notADirectory.open(QIODevice::WriteOnly));
  notADirectory.close();
  const QString ini = Path(QStringLiteral("file/tarvion.ini"));
  SetComDevicePath(0, Path(QStringLiteral("none")).toStdString());
  form_ = std::make_unique<TForm1>(ini);
  QCOMPARE(form_->Config(), StoredConfig{});  // no file: every default
  boxes_.clear();
  form_->BitBtn1Click();
  QCOMPARE(Boxes(QStringLiteral("Unable to write to %1").arg(ini)), 1);
  QCOMPARE(boxes_.size(), 1);  // no restart question after a failed save
}

// The installed program: read from the site file while the user has none;
// "Uložit CFG" makes the user's file from it (the [Porty] section stays) and
// the site file is not touched.
void MainWindowTest::theUsersFirstSaveStartsFromTheSiteFileAndLeavesItAsItWas() {
  const QString site = Path(QStringLiteral("etc/tarvion.ini"));
  const QString user = Path(QStringLiteral("home/.config/tarvion/tarvion.ini"));
  QVERIFY(QDir(Dir()).mkpath(QStringLiteral("etc")));
  QVERIFY(QFile::rename(IniPath(), site));
  QFile siteFile(site);
  QVERIFY(siteFile.open(QIODevice::ReadOnly));
  const QByteArray siteBefore = siteFile.readAll();
  siteFile.close();
  form_ = std::make_unique<TForm1>(
      IniLocation{QFile::encodeName(site).toStdString(), QFile::encodeName(user).toStdString(),
                  QFile::encodeName(site).toStdString()});
  TForm1& f = *form_;
  f.Adr1->setText(QStringLiteral("15"));
  boxes_.clear();
  f.BitBtn1Click();
  QCOMPARE(boxes_.size(), 1);  // the restart question: saved
  QSettings saved(user, QSettings::IniFormat);
  QCOMPARE(saved.value("Porty/COM1").toString(), Path(QStringLiteral("no-such-device")));
  const auto bytes = BytesFromHex(saved.value("Konfigurace/Cfg_binary").toString().toStdString());
  QCOMPARE(DecodeConfigBlock(bytes).Terminals[0].Address, 15);
  QVERIFY(siteFile.open(QIODevice::ReadOnly));
  QCOMPARE(siteFile.readAll(), siteBefore);
}

void MainWindowTest::errorLogViewerShowsAndEmptiesTheStartDirectoryLog() {
  Start();
  TForm1& f = *form_;
  const QString log = QString::fromStdString(ErrorLogPath());
  QCOMPARE(QFileInfo(log).absolutePath(), QFileInfo(Dir()).absoluteFilePath());
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

  // A symbolic link in the log's place is never followed, a FIFO never waited
  // on: each button says why, the page stays closed and the target untouched.
  f.BitBtn2->click();
  const QString elsewhere = Path(QStringLiteral("elsewhere.txt"));
  QFile target(elsewhere);
  QVERIFY(target.open(QIODevice::WriteOnly));
  target.write("kept\r\n");
  target.close();
  const auto refused = [&](const QString& why) {
    boxes_.clear();
    f.JvXPButton4->click();
    f.BitBtn5Click();
    QCOMPARE(boxes_.size(), 2);
    QCOMPARE(boxes_[0].Text, QStringLiteral("Cannot open file \"%1\". %2").arg(log, why));
    QCOMPARE(boxes_[1].Text, QStringLiteral("Cannot create file \"%1\". %2").arg(log, why));
    QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet3);
    QVERIFY(!f.PageControl1->isTabVisible(4));
  };
  QVERIFY(QFile::remove(log));
  QVERIFY(QFile::link(elsewhere, log));
  refused(QStringLiteral("The file is a symbolic link; it is not followed."));
  QVERIFY(QFile::remove(log));
  QVERIFY(mkfifo(QFile::encodeName(log).constData(), 0600) == 0);
  refused(QStringLiteral("The file is not a regular file."));
  QVERIFY(target.open(QIODevice::ReadOnly));
  QCOMPARE(target.readAll(), QByteArray("kept\r\n"));
}

void MainWindowTest::periodicCheckRetestsOnlyARedIndicator() {
  SimOptions options;
  options.Link = Path(QStringLiteral("line")).toStdString();
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
  const auto frames = [&] { return static_cast<int>(HexOfKind(ParseSimLog(sim.LogLines()), "rx").size()); };
  QVERIFY(f.Processor().Terminal(0) && f.Processor().Terminal(0)->IsSlave());
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);
  QCOMPARE(frames(), 1);
  QVERIFY(boxes_.isEmpty());
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet1);

  f.CheckSelectedTerminal();  // cyan: no test
  QCOMPARE(frames(), 1);
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);
  f.SetIndicator(0, TerminalIndicator::Red);
  EnabledChanges sendButton(f.Button1);
  f.CheckSelectedTerminal();  // red: tested again, found slave
  QCOMPARE(frames(), 2);
  QCOMPARE(f.Indicator(0), TerminalIndicator::Cyan);
  QCOMPARE(sendButton.Count, 0);  // the controls do not flicker while a red terminal is retested

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
  // No port opened, so the window is shown, and it stays on the page the
  // warning sent the operator to.
  QVERIFY(QTest::qWaitForWindowActive(&f));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet2);
  TOrveta& second = f.Processor().PutTerminal(1, std::make_unique<TOrveta>(nullptr, 2));
  second.Slave = true;
  f.Select(1);
  QVERIFY(!f.Master1->IsRunning() && !f.Slave1->IsRunning());
  f.PageControl1->setCurrentWidget(f.TabSheet4);
  QVERIFY(f.Master1->IsRunning() && f.Slave1->IsRunning());
  QTRY_VERIFY_WITH_TIMEOUT(f.Master1->IsLit(), 2000);
  QTRY_VERIFY_WITH_TIMEOUT(f.Slave1->IsLit(), 2000);
  f.PageControl1->setCurrentWidget(f.TabSheet1);
  QVERIFY(!f.Master1->IsRunning() && !f.Slave1->IsRunning() && !f.Master1->IsLit() && !f.Slave1->IsLit());

  second.Slave = false;
  second.Master = true;
  f.PageControl1->setCurrentWidget(f.TabSheet4);
  QVERIFY(f.Master1->IsRunning() && !f.Slave1->IsRunning());
  f.PageControl1->setCurrentWidget(f.TabSheet2);
  f.Select(3);  // no terminal object: both stay off
  f.PageControl1->setCurrentWidget(f.TabSheet4);
  QVERIFY(!f.Master1->IsRunning() && !f.Slave1->IsRunning());
}

// The program's own boxes are real windows here: one takes the activation
// from the main window and gives it back when it closes.
void MainWindowTest::ownMessageBoxesKeepThePageTheTrayShowsTheFirst() {
  Start();
  TForm1& f = *form_;
  QVERIFY(QTest::qWaitForWindowActive(&f));
  int shown = 0;
  SetMessageBoxHandler([&](const BoxRequest& request) {
    QMessageBox box(QMessageBox::Warning, request.Caption, request.Text, QMessageBox::Ok, request.Owner);
    QTimer::singleShot(0, &box, [&box] {
      QVERIFY(QTest::qWaitForWindowActive(&box));
      box.accept();
    });
    box.exec();
    ++shown;
    return BoxAnswer::Ok;
  });
  f.PageControl1->setCurrentWidget(f.TabSheet3);
  f.Edit2->setText(QStringLiteral("x"));
  emit f.Edit2->editingFinished();  // the conversion message
  QCOMPARE(shown, 1);
  f.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&f));
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet3);

  f.Hide_windowClick();
  f.Show_windowClick();  // shown from the tray: the first page
  QCOMPARE(f.PageControl1->currentWidget(), f.TabSheet1);
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
  ClearStopRequest();

  boxes_.clear();
  f.RequestOrderlyEnd();  // SIGTERM: no question
  QCOMPARE(boxes_.size(), 0);
  QCOMPARE(closes.count(), 1);
  QVERIFY(ShuttingDown);  // at once: a running batch ends after its line
  f.RequestOrderlyEnd();  // a second SIGTERM changes nothing
  QCOMPARE(closes.count(), 1);

  form_.reset();
  ShuttingDown = false;
  ClearStopRequest();
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
  ClearStopRequest();
  for (auto& port : PortTable) port.reset();
  SimOptions options;
  options.Link = Path(QStringLiteral("line")).toStdString();
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
  QVERIFY(form_->Processor().Terminal(0) && form_->Processor().Terminal(0)->IsSlave());  // the link test was finished
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
  ClearCounterPanels(f);
  QCOMPARE(f.PanelText(3), QString());
  QCOMPARE(f.PanelText(9), QStringLiteral("0/0"));

  f.SetCursor(CursorShape::Hourglass);
  QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  f.SetCursor(CursorShape::AppStarting);
  QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
  f.SetCursor(CursorShape::Default);
  QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

  boxes_.clear();
  f.ShowCapacityMessage();
  QCOMPARE(Boxes(QStringLiteral(
               "Překročena kapacita paměti!!!\nNutno zvýšit kapacitu paměti v konfiguraci a restartovat.")),
           1);
}

// Enter sends the command line to the terminal from that line only, once
// something was typed in it; a focused button takes Enter as its own click,
// and Enter in any other field sends nothing.
void MainWindowTest::enterSendsTheCommandLineOnlyFromIt() {
  SimOptions options;
  options.Link = Path(QStringLiteral("line")).toStdString();
  options.Terminals = {SimTerminalSpec{1, false}};
  Simulator sim(options);
  std::string error;
  QVERIFY2(sim.Start(error), error.c_str());
  WriteIni(DefaultConfigBlock(), QString::fromStdString(sim.LinkPath()));
  Start();
  TForm1& f = *form_;
  f.PauseWatcher();
  const auto frames = [&] { return static_cast<int>(HexOfKind(ParseSimLog(sim.LogLines()), "rx").size()); };
  f.Show_windowClick();
  QVERIFY(QTest::qWaitForWindowActive(&f));  // focus changes as a person's
  const int atStart = frames();
  QTest::keyClick(f.Edit1, Qt::Key_Return);
  QCOMPARE(frames(), atStart);
  QTest::keyClicks(f.Edit1, QStringLiteral("S"));
  QTest::keyClick(f.Edit1, Qt::Key_Return);
  QCOMPARE(frames(), atStart + 1);

  f.PageControl1->setCurrentWidget(f.TabSheet2);
  for (QLineEdit* edit : {f.Adr1, f.Radku1}) QTest::keyClick(edit, Qt::Key_Return);
  f.PageControl1->setCurrentWidget(f.TabSheet3);
  for (QLineEdit* edit : {f.InSoubor, f.Edit2}) QTest::keyClick(edit, Qt::Key_Return);
  QCOMPARE(frames(), atStart + 1);
  boxes_.clear();
  f.JvXPButton7->setFocus();
  QTest::keyClick(f.JvXPButton7, Qt::Key_Return);  // saved: the restart question, answered No
  QCOMPARE(boxes_.size(), 1);
  QCOMPARE(boxes_[0].Caption, QStringLiteral("Varování"));
  f.PageControl1->setCurrentWidget(f.TabSheet1);
  f.JvXPButton1->setFocus();
  QTest::keyClick(f.JvXPButton1, Qt::Key_Return);  // the closing question, answered No
  QCOMPARE(boxes_.size(), 2);
  QCOMPARE(boxes_[1].Caption, QStringLiteral("Pozor!"));
  QCOMPARE(frames(), atStart + 1);
  f.Button1->setFocus();
  QTest::keyClick(f.Button1, Qt::Key_Return);
  QCOMPARE(frames(), atStart + 2);
  f.Edit1->setFocus();  // the button's default state outlives its focus
  QTest::keyClick(f.Edit1, Qt::Key_Return);
  QCOMPARE(frames(), atStart + 3);

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

void MainWindowTest::contextHelpButtonAndBackgroundClickOpenTheHelp() {
  Start();
  TForm1& f = *form_;
  QVERIFY(QDir().mkpath(QStringLiteral("help")));
  QFile html(QStringLiteral("help/Tarvion.html"));
  QVERIFY(html.open(QIODevice::WriteOnly));
  html.close();
  int opened = 0;
  SetUrlOpener([&](const QUrl&) { return ++opened > 0; });

  // What the window system reports for the frame's context-help button.
  QCoreApplication::postEvent(qApp, new QEvent(QEvent::EnterWhatsThisMode));
  QTRY_COMPARE(opened, 1);
  QVERIFY(!QWhatsThis::inWhatsThisMode());

  f.show();
  QVERIFY(QTest::qWaitForWindowExposed(&f));
  f.PageControl1->setCurrentWidget(f.TabSheet3);
  QTest::mouseClick(f.TabSheet3, Qt::LeftButton, {}, QPoint(f.TabSheet3->width() - 10, f.TabSheet3->height() / 2 + 40));
  QCOMPARE(opened, 2);
  QTest::mouseClick(f.StatusPanels[0], Qt::LeftButton);
  QCOMPARE(opened, 3);
  QTest::mouseClick(f.JvXPButton4, Qt::LeftButton);  // a control takes its own click
  QTest::mouseClick(f.TabSheet3, Qt::RightButton, {}, QPoint(f.TabSheet3->width() - 10, 10));
  QCOMPARE(opened, 3);
}

QTEST_MAIN(MainWindowTest)
#include "qt_mainwindow.moc"
