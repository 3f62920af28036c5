// The frame lanes against the per-frame path, for every kernel this CPU runs.
#include "kmod/gost_lanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kmod/peer/peer.h"
#include "kmod/testing/random.h"

using kmod_testing::random_bytes;
using kmod_testing::random_size;
using kmod_testing::rng;
using Bytes = std::vector<uint8_t>;

namespace {

// A random S-box: each of the eight substitutions a random permutation.
Bytes random_sbox() {
  Bytes sbox(64, 0);
  for (int k = 0; k < 8; ++k) {
    std::vector<uint8_t> perm(16);
    for (int i = 0; i < 16; ++i) perm[i] = uint8_t(i);
    std::shuffle(perm.begin(), perm.end(), rng());
    for (int i = 0; i < 16; ++i) sbox[4 * i + k / 2] |= uint8_t(perm[i] << (4 * (k & 1)));
  }
  return sbox;
}

std::unique_ptr<gost_ctx> make_ctx(const Bytes &sbox) {
  auto ctx = std::make_unique<gost_ctx>();
  for (;;) {
    Bytes key = random_bytes(32), mask = random_bytes(32), iv = random_bytes(8);
    if (InitEncryptKey(ctx.get(), key.data(), mask.data(), iv.data(), sbox.data()) == 0) return ctx;
  }
}

// Sessions: two on the CryptoPro S-box, one on the test S-box, two on random ones.
const std::vector<std::unique_ptr<gost_ctx>> &sessions() {
  static const auto all = [] {
    std::vector<std::unique_ptr<gost_ctx>> s;
    const Bytes pro(kmod_peer::kSBoxCryptoProA.begin(), kmod_peer::kSBoxCryptoProA.end());
    const Bytes test(kmod_peer::kSBoxTest.begin(), kmod_peer::kSBoxTest.end());
    s.push_back(make_ctx(pro));
    s.push_back(make_ctx(pro));
    s.push_back(make_ctx(test));
    s.push_back(make_ctx(random_sbox()));
    s.push_back(make_ctx(random_sbox()));
    return s;
  }();
  return all;
}

uint64_t random_counter() {
  // Small counters as a session starts, and any 64-bit value.
  return rng()() % 2 ? random_size(1, 1000) : (uint64_t(rng()()) << 32 | rng()());
}

// One frame with its plain text, trailer and the per-frame path's results.
struct Frame {
  const gost_ctx *ctx;
  uint64_t counter;
  Bytes plain, trailer, cipher;
  u8 mac[8];

