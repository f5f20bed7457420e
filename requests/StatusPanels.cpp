#include "requests/StatusPanels.h"

#include "requests/BatchHost.h"

void ClearCounterPanels(BatchHost& host) {
  for (int panel : kCounterPanels) host.SetPanel(panel, "");
}
