#include "link/Settings.h"

LinkSettings& Settings() {
  static LinkSettings settings;
  return settings;
}
