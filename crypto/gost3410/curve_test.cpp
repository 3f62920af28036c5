#include "crypto/gost3410/curve.h"

#include <gtest/gtest.h>

#include "crypto/gost3410/ec_testing.h"

using namespace CryptoTesting;
using namespace CryptoGostImpl;

namespace {

struct Set {
  const char *gcry_name;
  const Curve &curve;
  const ParamRecord &record;
};

std::vector<Set> sets() {
  return {{"GOST2001-CryptoPro-A", Curve::crypto_pro_a(), psetSigA}, {"GOST2001-test", Curve::test_set(), psetTest}};
}

// x then y, plain big-endian; empty at infinity.
Bytes affine(const Curve &c, const JacobianPoint &p) {
  U256 x, y;
  if (!c.to_affine(p, x, y)) return {};
  Bytes out = bytes_of(x);
  const Bytes yb = bytes_of(y);
  out.insert(out.end(), yb.begin(), yb.end());
  return out;
}

Bytes affine(const Curve &c, const AffinePoint &p) { return affine(c, c.lift(p)); }

// The same point with Z = lambda: (lambda^2 X, lambda^3 Y, lambda Z).
JacobianPoint rescaled(const Curve &c, const JacobianPoint &p, const U256 &lambda) {
  const MontField &f = c.fp();
  const U256 l2 = f.sqr(lambda);
  return {f.mul(p.x, l2), f.mul(p.y, f.mul(l2, lambda)), f.mul(p.z, lambda)};
}

// Scalars whose windows hit the table's ends, zero runs and the top of the range.
std::vector<Bytes> edge_scalars(const Bytes &q) {
  std::vector<Bytes> v = {small(1), small(2), small(15), small(16), small(17), minus(q, 1), minus(q, 2), minus(q, 16)};
  Bytes top_bit(32);
  top_bit[0] = 0x80;
  v.push_back(top_bit);
  Bytes top_window_only(32);
  top_window_only[0] = 0x70;
  v.push_back(top_window_only);
  Bytes ones = minus(q, 1);
  std::fill(ones.begin() + 8, ones.end(), 0xFF);  // long runs of 15s, still below q
  ones[0] &= 0x7F;
  v.push_back(ones);
  return v;
}

}  // namespace

TEST(Curve, BasePointsAreOnTheirCurves) {
  for (const Set &s : sets()) {
    AffinePoint p;
    EXPECT_TRUE(s.curve.make_point(number(Bytes(s.record.x, s.record.x + 32)),
                                   number(Bytes(s.record.y, s.record.y + 32)), p));
    EXPECT_EQ(affine(s.curve, p), affine(s.curve, s.curve.base()));
  }
}

TEST(Curve, PointsOffTheCurveOrOutOfRangeAreRefused) {
  for (const Set &s : sets()) {
    const Curve &c = s.curve;
    const Bytes base = affine(c, c.base());
    const U256 x = number(Bytes(base.begin(), base.begin() + 32)), y = number(Bytes(base.begin() + 32, base.end()));
    AffinePoint p;
    U256 y_off = y;
    y_off.w[0] ^= 1;
    EXPECT_FALSE(c.make_point(x, y_off, p));
    EXPECT_FALSE(c.make_point(x, U256{}, p));
    const Bytes pb(s.record.p, s.record.p + 32);
    EXPECT_FALSE(c.make_point(number(pb), y, p));  // x = p
    // y + p is congruent to y but not a coordinate.
    U256 wrapped = y;
    Limb carry = 0;
    const U256 m = number(pb);
    for (int i = 0; i < kLimbs; ++i) {
      const WideLimb t = WideLimb(wrapped.w[i]) + m.w[i] + carry;
      wrapped.w[i] = Limb(t);
      carry = Limb(t >> kLimbBits);
    }
    if (!carry) {
      EXPECT_FALSE(c.make_point(x, wrapped, p));
    }
    EXPECT_TRUE(c.make_point(x, y, p));
  }
}

