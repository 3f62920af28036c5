// GOST R 34.11-94 contexts. H, the control sum, the block and the step keys
// are kept most significant byte first; message blocks and the digest are
// least significant byte first, so both are reversed on the way.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/gost28147/gost_key.h"
#include "crypto/gost3411/hash.h"

namespace CryptoGostImpl {

using Block256 = std::uint8_t[32];

// The length block: the message length in bits as a 256-bit number.
void length_block(std::uint64_t byte_count, Block256 out);

class GostHashBase : public Crypto::Hash_Context {
 public:
  ~GostHashBase() override;
  void hash(const void *data, unsigned int len) override;
  const unsigned char *result() override;

 protected:
  // S = the four quarters of H, each encrypted under its step key; words is
  // scratch for the key words, wiped by the caller.
  virtual void encrypt_quarters(const Block256 keys[4], std::uint32_t words[8], const Block256 h,
                                Block256 s) const = 0;

 private:
  void step(const Block256 m);

  int finished_ = 0;
  std::uint32_t buffered_ = 0;
  // 64 bits wide, so that messages of 512 MiB and more hash correctly.
  std::uint64_t byte_count_ = 0;
  Block256 buffer_ = {};
  Block256 h_ = {};
  Block256 sum_ = {};
};

class GostHashContext final : public GostHashBase {
 public:
  // sbox: packed S-box for the step keys, or null for the process-wide one.
  explicit GostHashContext(const std::uint8_t *sbox);

 private:
  void encrypt_quarters(const Block256 keys[4], std::uint32_t words[8], const Block256 h,
                        Block256 s) const override;

  // Expanded once; every step key shares it.
  std::shared_ptr<const ExpandedSBox> sbox_;
};

class GostHashCompatContext final : public GostHashBase {
 private:
  void encrypt_quarters(const Block256 keys[4], std::uint32_t words[8], const Block256 h,
                        Block256 s) const override;
};

}  // namespace CryptoGostImpl
