// ComputeHash over 100 listed files of 1 MiB each, and the library's hash
// over one 100 MiB buffer in the same run: the difference is what reading
// the files in pieces costs on top of the hash.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/sbox.h"
#include "integrity/yrk_integrity_control.h"

namespace {

constexpr std::size_t kMiB = 1 << 20;
constexpr int kFiles = 100;

template <typename F>
double BestSeconds(int runs, F &&body) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/yrk-integrity-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;

  std::vector<unsigned char> all(kFiles * kMiB);
  std::mt19937 gen(1);
  for (auto &b : all) b = static_cast<unsigned char>(gen());
  std::ofstream list(dir + "/filelist");
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = dir + "/f" + std::to_string(i);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char *>(&all[i * kMiB]), kMiB);
    list << name << "\n";
  }
  list.close();

  YRKIntegrityControl control(dir + "/filelist", dir + "/.csum");
  const double mb = double(all.size()) / 1e6;
  const double files = BestSeconds(3, [&] { control.ComputeHash(); });
  const double buffer = BestSeconds(3, [&] {
    auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_verba);
    h->hash(all.data(), static_cast<unsigned>(all.size()));
    h->result();
  });
  std::printf("ComputeHash, %d listed files of 1 MiB  %8.1f MB/s\n", kFiles, mb / files);
  std::printf("hash over one %d MiB buffer           %8.1f MB/s\n", kFiles, mb / buffer);
  std::printf("speed ratio, files to buffer             %8.2f\n", buffer / files);
  std::filesystem::remove_all(dir);
  return 0;
}
