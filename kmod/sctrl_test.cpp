#include "kmod/sctrl.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kmod/testing/recorder.h"
#include "kmod/user/controls_user.h"

using kmod_testing::recorder;
using Bytes = std::vector<uint8_t>;

namespace {

tty_struct *line(uintptr_t n) { return reinterpret_cast<tty_struct *>(n * 64); }

class SessionTable : public ::testing::Test {
 protected:
  void SetUp() override {
    sctrl_init();
    recorder().clear();
  }
  void TearDown() override {
    while (sctrl_session *s = sctrl_find_session(nullptr)) sctrl_delete_session(s);
    user_fail_alloc_after(-1);
  }
  sctrl_session *create(tty_struct *tty, s32 sid, u32 addr = 0, u16 port = 0) {
    sctrl_session *s = sctrl_create_session(tty);
    s->params.sid = sid;
    s->params.peer_addr = addr;
    s->params.peer_port = port;
    return s;
  }
};

}  // namespace

TEST_F(SessionTable, NewSessionIsZeroedWithSidMinusOne) {
  sctrl_session *s = sctrl_create_session(line(1));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->params.sid, -1);
  EXPECT_EQ(s->tty, line(1));
  EXPECT_EQ(s->keyed, 0);
  EXPECT_EQ(s->send_ctx.counter, 0u);
  EXPECT_EQ(s->stats.frames_sent, 0u);
}

TEST_F(SessionTable, AllocationFailureGivesNull) {
  user_fail_alloc_after(0);
  EXPECT_EQ(sctrl_create_session(line(1)), nullptr);
  EXPECT_EQ(sctrl_find_session(nullptr), nullptr);
}

TEST_F(SessionTable, LookupsFindTheNewestMatch) {
  sctrl_session *older = create(line(1), 7, 0x0A000001, 500);
  sctrl_session *other = create(line(2), 8, 0x0A000002, 500);
  sctrl_session *newer = create(line(3), 7, 0x0A000001, 500);
  EXPECT_EQ(sctrl_find_session_sid(7), newer);
  EXPECT_EQ(sctrl_find_session_sid(8), other);
  EXPECT_EQ(sctrl_find_session_sid(9), nullptr);
  EXPECT_EQ(sctrl_find_session_tty(line(1)), older);
  EXPECT_EQ(sctrl_find_session_tty(line(4)), nullptr);
  EXPECT_EQ(sctrl_find_session_address(0x0A000001, 500, 0, 0), newer);
  EXPECT_EQ(sctrl_find_session_address(0x0A000001, 501, 0, 0), nullptr);
  EXPECT_EQ(sctrl_find_session_address(0x0A000002, 500, 0, 0), other);
  // The receiving socket's local address and port count too.
  older->params.local_port = 4000;
  older->params.local_addr = 0x7F000001;
  EXPECT_EQ(sctrl_find_session_address(0x0A000001, 500, 0x7F000001, 4000), older);
  EXPECT_EQ(sctrl_find_session_address(0x0A000001, 500, 0x7F000001, 4001), nullptr);
  EXPECT_EQ(sctrl_find_session_address(0x0A000001, 500, 0, 4000), nullptr);
  EXPECT_EQ(sctrl_find_session_address(0x0A000001, 500, 0, 0), newer);

  sctrl_delete_session(newer);
  EXPECT_EQ(sctrl_find_session_sid(7), older);
}

TEST_F(SessionTable, WalkGoesNewestFirstAndStopsAtADeletedSession) {
  sctrl_session *a = create(line(1), 1), *b = create(line(2), 2), *c = create(line(3), 3);
  EXPECT_EQ(sctrl_find_session(nullptr), c);
  EXPECT_EQ(sctrl_find_session(c), b);
  EXPECT_EQ(sctrl_find_session(b), a);
  EXPECT_EQ(sctrl_find_session(a), nullptr);

  sctrl_delete_session(b);
  EXPECT_EQ(sctrl_find_session(c), a);
  EXPECT_EQ(sctrl_find_session(b), nullptr);  // b is gone: the walk ends
}

TEST_F(SessionTable, DeletingASessionNotInTheTableDoesNothing) {
  sctrl_session *a = create(line(1), 1);
  sctrl_session stranger{};
  EXPECT_EQ(sctrl_delete_session(nullptr), 0);
  EXPECT_EQ(sctrl_delete_session(&stranger), 0);
  EXPECT_EQ(sctrl_find_session(nullptr), a);
  EXPECT_EQ(sctrl_delete_session(a), 0);
  EXPECT_EQ(sctrl_find_session(nullptr), nullptr);
}

namespace {

Bytes ipv4_frame(size_t len, u8 protocol, u8 ihl_words = 5) {
  Bytes f(len, 0);
  f[0] = 0xFF;
  f[1] = 0x03;
  f[2] = 0x00;
  f[3] = 0x21;
  u8 *ip = f.data() + 4;
  ip[0] = static_cast<u8>(0x40 | ihl_words);
  ip[2] = static_cast<u8>((len - 4) >> 8);
  ip[3] = static_cast<u8>(len - 4);
  ip[8] = 64;
  ip[9] = protocol;
  const u8 addrs[8] = {192, 168, 1, 2, 10, 0, 0, 9};
  std::memcpy(ip + 12, addrs, 8);
  for (size_t i = 20; i + 4 < len; ++i) ip[i] = static_cast<u8>(0x11 * (i - 19));  // 11 22 33 44 ...
  return f;
}

sctrl_event_traffic traffic_event(size_t i = 0) {
  sctrl_event_traffic ev;
  EXPECT_EQ(recorder().events.at(i).bytes.size(), sizeof(ev));
  std::memcpy(&ev, recorder().events.at(i).bytes.data(), sizeof(ev));
  return ev;
}

}  // namespace

