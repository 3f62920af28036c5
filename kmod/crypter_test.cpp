#include "kmod/crypter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "kmod/peer/peer.h"
#include "kmod/stbuff.h"
#include "kmod/testing/crypter_frames.h"
#include "kmod/testing/keys.h"
#include "kmod/testing/random.h"
#include "kmod/testing/recorder.h"
#include "kmod/user/controls_user.h"

using kmod_testing::random_bytes;
using kmod_testing::random_size;
using kmod_testing::receive_datagram;
using kmod_testing::recorder;
using kmod_testing::send_frame;
using kmod_testing::take_log;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

namespace {

crypt_setup random_keys(const kmod_peer::SBox &sbox = kmod_peer::kSBoxCryptoProA) {
  crypt_setup cs;
  Bytes b = random_bytes(sizeof(cs));
  std::memcpy(&cs, b.data(), sizeof(cs));
  std::memcpy(cs.sbox, sbox.data(), sizeof(cs.sbox));
  return cs;
}

Bytes ppp(u16 protocol, const Bytes &info) {
  Bytes f(4 + info.size());
  f[0] = 0xFF;
  f[1] = 0x03;
  f[2] = static_cast<u8>(protocol >> 8);
  f[3] = static_cast<u8>(protocol);
  std::copy(info.begin(), info.end(), f.begin() + 4);
  return f;
}

Bytes ipv4(size_t len, u8 ttl = 64) {
  Bytes f = ppp(0x0021, random_bytes(len - 4));
  f[12] = ttl;
  return f;
}

Bytes decerror_event(u32 count) { return {0xFF, 0x03, 0xC0, 0x02, 1, 0, 0, 0, u8(count), u8(count >> 8), 0, 0}; }

class Crypter : public ::testing::Test {
 protected:
  void SetUp() override {
    sctrl_init();
    recorder().clear();
    take_log();
    s = make_session(77);
    keys = random_keys();
    key(s, keys);
    peer = std::make_unique<kmod_peer::Peer>(keys);
  }
  void TearDown() override {
    while (sctrl_session *x = sctrl_find_session(nullptr)) sctrl_delete_session(x);
    user_set_unreadable(nullptr, 0);
  }
  static sctrl_session *make_session(s32 sid) {
    sctrl_session *x = sctrl_create_session(nullptr);
    x->params.sid = sid;
    EXPECT_EQ(crypter_create(x), 0);
    return x;
  }
  static void key(sctrl_session *x, const crypt_setup &cs) { ASSERT_EQ(crypter_session_setup(x, &cs), 0); }

  // The datagram is refused: logged, counted, reported, nothing delivered.
  void expect_refused(const Bytes &datagram, const std::string &why) {
    u32 before = s->decerrors;
    recorder().events.clear();
    EXPECT_FALSE(receive_datagram(s, datagram)) << why;
    EXPECT_EQ(take_log(), Strings{"frame dropped "}) << why;
    EXPECT_EQ(s->decerrors, before + 1) << why;
    ASSERT_EQ(recorder().events.size(), 1u) << why;
    EXPECT_EQ(recorder().events[0].sid, 77);
    EXPECT_EQ(recorder().events[0].bytes, decerror_event(before + 1)) << why;
  }

  sctrl_session *s = nullptr;
  crypt_setup keys;
  std::unique_ptr<kmod_peer::Peer> peer;
};

}  // namespace

