// Stand-in for the event ring: events are recorded, a ring marked full refuses them.
#include "kmod/stbuff.h"
#include "kmod/testing/recorder.h"

extern "C" int stbuff_logger_put(s32 sid, const void *event, s32 len) {
  auto &r = kmod_testing::recorder();
  if (r.ring_full) return -1;
  auto *bytes = static_cast<const uint8_t *>(event);
  r.events.push_back({sid, std::vector<uint8_t>(bytes, bytes + len)});
  return 0;
}
