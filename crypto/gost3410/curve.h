// The curves of GOST R 34.10-2001: y^2 = x^3 + ax + b over the prime p, a base
// point P of prime order q (the whole group: no cofactor).
//
// Points are kept in Jacobian coordinates (X/Z^2, Y/Z^3), Z = 0 at infinity,
// every coordinate a Montgomery value modulo p. Multiplications by a secret
// scalar (below q) run in constant time: fixed 4-bit windows, every window
// added, table entries picked by scanning the whole table with masks.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto/gost3410/field.h"

namespace CryptoGostImpl {

// p, q, a, x and y of the base point, and b (needed to check peers' points),
// each 32 bytes big-endian.
struct ParamRecord {
  std::uint8_t p[32], q[32], a[32], x[32], y[32], b[32];
};
static_assert(sizeof(ParamRecord) == 6 * 32);
extern const ParamRecord psetSigA;
extern const ParamRecord psetTest;

struct AffinePoint {  // a finite point
  U256 x, y;
};

struct JacobianPoint {
  U256 x, y, z;
};

class Curve {
 public:
  explicit Curve(const ParamRecord &r);
  Curve(const Curve &) = delete;
  Curve &operator=(const Curve &) = delete;

  // The curves of the two parameter sets, built once and shared.
  static const Curve &crypto_pro_a();
  static const Curve &test_set();

  const MontField &fp() const { return fp_; }
  const MontField &fq() const { return fq_; }
  const AffinePoint &base() const { return base_; }

  // Plain coordinates in, Montgomery point out: false unless both are below p
  // and satisfy the curve equation with y != 0.
  bool make_point(const U256 &x, const U256 &y, AffinePoint &out) const;
  // Plain coordinates of a finite point; false (and zeros) at infinity.
  bool to_affine(const JacobianPoint &p, U256 &x, U256 &y) const;
  JacobianPoint lift(const AffinePoint &p) const { return {p.x, p.y, fp_.one()}; }
  JacobianPoint infinity() const { return {fp_.one(), fp_.one(), U256{}}; }

  // Formulas. dbl is right for every input, infinity included. add and
  // add_mixed handle every case with branches (public data only).
  // add_mixed_ct is constant time and right unless p == q (and q finite).
  JacobianPoint dbl(const JacobianPoint &p) const;
  JacobianPoint add(const JacobianPoint &p, const JacobianPoint &q) const;
  JacobianPoint add_mixed(const JacobianPoint &p, const AffinePoint &q) const;
  JacobianPoint add_mixed_ct(const JacobianPoint &p, const AffinePoint &q) const;
  JacobianPoint negate(const JacobianPoint &p) const { return {p.x, fp_.neg(p.y), p.z}; }

  // k * P and k * pt for a secret k below q, in constant time.
  JacobianPoint mul_base(const U256 &k) const;
  JacobianPoint mul(const U256 &k, const AffinePoint &pt) const;
  // u1 * P + u2 * pt for public scalars below q; variable time.
  JacobianPoint mul_joint(const U256 &u1, const U256 &u2, const AffinePoint &pt) const;

 private:
  static constexpr int kWindow = 4;
  static constexpr int kEntries = (1 << kWindow) - 1;  // multiples 1 .. 15
  static constexpr int kWindows = 256 / kWindow;

  // acc + table[digit - 1], or acc when digit is 0, in constant time.
  JacobianPoint add_entry_ct(const JacobianPoint &acc, const AffinePoint *table, unsigned digit) const;
  // Affine forms of Jacobian points, one inversion for all (public points).
  void normalize(const JacobianPoint *in, AffinePoint *out, std::size_t n) const;

  MontField fp_, fq_;
  U256 a_, b_;  // Montgomery
  bool a_is_minus_3_;
  AffinePoint base_;
  // j * 16^i * P for window i and j = 1 .. 15: the base multiplication adds
  // one entry per window and never doubles.
  std::vector<AffinePoint> base_comb_;
  // Odd multiples P, 3P, .., 15P for verification.
  AffinePoint base_odd_[8];
};

}  // namespace CryptoGostImpl
