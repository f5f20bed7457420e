// orveta-sim: plays ORVETA terminals on a pseudo-terminal or a serial device
// until SIGTERM or SIGINT (or SIGHUP), then removes its link and exits 0.
// SIGUSR1 writes a backlog of polls (--backlog seconds, else five minutes).
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
  sigset_t handledSignals;
  sigemptyset(&handledSignals);
  sigaddset(&handledSignals, SIGTERM);
  sigaddset(&handledSignals, SIGINT);
  sigaddset(&handledSignals, SIGHUP);
  sigaddset(&handledSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &handledSignals, nullptr);

  Simulator simulator(options);
  if (!simulator.Start(error)) {
    std::fprintf(stderr, "orveta-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready %s\n", simulator.LinkPath().c_str());
  std::fflush(stdout);

  constexpr int kSignalledBacklogSeconds = 300;
  const int backlog = options.BacklogSeconds > 0 ? options.BacklogSeconds : kSignalledBacklogSeconds;
  int signal = 0;
  while (sigwait(&handledSignals, &signal) == 0 && signal == SIGUSR1) simulator.WriteBacklog(backlog);
  simulator.Stop();
  return 0;
}
