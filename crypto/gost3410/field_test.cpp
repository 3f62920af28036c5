#include "crypto/gost3410/field.h"

#include <gtest/gtest.h>

#include <functional>

#include "crypto/gost3410/curve.h"
#include "crypto/gost3410/ec_testing.h"

using namespace CryptoTesting;
using namespace CryptoGostImpl;

namespace {

// libgcrypt's big numbers as the reference.
class Mpi {
 public:
  explicit Mpi(const Bytes &b) {
    init_gcrypt();
    gcry_mpi_scan(&m_, GCRYMPI_FMT_USG, b.data(), b.size(), nullptr);
  }
  explicit Mpi(gcry_mpi_t m) : m_(m) {}
  Mpi(const Mpi &) = delete;
  ~Mpi() { gcry_mpi_release(m_); }
  gcry_mpi_t get() const { return m_; }
  Bytes bytes() const { return mpi32(m_); }

 private:
  gcry_mpi_t m_ = nullptr;
};

Bytes reference(const Bytes &a, const Bytes &b, const Bytes &m,
                const std::function<void(gcry_mpi_t, gcry_mpi_t, gcry_mpi_t, gcry_mpi_t)> &op) {
  Mpi x(a), y(b), mod(m), r(gcry_mpi_new(0));
  op(r.get(), x.get(), y.get(), mod.get());
  return r.bytes();
}

struct Modulus {
  const char *name;
  Bytes m;
};

std::vector<Modulus> moduli() {
  auto get = [](const std::uint8_t *v) { return Bytes(v, v + 32); };
  return {{"p of CryptoPro-A", get(psetSigA.p)},
          {"q of CryptoPro-A", get(psetSigA.q)},
          {"p of the test set", get(psetTest.p)},
          {"q of the test set", get(psetTest.q)}};
}

// Values below m that stress carries and reductions, then random ones.
std::vector<Bytes> operands(const Bytes &m) {
  std::vector<Bytes> v = {small(0), small(1), small(2), minus(m, 1), minus(m, 2), minus(m, 0x1234)};
  Bytes half(32);
  half[0] = 0x80;  // 2^255, below every modulus here
  v.push_back(half);
  Bytes low_limbs_full(32, 0);
  std::fill(low_limbs_full.begin() + 16, low_limbs_full.end(), 0xFF);  // carries through limbs
  v.push_back(low_limbs_full);
  for (int i = 0; i < 12; ++i) {
    Bytes r = random_bytes(32);
    r[0] &= 0x7F;
    v.push_back(r);
  }
  return v;
}

}  // namespace

TEST(Field, BytesRoundTripBigEndian) {
  const Bytes b = random_bytes(32);
  EXPECT_EQ(bytes_of(number(b)), b);
  const U256 one = u256_from_word(1);
  EXPECT_EQ(bytes_of(one), small(1));
  EXPECT_EQ(one.w[0], Limb(1));
}

TEST(Field, MasksCompareWholeNumbers) {
  const U256 zero{}, one = u256_from_word(1);
  U256 high{};
  high.w[kLimbs - 1] = Limb(1) << (kLimbBits - 1);
  EXPECT_EQ(is_zero(zero), ~Limb(0));
  EXPECT_EQ(is_zero(high), Limb(0));
  EXPECT_EQ(equal(one, one), ~Limb(0));
  EXPECT_EQ(equal(one, high), Limb(0));
  EXPECT_EQ(less(one, high), ~Limb(0));
  EXPECT_EQ(less(high, one), Limb(0));
  EXPECT_EQ(less(one, one), Limb(0));
  U256 r = one;
  select(r, high, 0);
  EXPECT_EQ(equal(r, one), ~Limb(0));
  select(r, high, ~Limb(0));
  EXPECT_EQ(equal(r, high), ~Limb(0));
}

