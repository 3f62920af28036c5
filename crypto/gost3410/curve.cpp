#include "crypto/gost3410/curve.h"

namespace CryptoGostImpl {

// id-GostR3410-2001-CryptoPro-A-ParamSet, RFC 4357.
const ParamRecord psetSigA = {
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x97},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0x6C, 0x61, 0x10, 0x70, 0x99, 0x5A, 0xD1, 0x00, 0x45, 0x84, 0x1B, 0x09, 0xB7, 0x61, 0xB8, 0x93},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x94},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
    {0x8D, 0x91, 0xE4, 0x71, 0xE0, 0x98, 0x9C, 0xDA, 0x27, 0xDF, 0x50, 0x5A, 0x45, 0x3F, 0x2B, 0x76,
     0x35, 0x29, 0x4F, 0x2D, 0xDF, 0x23, 0xE3, 0xB1, 0x22, 0xAC, 0xC9, 0x9C, 0x9E, 0x9F, 0x1E, 0x14},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA6},
};

// id-GostR3410-2001-TestParamSet: the example curve of the standard.
const ParamRecord psetTest = {
    {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x31},
    {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,
     0x50, 0xFE, 0x8A, 0x18, 0x92, 0x97, 0x61, 0x54, 0xC5, 0x9C, 0xFC, 0x19, 0x3A, 0xCC, 0xF5, 0xB3},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02},
    {0x08, 0xE2, 0xA8, 0xA0, 0xE6, 0x51, 0x47, 0xD4, 0xBD, 0x63, 0x16, 0x03, 0x0E, 0x16, 0xD1, 0x9C,
     0x85, 0xC9, 0x7F, 0x0A, 0x9C, 0xA2, 0x67, 0x12, 0x2B, 0x96, 0xAB, 0xBC, 0xEA, 0x7E, 0x8F, 0xC8},
    {0x5F, 0xBF, 0xF4, 0x98, 0xAA, 0x93, 0x8C, 0xE7, 0x39, 0xB8, 0xE0, 0x22, 0xFB, 0xAF, 0xEF, 0x40,
     0x56, 0x3F, 0x6E, 0x6A, 0x34, 0x72, 0xFC, 0x2A, 0x51, 0x4C, 0x0C, 0xE9, 0xDA, 0xE2, 0x3B, 0x7E},
};

namespace {

// All ones when the small numbers a and b are equal.
inline Limb word_equal(unsigned a, unsigned b) {
  const Limb d = Limb(a ^ b);
  return mask_of(((d | (Limb(0) - d)) >> (kLimbBits - 1)) ^ 1);
}

// Width-5 non-adjacent form: digits odd in -15 .. 15 or 0, least significant
// first. Public scalars only.
int wnaf(const U256 &k, signed char digits[258]) {
  std::uint32_t n[9] = {};
  for (int i = 0; i < 256; i += 32)
    n[i / 32] = std::uint32_t(bits_at(k, i, 16)) | std::uint32_t(bits_at(k, i + 16, 16)) << 16;
  int len = 0;
  auto nonzero = [&] {
    for (std::uint32_t v : n)
      if (v) return true;
    return false;
  };
  while (nonzero()) {
    int d = 0;
    if (n[0] & 1) {
      d = int(n[0] & 31);
      if (d >= 16) d -= 32;
      // n -= d, which clears the low five bits.
      std::uint64_t step = std::uint32_t(d < 0 ? -d : d);
      for (auto &v : n) {
        const std::uint64_t t = d > 0 ? std::uint64_t(v) - step : std::uint64_t(v) + step;
        v = std::uint32_t(t);
        step = d > 0 ? (t >> 32) & 1 : t >> 32;
      }
    }
    digits[len++] = static_cast<signed char>(d);
    for (int i = 0; i < 9; ++i) n[i] = (n[i] >> 1) | (i < 8 ? n[i + 1] << 31 : 0);
  }
  return len;
}

}  // namespace

Curve::Curve(const ParamRecord &r)
    : fp_(u256_from_bytes(r.p)), fq_(u256_from_bytes(r.q)), a_(fp_.to_mont(u256_from_bytes(r.a))),
      b_(fp_.to_mont(u256_from_bytes(r.b))),
      a_is_minus_3_(equal(a_, fp_.neg(fp_.to_mont(u256_from_word(3)))) != 0),
      base_{fp_.to_mont(u256_from_bytes(r.x)), fp_.to_mont(u256_from_bytes(r.y))} {
  std::vector<JacobianPoint> comb(kWindows * kEntries);
  JacobianPoint step = lift(base_);  // 16^i * P
  for (int i = 0; i < kWindows; ++i) {
    JacobianPoint *row = &comb[i * kEntries];
    row[0] = step;
    for (int j = 1; j < kEntries; ++j) row[j] = add(row[j - 1], step);
    step = dbl(row[7]);  // 2 * 8 * 16^i * P
  }
  base_comb_.resize(comb.size());
  normalize(comb.data(), base_comb_.data(), comb.size());
  for (int i = 0; i < 8; ++i) base_odd_[i] = base_comb_[2 * i];
}

