// Key records the frame-key table search cannot end on.
#pragma once

#include <cstdint>
#include <vector>

#include "kmod/gost.h"
#include "kmod/records.h"
#include "kmod/testing/random.h"

namespace kmod_testing {

// An IV whose encryption under the record's key holds one 16-bit value
// twice: decrypting such a block gives it.
inline void make_stalling_iv(crypt_setup &cs, uint8_t iv[8]) {
  gost_tables t;
  gost_build_tables(&t, cs.sbox);
  u32 key[8];
  for (int i = 0; i < 8; ++i)
    key[i] = cs.key[4 * i] | cs.key[4 * i + 1] << 8 | cs.key[4 * i + 2] << 16 | u32(cs.key[4 * i + 3]) << 24;
  std::vector<uint8_t> block = random_bytes(8);
  block[6] = block[2], block[7] = block[3];
  gost_decrypt_block(key, &t, block.data());
  for (int i = 0; i < 8; ++i) iv[i] = block[i];
}

}  // namespace kmod_testing
