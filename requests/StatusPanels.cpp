#include "requests/StatusPanels.h"

#include "requests/JobObserver.h"

void ClearCounterPanels(JobObserver& observer) {
  for (int panel : kCounterPanels) observer.PanelChanged(panel, "");
}
