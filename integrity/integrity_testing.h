// Helpers for the integrity tests: test data, and libgcrypt as the
// independent GOST R 34.11-94 implementation. Scratch directories and files
// come from config/test_dir.h.
#pragma once

#include <gcrypt.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "channel/shared_membuf.h"
#include "config/test_dir.h"

namespace integrity_test {

using Bytes = std::vector<std::uint8_t>;

inline std::string RandomText(std::size_t len, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(len, '\0');
  for (char &c : s) c = static_cast<char>(gen());
  return s;
}

inline Bytes ToBytes(const shared_membuf &b) { return Bytes(b.get(), b.get() + b.size()); }
inline Bytes ToBytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

inline std::string Hex(const Bytes &b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (std::uint8_t c : b) s += {digits[c >> 4], digits[c & 15]};
  return s;
}

// The digest libgcrypt gives for the CryptoPro parameter set, first byte
// first as gcry_md_read returns it.
inline Bytes GcryptDigest(const std::string &data) {
  static const bool ready = [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
  Bytes out(32);
  gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, out.data(), data.data(), data.size());
  return out;
}

}  // namespace integrity_test