TEST(Curve, AdditionCoversDoublingOppositesAndInfinity) {
  for (const Set &s : sets()) {
    SCOPED_TRACE(s.gcry_name);
    const Curve &c = s.curve;
    const MontField &f = c.fp();
    const JacobianPoint p = c.lift(c.base()), inf = c.infinity();
    const JacobianPoint p2 = c.dbl(p);
    // A point with Z != 1 to exercise the general formulas.
    const JacobianPoint p_scaled = rescaled(c, p, f.to_mont(u256_from_word(0x1234567)));
    EXPECT_EQ(affine(c, p_scaled), affine(c, p));

    EXPECT_EQ(affine(c, c.add(p, p)), affine(c, p2));
    EXPECT_EQ(affine(c, c.add(p_scaled, p)), affine(c, p2));
    EXPECT_EQ(affine(c, c.add_mixed(p_scaled, c.base())), affine(c, p2));
    EXPECT_TRUE(affine(c, c.add(p, c.negate(p_scaled))).empty());
    EXPECT_TRUE(affine(c, c.add_mixed(c.negate(p_scaled), c.base())).empty());
    EXPECT_TRUE(affine(c, c.add_mixed_ct(c.negate(p_scaled), c.base())).empty());
    EXPECT_EQ(affine(c, c.add(inf, p_scaled)), affine(c, p));
    EXPECT_EQ(affine(c, c.add(p_scaled, inf)), affine(c, p));
    EXPECT_TRUE(affine(c, c.add(inf, inf)).empty());
    EXPECT_EQ(affine(c, c.add_mixed(inf, c.base())), affine(c, p));
    EXPECT_EQ(affine(c, c.add_mixed_ct(inf, c.base())), affine(c, p));
    EXPECT_TRUE(affine(c, c.dbl(inf)).empty());

    // 2P + P three ways, against libgcrypt's 3P.
    const Bytes three = gcry_ec_mul(s.gcry_name, small(3), affine(c, p));
    EXPECT_EQ(affine(c, c.add(p2, p)), three);
    EXPECT_EQ(affine(c, c.add_mixed(p2, c.base())), three);
    EXPECT_EQ(affine(c, c.add_mixed_ct(rescaled(c, p2, f.to_mont(u256_from_word(99))), c.base())), three);
    EXPECT_EQ(affine(c, c.dbl(p_scaled)), gcry_ec_mul(s.gcry_name, small(2), affine(c, p)));
  }
}

TEST(Curve, ScalarMultiplicationMatchesLibgcrypt) {
  for (const Set &s : sets()) {
    SCOPED_TRACE(s.gcry_name);
    const Curve &c = s.curve;
    const Bytes q(s.record.q, s.record.q + 32);
    const Bytes base = affine(c, c.base());
    // Another point of the group as the variable one.
    const JacobianPoint other_j = c.mul_base(number(random_below(q)));
    U256 ox, oy;
    ASSERT_TRUE(c.to_affine(other_j, ox, oy));
    AffinePoint other;
    ASSERT_TRUE(c.make_point(ox, oy, other));
    const Bytes other_bytes = affine(c, other);

    std::vector<Bytes> scalars = edge_scalars(q);
    for (int i = 0; i < 6; ++i) scalars.push_back(random_below(q));
    for (const Bytes &k : scalars) {
      SCOPED_TRACE(to_hex(k));
      const Bytes expected = gcry_ec_mul(s.gcry_name, k, base);
      EXPECT_EQ(affine(c, c.mul_base(number(k))), expected);
      EXPECT_EQ(affine(c, c.mul(number(k), c.base())), expected);
      EXPECT_EQ(affine(c, c.mul(number(k), other)), gcry_ec_mul(s.gcry_name, k, other_bytes));
    }
    // Zero gives infinity.
    EXPECT_TRUE(affine(c, c.mul_base(U256{})).empty());
    EXPECT_TRUE(affine(c, c.mul(U256{}, other)).empty());
    // (q - 1) P = -P: same x, y negated.
    const Bytes minus_p = affine(c, c.mul_base(number(minus(q, 1))));
    EXPECT_EQ(Bytes(minus_p.begin(), minus_p.begin() + 32), Bytes(base.begin(), base.begin() + 32));
  }
}

TEST(Curve, JointMultiplicationMatchesTwoSingleOnes) {
  for (const Set &s : sets()) {
    SCOPED_TRACE(s.gcry_name);
    const Curve &c = s.curve;
    const Bytes q(s.record.q, s.record.q + 32);
    U256 ox, oy;
    ASSERT_TRUE(c.to_affine(c.mul_base(number(random_below(q))), ox, oy));
    AffinePoint other;
    ASSERT_TRUE(c.make_point(ox, oy, other));

    std::vector<std::pair<Bytes, Bytes>> pairs;
    for (const Bytes &k : edge_scalars(q)) pairs.push_back({k, random_below(q)});
    for (int i = 0; i < 6; ++i) pairs.push_back({random_below(q), random_below(q)});
    pairs.push_back({small(0), random_below(q)});
    pairs.push_back({random_below(q), small(0)});
    for (const auto &[u1, u2] : pairs) {
      const JacobianPoint expected = c.add(c.mul_base(number(u1)), c.mul(number(u2), other));
      EXPECT_EQ(affine(c, c.mul_joint(number(u1), number(u2), other)), affine(c, expected));
    }
    // With the base point as the second one: the sum passes through doubling
    // (u1 = u2) and through infinity (u1 + u2 = q).
    const Bytes u = random_below(q);
    const U256 un = number(u);
    EXPECT_EQ(affine(c, c.mul_joint(un, un, c.base())), affine(c, c.mul_base(c.fq().add(un, un))));
    EXPECT_TRUE(affine(c, c.mul_joint(un, c.fq().neg(un), c.base())).empty());
    EXPECT_TRUE(affine(c, c.mul_joint(U256{}, U256{}, other)).empty());
  }
}
