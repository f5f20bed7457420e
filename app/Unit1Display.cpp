// TForm1: what the link layer shows while it executes a line.

#include <QGuiApplication>
#include <QListWidget>

#include "app/Dialogs.h"
#include "app/Texts.h"
#include "app/Unit1.h"

namespace {
// Memo1 keeps each line's original bytes beside the text it shows, so that
// the lines can be written out again exactly as they came.
constexpr int kBytesRole = Qt::UserRole;
}  // namespace

void TForm1::AppendAnswerLine(const std::string& line) {
  auto* item = new QListWidgetItem(ShownText(line));
  item->setData(kBytesRole, QByteArray(line.data(), static_cast<qsizetype>(line.size())));
  Memo1->addItem(item);
}

std::vector<std::string> TForm1::ResultLines() const {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(Memo1->count()));
  for (int i = 0; i < Memo1->count(); ++i) lines.push_back(Memo1->item(i)->data(kBytesRole).toByteArray().toStdString());
  return lines;
}

void TForm1::SetLoadedPanel(const std::string& text) { SetPanelText(kLoadedPanel, ShownText(text)); }

void TForm1::SetCursor(CursorShape shape) {
  if (shape == cursor_) return;
  if (cursor_ != CursorShape::Default) QGuiApplication::restoreOverrideCursor();
  if (shape != CursorShape::Default) {
    QGuiApplication::setOverrideCursor(shape == CursorShape::Hourglass ? Qt::WaitCursor : Qt::BusyCursor);
  }
  cursor_ = shape;
}

// The exchange goes on while the box shows: nothing may wait for a click.
void TForm1::ShowCapacityMessage() {
  ShowMessageBoxWithoutWaiting(BoxRequest{
      this, BoxIcon::None, BoxButtons::Ok, ApplicationTitle(),
      QString::fromUtf8(kCapacityMessage),
      BoxAnswer::Ok});
}
