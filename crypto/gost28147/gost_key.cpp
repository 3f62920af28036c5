#include "crypto/gost28147/gost_key.h"


#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/gost28147/gost_base.h"
#include "crypto/random/random.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {

// Key bytes are little-endian words; x86 lets them be copied as they are.
static_assert(std::endian::native == std::endian::little);

std::atomic<int> prng_ready{0};

namespace {
thread_local int remask_pauses = 0;
}

RemaskPause::RemaskPause() { ++remask_pauses; }
RemaskPause::~RemaskPause() { --remask_pauses; }
bool RemaskPause::active() { return remask_pauses != 0; }

void contract_violation(const char *what) {
  std::fprintf(stderr, "core/Gost: assertion \"%s\" failed\n", what);
  std::abort();
}

GostKey::GostKey(const std::uint32_t *key) : GostKey(key, StepKey{}) { remask(); }

GostKey::GostKey(const std::uint32_t *masked, const std::uint32_t *mask) {
  std::memcpy(words_.masked, masked, sizeof words_.masked);
  std::memcpy(words_.mask, mask, sizeof words_.mask);
  remask();
}

GostKey::GostKey(const std::uint32_t *key, StepKey) {
  std::memcpy(words_.masked, key, sizeof words_.masked);
  std::memset(words_.mask, 0, sizeof words_.mask);
}

GostKey::~GostKey() { wipe(&words_, sizeof words_); }

void GostKey::dump_masked(void *masked_out, void *mask_out) const {
  std::memcpy(masked_out, words_.masked, sizeof words_.masked);
  std::memcpy(mask_out, words_.mask, sizeof words_.mask);
}

void GostKey::dump_unmasked(void *key_out) const {
  std::uint32_t plain[8];
  for (int i = 0; i < 8; ++i) plain[i] = words_.masked[i] - words_.mask[i];
  std::memcpy(key_out, plain, sizeof plain);
  wipe(plain, sizeof plain);
}

void GostKey::set_sbox(const std::uint8_t *sbox) {
  if (sbox_) contract_violation("sbox == __null");
  auto expanded = std::make_shared<ExpandedSBox>();
  GostBase::expand(sbox, *expanded);
  sbox_ = std::move(expanded);
}

void GostKey::share_sbox(std::shared_ptr<const ExpandedSBox> sbox) {
  if (sbox_) contract_violation("sbox == __null");
  sbox_ = std::move(sbox);
}

void GostKey::remask() {
  if (prng_ready.load(std::memory_order_relaxed) == 0 || RemaskPause::active()) return;
  Wiped<std::uint32_t[8]> r;
  Crypto::fill_random(r.value, sizeof r.value);
  for (int i = 0; i < 8; ++i) {
    words_.masked[i] += r.value[i];
    words_.mask[i] += r.value[i];
  }
}

std::shared_ptr<GostKey> make_plain_key(const void *key32) {
  Wiped<std::uint32_t[8]> words;
  std::memcpy(words.value, key32, 32);
  return std::make_shared<GostKey>(words.value);
}

}  // namespace CryptoGostImpl
