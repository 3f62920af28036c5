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
    u32 before = s->decerrors, all_before = crypter_decrypt_drops();
    recorder().events.clear();
    EXPECT_FALSE(receive_datagram(s, datagram)) << why;
    EXPECT_EQ(take_log(), Strings{"frame dropped "}) << why;
    EXPECT_EQ(s->decerrors, before + 1) << why;
    EXPECT_EQ(crypter_decrypt_drops(), all_before + 1) << why;
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

// Batches: the worker threads hand the crypter up to GOST_LANES_MAX frames
// at once. Whatever the lanes kernel, a batch must do exactly what the same
// frames do one at a time.
namespace {

using kmod_testing::Batch;
using kmod_testing::BatchInput;
using kmod_testing::make_batch;
using kmod_testing::receive_batch;
using kmod_testing::send_batch;

// Runs fn once for each lanes kernel this build and CPU offer.
template <class F>
void for_each_lanes_kernel(F fn) {
  for (int v = 0; v < GOST_LANES_VARIANTS; ++v) {
    auto variant = static_cast<gost_lanes_variant>(v);
    if (!gost_lanes_available(variant)) continue;
    ASSERT_EQ(gost_lanes_force(variant), 0);
    SCOPED_TRACE("lanes kernel " + std::to_string(v));
    fn();
  }
  gost_lanes_init();
  take_log();
}

std::vector<Bytes> frames_of(const std::vector<kmod_testing::Delivery> &d) {
  std::vector<Bytes> out;
  for (const auto &x : d) out.push_back(x.frame);
  return out;
}

class CrypterBatch : public Crypter {
 protected:
  void SetUp() override {
    Crypter::SetUp();
    batch = make_batch();
  }
  Bytes at(u64 counter, u8 tag = 0) const { return peer->protect_at(ppp(0x0021, {u8(counter), u8(counter >> 8), tag}), counter); }
  Bytes frame_at(u64 counter, u8 tag = 0) const { return ppp(0x0021, {u8(counter), u8(counter >> 8), tag}); }
  Batch batch;
};

}  // namespace

TEST_F(CrypterBatch, SameCounterTwiceInABatchPassesOnce) {
  for_each_lanes_kernel([&] {
    u64 base = s->recv_ctx.counter + 20;
    auto got = receive_batch(batch.get(), {{s, at(base + 1)}, {s, at(base + 2)}, {s, at(base + 1, 1)}, {s, at(base + 3)}});
    EXPECT_EQ(frames_of(got), (std::vector<Bytes>{frame_at(base + 1), frame_at(base + 2), frame_at(base + 3)}));
    EXPECT_EQ(take_log(), Strings{"frame dropped "});
    // An older counter, then the newest twice: the window takes the first two.
    got = receive_batch(batch.get(), {{s, at(base + 10)}, {s, at(base + 9)}, {s, at(base + 10)}});
    EXPECT_EQ(frames_of(got), (std::vector<Bytes>{frame_at(base + 10), frame_at(base + 9)}));
    EXPECT_EQ(take_log(), Strings{"frame dropped "});
    EXPECT_EQ(s->recv_ctx.counter, base + 10);
  });
  EXPECT_EQ(recorder().events.size(), s->decerrors);
  EXPECT_EQ(recorder().events.back().bytes, decerror_event(s->decerrors));
}

TEST_F(CrypterBatch, TamperedFrameAmidGoodOnesIsDroppedAlone) {
  for_each_lanes_kernel([&] {
    u64 base = s->recv_ctx.counter;
    u32 errors = s->decerrors, all = crypter_decrypt_drops();
    BatchInput in;
    std::vector<Bytes> frames, expected;
    for (u64 c = 1; c <= GOST_LANES_MAX; ++c) {
      frames.push_back(ipv4(static_cast<size_t>(24 + 97 * c)));
      in.push_back({s, peer->protect_at(frames.back(), base + c)});
      if (c != 8) expected.push_back(frames.back());
    }
    in[7].second[30] ^= 0x01;
    EXPECT_EQ(frames_of(receive_batch(batch.get(), in)), expected);
    EXPECT_EQ(take_log(), Strings{"frame dropped "});
    EXPECT_EQ(s->decerrors, errors + 1);
    EXPECT_EQ(crypter_decrypt_drops(), all + 1);
    EXPECT_EQ(recorder().events.back().bytes, decerror_event(errors + 1));
    EXPECT_EQ(s->recv_ctx.counter, base + GOST_LANES_MAX);
    // The genuine frame is still within the window.
    in[7].second[30] ^= 0x01;
    EXPECT_EQ(receive_datagram(s, in[7].second), frames[7]);
  });
}

