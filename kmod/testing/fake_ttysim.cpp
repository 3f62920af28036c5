// Stand-in for the control line: each frame delivered up the line is recorded.
#include "kmod/testing/recorder.h"
#include "kmod/ttysim.h"

extern "C" void ttysim_instream_put(sctrl_session *s) {
  kmod_testing::recorder().delivered.push_back({s, std::vector<uint8_t>(s->in.data, s->in.data + s->in.len)});
}
