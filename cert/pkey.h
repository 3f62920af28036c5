// A private key handed to the key-pair test of a certificate.
#pragma once

#include "channel/container.h"

class PKey {
 public:
  PKey() = default;
  // The first 32 bytes are the GOST R 34.10-2001 private key, big-endian.
  explicit PKey(const Container &key) : key(key) {}

  Container &Get() { return key; }
  const Container &Get() const { return key; }

 private:
  Container key;
};
