// The key object: the 256-bit key lives only as masked words and mask
// words, K_i = masked_i - mask_i (mod 2^32).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "crypto/gost28147/key.h"

namespace CryptoGostImpl {

// Round tables of one S-box: T_c[b] is the S-box output for byte c of the
// word, placed at byte c and rotated left by 11 (4 KiB).
struct RoundTables {
  std::uint32_t t[4][256];
};

// The tables of a packed S-box, shared by every key and hash that names the
// same S-box: made once while that S-box is among the last few in use.
std::shared_ptr<const RoundTables> tables_for(const std::uint8_t *sbox);

// Where a key's re-masking words come from.
class MaskSource {
 public:
  virtual void draw(std::uint32_t *words, unsigned n) = 0;

 protected:
  ~MaskSource() = default;
};

// The default source: a per-thread GOST counter stream keyed (and re-keyed
// every so often) from the process-wide generator. Null while that generator
// cannot serve draws or a RemaskPause is alive on this thread.
MaskSource *default_masks();

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
  // masks: where the re-masking words come from; null leaves the key as given.
  GostKey(const std::uint32_t *key, MaskSource *masks);
  GostKey(const std::uint32_t *masked, const std::uint32_t *mask, MaskSource *masks);
  ~GostKey() override;

  void dump_masked(void *masked_out, void *mask_out) const override;
  void dump_unmasked(void *key_out) const override;
  void set_sbox(const std::uint8_t *sbox) override;
  // Adds fresh words to both halves.
  void remask(MaskSource &masks);

  const std::uint32_t *masked() const { return words_.masked; }
  const std::uint32_t *mask() const { return words_.mask; }
  const RoundTables *sbox() const { return sbox_.get(); }

 private:
  // Adjacent, so one wipe clears both.
  struct {
    std::uint32_t masked[8];
    std::uint32_t mask[8];
  } words_;
  std::shared_ptr<const RoundTables> sbox_;
};

// Builds a key from 32 little-endian bytes, re-masked from masks.
std::shared_ptr<GostKey> make_plain_key(const void *key32, MaskSource *masks = default_masks());

// Aborts with the given text: a broken contract, not bad input.
[[noreturn]] void contract_violation(const char *what);

}  // namespace CryptoGostImpl