namespace {

// Sessions in pairs keyed alike: one takes the frames in batches, its twin
// one at a time; everything they give must be the same.
struct Twins {
  sctrl_session *batched, *single;
};

class CrypterBatchAgainstSingle : public CrypterBatch {
 protected:
  void SetUp() override {
    CrypterBatch::SetUp();
    other_keys = random_keys(kmod_peer::kSBoxTest);
    other_peer = std::make_unique<kmod_peer::Peer>(other_keys);
    twins = {{s, make_session(77)}, {make_session(80), make_session(80)}, {make_session(90), make_session(90)}};
    key(twins[0].single, keys);
    key(twins[1].batched, other_keys);
    key(twins[1].single, other_keys);
    // twins[2] stays unkeyed.
  }

  // Logical session of a recorded one, or -1.
  int which(const sctrl_session *x) const {
    for (size_t i = 0; i < twins.size(); ++i)
      if (twins[i].batched == x || twins[i].single == x) return static_cast<int>(i);
    return -1;
  }

  // What one side gave: per datagram or frame, the logical session and bytes.
  struct Outcome {
    std::vector<std::pair<int, Bytes>> out;
    std::vector<kmod_testing::Event> events;
    Strings log;
    bool operator==(const Outcome &o) const {
      return out == o.out && log == o.log && events.size() == o.events.size() &&
             std::equal(events.begin(), events.end(), o.events.begin(),
                        [](const auto &a, const auto &b) { return a.sid == b.sid && a.bytes == b.bytes; });
    }
  };

  Outcome take_outcome(bool sent) {
    Outcome o;
    if (sent)
      for (const auto &d : recorder().sent) o.out.push_back({which(d.session), d.bytes});
    else
      for (const auto &d : recorder().delivered) o.out.push_back({which(d.session), d.frame});
    o.events = recorder().events;
    o.log = take_log();
    recorder().clear();
    return o;
  }

  // Runs the list one at a time through the singles, then in batches of
  // random sizes through the batched sessions.
  std::pair<Outcome, Outcome> run(const std::vector<std::pair<int, Bytes>> &list, bool sending) {
    recorder().clear();
    take_log();
    for (const auto &[t, bytes] : list) {
      if (sending)
        send_frame(twins[t].single, bytes);
      else
        receive_datagram(twins[t].single, bytes);
    }
    Outcome single = take_outcome(sending);
    for (size_t i = 0; i < list.size();) {
      size_t n = std::min(list.size() - i, random_size(1, GOST_LANES_MAX));
      BatchInput in;
      for (size_t k = 0; k < n; ++k) in.push_back({twins[list[i + k].first].batched, list[i + k].second});
      if (sending)
        send_batch(batch.get(), in);
      else
        receive_batch(batch.get(), in);
      i += n;
    }
    return {single, take_outcome(sending)};
  }

  void expect_same_state() {
    for (const Twins &t : twins) {
      EXPECT_EQ(t.batched->decerrors, t.single->decerrors);
      EXPECT_EQ(t.batched->send_ctx.counter, t.single->send_ctx.counter);
      EXPECT_EQ(t.batched->recv_ctx.counter, t.single->recv_ctx.counter);
      EXPECT_EQ(t.batched->recv_ctx.replay_seen, t.single->recv_ctx.replay_seen);
    }
  }

  crypt_setup other_keys;
  std::unique_ptr<kmod_peer::Peer> other_peer;
  std::vector<Twins> twins;
};

}  // namespace

