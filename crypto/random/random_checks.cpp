#include "crypto/random/random_checks.h"

#include <bit>

namespace CryptoGostImpl {

bool ones_test(const unsigned char *data) {
  int ones = 0;
  for (std::size_t i = 0; i < kCheckBytes; ++i) ones += std::popcount(unsigned(data[i]));
  return ones >= 16086 && ones <= 16682;
}

bool frequency_test(const unsigned char *data) {
  int counts[256] = {};
  for (std::size_t i = 0; i < kCheckBytes; ++i) ++counts[data[i]];
  double x = 0;
  for (int n : counts) x += double(n - 16) * double(n - 16) / 16.0;
  return x < 70825.0;
}

bool runs_test(const unsigned char *data) {
  for (int bit = 0; bit < 8; ++bit) {
    int ends = 0;
    bool in_zeros = false;
    for (std::size_t i = 0; i < kCheckBytes; ++i) {
      const bool one = (data[i] >> bit) & 1;
      if (one && in_zeros) ++ends;
      in_zeros = !one;
    }
    if (ends < 935 || ends > 1112) return false;
  }
  return true;
}

}  // namespace CryptoGostImpl
