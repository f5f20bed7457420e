// orveta-sim: plays ORVETA terminals on a pseudo-terminal or a serial device
// until SIGTERM or SIGINT (or SIGHUP), then removes its link and exits 0.
// Exit codes: 0 after an orderly stop or --help, 1 when the line cannot be
// opened, 2 for bad options.

#include <signal.h>

#include <cstdio>
#include <string>

#include "tools/orveta-sim/SimOptions.h"
#include "tools/orveta-sim/Simulator.h"

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "orveta-sim: %s\nTry 'orveta-sim --help'.\n", error.c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }

  // Blocked before the line thread starts, so that only sigwait below takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  Simulator simulator(options);
  if (!simulator.Start(error)) {
    std::fprintf(stderr, "orveta-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready %s\n", simulator.LinkPath().c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  simulator.Stop();
  return 0;
}
