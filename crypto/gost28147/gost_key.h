// The key object: the 256-bit key lives only as masked words and mask
// words, K_i = masked_i - mask_i (mod 2^32).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "crypto/gost28147/key.h"

namespace CryptoGostImpl {

// Four 256-byte substitution tables T_0..T_3, one per byte of the word.
struct ExpandedSBox {
  std::uint8_t t[4][256];
};
static_assert(sizeof(ExpandedSBox) == 1024);

// Set once the global generator can serve re-masking draws.
extern std::atomic<int> prng_ready;

// Keys built while one is alive (on this thread) are not re-masked: the
// generator's own re-key builds a key and must not draw from itself.
class RemaskPause {
 public:
  RemaskPause();
  ~RemaskPause();
  RemaskPause(const RemaskPause &) = delete;
  RemaskPause &operator=(const RemaskPause &) = delete;
  static bool active();
};

class GostKey final : public Crypto::Key {
 public:
  // The keys of one hash step: derived from data that sits in plain memory
  // anyway, so they are not re-masked (which would also recurse into the
  // generator's re-key, itself a hash).
  struct StepKey {};

  explicit GostKey(const std::uint32_t *key);
  GostKey(const std::uint32_t *masked, const std::uint32_t *mask);
  GostKey(const std::uint32_t *key, StepKey);
  ~GostKey() override;

  void dump_masked(void *masked_out, void *mask_out) const override;
  void dump_unmasked(void *key_out) const override;
  void set_sbox(const std::uint8_t *sbox) override;
  // Uses an S-box already expanded elsewhere (the hash expands it once).
  void share_sbox(std::shared_ptr<const ExpandedSBox> sbox);
  void remask();

  const std::uint32_t *masked() const { return words_.masked; }
  const std::uint32_t *mask() const { return words_.mask; }
  const ExpandedSBox *sbox() const { return sbox_.get(); }

 private:
  // Adjacent, so one wipe clears both.
  struct {
    std::uint32_t masked[8];
    std::uint32_t mask[8];
  } words_;
  std::shared_ptr<const ExpandedSBox> sbox_;
};

// Builds a key from 32 little-endian bytes.
std::shared_ptr<GostKey> make_plain_key(const void *key32);

// Aborts with the given text: a broken contract, not bad input.
[[noreturn]] void contract_violation(const char *what);

}  // namespace CryptoGostImpl
