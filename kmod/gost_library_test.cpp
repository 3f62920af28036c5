// The module's engine against the project's user-space GOST library, where
// that library is part of the build.
#ifdef YRK_KMOD_WITH_CRYPTO

#include <gtest/gtest.h>

#include <cstring>

#include "crypto/gost28147/cipher.h"
#include "kmod/gost.h"
#include "kmod/peer/peer.h"
#include "kmod/testing/random.h"

using kmod_testing::random_bytes;
using kmod_testing::random_size;
using Bytes = std::vector<uint8_t>;

TEST(GostEngine, AgreesWithTheUserSpaceLibrary) {
  for (const auto *sbox : {&kmod_peer::kSBoxCryptoProA, &kmod_peer::kSBoxTest}) {
    gost_tables t;
    gost_build_tables(&t, sbox->data());
    for (int round = 0; round < 10; ++round) {
      Bytes key = random_bytes(32), iv = random_bytes(8);
      u32 words[8];
      std::memcpy(words, key.data(), 32);  // little-endian host
      auto lib_key = Crypto::load_key(key.data(), nullptr);
      lib_key->set_sbox(sbox->data());

      Bytes block = random_bytes(8), expect(8);
      Crypto::create_ecb_context(lib_key)->encrypt(block.data(), expect.data(), 8);
      gost_encrypt_block(words, &t, block.data());
      EXPECT_EQ(block, expect);

      Bytes msg = random_bytes(random_size(9, 400)), lib_out(msg.size()), out(msg.size());
      Crypto::create_cfb_context(lib_key, iv.data())->encrypt(msg.data(), lib_out.data(), msg.size());
      u8 reg[8];
      std::memcpy(reg, iv.data(), 8);
      unsigned int pos = 0;
      velmora_gost_encrypt(msg.data(), out.data(), msg.size(), words, reg, &t, &pos);
      EXPECT_EQ(out, lib_out) << msg.size();

      auto imit = Crypto::create_imit_context(lib_key);
      imit->imit(msg.data(), msg.size(), 1);
      Bytes lib_mac(8), mac(8, 0);
      imit->result(lib_mac.data());
      velmora_gost_imit(msg.data(), msg.size(), words, &t, mac.data());
      EXPECT_EQ(mac, lib_mac) << msg.size();
    }
  }
}

#endif
