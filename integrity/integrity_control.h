// The hashing core of the integrity control: one running GOST R 34.11-94
// digest (CryptoPro parameter set) over everything fed to it.
#pragma once

#include <cstddef>
#include <memory>

#include "channel/shared_membuf.h"
#include "crypto/gost3411/hash.h"

class IntegrityControl {
 public:
  IntegrityControl();

  // Feeds the bytes to the running hash; 0 (failures throw).
  int Compute(shared_membuf &data);
  // The same for a plain byte range, so files can be fed in chunks.
  int Compute(const void *data, std::size_t len);

  // Finishes the hash: 32 bytes, the context's eight 32-bit result words
  // copied in order in host byte order. Copying whole words both ways keeps
  // the bytes as the context returns them, so this is the digest byte string
  // of the standard's external convention (the 256-bit value least
  // significant byte first), the string libgcrypt's GCRY_MD_GOSTR3411_CP
  // gives, on hosts of either byte order. Nothing may be fed afterwards.
  shared_membuf Result();

 private:
  std::shared_ptr<Crypto::Hash_Context> context_;
};
