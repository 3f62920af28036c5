#include "crypto/gost3410/field.h"

#include <stdexcept>

namespace CryptoGostImpl {

namespace {

// r = a + b; the carry out.
inline Limb add_carry(U256 &r, const U256 &a, const U256 &b) {
  Limb carry = 0;
#pragma GCC unroll 8
  for (int i = 0; i < kLimbs; ++i) {
    const WideLimb s = WideLimb(a.w[i]) + b.w[i] + carry;
    r.w[i] = Limb(s);
    carry = Limb(s >> kLimbBits);
  }
  return carry;
}

// r = a - b; the borrow out.
inline Limb sub_borrow(U256 &r, const U256 &a, const U256 &b) {
  Limb borrow = 0;
#pragma GCC unroll 8
  for (int i = 0; i < kLimbs; ++i) {
    const WideLimb d = WideLimb(a.w[i]) - b.w[i] - borrow;
    r.w[i] = Limb(d);
    borrow = Limb(d >> kLimbBits) & 1;
  }
  return borrow;
}

// r = a & mask.
inline U256 masked(const U256 &a, Limb mask) {
  U256 r;
  for (int i = 0; i < kLimbs; ++i) r.w[i] = a.w[i] & mask;
  return r;
}

}  // namespace

U256 u256_from_bytes(const unsigned char *bytes) {
  U256 x;
  for (int i = 0; i < kLimbs; ++i) {
    Limb v = 0;
    const unsigned char *p = bytes + 32 - (i + 1) * int(sizeof(Limb));
    for (unsigned j = 0; j < sizeof(Limb); ++j) v = (v << 8) | p[j];
    x.w[i] = v;
  }
  return x;
}

void u256_to_bytes(const U256 &x, unsigned char *bytes) {
  for (int i = 0; i < kLimbs; ++i) {
    Limb v = x.w[i];
    unsigned char *p = bytes + 32 - (i + 1) * int(sizeof(Limb));
    for (int j = int(sizeof(Limb)) - 1; j >= 0; --j) {
      p[j] = static_cast<unsigned char>(v);
      v >>= 8;
    }
  }
}

U256 u256_from_word(Limb v) {
  U256 x{};
  x.w[0] = v;
  return x;
}

Limb is_zero(const U256 &x) {
  Limb acc = 0;
  for (int i = 0; i < kLimbs; ++i) acc |= x.w[i];
  // The top bit of acc | -acc is set exactly when acc is not zero.
  return mask_of(((acc | (Limb(0) - acc)) >> (kLimbBits - 1)) ^ 1);
}

Limb equal(const U256 &a, const U256 &b) {
  U256 d;
  for (int i = 0; i < kLimbs; ++i) d.w[i] = a.w[i] ^ b.w[i];
  return is_zero(d);
}

Limb less(const U256 &a, const U256 &b) {
  U256 d;
  return mask_of(sub_borrow(d, a, b));
}

void select(U256 &r, const U256 &a, Limb mask) {
  for (int i = 0; i < kLimbs; ++i) r.w[i] ^= (r.w[i] ^ a.w[i]) & mask;
}

MontField::MontField(const U256 &m) : m_(m) {
  if (!(m.w[0] & 1) || !(m.w[kLimbs - 1] >> (kLimbBits - 1)))
    throw std::invalid_argument("modulus not odd or below 2^255");
  // Newton's iteration doubles the correct low bits; an odd m is its own
  // inverse modulo 8.
  Limb inv = m.w[0];
  for (int i = 0; i < 5; ++i) inv *= 2 - m.w[0] * inv;
  m0inv_ = Limb(0) - inv;
  sub_borrow(one_, U256{}, m_);  // 2^256 - m, below m as m > 2^255
  r2_ = one_;
  for (int i = 0; i < 256; ++i) r2_ = add(r2_, r2_);
  sub_borrow(m_minus_2_, m_, u256_from_word(2));
}

// Interleaved (CIOS) Montgomery multiplication: a*b / 2^256 mod m.
U256 MontField::mul(const U256 &a, const U256 &b) const {
  Limb t[kLimbs + 2] = {};
#pragma GCC unroll 8
  for (int i = 0; i < kLimbs; ++i) {
    const Limb bi = b.w[i];
    Limb carry = 0;
#pragma GCC unroll 8
    for (int j = 0; j < kLimbs; ++j) {
      const WideLimb s = WideLimb(a.w[j]) * bi + t[j] + carry;
      t[j] = Limb(s);
      carry = Limb(s >> kLimbBits);
    }
    WideLimb s = WideLimb(t[kLimbs]) + carry;
    t[kLimbs] = Limb(s);
    t[kLimbs + 1] = Limb(s >> kLimbBits);

    const Limb u = t[0] * m0inv_;
    s = WideLimb(u) * m_.w[0] + t[0];
    carry = Limb(s >> kLimbBits);
#pragma GCC unroll 8
    for (int j = 1; j < kLimbs; ++j) {
      s = WideLimb(u) * m_.w[j] + t[j] + carry;
      t[j - 1] = Limb(s);
      carry = Limb(s >> kLimbBits);
    }
    s = WideLimb(t[kLimbs]) + carry;
    t[kLimbs - 1] = Limb(s);
    t[kLimbs] = t[kLimbs + 1] + Limb(s >> kLimbBits);
  }
  // t < 2m: subtract m unless that borrows from a value below 2^256.
  U256 r, d;
  for (int i = 0; i < kLimbs; ++i) r.w[i] = t[i];
  const Limb borrow = sub_borrow(d, r, m_);
  select(r, d, mask_of(t[kLimbs] | (borrow ^ 1)));
  return r;
}

U256 MontField::add(const U256 &a, const U256 &b) const {
  U256 r, d;
  const Limb carry = add_carry(r, a, b);
  const Limb borrow = sub_borrow(d, r, m_);
  select(r, d, mask_of(carry | (borrow ^ 1)));
  return r;
}

U256 MontField::sub(const U256 &a, const U256 &b) const {
  U256 r;
  const Limb borrow = sub_borrow(r, a, b);
  add_carry(r, r, masked(m_, mask_of(borrow)));
  return r;
}

U256 MontField::neg(const U256 &a) const { return sub(U256{}, a); }

U256 MontField::from_mont(const U256 &a) const { return mul(a, u256_from_word(1)); }

U256 MontField::reduce(const U256 &x) const {
  U256 r = x, d;
  select(r, d, mask_of(sub_borrow(d, x, m_) ^ 1));
  return r;
}

U256 MontField::inverse(const U256 &a) const {
  // Fixed 4-bit windows over the public exponent m - 2.
  U256 powers[16];
  powers[0] = one_;
  for (int i = 1; i < 16; ++i) powers[i] = mul(powers[i - 1], a);
  U256 r = one_;
  for (int i = 252; i >= 0; i -= 4) {
    for (int j = 0; j < 4; ++j) r = sqr(r);
    if (const unsigned digit = bits_at(m_minus_2_, i, 4)) r = mul(r, powers[digit]);
  }
  return r;
}

}  // namespace CryptoGostImpl
