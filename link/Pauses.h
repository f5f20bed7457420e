#pragma once
// Every fixed pause of the link and of a job, by name. Where a pause differs
// between a master terminal (which polls) and a slave, it has both values.

#include <chrono>

struct LinePause {
  std::chrono::milliseconds Master;
  std::chrono::milliseconds Slave;
  constexpr std::chrono::milliseconds For(bool master) const { return master ? Master : Slave; }
};

namespace pauses {
using std::chrono::milliseconds;

// Link: after a link test that a command needed, before the command.
inline constexpr milliseconds AfterLinkTest{1500};
// Link: after an acknowledged command with no data answer.
inline constexpr LinePause AfterAcknowledgedCommand{milliseconds(300), milliseconds(0)};
// Batch: after each line, and between the two commands of a long line.
inline constexpr LinePause AfterLine{milliseconds(2), milliseconds(25)};
inline constexpr LinePause BetweenLongLineCommands{milliseconds(5), milliseconds(30)};
// Batch: after an attempt that failed, and before a receive repeat.
inline constexpr milliseconds AfterFailedAttempt{100};
// Job: after the job, before its terminal's indicator is refreshed.
inline constexpr milliseconds BeforeIndicatorRefresh{1500};
// Start-up: before each terminal's first link test.
inline constexpr milliseconds BeforeStartupLinkTest{100};

}  // namespace pauses