// Frames of every kind and many lengths, on keyed sessions with different
// S-boxes and an unkeyed one, in batches of every size.
TEST_F(CrypterBatchAgainstSingle, SendingGivesTheSameDatagrams) {
  for_each_lanes_kernel([&] {
    std::vector<std::pair<int, Bytes>> list;
    for (int i = 0; i < 120; ++i) {
      int t = static_cast<int>(random_size(0, 2));
      size_t len = random_size(0, 5) == 0 ? random_size(2031 - 40, 2031) : random_size(3, 300);
      Bytes f = ipv4(std::max<size_t>(len, 24));
      f.resize(len);
      if (random_size(0, 9) == 0 && len >= 4) f[2] = 0xC2, f[3] = 0x27;  // EAP goes plain
      list.push_back({t, f});
    }
    auto [single, batched] = run(list, true);
    EXPECT_EQ(single.out.size(), list.size());
    EXPECT_TRUE(single == batched);
    expect_same_state();
  });
  // What the batches sent, the server opens.
  for (int i = 0; i < 3; ++i) {
    auto d = send_batch(batch.get(), {{s, ipv4(100)}, {s, ipv4(1400)}, {s, ipv4(24)}});
    ASSERT_EQ(d.size(), 3u);
    for (const auto &x : d) EXPECT_EQ(peer->open(x.bytes).error, kmod_peer::OpenError::none);
  }
}

// Genuine datagrams in and out of order, replays, forgeries, cut and plain
// ones, of many lengths, mixed over the sessions.
TEST_F(CrypterBatchAgainstSingle, ReceivingDeliversAndRefusesTheSame) {
  for_each_lanes_kernel([&] {
    std::vector<std::pair<int, Bytes>> list;
    u64 next[2] = {twins[0].single->recv_ctx.counter + 1, twins[1].single->recv_ctx.counter + 1};
    for (int i = 0; i < 240; ++i) {
      int t = static_cast<int>(random_size(0, 2));
      size_t len = random_size(0, 7) == 0 ? random_size(1900, 2031) : random_size(1, 200);
      Bytes f = ipv4(std::max<size_t>(len, 24));
      f.resize(len);
      if (t == 2) {
        list.push_back({t, random_size(0, 1) ? kmod_peer::Peer::plain(f) : peer->protect_at(f, i + 1)});
        continue;
      }
      kmod_peer::Peer &p = t == 0 ? *peer : *other_peer;
      u64 &c = next[t];
      Bytes d;
      switch (random_size(0, 9)) {
        case 0:  // an older counter: within the window or not, seen or not
          d = p.protect_at(f, c > 20 ? c - random_size(1, 20) : c);
          break;
        case 1:  // forged
          d = p.protect_at(f, c++);
          d[random_size(1, d.size() - 1)] ^= static_cast<u8>(1u << random_size(0, 7));
          break;
        case 2:  // plain: control frames pass, the rest is refused
          d = kmod_peer::Peer::plain(random_size(0, 1) ? ppp(0xC021, {1, 2}) : f);
          break;
        case 3:  // cut to the trailer or shorter
          d = p.protect_at(f, c++);
          d.resize(random_size(1, 17));
          break;
        case 4:  // a counter ahead, leaving a gap
          c += random_size(1, 30);
          d = p.protect_at(f, c++);
          break;
        default:
          d = p.protect_at(f, c++);
      }
      list.push_back({t, d});
      if (random_size(0, 12) == 0) list.push_back({t, d});  // the same datagram twice
    }
    auto [single, batched] = run(list, false);
    EXPECT_GT(single.out.size(), list.size() / 2);
    EXPECT_FALSE(single.log.empty());
    EXPECT_TRUE(single == batched);
    expect_same_state();
  });
}

TEST_F(CrypterBatch, BatchOfOneIsTheSingleFramePath) {
  sctrl_session *twin = make_session(77);
  key(twin, keys);
  Bytes f = ipv4(1400);
  auto d = send_batch(batch.get(), {{s, f}});
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].bytes, send_frame(twin, f));
  auto got = receive_batch(batch.get(), {{s, peer->protect_at(f, 3)}});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].frame, f);
  EXPECT_TRUE(receive_batch(batch.get(), {{s, peer->protect_at(f, 3)}}).empty());
  EXPECT_EQ(take_log(), Strings{"frame dropped "});
}

TEST_F(CrypterBatch, MissingSessionsAreLoggedAndTheRestGoes) {
  Bytes f = ipv4(60);
  auto d = send_batch(batch.get(), {{nullptr, f}, {s, f}});
  EXPECT_EQ(d.size(), 1u);
  auto got = receive_batch(batch.get(), {{s, peer->protect_at(f, 1)}, {nullptr, peer->protect_at(f, 2)}});
  EXPECT_EQ(frames_of(got), std::vector<Bytes>{f});
  EXPECT_EQ(take_log(), (Strings{"Crypter outstream put error - session not found ",
                                 "Crypter instream put error - session not found "}));
}
