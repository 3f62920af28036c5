// Helpers shared by the signature, curve and field tests: 32-byte numbers and
// libgcrypt's big numbers and points as the independent implementation.
#pragma once

#include <algorithm>

#include "crypto/gost3410/field.h"
#include "crypto/testing.h"

namespace CryptoTesting {

inline Bytes bytes_of(const CryptoGostImpl::U256 &x) {
  Bytes b(32);
  CryptoGostImpl::u256_to_bytes(x, b.data());
  return b;
}

inline CryptoGostImpl::U256 number(const Bytes &b) { return CryptoGostImpl::u256_from_bytes(b.data()); }

inline Bytes small(unsigned v) {  // v below 2^16, as 32 bytes
  Bytes out(32);
  out[31] = std::uint8_t(v);
  out[30] = std::uint8_t(v >> 8);
  return out;
}

inline Bytes minus(const Bytes &m, unsigned v) {  // m - v, v below 2^16
  Bytes out = m;
  int borrow = 0;
  for (int i = 31; i >= 0; --i, v >>= 8) {
    const int d = out[i] - int(v & 0xFF) - borrow;
    borrow = d < 0;
    out[i] = std::uint8_t(d + (borrow ? 256 : 0));
  }
  return out;
}

inline Bytes random_below(const Bytes &q) {  // 0 < k < q
  for (;;) {
    Bytes k = random_bytes(32);
    if (k < q && k != small(0)) return k;
  }
}

// A non-negative big number as 32 bytes big-endian.
inline Bytes mpi32(gcry_mpi_t m) {
  unsigned char buf[64];
  size_t n = 0;
  gcry_mpi_print(GCRYMPI_FMT_USG, buf, sizeof buf, &n, m);
  if (n > 32) throw std::runtime_error("number too long");
  Bytes out(32);
  std::copy(buf, buf + n, out.begin() + (32 - n));
  return out;
}

// (a * b + c * d) mod m, every number big-endian.
inline Bytes gcry_mul_add(const Bytes &a, const Bytes &b, const Bytes &c, const Bytes &d, const Bytes &m) {
  init_gcrypt();
  gcry_mpi_t v[5] = {};
  const Bytes *in[5] = {&a, &b, &c, &d, &m};
  for (int i = 0; i < 5; ++i) gcry_mpi_scan(&v[i], GCRYMPI_FMT_USG, in[i]->data(), in[i]->size(), nullptr);
  gcry_mpi_t x = gcry_mpi_new(0), y = gcry_mpi_new(0);
  gcry_mpi_mulm(x, v[0], v[1], v[4]);
  gcry_mpi_mulm(y, v[2], v[3], v[4]);
  gcry_mpi_addm(x, x, y, v[4]);
  const Bytes out = mpi32(x);
  for (gcry_mpi_t t : v) gcry_mpi_release(t);
  gcry_mpi_release(x);
  gcry_mpi_release(y);
  return out;
}

// k * (x, y) on the named curve: x then y, each 32 bytes; empty at infinity.
inline Bytes gcry_ec_mul(const char *curve, const Bytes &k, const Bytes &x_then_y) {
  init_gcrypt();
  gcry_ctx_t ctx;
  if (gcry_mpi_ec_new(&ctx, nullptr, curve)) throw std::runtime_error("curve");
  gcry_mpi_t x = nullptr, y = nullptr, scalar = nullptr;
  gcry_mpi_scan(&x, GCRYMPI_FMT_USG, x_then_y.data(), 32, nullptr);
  gcry_mpi_scan(&y, GCRYMPI_FMT_USG, x_then_y.data() + 32, 32, nullptr);
  gcry_mpi_scan(&scalar, GCRYMPI_FMT_USG, k.data(), k.size(), nullptr);
  gcry_mpi_point_t p = gcry_mpi_point_set(nullptr, x, y, GCRYMPI_CONST_ONE);
  gcry_mpi_point_t result = gcry_mpi_point_new(0);
  gcry_mpi_ec_mul(result, scalar, p, ctx);
  gcry_mpi_t rx = gcry_mpi_new(0), ry = gcry_mpi_new(0);
  Bytes out;
  if (gcry_mpi_ec_get_affine(rx, ry, result, ctx) == 0) {
    out = mpi32(rx);
    const Bytes yb = mpi32(ry);
    out.insert(out.end(), yb.begin(), yb.end());
  }
  for (gcry_mpi_t m : {x, y, scalar, rx, ry}) gcry_mpi_release(m);
  gcry_mpi_point_release(p);
  gcry_mpi_point_release(result);
  gcry_ctx_release(ctx);
  return out;
}

}  // namespace CryptoTesting
