#include "crypto/gost28147/gost_key.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "crypto/gost28147/gost_base.h"
#include "crypto/gost28147/sbox.h"
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

GostKey::GostKey(const std::uint32_t *key, MaskSource *masks) {
  std::memcpy(words_.masked, key, sizeof words_.masked);
  std::memset(words_.mask, 0, sizeof words_.mask);
  if (masks) remask(*masks);
}

GostKey::GostKey(const std::uint32_t *masked, const std::uint32_t *mask, MaskSource *masks) {
  std::memcpy(words_.masked, masked, sizeof words_.masked);
  std::memcpy(words_.mask, mask, sizeof words_.mask);
  if (masks) remask(*masks);
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
  sbox_ = tables_for(sbox);
}

void GostKey::remask(MaskSource &masks) {
  Wiped<std::uint32_t[8]> r;
  masks.draw(r.value, 8);
  for (int i = 0; i < 8; ++i) {
    words_.masked[i] += r.value[i];
    words_.mask[i] += r.value[i];
  }
}

std::shared_ptr<GostKey> make_plain_key(const void *key32, MaskSource *masks) {
  Wiped<std::uint32_t[8]> words;
  std::memcpy(words.value, key32, 32);
  return std::make_shared<GostKey>(words.value, masks);
}

std::shared_ptr<const RoundTables> tables_for(const std::uint8_t *sbox) {
  // Few distinct S-boxes are in use at once; the oldest entry goes first.
  constexpr std::size_t kKept = 16;
  struct Entry {
    std::array<std::uint8_t, 64> sbox;
    std::shared_ptr<const RoundTables> tables;
  };
  static std::mutex lock;
  static std::deque<Entry> entries;
  {
    const std::lock_guard<std::mutex> hold(lock);
    for (const Entry &e : entries)
      if (std::memcmp(e.sbox.data(), sbox, 64) == 0) return e.tables;
  }
  auto made = std::make_shared<RoundTables>();
  GostBase::expand(sbox, *made);
  Entry e{{}, std::move(made)};
  std::memcpy(e.sbox.data(), sbox, 64);
  const std::lock_guard<std::mutex> hold(lock);
  if (entries.size() == kKept) entries.pop_front();
  entries.push_back(e);
  return e.tables;
}

namespace {

// GOST in counter mode under a key from the global generator: one block
// batch of four gives the eight words of one key's re-masking.
class MaskStream final : public MaskSource {
 public:
  ~MaskStream() {
    wipe(keys_, sizeof keys_);
    wipe(buffer_, sizeof buffer_);
    wipe(&counter_, sizeof counter_);
  }

  void draw(std::uint32_t *words, unsigned n) override {
    while (n) {
      if (used_ == kWords) refill();
      const unsigned take = std::min(n, kWords - used_);
      std::memcpy(words, buffer_ + used_, 4 * take);
      wipe(buffer_ + used_, 4 * take);
      used_ += take;
      words += take;
      n -= take;
    }
  }

 private:
  static constexpr unsigned kWords = 8;
  // Batches served before the key is drawn again.
  static constexpr unsigned kBatchesPerKey = 4096;

  void refill() {
    if (batches_left_ == 0) {
      std::uint32_t key[8];
      Crypto::fill_random(key, sizeof key);
      for (auto &k : keys_) std::memcpy(k, key, sizeof key);
      wipe(key, sizeof key);
      Crypto::fill_random(&counter_, sizeof counter_);
      if (!tables_) tables_ = tables_for(sbox_rfc);
      batches_left_ = kBatchesPerKey;
    }
    std::uint64_t blocks[4];
    for (auto &b : blocks) b = counter_++;
    encrypt4_plain(*tables_, keys_, blocks);
    std::memcpy(buffer_, blocks, sizeof blocks);
    wipe(blocks, sizeof blocks);
    used_ = 0;
    --batches_left_;
  }

  std::uint32_t keys_[4][8] = {};
  std::uint32_t buffer_[kWords] = {};
  std::uint64_t counter_ = 0;
  unsigned used_ = kWords;
  unsigned batches_left_ = 0;
  std::shared_ptr<const RoundTables> tables_;
};

thread_local MaskStream mask_stream;

}  // namespace

MaskSource *default_masks() {
  if (prng_ready.load(std::memory_order_relaxed) == 0 || RemaskPause::active()) return nullptr;
  return &mask_stream;
}

}  // namespace CryptoGostImpl
