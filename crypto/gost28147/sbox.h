// S-boxes in the packed 64-byte form: byte 4*r + c holds K(2c+1)[r] in its
// low nibble and K(2c+2)[r] in its high nibble (c = byte of the 32-bit word).
#pragma once

#include <cstdint>

namespace CryptoGostImpl {

// id-GostR3411-94-CryptoProParamSet (1.2.643.2.2.30.1).
extern const std::uint8_t sbox_rfc[64];
// The same table, installed as the process-wide default.
extern const std::uint8_t sbox_verba[64];

// Building one installs the default process-wide S-box (once per process).
class GostSBox {
 public:
  GostSBox();
  static int initialized;
};

}  // namespace CryptoGostImpl

namespace Crypto {

// Replaces the process-wide S-box for every engine on a key without its own.
void GOST_set_sbox(const unsigned char *sbox);

}  // namespace Crypto