const Curve &Curve::crypto_pro_a() {
  static const Curve curve(psetSigA);
  return curve;
}

const Curve &Curve::test_set() {
  static const Curve curve(psetTest);
  return curve;
}

bool Curve::make_point(const U256 &x, const U256 &y, AffinePoint &out) const {
  if (!less(x, fp_.modulus()) || !less(y, fp_.modulus()) || is_zero(y)) return false;
  const U256 xm = fp_.to_mont(x), ym = fp_.to_mont(y);
  const U256 rhs = fp_.add(fp_.mul(fp_.add(fp_.sqr(xm), a_), xm), b_);
  if (!equal(fp_.sqr(ym), rhs)) return false;
  out = {xm, ym};
  return true;
}

bool Curve::to_affine(const JacobianPoint &p, U256 &x, U256 &y) const {
  if (is_zero(p.z)) {
    x = y = U256{};
    return false;
  }
  const U256 zi = fp_.inverse(p.z), zi2 = fp_.sqr(zi);
  x = fp_.from_mont(fp_.mul(p.x, zi2));
  y = fp_.from_mont(fp_.mul(p.y, fp_.mul(zi2, zi)));
  return true;
}

JacobianPoint Curve::dbl(const JacobianPoint &p) const {
  const MontField &f = fp_;
  JacobianPoint r;
  if (a_is_minus_3_) {
    const U256 delta = f.sqr(p.z), gamma = f.sqr(p.y), beta = f.mul(p.x, gamma);
    const U256 t = f.mul(f.sub(p.x, delta), f.add(p.x, delta));
    const U256 alpha = f.add(f.dbl(t), t);
    const U256 beta4 = f.dbl(f.dbl(beta));
    r.x = f.sub(f.sqr(alpha), f.dbl(beta4));
    r.z = f.sub(f.sub(f.sqr(f.add(p.y, p.z)), gamma), delta);
    const U256 gamma2 = f.sqr(gamma);
    r.y = f.sub(f.mul(alpha, f.sub(beta4, r.x)), f.dbl(f.dbl(f.dbl(gamma2))));
    return r;
  }
  const U256 xx = f.sqr(p.x), yy = f.sqr(p.y), yyyy = f.sqr(yy), zz = f.sqr(p.z);
  const U256 s = f.dbl(f.sub(f.sub(f.sqr(f.add(p.x, yy)), xx), yyyy));
  const U256 m = f.add(f.add(f.dbl(xx), xx), f.mul(a_, f.sqr(zz)));
  r.x = f.sub(f.sqr(m), f.dbl(s));
  r.y = f.sub(f.mul(m, f.sub(s, r.x)), f.dbl(f.dbl(f.dbl(yyyy))));
  r.z = f.sub(f.sub(f.sqr(f.add(p.y, p.z)), yy), zz);
  return r;
}

JacobianPoint Curve::add(const JacobianPoint &p, const JacobianPoint &q) const {
  if (is_zero(p.z)) return q;
  if (is_zero(q.z)) return p;
  const MontField &f = fp_;
  const U256 z1z1 = f.sqr(p.z), z2z2 = f.sqr(q.z);
  const U256 u1 = f.mul(p.x, z2z2), u2 = f.mul(q.x, z1z1);
  const U256 s1 = f.mul(p.y, f.mul(q.z, z2z2)), s2 = f.mul(q.y, f.mul(p.z, z1z1));
  const U256 h = f.sub(u2, u1), rr = f.sub(s2, s1);
  if (is_zero(h)) return is_zero(rr) ? dbl(p) : infinity();
  const U256 i = f.sqr(f.dbl(h)), j = f.mul(h, i), r = f.dbl(rr), v = f.mul(u1, i);
  JacobianPoint out;
  out.x = f.sub(f.sub(f.sqr(r), j), f.dbl(v));
  out.y = f.sub(f.mul(r, f.sub(v, out.x)), f.dbl(f.mul(s1, j)));
  out.z = f.mul(f.dbl(f.mul(p.z, q.z)), h);
  return out;
}

JacobianPoint Curve::add_mixed(const JacobianPoint &p, const AffinePoint &q) const {
  if (is_zero(p.z)) return lift(q);
  const MontField &f = fp_;
  const U256 z1z1 = f.sqr(p.z);
  const U256 h = f.sub(f.mul(q.x, z1z1), p.x);
  const U256 rr = f.sub(f.mul(q.y, f.mul(p.z, z1z1)), p.y);
  if (is_zero(h)) return is_zero(rr) ? dbl(p) : infinity();
  return add_mixed_ct(p, q);
}

