#include "channel/clock.h"

#include <sys/time.h>

long Time() {
  timeval now;
  if (gettimeofday(&now, nullptr) != 0) return -1;
  return now.tv_sec;
}
