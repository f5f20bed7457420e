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
  // Appends one decoded answer line (bytes, code page 1250) to the result list Memo1.
  virtual void AppendAnswerLine(const std::string& line) = 0;
  // Text of status bar panel 3, the value beside "Načteno:".
  virtual void SetLoadedPanel(const std::string& text) = 0;
  virtual CursorShape Cursor() const = 0;
  virtual void SetCursor(CursorShape shape) = 0;
  // Hides the result list while a block's lines are added, shows it after.
  virtual void SetResultListVisible(bool visible) = 0;
  // Shows kCapacityMessage; the exchange goes on while it shows.
  virtual void ShowCapacityMessage() = 0;
};
