// Side-by-side timing of our code and libgcrypt in one run, shared by the
// library benchmarks.
#ifndef YRK_BENCH_GCRYPT_COMPARE_H
#define YRK_BENCH_GCRYPT_COMPARE_H

#include <gcrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace bench {

// Operations per second of f over 40 ms.
inline double rate(const std::function<void()> &f) {
  using clock = std::chrono::steady_clock;
  long runs = 0;
  const auto start = clock::now();
  std::chrono::duration<double> spent{};
  do {
    f();
    ++runs;
    spent = clock::now() - start;
  } while (spent.count() < 0.04);
  return double(runs) / spent.count();
}

// The machine is shared: both sides run in alternation and keep their best.
// Prints operations per second times scale in unit, and ours / libgcrypt.
inline void compare(const char *what, const char *unit, double scale, const std::function<void()> &ours,
                    const std::function<void()> &theirs) {
  ours();
  theirs();
  double best_ours = 0, best_theirs = 0;
  for (int round = 0; round < 15; ++round) {
    best_ours = std::max(best_ours, rate(ours));
    best_theirs = std::max(best_theirs, rate(theirs));
  }
  std::printf("%-32s %10.1f %-5s libgcrypt %10.1f %-5s ratio %.2fx\n", what, best_ours * scale, unit,
              best_theirs * scale, unit, best_ours / best_theirs);
}

// An S-expression with one binary value; a benchmark cannot go on without it.
inline gcry_sexp_t build(const char *format, int len, const void *data) {
  gcry_sexp_t s = nullptr;
  if (gcry_sexp_build(&s, nullptr, format, len, data)) {
    std::fprintf(stderr, "gcry_sexp_build failed\n");
    std::exit(1);
  }
  return s;
}

}  // namespace bench

#endif  // YRK_BENCH_GCRYPT_COMPARE_H