TEST_F(Crypter, FourByteFrameBecomesA21ByteDatagramThePeerOpens) {
  Bytes frame = ppp(0x0021, {});
  auto d = send_frame(s, frame);
  ASSERT_TRUE(d);
  ASSERT_EQ(d->size(), 21u);
  EXPECT_EQ((*d)[0], 1);
  EXPECT_EQ(Bytes(d->begin() + 5, d->begin() + 13), (Bytes{0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_NE(Bytes(d->begin() + 1, d->begin() + 5), frame);
  auto opened = peer->open(*d);
  EXPECT_EQ(opened.error, kmod_peer::OpenError::none);
  EXPECT_EQ(opened.counter, 1u);
  EXPECT_EQ(opened.frame, frame);
  EXPECT_EQ(crypter_overhead(), 17);
}

TEST_F(Crypter, ModuleAndPeerExchangeFramesOfEverySize) {
  for (size_t len : {4ul, 5ul, 11ul, 12ul, 19ul, 20ul, 64ul, 1400ul, 2031ul}) {
    Bytes out = ipv4(std::max<size_t>(len, 24));
    out.resize(len);
    auto d = send_frame(s, out);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->size(), len + 17);
    auto opened = peer->open(*d);
    EXPECT_EQ(opened.error, kmod_peer::OpenError::none) << len;
    EXPECT_EQ(opened.frame, out) << len;

    Bytes in = ppp(0x0021, random_bytes(len - 4));
    EXPECT_EQ(receive_datagram(s, peer->protect(in)), in) << len;
  }
  EXPECT_TRUE(take_log().empty());
  EXPECT_EQ(s->decerrors, 0u);
}

TEST_F(Crypter, EapAndUnkeyedFramesGoPlain) {
  Bytes eap = ppp(0xC227, {1, 2, 3});
  auto d = send_frame(s, eap);
  ASSERT_TRUE(d);
  EXPECT_EQ((*d)[0], 0);
  EXPECT_EQ(Bytes(d->begin() + 1, d->end()), eap);

  sctrl_session *fresh = make_session(5);
  Bytes ip = ipv4(40);
  d = send_frame(fresh, ip);
  ASSERT_TRUE(d);
  EXPECT_EQ(*d, kmod_peer::Peer::plain(ip));
}

TEST_F(Crypter, SessionsWithTheSameKeysProduceTheSameDatagrams) {
  sctrl_session *twin = make_session(78);
  key(twin, keys);
  Bytes frame = ipv4(100);
  EXPECT_EQ(send_frame(s, frame), send_frame(twin, frame));
}

TEST_F(Crypter, PlainControlFramesAreDeliveredOnAKeyedSession) {
  for (u16 proto : {0xC227, 0xC021, 0x8021}) {
    Bytes f = ppp(proto, {9, 8, 7});
    EXPECT_EQ(receive_datagram(s, kmod_peer::Peer::plain(f)), f) << proto;
  }
  EXPECT_EQ(s->decerrors, 0u);
}

TEST_F(Crypter, PlainIpv4OnAKeyedSessionIsAnInjection) {
  expect_refused(kmod_peer::Peer::plain(ipv4(60)), "plain IPv4");
  Bytes other_type = kmod_peer::Peer::plain(ipv4(60));
  other_type[0] = 2;
  expect_refused(other_type, "IPv4 under an unknown type");
}

// A synchronous PPP line takes address and control as optional and a
// protocol field of one byte when its low bit is set: each spelling below
// reaches the stack as IPv4 (or another network protocol) all the same.
TEST_F(Crypter, PlainNetworkFramesInAnySpellingAreInjections) {
  Bytes ip = ipv4(40);
  Bytes no_address(ip.begin() + 2, ip.end());                      // 00 21 45 ...
  Bytes compressed = ip;                                           // FF 03 21 45 ...
  compressed.erase(compressed.begin() + 2);
  Bytes bare(ip.begin() + 3, ip.end());                            // 21 45 ...
  for (const Bytes &f : {no_address, compressed, bare, ppp(0x0057, random_bytes(40)), ppp(0x002D, random_bytes(40)),
                         ppp(0x0081, random_bytes(8)), Bytes{0xFF, 0x03}, Bytes{}})
    expect_refused(kmod_peer::Peer::plain(f), "plain frame of " + std::to_string(f.size()) + " bytes");
  // Nor may the network forge the module's own event frames.
  expect_refused(kmod_peer::Peer::plain(decerror_event(99)), "forged event");
  EXPECT_EQ(receive_datagram(s, kmod_peer::Peer::plain(ppp(0x80FD, {1, 2}))), ppp(0x80FD, {1, 2}));
}

TEST_F(Crypter, UnkeyedSessionDeliversEverythingUnchanged) {
  sctrl_session *fresh = make_session(5);
  Bytes ip = ipv4(60);
  EXPECT_EQ(receive_datagram(fresh, kmod_peer::Peer::plain(ip)), ip);
  Bytes prot = peer->protect(ip);
  EXPECT_EQ(receive_datagram(fresh, prot), Bytes(prot.begin() + 1, prot.end()));
  EXPECT_EQ(fresh->decerrors, 0u);
}

TEST_F(Crypter, ShortOrTruncatedProtectedDatagramsAreRefused) {
  expect_refused({1}, "type byte alone");
  expect_refused(Bytes(17, 1), "16 bytes after the type");
  Bytes frame = ipv4(40), d = peer->protect(frame);
  for (size_t cut : {1ul, 8ul, 16ul, 30ul}) expect_refused(Bytes(d.begin(), d.end() - cut), "cut " + std::to_string(cut));
  EXPECT_EQ(receive_datagram(s, d), frame);
}

// Each datagram sits in a buffer of exactly its length, so the sanitizers
// see any read past its end.
TEST_F(Crypter, DatagramsOfEveryLengthAreCheckedWithinTheirBytes) {
  for (u8 type : {0, 1, 2}) {
    for (s32 len = 0; len <= 2100; ++len) {
      Bytes d = random_bytes(len);
      if (len) d[0] = type;
      s->in = {d.data(), len};
      crypter_instream_put(s);
    }
  }
  take_log();
  for (s32 len : {2101, 4096, 30001, 65535}) {
    Bytes d = random_bytes(len);
    EXPECT_EQ(DecryptFrame(&s->recv_ctx, d.data(), len), 0) << len;
  }
  u8 none[1] = {};
  for (s32 len : {INT32_MIN, INT32_MIN + 15, -1, 0, 16})
    EXPECT_EQ(DecryptFrame(&s->recv_ctx, none, len), 0) << len;
  EXPECT_EQ(s->recv_ctx.counter, 0u);
}

TEST_F(Crypter, EveryFlippedBitIsRefused) {
  Bytes frame = ipv4(24);
  Bytes good = peer->protect_at(frame, 5);
  for (size_t bit = 8; bit < good.size() * 8; ++bit) {
    Bytes bad = good;
    bad[bit / 8] ^= static_cast<u8>(1u << (bit % 8));
    expect_refused(bad, "bit " + std::to_string(bit));
  }
  // A flip in the type byte makes it a plain datagram whose bytes are
  // ciphertext, not a control frame: refused as well.
  for (int bit = 0; bit < 8; ++bit) {
    Bytes bad = good;
    bad[0] ^= static_cast<u8>(1u << bit);
    expect_refused(bad, "type bit " + std::to_string(bit));
  }
  EXPECT_EQ(receive_datagram(s, good), frame);
}

TEST_F(Crypter, ReplayWindowAcceptsEachCounterOnceWithin15) {
  auto at = [&](u64 c) { return peer->protect_at(ppp(0x0021, {u8(c), u8(c >> 8)}), c); };
  ASSERT_TRUE(receive_datagram(s, at(100)));
  EXPECT_TRUE(receive_datagram(s, at(85)));
  EXPECT_EQ(s->recv_ctx.counter, 100u);  // the highest never moves back
  expect_refused(at(84), "16 behind");
  expect_refused(at(85), "duplicate below");
  expect_refused(at(100), "duplicate of the highest");
  for (u64 c : {99, 90, 86}) EXPECT_TRUE(receive_datagram(s, at(c))) << c;
  ASSERT_TRUE(receive_datagram(s, at(103)));
  expect_refused(at(99), "seen before the window moved");
  EXPECT_TRUE(receive_datagram(s, at(101)));
  expect_refused(at(87), "fell out of the window");
  ASSERT_TRUE(receive_datagram(s, at(1000)));
  expect_refused(at(103), "far behind");
  EXPECT_TRUE(receive_datagram(s, at(999)));
  EXPECT_EQ(s->recv_ctx.counter, 1000u);
}

TEST_F(Crypter, RefusedFrameChangesNoState) {
  ASSERT_TRUE(receive_datagram(s, peer->protect_at(ppp(0x0021, {1}), 10)));
  const gost_ctx before = s->recv_ctx;
  Bytes forged = peer->protect_at(ppp(0x0021, {2}), 12);
  forged[3] ^= 0x40;
  expect_refused(forged, "bad MAC");
  expect_refused(peer->protect_at(ppp(0x0021, {2}), 10), "replayed");
  expect_refused(peer->protect_at(ppp(0x0021, {2}), 0), "counter 0, never sent");
  expect_refused(kmod_peer::Peer::plain(ipv4(40)), "injected");
  EXPECT_EQ(std::memcmp(&before, &s->recv_ctx, sizeof(before)), 0);
  EXPECT_TRUE(receive_datagram(s, peer->protect_at(ppp(0x0021, {2}), 12)));
  EXPECT_TRUE(receive_datagram(s, peer->protect_at(ppp(0x0021, {3}), 11)));
}

TEST_F(Crypter, PeerRefusesReplaysAndForgeriesFromTheModule) {
  auto d1 = send_frame(s, ipv4(30)), d2 = send_frame(s, ipv4(30));
  ASSERT_TRUE(d1 && d2);
  EXPECT_EQ(peer->open(*d2).error, kmod_peer::OpenError::none);
  EXPECT_EQ(peer->open(*d1).error, kmod_peer::OpenError::replayed);
  auto d3 = *send_frame(s, ipv4(30));
  d3[10] ^= 1;
  EXPECT_EQ(peer->open(d3).error, kmod_peer::OpenError::bad_mac);
  EXPECT_EQ(peer->open(Bytes(d3.begin(), d3.begin() + 17)).error, kmod_peer::OpenError::truncated);
}

TEST_F(Crypter, RekeyingKeepsTheCounters) {
  send_frame(s, ipv4(30));
  ASSERT_TRUE(receive_datagram(s, peer->protect_at(ipv4(30), 9)));
  crypt_setup next = random_keys(kmod_peer::kSBoxTest);
  key(s, next);
  kmod_peer::Peer next_peer(next);
  auto d = send_frame(s, ipv4(30));
  auto opened = next_peer.open(*d);
  EXPECT_EQ(opened.error, kmod_peer::OpenError::none);
  EXPECT_EQ(opened.counter, 2u);
  EXPECT_FALSE(receive_datagram(s, next_peer.protect_at(ipv4(30), 9)));
  EXPECT_TRUE(receive_datagram(s, next_peer.protect_at(ipv4(30), 10)));
  take_log();
}

// A re-key that fails leaves the keys in force: nothing leaves in clear.
TEST_F(Crypter, FailedRekeyKeepsTheOldKeys) {
  crypt_setup unreadable = random_keys(), stalling = random_keys(), zero_sbox = random_keys();
  kmod_testing::make_stalling_iv(stalling, stalling.recv_iv);
  std::memset(zero_sbox.sbox, 0, sizeof(zero_sbox.sbox));
  user_set_unreadable(reinterpret_cast<u8 *>(&unreadable) + 143, 1);
  EXPECT_EQ(crypter_session_setup(s, &unreadable), -EFAULT);
  user_set_unreadable(nullptr, 0);
  EXPECT_EQ(crypter_session_setup(s, nullptr), -EFAULT);
  EXPECT_EQ(crypter_session_setup(s, &stalling), -EINVAL);
  EXPECT_EQ(crypter_session_setup(s, &zero_sbox), -EINVAL);
  EXPECT_EQ(take_log(), (Strings{"key setup failed - key record unreadable ",
                                 "key setup failed - key record unreadable ",
                                 "key setup refused - no frame key table for this key record ",
                                 "key setup refused - no frame key table for this key record "}));
  EXPECT_EQ(s->key_failures, 4u);
  EXPECT_EQ(s->keyed, 1);
  EXPECT_EQ(std::memcmp(&s->crypt, &keys, sizeof(keys)), 0);
  for (int i = 0; i < 3; ++i) {
    auto d = send_frame(s, ipv4(30));
    ASSERT_TRUE(d);
    EXPECT_EQ(peer->open(*d).error, kmod_peer::OpenError::none);
  }
  EXPECT_TRUE(receive_datagram(s, peer->protect_at(ipv4(30), 1)));
}

TEST_F(Crypter, FailedFirstKeyingLeavesTheSessionUnkeyed) {
  sctrl_session *fresh = make_session(78);
  crypt_setup stalling = random_keys();
  kmod_testing::make_stalling_iv(stalling, stalling.send_iv);
  EXPECT_EQ(crypter_session_setup(fresh, &stalling), -EINVAL);
  EXPECT_EQ(fresh->keyed, 0);
  EXPECT_EQ(fresh->key_failures, 1u);
  // Nothing of the refused record stays behind.
  const u8 *b = reinterpret_cast<const u8 *>(&fresh->crypt);
  EXPECT_TRUE(std::all_of(b, b + sizeof(fresh->crypt), [](u8 x) { return x == 0; }));
  Bytes ip = ipv4(30);
  EXPECT_EQ(send_frame(fresh, ip), kmod_peer::Peer::plain(ip));
  take_log();
}

TEST_F(Crypter, MissingSessionIsLogged) {
  EXPECT_FALSE(send_frame(nullptr, ipv4(30)));
  EXPECT_FALSE(receive_datagram(nullptr, {0, 1, 2, 3}));
  EXPECT_EQ(take_log(), (Strings{"Crypter outstream put error - session not found ",
                                 "Crypter instream put error - session not found "}));
  EXPECT_EQ(crypter_create(nullptr), -14);
  EXPECT_EQ(crypter_session_setup(nullptr, &keys), -14);
}

TEST_F(Crypter, TestHelpersRefuseMoreThanASlotHolds) {
  EXPECT_THROW(send_frame(s, Bytes(sizeof(stbuff_slot::data) + 1)), std::length_error);
  EXPECT_THROW(receive_datagram(s, Bytes(sizeof(stbuff_slot::data) + 1)), std::length_error);
}

TEST(CrypterTtl, InnerTtlDecidesTheOuterOne) {
  auto ttl = [](Bytes f) {
    sctrl_outframe out{f.data(), static_cast<s32>(f.size()), nullptr, 0, 7};
    s32 r = update_ttl(&out);
    EXPECT_EQ(out.ttl, r);
    return r;
  };
  EXPECT_EQ(ttl(ipv4(24, 64)), 63);
  EXPECT_EQ(ttl(ipv4(24, 2)), 1);
  EXPECT_EQ(ttl(ipv4(24, 1)), 0);
  EXPECT_EQ(ttl(ipv4(24, 0)), 0);
  EXPECT_EQ(ttl(ipv4(23, 0)), -1);
  Bytes lcp = ipv4(40, 0);
  lcp[2] = 0xC0;
  EXPECT_EQ(ttl(lcp), -1);
}
