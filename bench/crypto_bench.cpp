// Throughput of the GOST library next to libgcrypt in the same run: CFB and
// the MAC over 1,408-byte buffers with one key and with a fresh key each, the
// hash over 1 MiB and over 64 bytes (signatures: signature_bench). Each line
// ends with ours / libgcrypt.
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/gcrypt_compare.h"

#include "crypto/gost28147/cipher.h"
#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/sbox.h"

namespace {

using bench::compare;

constexpr unsigned kFrame = 1408;
constexpr unsigned kMiB = 1 << 20;
const char *const kHashParams = "1.2.643.2.2.30.1";

std::vector<unsigned char> pattern(std::size_t n) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 131 + 7);
  return v;
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

  // CFB: a fresh context (or IV) per frame, as the data path does; then a
  // fresh key as well (the process-wide S-box is the same CryptoPro table).
  gcry_cipher_hd_t cfb;
  gcry_cipher_open(&cfb, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CFB, 0);
  gcry_cipher_ctl(cfb, GCRYCTL_SET_SBOX, const_cast<char *>(kHashParams), 0);
  gcry_cipher_setkey(cfb, key_bytes.data(), 32);
  compare(
      "CFB, 1408 bytes, one key", "MB/s", kFrame / 1e6,
      [&] { Crypto::create_cfb_context(key, iv.data())->encrypt(frame.data(), out.data(), kFrame); },
      [&] {
        gcry_cipher_setiv(cfb, iv.data(), 8);
        gcry_cipher_encrypt(cfb, out.data(), kFrame, frame.data(), kFrame);
      });
  compare(
      "CFB decrypt, 1408 bytes", "MB/s", kFrame / 1e6,
      [&] { Crypto::create_cfb_context(key, iv.data())->decrypt(frame.data(), out.data(), kFrame); },
      [&] {
        gcry_cipher_setiv(cfb, iv.data(), 8);
        gcry_cipher_decrypt(cfb, out.data(), kFrame, frame.data(), kFrame);
      });
  compare(
      "CFB, 1408 bytes, fresh key", "MB/s", kFrame / 1e6,
      [&] {
        auto fresh = Crypto::load_key(key_bytes.data(), nullptr);
        Crypto::create_cfb_context(fresh, iv.data())->encrypt(frame.data(), out.data(), kFrame);
      },
      [&] {
        gcry_cipher_setkey(cfb, key_bytes.data(), 32);
        gcry_cipher_setiv(cfb, iv.data(), 8);
        gcry_cipher_encrypt(cfb, out.data(), kFrame, frame.data(), kFrame);
      });
  gcry_cipher_close(cfb);

  gcry_mac_hd_t mac;
  gcry_mac_open(&mac, GCRY_MAC_GOST28147_IMIT, 0, nullptr);
  gcry_mac_ctl(mac, GCRYCTL_SET_SBOX, const_cast<char *>(kHashParams), 0);
  gcry_mac_setkey(mac, key_bytes.data(), 32);
  const auto our_mac = [&](const std::shared_ptr<Crypto::Key> &k) {
    auto imit = Crypto::create_imit_context(k);
    imit->imit(frame.data(), kFrame, 1);
    volatile std::uint32_t sink = imit->result();
    (void)sink;
  };
  const auto their_mac = [&] {
    gcry_mac_write(mac, frame.data(), kFrame);
    unsigned char tag[4];
    size_t len = sizeof tag;
    gcry_mac_read(mac, tag, &len);
  };
  compare(
      "MAC, 1408 bytes, one key", "MB/s", kFrame / 1e6, [&] { our_mac(key); },
      [&] {
        gcry_mac_reset(mac);
        their_mac();
      });
  compare(
      "MAC, 1408 bytes, fresh key", "MB/s", kFrame / 1e6,
      [&] { our_mac(Crypto::load_key(key_bytes.data(), nullptr)); },
      [&] {
        gcry_mac_setkey(mac, key_bytes.data(), 32);
        their_mac();
      });
  gcry_mac_close(mac);

  unsigned char digest[32];
  const auto hash_compare = [&](const char *what, unsigned len, double scale, const char *unit) {
    compare(
        what, unit, scale,
        [&] {
          auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
          h->hash(mib.data(), len);
          h->result();
        },
        [&] { gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, digest, mib.data(), len); });
  };
  hash_compare("GOST R 34.11-94, 1 MiB", kMiB, kMiB / 1e6, "MB/s");
  hash_compare("GOST R 34.11-94, 64 bytes", 64, 1e-3, "k/s");

  // Loading a key alone (with its re-masking): no counterpart to compare.
  {
    using clock = std::chrono::steady_clock;
    constexpr int kKeys = 100000;
    const auto start = clock::now();
    for (int i = 0; i < kKeys; ++i) Crypto::load_key(key_bytes.data(), nullptr);
    const std::chrono::duration<double, std::micro> spent = clock::now() - start;
    std::printf("%-28s %10.3f us\n", "load_key", spent.count() / kKeys);
  }

  return 0;
}
