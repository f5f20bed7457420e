#pragma once
// Message boxes and the desktop's viewer, routed through replaceable handlers
// so that no box can block a program without a display (offscreen, minimal):
// there each box is written to standard error and answered with its default.
// Tests install their own handlers to see and answer the boxes.

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

enum class BoxIcon { None, Information, Warning, Error, Question };
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

struct BoxRequest {
  QWidget* Owner = nullptr;
  BoxIcon Icon = BoxIcon::None;
  BoxButtons Buttons = BoxButtons::Ok;
  QString Caption;
  QString Text;
  BoxAnswer Default = BoxAnswer::Ok;  // the answer without anybody to ask
};

using BoxHandler = std::function<BoxAnswer(const BoxRequest&)>;

// Replaces how boxes are shown; an empty handler restores the standard one.
void SetMessageBoxHandler(BoxHandler handler);
BoxAnswer ShowMessageBox(const BoxRequest& request);

// A box with only OK that nothing waits for: on screen it shows without a
// modal loop, so the exchange in progress and the jobs after it go on; a
// handler or standard error take it as ShowMessageBox does.
void ShowMessageBoxWithoutWaiting(const BoxRequest& request);

// True when a box reaches somebody: a display is there, or a handler was set.
bool InteractiveBoxes();

// The application's title: caption of the standard error display.
QString ApplicationTitle();
// The standard error display: title caption, error icon, OK.
void ShowErrorMessage(QWidget* owner, const QString& text);

// Opening a file with the desktop's default viewer; replaceable for tests.
using UrlOpener = std::function<bool(const QUrl&)>;
void SetUrlOpener(UrlOpener opener);
bool OpenUrl(const QUrl& url);
