#include "app/Dialogs.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>

#include "config/StandardError.h"

namespace {

BoxHandler& CustomHandler() {
  static BoxHandler handler;
  return handler;
}

UrlOpener& CustomOpener() {
  static UrlOpener opener;
  return opener;
}

bool Headless() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

QMessageBox::Icon QtIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information: return QMessageBox::Information;
    case BoxIcon::Warning: return QMessageBox::Warning;
    case BoxIcon::Error: return QMessageBox::Critical;
    case BoxIcon::Question: return QMessageBox::Question;
    case BoxIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

// The journal's priority of a box: by its icon, a box without one is a notice.
LogPriority PriorityOf(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error: return LogPriority::Error;
    case BoxIcon::Warning: return LogPriority::Warning;
    case BoxIcon::Question:
    case BoxIcon::Information: return LogPriority::Info;
    case BoxIcon::None: break;
  }
  return LogPriority::Notice;
}

BoxAnswer AnswerToStandardError(const BoxRequest& request) {
  WriteStandardError(PriorityOf(request.Icon), (request.Caption + QStringLiteral(": ") + request.Text).toStdString());
  return request.Default;
}

BoxAnswer AnswerOnScreen(const BoxRequest& request) {
  const bool yesNo = request.Buttons == BoxButtons::YesNo;
  QMessageBox box(QtIcon(request.Icon), request.Caption, request.Text,
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, request.Owner);
  if (yesNo) box.setDefaultButton(request.Default == BoxAnswer::Yes ? QMessageBox::Yes : QMessageBox::No);
  switch (box.exec()) {
    case QMessageBox::Yes: return BoxAnswer::Yes;
    case QMessageBox::No: return BoxAnswer::No;
    default: return yesNo ? BoxAnswer::No : BoxAnswer::Ok;
  }
}

}  // namespace

void SetMessageBoxHandler(BoxHandler handler) { CustomHandler() = std::move(handler); }

BoxAnswer ShowMessageBox(const BoxRequest& request) {
  if (CustomHandler()) return CustomHandler()(request);
  return Headless() ? AnswerToStandardError(request) : AnswerOnScreen(request);
}

void ShowMessageBoxWithoutWaiting(const BoxRequest& request) {
  if (CustomHandler() || Headless()) {
    ShowMessageBox(request);
    return;
  }
  auto* box = new QMessageBox(QtIcon(request.Icon), request.Caption, request.Text, QMessageBox::Ok, request.Owner);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

bool InteractiveBoxes() { return CustomHandler() || !Headless(); }

QString ApplicationTitle() { return QCoreApplication::applicationName(); }

void ShowErrorMessage(QWidget* owner, const QString& text) {
  ShowMessageBox(BoxRequest{owner, BoxIcon::Error, BoxButtons::Ok, ApplicationTitle(), text, BoxAnswer::Ok});
}

void SetUrlOpener(UrlOpener opener) { CustomOpener() = std::move(opener); }

bool OpenUrl(const QUrl& url) {
  if (CustomOpener()) return CustomOpener()(url);
  return QDesktopServices::openUrl(url);
}
