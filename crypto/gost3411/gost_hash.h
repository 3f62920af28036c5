// GOST R 34.11-94 contexts. Message blocks and the digest are little-endian
// 256-bit numbers; inside, H, the control sum and the block are four 64-bit
// words, so the transformations are word moves and XORs.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/gost28147/gost_key.h"
#include "crypto/gost3411/hash.h"

namespace CryptoGostImpl {

using Block256 = std::uint8_t[32];

// A 256-bit value as four 64-bit words, least significant first.
using Words256 = std::uint64_t[4];

// The length block: the message length in bits as a 256-bit number.
void length_block(std::uint64_t byte_count, Words256 out);

class GostHashBase : public Crypto::Hash_Context {
 public:
  ~GostHashBase() override;
  void hash(const void *data, unsigned int len) override;
  const unsigned char *result() override;

 protected:
  // S = the four quarters of H, each encrypted under its step key (keys[j]
  // for quarter j, as P gives it).
  virtual void encrypt_quarters(const std::uint32_t keys[4][8], const Words256 h, Words256 s) const = 0;

 private:
  // A message block: into the sum and through a step.
  void absorb(const Words256 m);
  void step(const Words256 m);

  int finished_ = 0;
  std::uint32_t buffered_ = 0;
  // 64 bits wide, so that messages of 512 MiB and more hash correctly.
  std::uint64_t byte_count_ = 0;
  std::uint8_t buffer_[32] = {};
  Words256 h_ = {};
  Words256 sum_ = {};
  Block256 digest_ = {};
};

class GostHashContext final : public GostHashBase {
 public:
  // sbox: packed S-box for the step keys, or null for the process-wide one.
  explicit GostHashContext(const std::uint8_t *sbox);

 private:
  void encrypt_quarters(const std::uint32_t keys[4][8], const Words256 h, Words256 s) const override;

  // Shared with every key and hash on the same S-box; null: the process-wide.
  std::shared_ptr<const RoundTables> sbox_;
};

// Keys take their 4-byte groups in reverse order; quarters go to the cipher
// most significant byte first.
class GostHashCompatContext final : public GostHashBase {
 private:
  void encrypt_quarters(const std::uint32_t keys[4][8], const Words256 h, Words256 s) const override;
};

}  // namespace CryptoGostImpl