TEST(Field, ArithmeticMatchesLibgcryptNearTheModulusAndAtRandom) {
  for (const Modulus &mod : moduli()) {
    SCOPED_TRACE(mod.name);
    const MontField f(number(mod.m));
    const std::vector<Bytes> values = operands(mod.m);
    for (const Bytes &a : values) {
      const U256 am = f.to_mont(number(a));
      EXPECT_EQ(bytes_of(f.from_mont(am)), a);
      for (const Bytes &b : values) {
        const U256 bm = f.to_mont(number(b));
        EXPECT_EQ(bytes_of(f.from_mont(f.mul(am, bm))), reference(a, b, mod.m, gcry_mpi_mulm));
        EXPECT_EQ(bytes_of(f.from_mont(f.add(am, bm))), reference(a, b, mod.m, gcry_mpi_addm));
        EXPECT_EQ(bytes_of(f.from_mont(f.sub(am, bm))), reference(a, b, mod.m, gcry_mpi_subm));
        // Plain values add and subtract the same way.
        EXPECT_EQ(bytes_of(f.add(number(a), number(b))), reference(a, b, mod.m, gcry_mpi_addm));
      }
      EXPECT_EQ(bytes_of(f.from_mont(f.neg(am))), reference(small(0), a, mod.m, gcry_mpi_subm));
    }
  }
}

TEST(Field, EdgeValuesWrapAsExpected) {
  for (const Modulus &mod : moduli()) {
    SCOPED_TRACE(mod.name);
    const MontField f(number(mod.m));
    const U256 top = number(minus(mod.m, 1));
    EXPECT_EQ(bytes_of(f.add(top, top)), minus(mod.m, 2));
    EXPECT_EQ(bytes_of(f.add(top, u256_from_word(1))), small(0));
    EXPECT_EQ(bytes_of(f.sub(U256{}, u256_from_word(1))), minus(mod.m, 1));
    EXPECT_EQ(bytes_of(f.neg(U256{})), small(0));
    EXPECT_EQ(bytes_of(f.from_mont(f.one())), small(1));
    EXPECT_EQ(bytes_of(f.from_mont(f.mul(f.to_mont(top), f.to_mont(top)))), small(1));  // (-1)^2
  }
}

TEST(Field, ReductionOfAnyNumberBelowTwoToThe256) {
  for (const Modulus &mod : moduli()) {
    SCOPED_TRACE(mod.name);
    const MontField f(number(mod.m));
    std::vector<Bytes> inputs = {Bytes(32, 0xFF), mod.m, minus(mod.m, 1), small(0), random_bytes(32)};
    Bytes above = mod.m;
    above[31] ^= 1;  // m + 1 (m is odd)
    inputs.push_back(above);
    for (const Bytes &x : inputs) {
      const Bytes expected = reference(x, small(1), mod.m, gcry_mpi_mulm);
      EXPECT_EQ(bytes_of(f.reduce(number(x))), expected);
      EXPECT_EQ(bytes_of(f.from_mont(f.to_mont(number(x)))), expected);
    }
  }
}

TEST(Field, InverseByFermat) {
  for (const Modulus &mod : moduli()) {
    SCOPED_TRACE(mod.name);
    const MontField f(number(mod.m));
    EXPECT_EQ(bytes_of(f.inverse(U256{})), small(0));
    for (const Bytes &a : operands(mod.m)) {
      if (a == small(0)) continue;
      const U256 am = f.to_mont(number(a));
      EXPECT_EQ(bytes_of(f.from_mont(f.mul(am, f.inverse(am)))), small(1));
      Mpi x(a), m(mod.m), r(gcry_mpi_new(0));
      gcry_mpi_invm(r.get(), x.get(), m.get());
      EXPECT_EQ(bytes_of(f.from_mont(f.inverse(am))), r.bytes());
    }
  }
}

TEST(Field, OnlyOddModuliAboveTwoTo255AreTaken) {
  U256 even{}, small_odd = u256_from_word(97);
  even.w[kLimbs - 1] = Limb(1) << (kLimbBits - 1);
  EXPECT_THROW(MontField{even}, std::invalid_argument);
  EXPECT_THROW(MontField{small_odd}, std::invalid_argument);
}
