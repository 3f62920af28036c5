// Timing of the secret-scalar operations against the scalar's bit pattern, in
// the manner of dudect: two classes of inputs (one fixed scalar of Hamming
// weight one, fresh random scalars) measured in random order, then Welch's
// t-test on the two sets of durations. Wall-clock noise slows both classes
// alike; a data-dependent path shows as a large |t| after a few thousand runs.
//
// Skipped unless YRK_TIMING_TEST is set: CTest runs these as a test of their
// own that sanitizer builds leave out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "crypto/gost3410/curve.h"
#include "crypto/gost3410/digsig.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/gost3411/hash.h"

using namespace CryptoGostImpl;

namespace {

constexpr double kLimit = 10;  // |t| beyond this is a leak, not noise

struct Welch {
  double t;
  std::size_t samples;
};

// Welch's t over the two classes, the slowest tenth of all samples left out
// (interrupts and preemption land there).
Welch welch(const std::vector<double> &a, const std::vector<double> &b) {
  std::vector<double> all(a);
  all.insert(all.end(), b.begin(), b.end());
  std::nth_element(all.begin(), all.begin() + all.size() * 9 / 10, all.end());
  const double cut = all[all.size() * 9 / 10];
  auto stats = [cut](const std::vector<double> &v, double &mean, double &var, double &n) {
    double sum = 0, sum2 = 0;
    n = 0;
    for (double x : v)
      if (x <= cut) {
        sum += x;
        sum2 += x * x;
        ++n;
      }
    mean = sum / n;
    var = (sum2 - n * mean * mean) / (n - 1);
  };
  double ma, va, na, mb, vb, nb;
  stats(a, ma, va, na);
  stats(b, mb, vb, nb);
  return {(ma - mb) / std::sqrt(va / na + vb / nb), std::size_t(na + nb)};
}

// Runs op on class 0 (the fixed scalar) or class 1 (a random one) in random
// order for about `seconds`, and tests the durations.
Welch measure(const std::function<void(const U256 &)> &op, const U256 &fixed, const U256 &q, double seconds) {
  std::mt19937_64 gen(0xC0FFEE);
  auto random_scalar = [&] {
    for (;;) {
      U256 k;
      for (Limb &w : k.w) w = Limb(gen());
      if (less(k, q) && !is_zero(k)) return k;
    }
  };
  std::vector<U256> pool(64);
  for (U256 &k : pool) k = random_scalar();
  for (int i = 0; i < 50; ++i) op(pool[i % pool.size()]);  // warm caches and clocks

  std::vector<double> times[2];
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (std::size_t i = 0; Clock::now() < end; ++i) {
    const unsigned cls = unsigned(gen() & 1);
    const U256 &k = cls ? pool[i % pool.size()] : fixed;
    const auto t0 = Clock::now();
    op(k);
    const auto t1 = Clock::now();
    times[cls].push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
  }
  return welch(times[0], times[1]);
}

// A point of the group other than the base point.
AffinePoint some_point(const Curve &c) {
  U256 x, y;
  AffinePoint p;
  c.to_affine(c.mul_base(u256_from_word(0x5EED)), x, y);
  c.make_point(x, y, p);
  return p;
}

bool enabled() { return std::getenv("YRK_TIMING_TEST") != nullptr; }

// Keeps results alive so the work is not optimised away.
volatile Limb sink;

}  // namespace

TEST(ConstantTime, ScalarMultiplicationsDoNotDependOnTheScalarsBits) {
  if (!enabled()) GTEST_SKIP() << "timing test: set YRK_TIMING_TEST";
  const Curve &c = Curve::crypto_pro_a();
  const U256 one = u256_from_word(1), &q = c.fq().modulus();
  const AffinePoint peer = some_point(c);
  const Welch base = measure([&](const U256 &k) { sink = c.mul_base(k).x.w[0]; }, one, q, 1.5);
  const Welch point = measure([&](const U256 &k) { sink = c.mul(k, peer).x.w[0]; }, one, q, 1.5);
  RecordProperty("t_base", std::to_string(base.t));
  RecordProperty("t_point", std::to_string(point.t));
  EXPECT_LT(std::fabs(base.t), kLimit) << base.samples << " samples";
  EXPECT_LT(std::fabs(point.t), kLimit) << point.samples << " samples";
}

TEST(ConstantTime, SigningDoesNotDependOnTheNoncesBits) {
  if (!enabled()) GTEST_SKIP() << "timing test: set YRK_TIMING_TEST";
  const Curve &c = Curve::crypto_pro_a();
  U256 nonce{};
  DigSig sig([&](unsigned char *buf, unsigned len) {
    if (len == 32) u256_to_bytes(nonce, buf);
  });
  unsigned char key[32], signature[64];
  for (unsigned i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(i * 37 + 11);
  std::shared_ptr<Crypto::Hash_Context> hash = Crypto::create_hash_context(sbox_rfc);
  hash->hash("message", 7);
  const Welch t = measure(
      [&](const U256 &k) {
        nonce = k;
        sig.sign(key, hash, signature);
        sink = signature[0];
      },
      u256_from_word(1), c.fq().modulus(), 1.5);
  RecordProperty("t_sign", std::to_string(t.t));
  EXPECT_LT(std::fabs(t.t), kLimit) << t.samples << " samples";
}

// The harness itself must see a leak where there is one: the joint
// multiplication of verification skips zero digits, so it is fast for a
// scalar of weight one.
TEST(ConstantTime, TheTestSeesAVariableTimeMultiplication) {
  if (!enabled()) GTEST_SKIP() << "timing test: set YRK_TIMING_TEST";
  const Curve &c = Curve::crypto_pro_a();
  const U256 one = u256_from_word(1);
  const Welch t = measure([&](const U256 &k) { sink = c.mul_joint(k, one, c.base()).x.w[0]; }, one,
                          c.fq().modulus(), 0.3);
  RecordProperty("t_joint", std::to_string(t.t));
  EXPECT_GT(std::fabs(t.t), kLimit);
}
