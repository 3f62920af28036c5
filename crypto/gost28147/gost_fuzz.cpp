// The cipher modes and the hash on any S-box, key, IV and data, fed in any
// pieces, agree with the textbook implementation; decryption undoes
// encryption. Input: one byte of piece size, a packed S-box (64 bytes), a
// key (32), an IV (8), then the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/gost28147/cipher.h"
#include "crypto/gost3411/hash.h"
#include "crypto/reference_gost.h"

namespace {

using Bytes = CryptoReference::Bytes;

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *in, std::size_t size) {
  constexpr std::size_t kHead = 1 + 64 + 32 + 8;
  if (size < kHead || size > kHead + 4096) return 0;
  const unsigned piece = in[0] % 70 + 1;
  const std::uint8_t *sbox = in + 1, *key_bytes = in + 65, *iv = in + 97;
  const Bytes data(in + kHead, in + size);
  const unsigned len = unsigned(data.size());

  auto key = Crypto::load_key(key_bytes, nullptr);
  key->set_sbox(sbox);

  const Bytes expected = CryptoReference::cfb(sbox, key_bytes, iv, data, true);
  Bytes out(len), back(len);
  auto enc = Crypto::create_cfb_context(key, iv), dec = Crypto::create_cfb_context(key, iv);
  for (unsigned at = 0; at < len; at += piece) {
    const unsigned n = std::min(piece, len - at);
    enc->encrypt(data.data() + at, out.data() + at, n);
    dec->decrypt(out.data() + at, back.data() + at, n);
  }
  require(out == expected && back == data);

  auto mac = Crypto::create_imit_context(key);
  const unsigned whole = len - len % 8;
  mac->imit(data.data(), whole, 0);
  mac->imit(data.data() + whole, len - whole, 1);
  Bytes tag(8);
  mac->result(tag.data());
  require(tag == CryptoReference::imit(sbox, key_bytes, data));

  if (whole) {
    Bytes blocks(data.begin(), data.begin() + whole), reference = blocks;
    auto ecb = Crypto::create_ecb_context(key);
    ecb->encrypt(blocks.data(), blocks.data(), whole);
    for (unsigned at = 0; at < whole; at += 8) CryptoReference::encrypt(sbox, key_bytes, &reference[at]);
    require(blocks == reference);
    ecb->decrypt(blocks.data(), blocks.data(), whole);
    require(std::equal(blocks.begin(), blocks.end(), data.begin()));
  }

  auto hash = Crypto::create_hash_context(sbox);
  for (unsigned at = 0; at < len; at += piece) hash->hash(data.data() + at, std::min(piece, len - at));
  const Bytes digest = CryptoReference::hash(sbox, data);
  require(std::memcmp(hash->result(), digest.data(), 32) == 0);
  return 0;
}
