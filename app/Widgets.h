#pragma once
// The two small lamps of the main window: the terminal indicator squares and
// the blinking LEDs of the About page.

#include <QColor>
#include <QTimer>
#include <QWidget>

#include "requests/TerminalIndicator.h"

QColor RgbOf(TerminalIndicator colour);

// A rounded square with a fill colour.
class IndicatorShape : public QWidget {
 public:
  explicit IndicatorShape(QWidget* parent);
  TerminalIndicator Colour() const { return colour_; }
  void SetColour(TerminalIndicator colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TerminalIndicator colour_ = TerminalIndicator::White;
};

// A round lamp that blinks between its on and off colours.
class Led : public QWidget {
 public:
  Led(QColor onColour, QWidget* parent);
  // Starts blinking when stopped, stops when running; the lamp shows off.
  void Blink();
  void Setrun(bool run);
  // Stops blinking and shows the lamp off.
  void LedOff();
  bool IsRunning() const { return timer_.isActive(); }
  bool IsLit() const { return lit_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Toggle();

  QColor onColour_;
  QTimer timer_;
  bool lit_ = false;
};
