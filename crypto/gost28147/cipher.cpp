#include "crypto/gost28147/cipher.h"

#include <atomic>
#include <cstring>

#include "crypto/gost28147/gost_base.h"
#include "crypto/gost28147/modes.h"
#include "crypto/random/random.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {

using ECB = ECBContext<GostBase, GostKey, 8>;
using CFB = CFBContext<GostBase, GostKey, 8>;
using Imit = ImitContext<GostBase, GostKey, 8>;

namespace {

std::atomic<int> secure_prng{0};

// Every key of the system is a GostKey.
std::shared_ptr<GostKey> gost_key(const std::shared_ptr<Crypto::Key> &key) {
  return std::static_pointer_cast<GostKey>(key);
}

}  // namespace

void GOST_secure_random(unsigned char *buf) {
  // No secure source stands behind the hook: the generator fills the key.
  Crypto::fill_random(buf, 32);
}

}  // namespace CryptoGostImpl

namespace Crypto {

using namespace CryptoGostImpl;

std::shared_ptr<Key> load_key(const void *key, const void *mask) {
  if (!mask) return make_plain_key(key);
  Wiped<std::uint32_t[8]> masked_words, mask_words;
  std::memcpy(masked_words.value, key, 32);
  std::memcpy(mask_words.value, mask, 32);
  return std::make_shared<GostKey>(masked_words.value, mask_words.value, default_masks());
}

std::shared_ptr<Key> generate_key() {
  Wiped<unsigned char[32]> material;
  if (secure_prng.load())
    GOST_secure_random(material.value);
  else
    fill_random(material.value, sizeof material.value);
  return load_key(material.value, nullptr);
}

void GOST_enable_secure_prng() { secure_prng.store(1); }

int compare_keys(const std::shared_ptr<Key> &a, const std::shared_ptr<Key> &b) {
  std::uint8_t ea[8] = {}, eb[8] = {};
  create_ecb_context(a)->encrypt(ea, ea, 8);
  create_ecb_context(b)->encrypt(eb, eb, 8);
  const int order = std::memcmp(eb, ea, 8);
  return (order > 0) - (order < 0);
}

std::shared_ptr<ECB_Context> create_ecb_context(const std::shared_ptr<Key> &key) {
  return std::make_shared<ECB>(gost_key(key));
}

std::shared_ptr<CFB_Context> create_cfb_context(const std::shared_ptr<Key> &key, const void *iv) {
  return std::make_shared<CFB>(gost_key(key), iv);
}

std::shared_ptr<Imit_Context> create_imit_context(const std::shared_ptr<Key> &key) {
  return std::make_shared<Imit>(gost_key(key));
}

}  // namespace Crypto
