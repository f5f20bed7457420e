// TForm1: terminal indicators and the periodic link check, the status bar,
// the About page's LEDs, showing and hiding, the tray icon and the help.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>

#include "app/Dialogs.h"
#include "app/Globals.h"
#include "app/Unit1.h"

namespace {
// The compiled help first; the HTML help shipped with the program otherwise.
const QString kHelpFiles[] = {QStringLiteral("help/Tarvion.chm"), QStringLiteral("help/Tarvion.html")};
}  // namespace

// The link is tested again only for a red indicator. The controls stay as
// they are during that test (greying them every 4 s would flicker while a
// terminal is away): a click that comes meanwhile is refused by the exchange
// gate, as is any second exchange.
void TForm1::CheckSelectedTerminal() {
  const int i = SelectedIndex();
  TOrveta* terminal = processor_.Terminal(i);
  if (terminal == nullptr) return;
  if (Indicator(i) == TerminalIndicator::Red) terminal->TestLink();
  SetIndicator(i, IndicatorFor(*terminal));
}

void TForm1::PageControl1Change() {
  const int selected = SelectedIndex();
  const TOrveta* terminal = processor_.Terminal(selected);
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
  for (Led* led : {Master1, Slave1}) {
    led->Setrun(false);
    led->LedOff();
  }
}

QString TForm1::PanelText(int panel) const { return StatusPanels[panel]->text(); }

void TForm1::SetPanelText(int panel, const QString& text) { StatusPanels[panel]->setText(text); }

void TForm1::TrayImageChanged(int image) {
  trayImage_ = image;
  StatusIcon1->setIcon(Image(image));
}

void TForm1::ShowBalloonHint(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                             int seconds) {
  if (trayAvailable_ && QSystemTrayIcon::supportsMessages()) StatusIcon1->showMessage(title, text, icon, seconds * 1000);
}

// Shown from the tray: the operator starts again at "Ovládání terminálu".
void TForm1::Show_windowClick() {
  FormActivate();
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

// The help files are looked up relative to the current directory of the
// moment, then where an installed program keeps its HTML help
// (<prefix>/share/tarvion/help beside <prefix>/bin). A file that exists but
// finds no viewer (a .chm on most Linux desktops) gives way to the next one.
void TForm1::FormHelp() {
  QStringList candidates;
  for (const QString& file : kHelpFiles) candidates.append(QFileInfo(QDir::current(), file).absoluteFilePath());
  candidates.append(QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tarvion/help/Tarvion.html")));
  QStringList existing;
  QStringList missing;
  for (const QString& path : candidates) (QFileInfo::exists(path) ? existing : missing).append(path);
  if (existing.isEmpty()) {
    ShowMessageBox(BoxRequest{this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
                              QStringLiteral("Soubor nápovědy nebyl nalezen:\n%1").arg(missing.join(QLatin1Char('\n'))),
                              BoxAnswer::Ok});
    return;
  }
  for (const QString& path : existing) {
    if (OpenUrl(QUrl::fromLocalFile(path))) return;
  }
  ShowMessageBox(BoxRequest{this, BoxIcon::Warning, BoxButtons::Ok, QStringLiteral("Pozor!"),
                            QStringLiteral("Nápovědu se nepodařilo otevřít:\n%1").arg(existing.join(QLatin1Char('\n'))),
                            BoxAnswer::Ok});
}
