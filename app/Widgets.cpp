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

IndicatorShape::IndicatorShape(QWidget* parent) : QWidget(parent) { setFixedSize(kIndicatorSize, kIndicatorSize); }

void IndicatorShape::SetColour(TerminalIndicator colour) {
  colour_ = colour;
  update();
}

void IndicatorShape::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::black);
  painter.setBrush(RgbOf(colour_));
  painter.drawRoundedRect(rect().adjusted(0, 0, -1, -1), kIndicatorRounding, kIndicatorRounding);
}

Led::Led(QColor onColour, QWidget* parent) : QWidget(parent), onColour_(onColour) {
  setFixedSize(kLedSize, kLedSize);
  timer_.setInterval(kBlinkIntervalMs);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Toggle(); });
}

void Led::Blink() {
  Setrun(!IsRunning());
  lit_ = false;
  update();
}

void Led::Setrun(bool run) {
  if (run) {
    timer_.start();
  } else {
    timer_.stop();
  }
}

void Led::LedOff() {
  Setrun(false);
  lit_ = false;
  update();
}

void Led::Toggle() {
  lit_ = !lit_;
  update();
}

void Led::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF lamp = QRectF(rect()).adjusted(1, 1, -1, -1);
  painter.setPen(Qt::white);  // the white shadow
  painter.setBrush(lit_ ? onColour_ : kLedOffColour);
  painter.drawEllipse(lamp);
}
