// The keys of the test tunnel: line 0 and line 1 share the key; what one
// sends with is what the other receives with.
#pragma once

#include <cstring>

#include "kmod/peer/peer.h"
#include "kmod/records.h"

namespace ppp_test {

inline crypt_setup tunnel_keys(int line) {
  crypt_setup k{};
  for (int i = 0; i < 32; ++i) k.key[i] = static_cast<uint8_t>(0x3D * i + 7);
  uint8_t a[8], b[8];
  for (int i = 0; i < 8; ++i) {
    a[i] = static_cast<uint8_t>(0xC0 + i);
    b[i] = static_cast<uint8_t>(0x30 + 3 * i);
  }
  std::memcpy(k.send_iv, line == 0 ? a : b, 8);
  std::memcpy(k.recv_iv, line == 0 ? b : a, 8);
  std::memcpy(k.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  return k;
}

}  // namespace ppp_test