  Frame(const gost_ctx *c, size_t len) : ctx(c), counter(random_counter()), plain(random_bytes(len)) {
    trailer.resize(8);
    for (int i = 0; i < 8; ++i) trailer[i] = uint8_t(counter >> (56 - 8 * i));
    cipher = plain;
    u32 key[8];
    gost_frame_key(ctx, counter, key);
    gost_encrypt_imit(cipher.data(), cipher.size(), trailer.data(), key, ctx->iv, &ctx->t, mac);
  }
};

struct Scratch {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(gost_lanes_scratch_size() + 1);
  // Deliberately misaligned: the engine aligns for itself.
  gost_lanes_scratch *get() { return reinterpret_cast<gost_lanes_scratch *>(bytes.data() + 1); }
};

// Runs the frames through the lanes both ways and checks every byte.
void check_batch(std::vector<Frame> &frames, Scratch &scratch) {
  const unsigned n = unsigned(frames.size());
  std::vector<Bytes> bufs(n);
  std::vector<gost_lane_frame> lanes(n);
  for (unsigned i = 0; i < n; ++i) {
    bufs[i] = frames[i].plain;
    lanes[i] = {frames[i].ctx, frames[i].counter, bufs[i].data(), u32(bufs[i].size()), frames[i].trailer.data(), {}};
  }
  gost_lanes_encrypt(lanes.data(), n, scratch.get());
  for (unsigned i = 0; i < n; ++i) {
    ASSERT_EQ(bufs[i], frames[i].cipher) << "frame " << i << " of " << n << ", length " << bufs[i].size();
    ASSERT_EQ(0, std::memcmp(lanes[i].mac, frames[i].mac, 8)) << "frame " << i << ", length " << bufs[i].size();
    std::memset(lanes[i].mac, 0, 8);
  }
  gost_lanes_decrypt(lanes.data(), n, scratch.get());
  for (unsigned i = 0; i < n; ++i) {
    ASSERT_EQ(bufs[i], frames[i].plain) << "frame " << i << " of " << n << ", length " << bufs[i].size();
    ASSERT_EQ(0, std::memcmp(lanes[i].mac, frames[i].mac, 8)) << "frame " << i << ", length " << bufs[i].size();
  }
}

const gost_ctx *random_session() { return sessions()[random_size(0, sessions().size() - 1)].get(); }

class GostLanes : public ::testing::TestWithParam<gost_lanes_variant> {
 protected:
  void SetUp() override {
    if (!gost_lanes_available(GetParam())) GTEST_SKIP() << "this CPU or build has no such kernel";
    ASSERT_EQ(gost_lanes_force(GetParam()), 0);
  }
  void TearDown() override { gost_lanes_init(); }
  Scratch scratch;
};

TEST_P(GostLanes, EveryLengthAgreesWithThePerFramePath) {
  // Lengths 0..2100 in batches of sixteen, each frame on a random session.
  for (size_t len = 0; len <= 2100;) {
    std::vector<Frame> frames;
    for (int i = 0; i < GOST_LANES_MAX && len <= 2100; ++i) frames.emplace_back(random_session(), len++);
    check_batch(frames, scratch);
    if (HasFatalFailure()) return;
  }
}

TEST_P(GostLanes, EveryBatchSizeWithMixedSessionsAndLengths) {
  for (unsigned n = 1; n <= GOST_LANES_MAX; ++n)
    for (int round = 0; round < 6; ++round) {
      std::vector<Frame> frames;
      for (unsigned i = 0; i < n; ++i) {
        // Mostly full frames, some short ones beside them.
        size_t len = rng()() % 3 ? random_size(1300, 1500) : random_size(0, 100);
        frames.emplace_back(random_session(), len);
      }
      check_batch(frames, scratch);
      if (HasFatalFailure()) return;
    }
}

TEST_P(GostLanes, OneSessionAndOneSBox) {
  // Groups of one S-box: all on one session, and on the two CryptoPro sessions.
  for (unsigned n : {2u, 4u, 5u, 8u, 9u, 16u}) {
    std::vector<Frame> one, pro;
    for (unsigned i = 0; i < n; ++i) {
      one.emplace_back(sessions()[0].get(), 1400);
      pro.emplace_back(sessions()[i % 2].get(), random_size(0, 2100));
    }
    check_batch(one, scratch);
    check_batch(pro, scratch);
    if (HasFatalFailure()) return;
  }
}

TEST_P(GostLanes, LongFramesCrossTheSimdBracket) {
  std::vector<Frame> frames;
  for (size_t len : {5000u, 3001u, 1536u, 8u, 0u, 4096u}) frames.emplace_back(sessions()[0].get(), len);
  check_batch(frames, scratch);
}

TEST_P(GostLanes, DuplicatedCounterGivesTheSameFrameTwice) {
  std::vector<Frame> frames;
  for (int i = 0; i < 6; ++i) frames.emplace_back(sessions()[1].get(), 700);
  frames[4] = frames[1];
  check_batch(frames, scratch);
}

TEST_P(GostLanes, TamperedFrameAmidGoodOnesFailsAlone) {
  std::vector<Frame> frames;
  for (int i = 0; i < 12; ++i) frames.emplace_back(random_session(), random_size(1, 1500));
  std::vector<Bytes> bufs;
  std::vector<gost_lane_frame> lanes;
  for (auto &f : frames) bufs.push_back(f.cipher);
  bufs[5][bufs[5].size() / 2] ^= 0x40;
  for (size_t i = 0; i < frames.size(); ++i)
    lanes.push_back({frames[i].ctx, frames[i].counter, bufs[i].data(), u32(bufs[i].size()), frames[i].trailer.data(), {}});
  gost_lanes_decrypt(lanes.data(), unsigned(lanes.size()), scratch.get());
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(i == 5, std::memcmp(lanes[i].mac, frames[i].mac, 8) != 0) << i;
}

TEST_P(GostLanes, KindNamesTheForcedKernel) {
  static const char *const names[] = {"scalar", "scalar4", "avx512vbmi"};
  EXPECT_STREQ(gost_lanes_kind(), names[GetParam()]);
}

std::string kernel_name(const ::testing::TestParamInfo<gost_lanes_variant> &p) {
  static const char *const names[] = {"Scalar", "Scalar4", "Avx512"};
  return names[p.param];
}

INSTANTIATE_TEST_SUITE_P(Kernels, GostLanes,
                         ::testing::Values(GOST_LANES_SCALAR, GOST_LANES_SCALAR4, GOST_LANES_AVX512), kernel_name);

TEST(GostLanesChoice, LoadPicksTheBestKernelHere) {
  gost_lanes_init();
  EXPECT_STREQ(gost_lanes_kind(), gost_lanes_available(GOST_LANES_AVX512) ? "avx512vbmi" : "scalar4");
  EXPECT_TRUE(gost_lanes_available(GOST_LANES_SCALAR));
  EXPECT_TRUE(gost_lanes_available(GOST_LANES_SCALAR4));
  EXPECT_FALSE(gost_lanes_available(GOST_LANES_VARIANTS));
  EXPECT_EQ(gost_lanes_force(GOST_LANES_VARIANTS), -ENODEV);
  EXPECT_GE(gost_lanes_scratch_size(), size_t(1024));
}

}  // namespace
