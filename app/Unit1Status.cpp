// TForm1: terminal indicators and the periodic link check, the status bar,
// the About page's LEDs, showing and hiding, the tray icon and the help.

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/Unit1.h"

namespace {
constexpr int kCounterPanels[] = {1, 3, 5, 7};
const QString kHelpFile = QStringLiteral("help/Tarvion.chm");
}  // namespace

int TForm1::SelectedTerminal() const { return SelektItems->checkedId(); }

void TForm1::SetSelectedTerminal(int index) {
  if (QAbstractButton* item = SelektItems->button(index)) item->setChecked(true);
}

IndicatorColour TForm1::IndicatorOf(int terminalIndex) const { return Indicators[terminalIndex]->Colour(); }

void TForm1::SetIndicator(int terminalIndex, IndicatorColour colour) { Indicators[terminalIndex]->SetColour(colour); }

void TForm1::CheckSelectedTerminal() {
  const int i = SelectedTerminal();
  if (i < 0 || !TerminalInUse(config_.Block.Terminals[i]) || !Terminals[i]) return;
  TOrveta& terminal = *Terminals[i];
  if (IndicatorOf(i) == IndicatorColour::Red) terminal.TestLink();
  SetIndicator(i, terminal.IsMaster()  ? IndicatorColour::Green
                  : terminal.IsSlave() ? IndicatorColour::Cyan
                                       : IndicatorColour::Red);
}

void TForm1::PageControl1Change() {
  const int selected = SelectedTerminal();
  const TOrveta* terminal = selected >= 0 ? Terminals[selected].get() : nullptr;
  if (PageControl1->currentWidget() == TabSheet4 && terminal != nullptr) {
    if (terminal->IsMaster()) {
      Master1->Blink();
      Slave1->Setrun(false);
      Slave1->LedOff();
    } else if (terminal->IsSlave()) {
      Master1->Blink();
      Slave1->Blink();
    }
    return;
  }
  for (TLed* led : {Master1, Slave1}) {
    led->Setrun(false);
    led->LedOff();
  }
}

QString TForm1::PanelText(int panel) const { return StatusPanels[panel]->text(); }

void TForm1::SetPanelText(int panel, const QString& text) { StatusPanels[panel]->setText(text); }

void TForm1::ClearCounterPanels() {
  for (int panel : kCounterPanels) SetPanelText(panel, QString());
}

void TForm1::SetTrayImage(int index) {
  trayImage_ = index;
  StatusIcon1->setIcon(Image(index));
}

void TForm1::ShowBalloonHint(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                             int seconds) {
  if (trayAvailable_ && QSystemTrayIcon::supportsMessages()) StatusIcon1->showMessage(title, text, icon, seconds * 1000);
}

void TForm1::Show_windowClick() {
  showNormal();
  raise();
  activateWindow();
}

// Without a notification area a hidden window could not be reached again, so
// it is minimised instead.
void TForm1::Hide_windowClick() {
  if (trayAvailable_) {
    hide();
  } else {
    showMinimized();
  }
}

void TForm1::KonecClick() { close(); }

void TForm1::BitBtn3Click() { close(); }

void TForm1::Edit1Change() { Button1->setDefault(true); }

void TForm1::NapovedaExecute() { FormHelp(); }

// The help file is looked up relative to the current directory of the moment.
void TForm1::FormHelp() {
  const QString path = QFileInfo(QDir::current(), kHelpFile).absoluteFilePath();
  if (!QFileInfo::exists(path)) {
    ShowMessageBox(BoxRequest{this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
                              QStringLiteral("Soubor nápovědy nebyl nalezen:\n%1").arg(path), BoxAnswer::Ok});
    return;
  }
  if (!OpenUrl(QUrl::fromLocalFile(path))) {
    ShowMessageBox(BoxRequest{this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
                              QStringLiteral("Nápovědu se nepodařilo otevřít:\n%1").arg(path), BoxAnswer::Ok});
  }
}
