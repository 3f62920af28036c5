#include "crypto/random/random.h"


#include <algorithm>
#include <cstring>

#include "config/paths.h"
#include "crypto/gost28147/cipher.h"
#include "crypto/gost28147/gost_key.h"
#include "crypto/gost3411/hash.h"
#include "crypto/random/random_checks.h"
#include "crypto/random/tavik_rng.h"
#include "crypto/wiped.h"

namespace Crypto {
namespace Random {

RawSource system_source() {
  return RawSource{
      [board = CryptoGostImpl::TavikRNG(Paths::kBoardRng)](unsigned char *buf, unsigned len) {
        return board.Read(buf, len);
      },
      Paths::kUrandom};
}

RNG rng;

RNG::RNG() : RNG(system_source()) {}

RNG::RNG(RawSource source) : source_(std::move(source)) {
  ReadRNG(pool_, kPoolSize);
  Init();
  // Only the global generator serves re-masking draws.
  if (this == &rng) CryptoGostImpl::prng_ready.store(1);
}

RNG::~RNG() {
  if (this == &rng) CryptoGostImpl::prng_ready.store(0);
  CryptoGostImpl::wipe(pool_, kPoolSize);
}

void RNG::ReadRNG(unsigned char *buf, unsigned int len) const {
  if (source_.board && source_.board(buf, len) == int(len)) return;
  CryptoGostImpl::read_random_file(source_.fallback, buf, len);
}

void RNG::Init() {
  CryptoGostImpl::Wiped<unsigned char[kPoolSize]> seed;
  ReadRNG(seed.value, kPoolSize);
  Init(seed.value, kPoolSize);
}

void RNG::Init(const unsigned char *seed, unsigned int len) {
  const CryptoGostImpl::RemaskPause no_draws_from_self;
  CryptoGostImpl::Wiped<unsigned char[32]> mask, masked;
  unsigned char iv[8];
  {
    auto digest = create_hash_context();
    digest->hash(seed, len);
    digest->hash(pool_, kPoolSize);
    const unsigned char *key = digest->result();
    // The key is held masked by raw entropy; the digest dies with the context.
    ReadRNG(mask.value, 32);
    for (int i = 0; i < 32; i += 4) {
      std::uint32_t k, m;
      std::memcpy(&k, key + i, 4);
      std::memcpy(&m, mask.value + i, 4);
      k += m;
      std::memcpy(masked.value + i, &k, 4);
    }
  }
  auto key = load_key(masked.value, mask.value);
  ReadRNG(iv, sizeof iv);
  std::memset(pool_, 0, kPoolSize);
  create_cfb_context(key, iv)->encrypt(pool_, pool_, kPoolSize);
  available_ = kServable;
  ++rekeys_;
}

int RNG::Get(unsigned char *out, unsigned int len) {
  for (unsigned done = 0; done < len;) {
    const int chunk = int(std::min<unsigned>(len - done, kServable));
    if (chunk >= available_) Init();
    std::memcpy(out + done, pool_ + kServable - available_, unsigned(chunk));
    available_ -= chunk;
    done += unsigned(chunk);
  }
  return int(len);
}

std::uint32_t RNG::Word() {
  CryptoGostImpl::Wiped<unsigned char[4]> bytes;
  Get(bytes.value, 4);
  const unsigned char *b = bytes.value;
  return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
}

void RNG::Fill(void *buf, unsigned int len) {
  auto *out = static_cast<unsigned char *>(buf);
  for (unsigned done = 0; done < len;) {
    std::uint32_t word = Word();
    const unsigned take = std::min(4u, len - done);
    for (unsigned i = 0; i < take; ++i) out[done + i] = std::uint8_t(word >> (8 * i));
    done += take;
    CryptoGostImpl::wipe(&word, sizeof word);
  }
}

void Init() { rng.Init(); }

void Init(const unsigned char *seed, unsigned int len) { rng.Init(seed, len); }

namespace {

using Sample = CryptoGostImpl::Wiped<unsigned char[CryptoGostImpl::kCheckBytes]>;

int all_three(const unsigned char *data) {
  using namespace CryptoGostImpl;
  return ones_test(data) && frequency_test(data) && runs_test(data);
}

}  // namespace

int Check() {
  Sample sample;
  if (rng.Get(sample.value, sizeof sample.value) < int(sizeof sample.value)) return 0;
  return all_three(sample.value);
}

int CheckSec(const unsigned char *data, unsigned int len) {
  // Too little data cannot pass (and must not be read past its end).
  if (!data || len < CryptoGostImpl::kCheckBytes) return 0;
  return all_three(data);
}

}  // namespace Random

void fill_random(void *buf, unsigned int len) { Random::rng.Fill(buf, len); }

int check_random_generator() {
  Random::Sample sample;
  fill_random(sample.value, sizeof sample.value);
  using namespace CryptoGostImpl;
  return ones_test(sample.value) && frequency_test(sample.value) ? 0 : 1;
}

}  // namespace Crypto

namespace CryptoGostImpl {

std::uint32_t GOST_random() { return Crypto::Random::rng.Word(); }

}  // namespace CryptoGostImpl