TEST(SessionEvents, DecryptionErrorEventLayout) {
  recorder().clear();
  trigger_event_decerror(42, 3);
  ASSERT_EQ(recorder().events.size(), 1u);
  EXPECT_EQ(recorder().events[0].sid, 42);
  EXPECT_EQ(recorder().events[0].bytes, (Bytes{0xFF, 0x03, 0xC0, 0x02, 1, 0, 0, 0, 3, 0, 0, 0}));
}

TEST(SessionEvents, TrafficEventLayout) {
  recorder().clear();
  trigger_event_traffic(ipv4_frame(32, 17).data(), 32, 5, SCTRL_DIR_RECEIVED);
  ASSERT_EQ(recorder().events.size(), 1u);
  EXPECT_EQ(recorder().events[0].sid, 5);
  EXPECT_EQ(recorder().events[0].bytes,
            (Bytes{0xFF, 0x03, 0xC0, 0x02, 2,    0,    0, 0, 1,  0, 0, 0, 17,   0,    0,    0,
                   28,   0,    0,    0,    2,    1,    168, 192, 9, 0, 0, 10, 0x22, 0x11, 0x44, 0x33}));
}

TEST(SessionEvents, TrafficEventNeedsA32ByteIpv4Frame) {
  recorder().clear();
  trigger_event_traffic(ipv4_frame(31, 17).data(), 31, 1, SCTRL_DIR_SENT);
  Bytes lcp = ipv4_frame(40, 17);
  lcp[2] = 0xC0;
  trigger_event_traffic(lcp.data(), 40, 1, SCTRL_DIR_SENT);
  EXPECT_TRUE(recorder().events.empty());
  trigger_event_traffic(ipv4_frame(32, 1).data(), 32, 1, SCTRL_DIR_SENT);
  ASSERT_EQ(recorder().events.size(), 1u);
  auto ev = traffic_event();
  EXPECT_EQ(ev.direction, 2u);
  EXPECT_EQ(ev.protocol, 1u);
  EXPECT_EQ(ev.sport, 0);
  EXPECT_EQ(ev.dport, 0);
}

TEST(SessionEvents, TcpPortsOnlyFrom44Bytes) {
  recorder().clear();
  trigger_event_traffic(ipv4_frame(40, 6).data(), 40, 1, SCTRL_DIR_SENT);
  trigger_event_traffic(ipv4_frame(44, 6).data(), 44, 1, SCTRL_DIR_SENT);
  ASSERT_EQ(recorder().events.size(), 2u);
  EXPECT_EQ(traffic_event(0).sport, 0);
  EXPECT_EQ(traffic_event(0).dport, 0);
  EXPECT_EQ(traffic_event(1).sport, 0x1122);
  EXPECT_EQ(traffic_event(1).dport, 0x3344);
  EXPECT_EQ(traffic_event(1).total_len, 40u);
}

TEST(SessionEvents, HeaderOptionsAreNotSkipped) {
  recorder().clear();
  trigger_event_traffic(ipv4_frame(48, 17, 7).data(), 48, 1, SCTRL_DIR_RECEIVED);
  EXPECT_EQ(traffic_event().sport, 0x1122);
  EXPECT_EQ(traffic_event().dport, 0x3344);
}

TEST(SessionEvents, FullRingLosesTheEvent) {
  recorder().clear();
  recorder().ring_full = true;
  trigger_event_decerror(1, 1);
  trigger_event_traffic(ipv4_frame(40, 17).data(), 40, 1, SCTRL_DIR_SENT);
  EXPECT_TRUE(recorder().events.empty());
}

TEST_F(SessionTable, CountersSkipControlProtocolsAndDroppedFrames) {
  sctrl_session *s = create(line(1), 1);
  const traffic_stats module_before = stats;
  Bytes lcp = {0xFF, 0x03, 0xC0, 0x21, 1, 2, 3, 4};
  Bytes ipcp = {0xFF, 0x03, 0x80, 0x21, 1, 2, 3, 4, 5, 6};
  Bytes ip = ipv4_frame(60, 17);

  s->in = {lcp.data(), static_cast<s32>(lcp.size())};
  sctrl_count_received(s);
  s->in = {ip.data(), 0};  // what a dropped frame leaves
  sctrl_count_received(s);
  EXPECT_EQ(s->stats.frames_received, 0u);

  s->in = {ip.data(), 60};
  sctrl_count_received(s);
  s->out = {ipcp.data(), static_cast<s32>(ipcp.size()), nullptr, 0, -1};
  sctrl_count_sent(s);
  EXPECT_EQ(s->stats.frames_received, 1u);
  EXPECT_EQ(s->stats.bytes_received, 60u);
  EXPECT_EQ(s->stats.frames_sent, 1u);
  EXPECT_EQ(s->stats.bytes_sent, 10u);
  EXPECT_EQ(stats.frames_received, module_before.frames_received + 1);
  EXPECT_EQ(stats.bytes_sent, module_before.bytes_sent + 10);

  reset_stats(&s->stats);
  EXPECT_EQ(s->stats.bytes_received, 0u);
  EXPECT_EQ(s->stats.frames_sent, 0u);
}
