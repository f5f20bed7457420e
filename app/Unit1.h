#pragma once
// TForm1: the program's one main window. It builds the start-up state (the
// configuration, the ports and terminals, the error log's first lines), shows
// the terminal places and the job counters, carries the tray icon, starts the
// request-file watcher and ends the program in order. It only reads and
// shows: records, numbers, the link and the jobs are handled by Config, the
// link layer and its request processor, which owns the terminals and the
// jobs' state; the window keeps the processor's JobSettings up to date from
// its controls and listens to it as its JobObserver.

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <array>
#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ServiceNotify.h"
#include "app/StopTimeExtension.h"
#include "app/TerminationSignals.h"
#include "app/Widgets.h"
#include "config/Config.h"
#include "config/FileLocations.h"
#include "link/LinkDisplay.h"
#include "requests/JobObserver.h"
#include "requests/Metrics.h"
#include "requests/RequestProcessor.h"
#include "requests/StatusPanels.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class TerminationSignals;
class THlidac;

class TForm1 : public QMainWindow, public LinkDisplay, public JobObserver {
  Q_OBJECT

 public:
  // The whole start-up: controls, configuration read from `ini`, start
  // directory (the current directory), "Start programu", ports and terminals;
  // a systemd service is told it is ready. With `termination`, SIGTERM and
  // SIGINT end the program in order from the first moment of the start-up on.
  explicit TForm1(IniLocation ini, const TerminationSignals* termination = nullptr, QWidget* parent = nullptr);
  // One INI file, read and saved.
  explicit TForm1(const QString& iniPath, const TerminationSignals* termination = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  // --- Start-up and lifecycle (Unit1.cpp) ---
  int OpenPortsAndTest();
  // Whether the window is to be shown when the event loop starts: when no
  // port opened, or when there is no notification area to reach it from.
  bool StatusIcon1Startup() const;
  // SIGTERM / SIGINT: close in order without the closing question.
  void RequestOrderlyEnd();

  // --- Configuration (Unit1Config.cpp) ---
  void LoadConfig();
  void ShowConfig();
  void BitBtn1Click();
  void Delay_addChange();
  void Edit2Change();
  // Editing of Edit2 (0) or Edit3 (1) ended: a text it cannot take is reported.
  void Edit2Exit(int which);
  // The configuration as read at start-up; saving does not change it.
  const StoredConfig& Config() const { return config_; }

  // --- Status display, tray and help (Unit1Status.cpp) ---
  void CheckSelectedTerminal();
  void PageControl1Change();
  QString PanelText(int panel) const;
  void SetPanelText(int panel, const QString& text);
  int TrayImage() const { return trayImage_; }
  void ShowBalloonHint(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int seconds);
  void Show_windowClick();
  void Hide_windowClick();
  void KonecClick();
  void BitBtn3Click();
  void Edit1Change();
  void NapovedaExecute();
  void FormHelp();

  // --- Error-log viewer (Unit1ErrorLog.cpp) ---
  void Button2Click();
  void BitBtn2Click();
  void BitBtn5Click();

  // --- What the link layer and the jobs show (Unit1Display.cpp) ---
  // One answer line (bytes, code page 1250) at the end of Memo1.
  void AppendAnswerLine(const std::string& line);
  // The lines of Memo1 as the bytes they were added with.
  std::vector<std::string> ResultLines() const;
  void SetLoadedPanel(const std::string& text) override;
  CursorShape Cursor() const override { return cursor_; }
  void SetCursor(CursorShape shape) override;
  void ShowCapacityMessage() override;

  // --- Listening to the jobs (Unit1Batch.cpp) ---
  void PanelChanged(int panel, const std::string& text) override;
  void TerminalSelected(int t) override;
  void IndicatorChanged(int t, TerminalIndicator colour) override;
  void ProgressShown(const std::string& title, const std::string& text) override;
  void ProgressEnded() override;
  void TrayImageChanged(int image) override;
  void ResultListCleared() override;
  void AnswerLinesAdded(const std::vector<std::string>& lines) override;
  void RepaintDue() override;
  void JobExchangeStarted() override;
  void JobExchangeEnded() override;
  void BatchStarted() override;
  void BatchEnded() override;
  void AttemptStarts(std::chrono::milliseconds longest) override;
  void AttemptEnds() override;
  void JobEnded() override;
  // --- The jobs' state as the window sees it (Unit1Batch.cpp) ---
  RequestProcessor& Processor() { return processor_; }
  int SelectedIndex() const { return processor_.SelectedTerminal(); }
  // The operator's choice of terminal t: Selekt's item is checked.
  void Select(int t);
  TerminalIndicator Indicator(int t) const { return processor_.Indicator(t); }
  void SetIndicator(int t, TerminalIndicator colour) { processor_.SetIndicator(t, colour); }
  const JobSettings& Controls() const { return processor_.Controls(); }
  // No request-file check and no periodic check starts until ResumeWatcher.
  void PauseWatcher();
  void ResumeWatcher();

  // --- Manual commands (Unit1Batch.cpp) ---
  void Button1Click();
  void Button33Click();
  void Button4Click();

  // The request-file watcher while the window runs; null before FormCreate
  // and after FormDestroy.
  THlidac* Watcher() const { return watcher_.get(); }

  // --- Controls (names of the form) ---
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;  // "Ovládání terminálu"
  QWidget* TabSheet2 = nullptr;  // "Konfigurace terminálů"
  QWidget* TabSheet3 = nullptr;  // "Servisní nastavení"
  QWidget* TabSheet4 = nullptr;  // "O programu"
  QWidget* TabSheet5 = nullptr;  // "Chybová hlášení"

  QGroupBox* Selekt = nullptr;
  QButtonGroup* SelektItems = nullptr;
  QWidget* Terminaly1 = nullptr;
  std::array<IndicatorShape*, kTerminalCount> Indicators{};
  QLabel* Label17 = nullptr;
  QListWidget* Memo1 = nullptr;
  QLabel* Label29 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* FButton2 = nullptr;
  QPushButton* JvXPButton1 = nullptr;

  QLineEdit *Adr1 = nullptr, *Adr2 = nullptr, *Adr3 = nullptr, *Adr4 = nullptr;
  QComboBox *Port1 = nullptr, *Port2 = nullptr, *Port3 = nullptr, *Port4 = nullptr;
  QCheckBox *Pripojen1 = nullptr, *Pripojen2 = nullptr, *Pripojen3 = nullptr, *Pripojen4 = nullptr;
  QComboBox* K_Baud1 = nullptr;
  QCheckBox* Mark1 = nullptr;
  QCheckBox* CCode1 = nullptr;
  QCheckBox* DT_use1 = nullptr;
  QCheckBox* Kredit1 = nullptr;
  QLineEdit* Radku1 = nullptr;
  QLineEdit* MxSn1 = nullptr;
  QLineEdit* MxVec1 = nullptr;
  QPushButton* JvXPButton2 = nullptr;

  QComboBox* Rep_write = nullptr;
  QCheckBox* Write_error_repeat = nullptr;
  QComboBox* Delay_add = nullptr;
  QCheckBox* Priority_set = nullptr;
  QLineEdit* InSoubor = nullptr;
  QLineEdit* OutSoubor = nullptr;
  QLineEdit* Edit2 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QPushButton* JvXPButton3 = nullptr;
  QPushButton* JvXPButton4 = nullptr;
  QPushButton* JvXPButton7 = nullptr;

  QLabel* Label26 = nullptr;
  Led* Master1 = nullptr;
  Led* Slave1 = nullptr;

  QPlainTextEdit* Memo2 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* BitBtn5 = nullptr;

  QStatusBar* StatusBar1 = nullptr;
  std::array<QLabel*, kPanelCount> StatusPanels{};

  QSystemTrayIcon* StatusIcon1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* Show_window = nullptr;
  QAction* Hide_window = nullptr;
  QAction* Npovda1 = nullptr;
  QAction* Konec = nullptr;
  QAction* Napoveda = nullptr;  // ActionList1, F1
  QFileDialog* OpenDialog1 = nullptr;  // while Button33Click shows it

 signals:
  // The close was accepted: the event loop is to end, then the window is
  // destroyed.
  void CloseAccepted();

 protected:
  // Once a close is accepted, ShuttingDown is set at once: a batch ends after
  // the line in progress, no request is taken in and the indicators stay.
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Unit1Pages.cpp: the controls of the form.
  void CreateControls();
  QWidget* CreateControlPage();
  QWidget* CreateConfigPage();
  QWidget* CreateServicePage();
  QWidget* CreateAboutPage();
  QWidget* CreateErrorLogPage();
  void CreateStatusBar();
  void FitStatusPanels();
  void CreateTray();
  void ConnectControls();

  // Unit1.cpp
  void FormCreate();
  void FormActivate();
  bool FormClose();
  void FormDestroy();
  void OpenPorts(const std::array<bool, kPortCount>& needed);
  void CreateAndTestTerminals();
  void TakeUpTerminal(int terminalIndex);
  void LookAfterPorts();
  // The terminals of COM index j turn red: its device failed.
  void ShowPortLost(int j);
  // Terminal k is connected and uses COM index j.
  bool UsesPort(int k, int j) const;
  void TestStartupLink(int terminalIndex);
  std::string RequestPath() const;
  // Each terminal place's state as the status line and the metrics show it.
  std::array<PlaceState, kTerminalCount> PlaceStates() const;
  // The service's status line: each terminal place and the last job.
  std::string ServiceStatus() const;
  // Sends the service's status line when it changed, once ready.
  void UpdateServiceStatus();

  // Unit1Metrics.cpp: the --metrics file.
  MetricsSnapshot Metrics() const;
  // Writes the file when its text changed; with `always` also when not
  // (the periodic write that shows the program is alive).
  void UpdateMetrics(bool always = false);
  void StartMetrics();

  // Unit1Batch.cpp
  // The controls that start an exchange: the send buttons, the clock button
  // and Selekt.
  void SetExchangeControlsEnabled(bool enabled);
  // True when `click` had to wait for an exchange in progress (the periodic
  // check's test) and was posted again.
  bool DeferredUntilCheckEnds(void (TForm1::*click)());
  // The watcher's calls: the only way a request file is taken in.
  void HandOverRequest(const std::string& path, const FileSighting& settled);
  void PeriodicCheck();
  void SendCommandFileOf(const QString& path);
  void ReportNoTerminal(JobResult result, const QString& notDone);
  // A close was accepted or a stop asked for.
  bool IsShuttingDown() const;
  // The jobs' settings follow Rep_write, Write_error_repeat and Priority_set
  // as they change, and Selekt's choice.
  void KeepJobControls();

  // Unit1Config.cpp
  ConfigControls ReadConfigControls() const;
  std::array<QLineEdit*, kTerminalCount> AddressEdits() const { return {Adr1, Adr2, Adr3, Adr4}; }
  std::array<QComboBox*, kTerminalCount> PortBoxes() const { return {Port1, Port2, Port3, Port4}; }
  std::array<QCheckBox*, kTerminalCount> ConnectedBoxes() const { return {Pripojen1, Pripojen2, Pripojen3, Pripojen4}; }
  // Edit2 and Edit3 with the live setting each one sets.
  struct TurnaroundControl {
    QLineEdit* Edit;
    NumberField Field;
    uint32_t* Setting;
  };
  std::array<TurnaroundControl, 2> TurnaroundControls() const;

  QIcon Image(int index) const;

  IniLocation ini_;
  StoredConfig config_;
  // Values of the file not used as stored, logged once the log is there.
  std::vector<std::string> loadNotes_;
  std::array<bool, 2> turnaroundReported_{};
  bool showAtStart_ = false;
  bool trayAvailable_ = false;
  // Activation: the first one is the window's appearance at start; a later
  // one selects the first page when the keyboard focus came from outside the
  // program (another program, or the window was hidden or minimised), not
  // from one of its own boxes.
  bool activatedBefore_ = false;
  bool focusFromOutside_ = false;
  bool terminateRequested_ = false;
  int trayImage_ = 0;
  CursorShape cursor_ = CursorShape::Default;
  std::vector<QIcon> imageList1_;
  bool balloonShown_ = false;
  std::chrono::steady_clock::time_point lastBalloon_{};
  RequestProcessor processor_;
  std::unique_ptr<THlidac> watcher_;
  StopTimeExtension stopExtension_{TerminationSignals::Received()};
  // What the service was told last; nothing is sent before it is ready.
  bool serviceReady_ = false;
  std::string serviceStatus_;
  std::optional<LastJob> lastJob_;
  std::time_t startTime_ = std::time(nullptr);
  std::string metricsWritten_;    // the text the metrics file holds
  bool metricsStarted_ = false;
  bool metricsFailureSaid_ = false;
};
