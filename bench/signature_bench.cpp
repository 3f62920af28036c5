// GOST R 34.10-2001 on CryptoPro-A next to libgcrypt in the same run: signing,
// verifying, making a key pair and the key agreement (for libgcrypt: the
// point multiplication and the hash of its coordinates). Each line ends with
// ours / libgcrypt.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "bench/gcrypt_compare.h"

#include "crypto/gost3410/signature.h"
#include "crypto/gost28147/sbox.h"

namespace {

using bench::build;

// Operations per second, ours and libgcrypt's.
void compare(const char *what, const std::function<void()> &ours, const std::function<void()> &theirs) {
  bench::compare(what, "op/s", 1, ours, theirs);
}

}  // namespace

int main() {
  gcry_check_version(nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);

  auto ctx = Crypto::create_sig_context();
  unsigned char pub[64], priv[32], sig[64], peer_pub[64], peer_priv[32];
  ctx->generate_key_pair(pub, priv);
  ctx->generate_key_pair(peer_pub, peer_priv);
  std::shared_ptr<Crypto::Hash_Context> h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  h->hash("benchmark message", 17);
  unsigned char value[32];
  std::reverse_copy(h->result(), h->result() + 32, value);

  unsigned char point[65] = {0x04};
  std::copy(pub + 32, pub + 64, point + 1);
  std::copy(pub, pub + 32, point + 33);
  gcry_sexp_t gpriv = build("(private-key (ecc (curve \"GOST2001-CryptoPro-A\") (d %b)))", 32, priv);
  gcry_sexp_t gpub = build("(public-key (ecc (curve \"GOST2001-CryptoPro-A\") (q %b)))", 65, point);
  gcry_sexp_t data = build("(data (flags gost) (value %b))", 32, value);
  gcry_sexp_t gsig = nullptr;
  gcry_pk_sign(&gsig, data, gpriv);

  compare("GOST R 34.10-2001 sign", [&] { ctx->sign(priv, h, sig); },
          [&] {
            gcry_sexp_t s = nullptr;
            gcry_pk_sign(&s, data, gpriv);
            gcry_sexp_release(s);
          });
  // A refused signature returns early and would time the wrong path.
  if (ctx->check(pub, h, sig) != 0 || gcry_pk_verify(gsig, data, gpub) != 0) {
    std::fprintf(stderr, "a benchmark signature does not verify\n");
    return 1;
  }
  compare("GOST R 34.10-2001 verify", [&] { ctx->check(pub, h, sig); },
          [&] { gcry_pk_verify(gsig, data, gpub); });

  gcry_sexp_t genkey_request = nullptr;
  gcry_sexp_build(&genkey_request, nullptr, "(genkey (ecc (curve \"GOST2001-CryptoPro-A\")))");
  unsigned char kp_pub[64], kp_priv[32];
  compare("GOST R 34.10-2001 key pair", [&] { ctx->generate_key_pair(kp_pub, kp_priv); },
          [&] {
            gcry_sexp_t pair = nullptr;
            gcry_pk_genkey(&pair, genkey_request);
            gcry_sexp_release(pair);
          });

  // Key agreement: t * Q_peer, hashed. libgcrypt's side multiplies by the
  // same 256-bit private key (the UKM product costs it next to nothing).
  const unsigned char ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  gcry_ctx_t ec = nullptr;
  gcry_mpi_ec_new(&ec, nullptr, "GOST2001-CryptoPro-A");
  gcry_mpi_t px = nullptr, py = nullptr, scalar = nullptr;
  gcry_mpi_scan(&px, GCRYMPI_FMT_USG, peer_pub + 32, 32, nullptr);
  gcry_mpi_scan(&py, GCRYMPI_FMT_USG, peer_pub, 32, nullptr);
  gcry_mpi_scan(&scalar, GCRYMPI_FMT_USG, priv, 32, nullptr);
  gcry_mpi_point_t peer = gcry_mpi_point_set(nullptr, px, py, GCRYMPI_CONST_ONE);
  gcry_mpi_point_t shared = gcry_mpi_point_new(0);
  gcry_mpi_t sx = gcry_mpi_new(0), sy = gcry_mpi_new(0);
  compare("GOST R 34.10-2001 key agreement", [&] { ctx->make_key(peer_pub, priv, ukm); },
          [&] {
            gcry_mpi_ec_mul(shared, scalar, peer, ec);
            gcry_mpi_ec_get_affine(sx, sy, shared, ec);
            unsigned char coordinates[64], digest[32];
            size_t n;
            gcry_mpi_print(GCRYMPI_FMT_USG, coordinates, 32, &n, sx);
            gcry_mpi_print(GCRYMPI_FMT_USG, coordinates + 32, 32, &n, sy);
            gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, digest, coordinates, 64);
          });

  for (gcry_mpi_t m : {px, py, scalar, sx, sy}) gcry_mpi_release(m);
  gcry_mpi_point_release(peer);
  gcry_mpi_point_release(shared);
  gcry_ctx_release(ec);
  for (gcry_sexp_t s : {gpriv, gpub, data, gsig, genkey_request}) gcry_sexp_release(s);
  return 0;
}
