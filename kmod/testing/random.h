// Seeded randomness for reproducible kmod tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace kmod_testing {

inline std::mt19937 &rng() {
  static std::mt19937 gen(20261208);
  return gen;
}

inline std::vector<uint8_t> random_bytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (auto &b : v) b = static_cast<uint8_t>(rng()());
  return v;
}

inline size_t random_size(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng()); }

}  // namespace kmod_testing
