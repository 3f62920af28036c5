// The mode contexts over one engine. Engine is GostBase, KeyT GostKey, B the
// block size (8).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "crypto/gost28147/cipher.h"
#include "crypto/gost28147/gost_base.h"
#include "crypto/wiped.h"

namespace CryptoGostImpl {

template <class Engine, class KeyT, unsigned B>
class ECBContext final : public Crypto::ECB_Context {
 public:
  explicit ECBContext(const std::shared_ptr<KeyT> &key) : engine_(key) {}

  void encrypt(const void *in, void *out, unsigned int len) override {
    if (len % B) throw std::length_error("ECB::encrypt(): data length isn't multiple of block length");
    run<true>(prepare(in, out, len), len);
  }

  void decrypt(const void *in, void *out, unsigned int len) override {
    if (len % B) throw std::length_error("ECB::decrypt(): data length isn't multiple of block length");
    run<false>(prepare(in, out, len), len);
  }

 private:
  // Four blocks at a time, then one at a time.
  template <bool kEncrypt>
  void run(std::uint8_t *p, unsigned len) {
    unsigned i = 0;
    for (; len - i >= 4 * B; i += 4 * B) {
      std::uint64_t blocks[4];
      std::memcpy(blocks, p + i, sizeof blocks);
      if (kEncrypt)
        engine_.encrypt4(blocks);
      else
        engine_.decrypt4(blocks);
      std::memcpy(p + i, blocks, sizeof blocks);
    }
    for (; i < len; i += B) {
      if (kEncrypt)
        engine_.encrypt_block(p + i);
      else
        engine_.decrypt_block(p + i);
    }
  }

  static std::uint8_t *prepare(const void *in, void *out, unsigned len) {
    if (in != out && len) std::memmove(out, in, len);
    return static_cast<std::uint8_t *>(out);
  }

  Engine engine_;
};

template <class Engine, class KeyT, unsigned B>
class CFBContext final : public Crypto::CFB_Context {
  static_assert(B == sizeof(std::uint64_t), "whole blocks are handled as one 64-bit word");

 public:
  CFBContext(const std::shared_ptr<KeyT> &key, const void *iv) : engine_(key) {
    std::memcpy(feedback_, iv, B);
  }
  ~CFBContext() override { wipe(feedback_, B); }

  void encrypt(const void *in, void *out, unsigned int len) override { run<true>(in, out, len); }
  void decrypt(const void *in, void *out, unsigned int len) override { run<false>(in, out, len); }

 private:
  // The feedback takes the ciphertext byte, read before the output is
  // written, so in-place work is allowed.
  template <bool kEncrypt>
  void run(const void *in, void *out, unsigned len) {
    const auto *src = static_cast<const std::uint8_t *>(in);
    auto *dst = static_cast<std::uint8_t *>(out);
    while (len && position_) step<kEncrypt>(*src++, *dst++), --len;
    if (len >= B) {
      // Whole blocks with the feedback in a register. Decryption knows every
      // gamma input up front: four blocks at a time.
      std::uint64_t feedback = load_le64(feedback_);
      if (!kEncrypt)
        for (; len >= 4 * B; len -= 4 * B, src += 4 * B, dst += 4 * B) {
          std::uint64_t data[4], gamma[4];
          std::memcpy(data, src, sizeof data);
          gamma[0] = feedback;
          for (int l = 1; l < 4; ++l) gamma[l] = data[l - 1];
          engine_.encrypt4(gamma);
          for (int l = 0; l < 4; ++l) gamma[l] ^= data[l];
          std::memcpy(dst, gamma, sizeof gamma);
          feedback = data[3];
        }
      for (; len >= B; len -= B, src += B, dst += B) {
        const std::uint64_t data = load_le64(src), result = engine_.encrypt(feedback) ^ data;
        feedback = kEncrypt ? result : data;
        store_le64(dst, result);
      }
      store_le64(feedback_, feedback);
    }
    while (len) step<kEncrypt>(*src++, *dst++), --len;
  }

  template <bool kEncrypt>
  void step(std::uint8_t in, std::uint8_t &out) {
    if (position_ == 0) engine_.encrypt_block(feedback_);
    const std::uint8_t c = kEncrypt ? std::uint8_t(in ^ feedback_[position_]) : in;
    out = std::uint8_t(in ^ feedback_[position_]);
    feedback_[position_] = c;
    position_ = (position_ + 1) % B;
  }

  Engine engine_;
  std::uint32_t position_ = 0;
  std::uint8_t feedback_[B];
};

template <class Engine, class KeyT, unsigned B>
class ImitContext final : public Crypto::Imit_Context {
  static_assert(B == sizeof(std::uint64_t), "whole blocks are handled as one 64-bit word");

 public:
  explicit ImitContext(const std::shared_ptr<KeyT> &key) : engine_(key) {}
  ~ImitContext() override { wipe(state_, B); }

  void imit(const void *data, unsigned int len, int last) override {
    if (len % B && !last) throw std::length_error("Imit::imit(): data length isn't multiple of block size");
    const auto *p = static_cast<const std::uint8_t *>(data);
    if (len >= B) {
      std::uint64_t state = load_le64(state_);
      for (; len >= B; len -= B, p += B) state = engine_.imit(state ^ load_le64(p)), ++blocks_;
      store_le64(state_, state);
    }
    if (len) absorb_partial(p, len);
  }

  std::uint32_t result() override {
    complete();
    return std::uint32_t(state_[0]) | std::uint32_t(state_[1]) << 8 | std::uint32_t(state_[2]) << 16 |
           std::uint32_t(state_[3]) << 24;
  }

  void result(void *out) override {
    complete();
    std::memcpy(out, state_, B);
  }

 private:
  // A partial block counts as padded with zeros.
  void absorb_partial(const std::uint8_t *p, unsigned n) {
    for (unsigned i = 0; i < n; ++i) state_[i] ^= p[i];
    engine_.imit_block(state_);
    ++blocks_;
  }

  // A MAC always covers at least two steps.
  void complete() {
    for (; blocks_ < 2; ++blocks_) engine_.imit_block(state_);
  }

  Engine engine_;
  std::uint32_t blocks_ = 0;
  std::uint8_t state_[B] = {};
};

}  // namespace CryptoGostImpl
