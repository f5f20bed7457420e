#include "app/Widgets.h"

#include <QPainter>

namespace {
constexpr int kIndicatorSize = 30;
constexpr int kIndicatorRounding = 6;
constexpr int kLedSize = 15;
constexpr int kBlinkIntervalMs = 200;
const QColor kLedOffColour = Qt::gray;
}  // namespace

QColor RgbOf(TerminalIndicator colour) {
  switch (colour) {
    case TerminalIndicator::Green: return QColor(0x00, 0xFF, 0x00);
    case TerminalIndicator::Cyan: return QColor(0x00, 0xFF, 0xFF);
    case TerminalIndicator::Red: return QColor(0xFF, 0x00, 0x00);
    case TerminalIndicator::White: break;
  }
  return QColor(0xFF, 0xFF, 0xFF);
}

TShape::TShape(QWidget* parent) : QWidget(parent) { setFixedSize(kIndicatorSize, kIndicatorSize); }

void TShape::SetColour(TerminalIndicator colour) {
  colour_ = colour;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::black);
  painter.setBrush(RgbOf(colour_));
  painter.drawRoundedRect(rect().adjusted(0, 0, -1, -1), kIndicatorRounding, kIndicatorRounding);
}

TLed::TLed(QColor onColour, QWidget* parent) : QWidget(parent), onColour_(onColour) {
  setFixedSize(kLedSize, kLedSize);
  timer_.setInterval(kBlinkIntervalMs);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Toggle(); });
}

void TLed::Blink() {
  Setrun(!IsRunning());
  lit_ = false;
  update();
}

void TLed::Setrun(bool run) {
  if (run) {
    timer_.start();
  } else {
    timer_.stop();
  }
}

void TLed::LedOff() {
  Setrun(false);
  lit_ = false;
  update();
}

void TLed::Toggle() {
  lit_ = !lit_;
  update();
}

void TLed::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF lamp = QRectF(rect()).adjusted(1, 1, -1, -1);
  painter.setPen(Qt::white);  // the white shadow
  painter.setBrush(lit_ ? onColour_ : kLedOffColour);
  painter.drawEllipse(lamp);
}
