#pragma once
// Records what line execution shows, in place of the main window.

#include <string>
#include <vector>

#include "link/LinkDisplay.h"

class RecordingDisplay : public LinkDisplay {
 public:
  void SetLoadedPanel(const std::string& text) override { Panel3.push_back(text); }
  CursorShape Cursor() const override { return Current; }
  void SetCursor(CursorShape shape) override {
    Current = shape;
    Cursors.push_back(shape);
  }
  void ShowCapacityMessage() override { ++CapacityMessages; }

  std::vector<std::string> Panel3;
  std::vector<CursorShape> Cursors;
  CursorShape Current = CursorShape::Default;
  int CapacityMessages = 0;
};
