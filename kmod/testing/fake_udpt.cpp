// Stand-in for the UDP transport: each datagram the session would send is recorded.
#include "kmod/testing/recorder.h"
#include "kmod/udpt.h"

extern "C" void udpt_outstream_put(sctrl_session *s) {
  std::vector<uint8_t> bytes(s->out.header, s->out.header + s->out.header_len);
  bytes.insert(bytes.end(), s->out.data, s->out.data + s->out.len);
  kmod_testing::recorder().sent.push_back({s, bytes});
}
