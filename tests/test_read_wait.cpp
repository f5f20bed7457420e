// Waiting for a byte while window events are served: a byte that arrives in
// time is taken even when serving the events takes longer than the wait (a
// busy main window must not turn an acknowledgement into a failure).

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/CommPort.h"
#include "support/PtyPair.h"
#include "support/WaitFor.h"

TEST(ReadByteWait, ByteThatCameWhileTheHookOverranTheWaitIsTaken) {
  PtyPair line;
  auto port = CommPort::OpenPath(line.SlavePath(), 19200, 'N', 8, 1);
  ASSERT_EQ(port->Status(), kCommOk);
  int calls = 0;
  SetDispatchHook([&] {
    if (calls++ > 0) return;
    line.Write({0x06});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // a slow window event
  });
  EXPECT_EQ(port->ReadByteWait(80), 0x06);
  EXPECT_EQ(calls, 1);

  // An empty line still ends the wait in time, with the hook served meanwhile.
  calls = 1;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->ReadByteWait(80), kCommNoData);
  EXPECT_GE(MillisecondsSince(start), 80);
  EXPECT_GT(calls, 1);
  SetDispatchHook(nullptr);
}
