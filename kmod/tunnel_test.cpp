// The whole tunnel on loopback: a test plays the daemon on a line and the
// libgcrypt peer plays the access server.
#include "kmod/crypter.h"
#include "kmod/e2e/backend.h"
#include "kmod/peer/peer.h"
#include "kmod/live_module.h"
#include "kmod/stbuff.h"
#include "kmod/sync.h"
#include "kmod/udpt.h"

namespace kmod_live {
namespace {

using kmod_peer::Peer;

uint32_t word(const Bytes &f, size_t at) {
  uint32_t v;
  std::memcpy(&v, &f[at], 4);
  return v;
}

class Tunnel : public LiveModule {
 protected:
  void open_session(Line &line, int32_t sid, uint32_t traffic_events = 1) {
    ASSERT_EQ(line.create(sid, server.port(), local, traffic_events), 0);
  }
  void key(Line &line) { ASSERT_EQ(line.ioctl(TTYSIM_SETUP_KEYS, &keys), 0); }
  Bytes from_module() {
    Bytes d;
    EXPECT_TRUE(server.receive(d));
    return d;
  }
  UdpPeer server;
  uint16_t local = free_port();
  crypt_setup keys = kmod_e2e::test_keys();
  Peer peer{keys};
};

// Frames both ways with keys, filter, counters and events: kmod/e2e/checks.cpp,
// which the kernel module runs too.

TEST_F(Tunnel, InnerTtlOfOneIsNotSent) {
  Line line(0);
  open_session(line, 1, 0);
  ASSERT_EQ(line.write(ipv4_frame(40, 1)), 40);
  ASSERT_EQ(line.write(ipv4_frame(40, 2, 9)), 40);
  int ttl = 0;
  Bytes d;
  ASSERT_TRUE(server.receive(d, 2000, &ttl));
  EXPECT_EQ(ttl, 1);
  EXPECT_EQ(Bytes(d.begin() + 1, d.end()), ipv4_frame(40, 2, 9));
  // A non-IPv4 frame leaves with the system's default TTL, as a fresh socket's datagram does.
  int default_ttl = 0;
  {
    UdpPeer fresh;
    fresh.send({1}, server.port());
    ASSERT_TRUE(server.receive(d, 2000, &default_ttl));
  }
  ASSERT_GT(default_ttl, 2);
  ASSERT_EQ(line.write(ppp_frame(0x8021)), 8);
  ASSERT_TRUE(server.receive(d, 2000, &ttl));
  EXPECT_EQ(ttl, default_ttl);
  ASSERT_EQ(line.write(ipv4_frame(40, 3)), 40);
  ASSERT_TRUE(server.receive(d, 2000, &ttl));
  EXPECT_EQ(ttl, 2);
  ASSERT_EQ(line.write(ppp_frame(0xC227)), 8);  // EAP
  ASSERT_TRUE(server.receive(d, 2000, &ttl));
  EXPECT_EQ(ttl, default_ttl);
}

// Two sessions to one server address and port on different local ports:
// each datagram goes to the session whose socket received it.
TEST_F(Tunnel, InboundMatchingTakesTheLocalPort) {
  uint16_t other_local = free_port();
  Line older(0), newer(1);
  open_session(older, 1, 0);
  ASSERT_EQ(newer.create(2, server.port(), other_local, 0), 0);
  key(older);
  Bytes f = ipv4_frame(40, 64, 7);
  server.send(peer.protect(f), local);
  EXPECT_EQ(older.read(), f);
  EXPECT_EQ(newer.read(50), Bytes{});
  server.send(Peer::plain(ipv4_frame(40, 64, 8)), other_local);
  EXPECT_EQ(newer.read(), ipv4_frame(40, 64, 8));
  EXPECT_EQ(log_count("frame dropped "), 0u);
}

TEST_F(Tunnel, DatagramLengthsAndStrangers) {
  Line line(0);
  open_session(line, 1, 0);
  server.send({}, local);
  server.send(Bytes(2049, 0), local);
  EXPECT_TRUE(eventually([] { return log_count("packet has invalid length 0 bytes") == 1 &&
                                     log_count("packet has invalid length 2049 bytes") == 1; }));
  Bytes big = Peer::plain(ipv4_frame(2047));
  server.send(big, local);
  EXPECT_EQ(line.read().size(), 2047u);

  UdpPeer stranger;  // right address, wrong port
  stranger.send(Peer::plain(ipv4_frame(40)), local);
  EXPECT_TRUE(eventually([] {
    return log_count("instream packet processing error - session not found ") == 1;
  }));
  EXPECT_EQ(line.read(50), Bytes{});
}

TEST_F(Tunnel, TwoSessionsShareOneLocalPort) {
  UdpPeer other;
  Line a(0), b(1);
  open_session(a, 1, 0);
  ASSERT_EQ(b.create(2, other.port(), local, 0), 0);
  ASSERT_NE(udpt_find_sock(kLoopback, local), nullptr);
  EXPECT_EQ(udpt_find_sock(kLoopback, local)->users, 2);

  Bytes fa = ipv4_frame(40, 64, 1), fb = ipv4_frame(40, 64, 2);
  ASSERT_EQ(a.write(fa), 40);
  ASSERT_EQ(b.write(fb), 40);
  uint16_t from_a = 0, from_b = 0;
  Bytes d;
  ASSERT_TRUE(server.receive(d, 2000, nullptr, &from_a));
  EXPECT_EQ(d, Peer::plain(fa));
  ASSERT_TRUE(other.receive(d, 2000, nullptr, &from_b));
  EXPECT_EQ(d, Peer::plain(fb));
  EXPECT_EQ(from_a, local);
  EXPECT_EQ(from_b, local);
  server.send(Peer::plain(fb), local);
  other.send(Peer::plain(fa), local);
  EXPECT_EQ(a.read(), fb);
  EXPECT_EQ(b.read(), fa);

  a.close();
  EXPECT_EQ(udpt_find_sock(kLoopback, local)->users, 1);
  ASSERT_EQ(b.write(fb), 40);
  ASSERT_TRUE(other.receive(d));
  other.send(Peer::plain(fa), local);
  EXPECT_EQ(b.read(), fa);
  b.close();
  EXPECT_EQ(udpt_find_sock(kLoopback, local), nullptr);
}

TEST_F(Tunnel, ClosingTheLineTearsTheSessionDown) {
  Line line(0);
  open_session(line, 1, 0);
  key(line);
  line.close();
  EXPECT_EQ(udpt_find_sock(kLoopback, local), nullptr);
  Line again(0);
  ASSERT_EQ(again.write(ipv4_frame(40)), 40);
  EXPECT_TRUE(eventually([] {
    return log_count("outstream packet processing error - session not found ") == 1;
  }));
  // The line may carry a new session, unkeyed again.
  open_session(again, 2, 0);
  ASSERT_EQ(again.write(ipv4_frame(40)), 40);
  EXPECT_EQ(from_module(), Peer::plain(ipv4_frame(40)));
}

TEST_F(Tunnel, EventOfTheSendingThreadWakesTheReceivingOne) {
  Line line(0);
  open_session(line, 3, 1);
  ASSERT_EQ(line.write(ipv4_frame(32)), 32);
  Bytes event = line.read();
  ASSERT_EQ(event.size(), 32u);
  EXPECT_EQ(word(event, 8), 2u);
  ASSERT_EQ(line.write(ipv4_frame(31)), 31);  // too short for an event
  from_module(), from_module();
  EXPECT_EQ(line.read(50), Bytes{});
}

// Decrypted frames do not linger in the ring once delivered, nor do frames
// sent in clear once sent.
TEST_F(Tunnel, RingSlotsAreWipedAfterUse) {
  static const char marker[] = "decrypted-plaintext-1414213562";
  Line line(0);
  open_session(line, 1, 0);
  key(line);
  Bytes f = ipv4_frame(80);
  std::memcpy(&f[40], marker, sizeof(marker) - 1);
  for (int i = 0; i < 3; ++i) {
    server.send(peer.protect(f), local);
    ASSERT_EQ(line.read(), f);
  }
  Line plain(1);
  UdpPeer other;
  ASSERT_EQ(plain.create(2, other.port(), free_port(), 0), 0);
  ASSERT_EQ(plain.write(f), 80);
  Bytes d;
  ASSERT_TRUE(other.receive(d));
  // Both threads are past the frames once their locks can be had.
  lock_transfer();
  size_t lingering = user_live_with_pattern(marker, sizeof(marker) - 1);
  unlock_transfer();
  EXPECT_EQ(lingering, 0u);
}

// Datagrams sent to the session's port in one go, batched as a busy server's
// would arrive.
void send_burst(const UdpPeer &from, const std::vector<Bytes> &datagrams, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(kLoopback);
  to.sin_port = htons(port);
  std::vector<iovec> iov(datagrams.size());
  std::vector<mmsghdr> msgs(datagrams.size());
  for (size_t i = 0; i < datagrams.size(); ++i) {
    iov[i] = {const_cast<uint8_t *>(datagrams[i].data()), datagrams[i].size()};
    msgs[i].msg_hdr.msg_name = &to;
    msgs[i].msg_hdr.msg_namelen = sizeof(to);
    msgs[i].msg_hdr.msg_iov = &iov[i];
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  for (size_t at = 0; at < msgs.size();) {
    int n = sendmmsg(from.fd(), &msgs[at], static_cast<unsigned>(msgs.size() - at), 0);
    ASSERT_GT(n, 0);
    at += static_cast<size_t>(n);
  }
}

// Datagrams of two sessions keyed apart, interleaved and held up until
// "parvex_in" takes them in batches: each line gets its own in order, and a
// replayed and a forged datagram amid them are refused alone.
TEST_F(Tunnel, InterleavedSessionsInOneBurst) {
  uint16_t other_local = free_port();
  UdpPeer other_server;
  Line a(0), b(1);
  open_session(a, 1, 0);
  ASSERT_EQ(b.create(2, other_server.port(), other_local, 0), 0);
  key(a);
  crypt_setup other_keys = keys;
  other_keys.key[0] ^= 0x5A;
  other_keys.recv_iv[3] ^= 0x11;
  ASSERT_EQ(b.ioctl(TTYSIM_SETUP_KEYS, &other_keys), 0);
  Peer other_peer(other_keys);
  std::vector<Bytes> to_a, to_b, fa, fb;
  for (uint32_t i = 0; i < 40; ++i) {
    fa.push_back(ipv4_frame(60 + 7 * i, 64, i));
    fb.push_back(ipv4_frame(300 - 5 * i, 64, 1000 + i));
    to_a.push_back(peer.protect(fa.back()));
    to_b.push_back(other_peer.protect(fb.back()));
  }
  Bytes forged = to_b[20];
  forged[10] ^= 0x04;
  lock_instream();
  for (uint32_t i = 0; i < 40; ++i) {
    server.send(to_a[i], local);
    other_server.send(i == 20 ? forged : to_b[i], other_local);
    if (i == 30) server.send(to_a[29], local);  // a replay
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  unlock_instream();
  // Frames and events as they come up a line, events apart.
  auto take = [](Line &line, size_t frames, std::vector<Bytes> &events) {
    std::vector<Bytes> got;
    while (got.size() < frames) {
      Bytes f = line.read();
      if (f.empty()) break;
      (f.size() >= 4 && f[2] == 0xC0 && f[3] == 0x02 ? events : got).push_back(f);
    }
    return got;
  };
  std::vector<Bytes> events_a, events_b;
  fb.erase(fb.begin() + 20);
  EXPECT_EQ(take(a, 40, events_a), fa);
  EXPECT_EQ(take(b, 39, events_b), fb);
  EXPECT_TRUE(eventually([] { return log_count("frame dropped ") == 2; }));
  // Each refusal reached its own line as a decryption error event.
  if (events_a.empty()) events_a.push_back(a.read());
  if (events_b.empty()) events_b.push_back(b.read());
  ASSERT_EQ(events_a.size(), 1u);
  ASSERT_EQ(events_b.size(), 1u);
  ASSERT_EQ(events_a[0].size(), 12u);
  ASSERT_EQ(events_b[0].size(), 12u);
  EXPECT_EQ(word(events_a[0], 4), 1u);
  EXPECT_EQ(word(events_b[0], 4), 1u);
  EXPECT_EQ(a.stats().frames_received, 40u);
  EXPECT_EQ(b.stats().frames_received, 39u);
  lock_instream();
  EXPECT_EQ(crypter_decrypt_drops(), 2u);
  unlock_instream();
}

// A burst the inbound ring admits, while "parvex_in" is held up, is all
// delivered in order afterwards: nothing is lost in the socket first.
TEST_F(Tunnel, BurstOf500DatagramsInFlightArrivesWhole) {
  Line line(0);
  open_session(line, 1, 0);
  key(line);
  std::vector<Bytes> frames, datagrams;
  for (uint32_t i = 0; i < 500; ++i) {
    frames.push_back(ipv4_frame(1400, 64, i));
    datagrams.push_back(peer.protect(frames.back()));
  }
  lock_instream();
  send_burst(server, datagrams, local);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  unlock_instream();
  for (uint32_t i = 0; i < 500; ++i) ASSERT_EQ(line.read(), frames[i]) << i;
  stbuff_drops drops;
  stbuff_get_drops(&drops);
  EXPECT_EQ(drops.inbound, 0u);
  EXPECT_EQ(line.stats().frames_received, 500u);
  EXPECT_EQ(log_count("frame dropped "), 0u);
}

// Beyond what the ring admits, the rest is lost at the ring, and counted
// there; the first 1,019 all arrive.
TEST_F(Tunnel, BurstBeyondTheRingIsCountedWhereItIsDropped) {
  Line line(0);
  open_session(line, 1, 0);
  std::vector<Bytes> datagrams;
  for (uint32_t i = 0; i < 1100; ++i) datagrams.push_back(Peer::plain(ipv4_frame(1400, 64, i)));
  lock_instream();
  send_burst(server, datagrams, local);
  stbuff_drops drops{};
  EXPECT_TRUE(eventually([&] {
    stbuff_get_drops(&drops);
    return drops.inbound == 1100 - (STBUFF_SLOTS - STBUFF_RESERVED);
  })) << drops.inbound;
  unlock_instream();
  for (uint32_t i = 0; i < STBUFF_SLOTS - STBUFF_RESERVED; ++i) ASSERT_EQ(line.read(), ipv4_frame(1400, 64, i)) << i;
  EXPECT_EQ(line.read(50), Bytes{});
}

}  // namespace
}  // namespace kmod_live
