// TForm1: the page "Chybová hlášení", a viewer of the error log. It reads and
// empties the same file that AppendErrorLog writes, in the start directory.

#include <QFile>
#include <QPlainTextEdit>
#include <QTabWidget>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "app/Texts.h"
#include "link/ErrorLog.h"

void TForm1::Button2Click() {
  Memo2->clear();
  QFile file(QString::fromStdString(ErrorLogPath()));
  if (!file.open(QIODevice::ReadOnly)) {
    ShowErrorMessage(this, QStringLiteral("Cannot open file \"%1\". %2").arg(file.fileName(), file.errorString()));
    return;
  }
  const QByteArray bytes = file.readAll();
  QString text = ShownText(std::string_view(bytes.constData(), bytes.size()));
  Memo2->setPlainText(text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
  const int page = PageControl1->indexOf(TabSheet5);
  PageControl1->setTabVisible(page, true);
  PageControl1->setCurrentIndex(page);
}

void TForm1::BitBtn2Click() {
  PageControl1->setCurrentWidget(TabSheet3);
  PageControl1->setTabVisible(PageControl1->indexOf(TabSheet5), false);
}

void TForm1::BitBtn5Click() {
  Memo2->clear();
  QFile file(QString::fromStdString(ErrorLogPath()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    ShowErrorMessage(this, QStringLiteral("Cannot create file \"%1\". %2").arg(file.fileName(), file.errorString()));
  }
}
