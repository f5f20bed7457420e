#pragma once
// What line execution shows to the operator, as an interface: the main window
// implements it, tests record it. Keeps the link layer free of any toolkit.

#include <string>

enum class CursorShape { Default, AppStarting, Hourglass };

// What the capacity message says (UTF-8): an answer larger than the answer
// buffer.
constexpr char kCapacityMessage[] =
    "Překročena kapacita paměti!!!\nNutno zvýšit kapacitu paměti v konfiguraci a restartovat.";

class LinkDisplay {
 public:
  virtual ~LinkDisplay() = default;
  // Text of status bar panel 3, the value beside "Načteno:".
  virtual void SetLoadedPanel(const std::string& text) = 0;
  virtual CursorShape Cursor() const = 0;
  virtual void SetCursor(CursorShape shape) = 0;
  // Shows kCapacityMessage; the exchange goes on while it shows.
  virtual void ShowCapacityMessage() = 0;
};
