#pragma once
// The panels of the status bar by number: labels in the even panels, values
// in the odd ones. Request processing writes the values through JobObserver;
// the main window lays the panels out.

#include <array>

class JobObserver;

constexpr int kPanelCount = 11;
constexpr int kStatusPanel = 1;      // "Status:": the pair of the last job
constexpr int kLoadedPanel = 3;      // "Načteno:": bytes of the last data answer
constexpr int kAttemptPanel = 5;     // "Opakování vysílání:": the current send attempt
constexpr int kReceiveTryPanel = 7;  // "Opakování příjmu:": the current receive try
constexpr int kProgressPanel = 9;    // "Příkazy": commands done / total

// The counters of a job, emptied at start-up and before every job.
constexpr std::array<int, 4> kCounterPanels{kStatusPanel, kLoadedPanel, kAttemptPanel, kReceiveTryPanel};

void ClearCounterPanels(JobObserver& observer);