JacobianPoint Curve::add_mixed_ct(const JacobianPoint &p, const AffinePoint &q) const {
  const MontField &f = fp_;
  const U256 z1z1 = f.sqr(p.z);
  const U256 u2 = f.mul(q.x, z1z1), s2 = f.mul(q.y, f.mul(p.z, z1z1));
  const U256 h = f.sub(u2, p.x), hh = f.sqr(h);
  const U256 i = f.dbl(f.dbl(hh)), j = f.mul(h, i);
  const U256 r = f.dbl(f.sub(s2, p.y)), v = f.mul(p.x, i);
  JacobianPoint out;
  out.x = f.sub(f.sub(f.sqr(r), j), f.dbl(v));
  out.y = f.sub(f.mul(r, f.sub(v, out.x)), f.dbl(f.mul(p.y, j)));
  // (Z1 + H)^2 - Z1Z1 - HH = 2 Z1 H: zero when p = -q, the right answer.
  out.z = f.dbl(f.mul(p.z, h));
  // From infinity the sum is q itself.
  const Limb p_infinite = is_zero(p.z);
  select(out.x, q.x, p_infinite);
  select(out.y, q.y, p_infinite);
  select(out.z, f.one(), p_infinite);
  return out;
}

JacobianPoint Curve::add_entry_ct(const JacobianPoint &acc, const AffinePoint *table, unsigned digit) const {
  AffinePoint entry{};
  for (int j = 0; j < kEntries; ++j) {
    const Limb hit = word_equal(unsigned(j + 1), digit);
    select(entry.x, table[j].x, hit);
    select(entry.y, table[j].y, hit);
  }
  JacobianPoint sum = add_mixed_ct(acc, entry);
  const Limb keep = word_equal(0, digit);
  select(sum.x, acc.x, keep);
  select(sum.y, acc.y, keep);
  select(sum.z, acc.z, keep);
  return sum;
}

// The partial sums below are multiples m * P with 0 < m <= k < q, and each
// addend a multiple that differs from the sum so far: the constant-time
// addition never meets its doubling case.

JacobianPoint Curve::mul_base(const U256 &k) const {
  JacobianPoint acc = infinity();
  for (int i = 0; i < kWindows; ++i)
    acc = add_entry_ct(acc, &base_comb_[i * kEntries], bits_at(k, i * kWindow, kWindow));
  return acc;
}

JacobianPoint Curve::mul(const U256 &k, const AffinePoint &pt) const {
  JacobianPoint multiples[kEntries];
  multiples[0] = lift(pt);
  multiples[1] = dbl(multiples[0]);
  for (int j = 2; j < kEntries; ++j) multiples[j] = add(multiples[j - 1], multiples[0]);
  AffinePoint table[kEntries];
  normalize(multiples, table, kEntries);

  JacobianPoint acc = infinity();
  for (int i = kWindows - 1; i >= 0; --i) {
    for (int j = 0; j < kWindow; ++j) acc = dbl(acc);
    acc = add_entry_ct(acc, table, bits_at(k, i * kWindow, kWindow));
  }
  return acc;
}

JacobianPoint Curve::mul_joint(const U256 &u1, const U256 &u2, const AffinePoint &pt) const {
  signed char d1[258], d2[258];
  const int len1 = wnaf(u1, d1), len2 = wnaf(u2, d2);
  JacobianPoint odd[8];
  odd[0] = lift(pt);
  const JacobianPoint twice = dbl(odd[0]);
  for (int i = 1; i < 8; ++i) odd[i] = add(odd[i - 1], twice);

  JacobianPoint acc = infinity();
  for (int i = (len1 > len2 ? len1 : len2) - 1; i >= 0; --i) {
    acc = dbl(acc);
    if (i < len1 && d1[i]) {
      const AffinePoint &e = base_odd_[(d1[i] < 0 ? -d1[i] : d1[i]) / 2];
      acc = add_mixed(acc, d1[i] > 0 ? e : AffinePoint{e.x, fp_.neg(e.y)});
    }
    if (i < len2 && d2[i]) {
      const JacobianPoint &e = odd[(d2[i] < 0 ? -d2[i] : d2[i]) / 2];
      acc = add(acc, d2[i] > 0 ? e : negate(e));
    }
  }
  return acc;
}

void Curve::normalize(const JacobianPoint *in, AffinePoint *out, std::size_t n) const {
  if (n == 0) return;
  // Prefix products of the Z's, one inversion, then back down the chain.
  std::vector<U256> prefix(n);
  prefix[0] = in[0].z;
  for (std::size_t i = 1; i < n; ++i) prefix[i] = fp_.mul(prefix[i - 1], in[i].z);
  U256 inv = fp_.inverse(prefix[n - 1]);
  for (std::size_t i = n; i-- > 0;) {
    const U256 zi = i ? fp_.mul(inv, prefix[i - 1]) : inv;
    if (i) inv = fp_.mul(inv, in[i].z);
    const U256 zi2 = fp_.sqr(zi);
    out[i].x = fp_.mul(in[i].x, zi2);
    out[i].y = fp_.mul(in[i].y, fp_.mul(zi2, zi));
  }
}

}  // namespace CryptoGostImpl
