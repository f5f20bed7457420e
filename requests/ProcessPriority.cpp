#include "requests/ProcessPriority.h"

#include <sys/resource.h>

#include <cerrno>

namespace {
constexpr int kExchangeNice = -10;
}  // namespace

RaisedPriority::RaisedPriority() {
  errno = 0;
  noted_ = getpriority(PRIO_PROCESS, 0);
  if (noted_ == -1 && errno != 0) return;  // unknown: better not touch it
  raised_ = setpriority(PRIO_PROCESS, 0, kExchangeNice) == 0;
}

RaisedPriority::~RaisedPriority() {
  if (raised_) setpriority(PRIO_PROCESS, 0, noted_);
}
