// Fixed-size 256-bit arithmetic modulo an odd number, in Montgomery form.
// Every operation runs in time independent of the values: no branch and no
// memory index depends on them; choices are made with all-ones/zero masks.
#pragma once

#include <cstdint>

namespace CryptoGostImpl {

// YRK_LIMB32 forces the 32-bit limbs on a 64-bit host (to test them there).
#if defined(__SIZEOF_INT128__) && !defined(YRK_LIMB32)
using Limb = std::uint64_t;
using WideLimb = unsigned __int128;
#else  // 32-bit x86: 64-bit products are native there
using Limb = std::uint32_t;
using WideLimb = std::uint64_t;
#endif
constexpr int kLimbBits = 8 * sizeof(Limb);
constexpr int kLimbs = 256 / kLimbBits;

// A 256-bit number, least significant limb first.
struct U256 {
  Limb w[kLimbs];
};

// Hides a mask's origin from the optimiser, so selections stay branch-free.
inline Limb value_barrier(Limb v) {
#if defined(__GNUC__)
  __asm__("" : "+r"(v));
#endif
  return v;
}

// All ones when bit is 1, zero when it is 0.
inline Limb mask_of(Limb bit) { return value_barrier(Limb(0) - (bit & 1)); }

U256 u256_from_bytes(const unsigned char *bytes);  // 32 bytes big-endian
void u256_to_bytes(const U256 &x, unsigned char *bytes);
U256 u256_from_word(Limb v);

// Masks, all ones when the relation holds.
Limb is_zero(const U256 &x);
Limb equal(const U256 &a, const U256 &b);
Limb less(const U256 &a, const U256 &b);
// r = a where mask is all ones; r unchanged where it is zero.
void select(U256 &r, const U256 &a, Limb mask);

// Bit i of x (public positions only).
inline unsigned bit_at(const U256 &x, int i) { return unsigned(x.w[i / kLimbBits] >> (i % kLimbBits)) & 1; }
// Bits i .. i+width-1 of x, width dividing the limb size and i a multiple of it.
inline unsigned bits_at(const U256 &x, int i, int width) {
  return unsigned(x.w[i / kLimbBits] >> (i % kLimbBits)) & ((1u << width) - 1);
}

// Arithmetic modulo an odd m > 2^255 - so that any 256-bit number is below 2m
// and one conditional subtraction reduces it. Operands of mul, sqr, add, sub
// and neg are below m; results are fully reduced. Montgomery values are
// x * 2^256 mod m.
class MontField {
 public:
  explicit MontField(const U256 &m);

  const U256 &modulus() const { return m_; }
  const U256 &one() const { return one_; }  // 1 in Montgomery form

  U256 mul(const U256 &a, const U256 &b) const;
  U256 sqr(const U256 &a) const { return mul(a, a); }
  U256 add(const U256 &a, const U256 &b) const;
  U256 sub(const U256 &a, const U256 &b) const;
  U256 neg(const U256 &a) const;
  U256 dbl(const U256 &a) const { return add(a, a); }

  // Any 256-bit x, reduced modulo m on the way.
  U256 to_mont(const U256 &x) const { return mul(x, r2_); }
  U256 from_mont(const U256 &a) const;
  // x mod m for any 256-bit x, in plain form.
  U256 reduce(const U256 &x) const;
  // a^(m-2): the inverse of a Montgomery value when m is prime (0 stays 0).
  // The exponent is public, so only the values' timing matters.
  U256 inverse(const U256 &a) const;

 private:
  U256 m_;
  U256 r2_;   // 2^512 mod m
  U256 one_;  // 2^256 mod m
  U256 m_minus_2_;
  Limb m0inv_;  // -m^-1 mod 2^kLimbBits
};

}  // namespace CryptoGostImpl
