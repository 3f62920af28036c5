// Statistical tests on 4096 generator bytes (32768 bits).
#pragma once

#include <cstddef>

namespace CryptoGostImpl {

constexpr std::size_t kCheckBytes = 4096;

// Number of one bits within 16086..16682.
bool ones_test(const unsigned char *data);
// Sum of (n_v - 16)^2 / 16 over byte values below 70825 (catches only gross skew).
bool frequency_test(const unsigned char *data);
// For every bit position, the number of ones that end a run of zeros within 935..1112.
bool runs_test(const unsigned char *data);

}  // namespace CryptoGostImpl
