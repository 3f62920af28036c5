// Throughput of the GOST library next to libgcrypt in the same run:
// CFB over 1,408-byte frames, the MAC over 1,408 bytes, the hash over 1 MiB,
// signing and verifying on CryptoPro-A. Each line ends with ours / libgcrypt.
#include <gcrypt.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/hash.h"
#include "crypto/sbox.h"
#include "crypto/signature.h"

namespace {

constexpr unsigned kFrame = 1408;
constexpr unsigned kMiB = 1 << 20;
const char *const kHashParams = "1.2.643.2.2.30.1";

// Operations per second of f, run for at least a third of a second.
double rate(const std::function<void()> &f) {
  using clock = std::chrono::steady_clock;
  f();
  long runs = 0;
  const auto start = clock::now();
  std::chrono::duration<double> spent{};
  do {
    for (int i = 0; i < 8; ++i) f();
    runs += 8;
    spent = clock::now() - start;
  } while (spent.count() < 0.35);
  return double(runs) / spent.count();
}

void report(const char *what, const char *unit, double scale, double ours, double theirs) {
  std::printf("%-28s %10.1f %-5s libgcrypt %10.1f %-5s ratio %.2fx\n", what, ours * scale, unit, theirs * scale, unit,
              ours / theirs);
}

std::vector<unsigned char> pattern(std::size_t n) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
  return v;
}

gcry_sexp_t build(const char *format, int len, const void *data) {
  gcry_sexp_t s = nullptr;
  gcry_sexp_build(&s, nullptr, format, len, data);
  return s;
}

}  // namespace

int main() {
  gcry_check_version(nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);

  const auto key_bytes = pattern(32), iv = pattern(8), frame = pattern(kFrame), mib = pattern(kMiB);
  std::vector<unsigned char> out(kFrame);
  auto key = Crypto::load_key(key_bytes.data(), nullptr);
  key->set_sbox(CryptoGostImpl::sbox_rfc);

  // CFB: a fresh context (or IV) per frame, as the data path does.
  gcry_cipher_hd_t cfb;
  gcry_cipher_open(&cfb, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CFB, 0);
  gcry_cipher_ctl(cfb, GCRYCTL_SET_SBOX, const_cast<char *>(kHashParams), 0);
  gcry_cipher_setkey(cfb, key_bytes.data(), 32);
  const double cfb_ours = rate([&] { Crypto::create_cfb_context(key, iv.data())->encrypt(frame.data(), out.data(), kFrame); });
  const double cfb_theirs = rate([&] {
    gcry_cipher_setiv(cfb, iv.data(), 8);
    gcry_cipher_encrypt(cfb, out.data(), kFrame, frame.data(), kFrame);
  });
  report("CFB, 1408-byte frames", "MB/s", kFrame / 1e6, cfb_ours, cfb_theirs);
  gcry_cipher_close(cfb);

  gcry_mac_hd_t mac;
  gcry_mac_open(&mac, GCRY_MAC_GOST28147_IMIT, 0, nullptr);
  gcry_mac_ctl(mac, GCRYCTL_SET_SBOX, const_cast<char *>(kHashParams), 0);
  gcry_mac_setkey(mac, key_bytes.data(), 32);
  const double mac_ours = rate([&] {
    auto imit = Crypto::create_imit_context(key);
    imit->imit(frame.data(), kFrame, 1);
    volatile std::uint32_t sink = imit->result();
    (void)sink;
  });
  const double mac_theirs = rate([&] {
    gcry_mac_reset(mac);
    gcry_mac_write(mac, frame.data(), kFrame);
    unsigned char tag[4];
    size_t len = sizeof tag;
    gcry_mac_read(mac, tag, &len);
  });
  report("MAC, 1408 bytes", "MB/s", kFrame / 1e6, mac_ours, mac_theirs);
  gcry_mac_close(mac);

  const double hash_ours = rate([&] {
    auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
    h->hash(mib.data(), kMiB);
    h->result();
  });
  unsigned char digest[32];
  const double hash_theirs = rate([&] { gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, digest, mib.data(), kMiB); });
  report("GOST R 34.11-94, 1 MiB", "MB/s", kMiB / 1e6, hash_ours, hash_theirs);

  // Signatures on CryptoPro-A over the digest of one frame.
  auto sig_ctx = Crypto::create_sig_context();
  unsigned char pub[64], priv[32], sig[64];
  sig_ctx->generate_key_pair(pub, priv);
  std::shared_ptr<Crypto::Hash_Context> h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  h->hash(frame.data(), kFrame);
  unsigned char value[32];
  for (int i = 0; i < 32; ++i) value[i] = h->result()[31 - i];

  const double sign_ours = rate([&] { sig_ctx->sign(priv, h, sig); });
  const double verify_ours = rate([&] { sig_ctx->check(pub, h, sig); });

  unsigned char point[65] = {0x04};
  std::copy(pub + 32, pub + 64, point + 1);
  std::copy(pub, pub + 32, point + 33);
  gcry_sexp_t gpriv = build("(private-key (ecc (curve \"GOST2001-CryptoPro-A\") (d %b)))", 32, priv);
  gcry_sexp_t gpub = build("(public-key (ecc (curve \"GOST2001-CryptoPro-A\") (q %b)))", 65, point);
  gcry_sexp_t data = build("(data (flags gost) (value %b))", 32, value);
  gcry_sexp_t gsig = nullptr;
  gcry_pk_sign(&gsig, data, gpriv);
  const double sign_theirs = rate([&] {
    gcry_sexp_t s = nullptr;
    gcry_pk_sign(&s, data, gpriv);
    gcry_sexp_release(s);
  });
  const double verify_theirs = rate([&] { gcry_pk_verify(gsig, data, gpub); });
  report("GOST R 34.10-2001 sign", "op/s", 1, sign_ours, sign_theirs);
  report("GOST R 34.10-2001 verify", "op/s", 1, verify_ours, verify_theirs);
  for (gcry_sexp_t s : {gpriv, gpub, data, gsig}) gcry_sexp_release(s);
  return 0;
}
