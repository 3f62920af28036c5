// Verification of a three-level chain (user, intermediate, root) against CA
// stores of growing size with ten CRLs, and the cost of adding certificates
// to a file-system store. The PKI is made once by tests/pki/make_test_pki.sh.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cert/cert_chain.h"
#include "cert/cert_storage_fs.h"

namespace {

class Pki {
 public:
  Pki() {
    char pattern[] = "/tmp/yrk-cert-bench-XXXXXX";
    root = mkdtemp(pattern);
    const std::string command = std::string("sh '") + YRK_TEST_PKI_SCRIPT + "' '" + root + "/pki' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("make_test_pki.sh failed");
  }
  ~Pki() { std::filesystem::remove_all(root); }
  Cert Load(const std::string &file) const {
    std::ifstream in(root + "/pki/" + file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    SecContainer der;
    der.Init(bytes.data(), static_cast<int>(bytes.size()));
    return Cert(der);
  }
  // A fresh empty store directory below the PKI's scratch directory.
  std::string NewDir() const {
    const std::string dir = root + "/store" + std::to_string(++stores);
    std::filesystem::create_directory(dir);
    return dir;
  }

 private:
  std::string root;
  mutable int stores = 0;
};

const Pki &ThePki() {
  static const Pki pki;
  return pki;
}

// A CA store of `size` entries whose last two are the chain's root and
// intermediate (the others match no issuer), and a CRL store of ten lists.
void VerifyThreeLevels(benchmark::State &state) {
  const Pki &pki = ThePki();
  const std::string ca = pki.NewDir(), crl = pki.NewDir();
  CertStorageFS ca_store(ca), crl_store(crl);
  const char *fillers[] = {"other.der", "cross_a.der", "cross_b.der", "future.der"};
  for (int i = 0; i + 2 < state.range(0); ++i) ca_store.Add(pki.Load(fillers[i % 4]));
  ca_store.Add(pki.Load("root.der"));
  ca_store.Add(pki.Load("inter.der"));
  const char *lists[] = {"root.crl.der", "other.crl.der", "inter_stale.crl.der", "inter.crl.der"};
  for (int i = 0; i < 10; ++i) crl_store.Add(pki.Load(lists[i % 4]));
  const CertStores stores([&](CertStorage::CertType type) -> CertStorage * {
    return new CertStorageFS(type == CertStorage::CERT_CRL ? crl : ca);
  });
  const CertChain chain(stores, SecContainer(), CertStorage::CERT_USER);
  const Cert user = pki.Load("user.der");
  for (auto _ : state) {
    if (chain.VerifySingle(user, false) != 0) state.SkipWithError("verification failed");
  }
}
BENCHMARK(VerifyThreeLevels)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Adding one certificate to a store already holding range(0) entries.
void AddToStore(benchmark::State &state) {
  const Pki &pki = ThePki();
  const Cert cert = pki.Load("user.der");
  for (auto _ : state) {
    state.PauseTiming();
    CertStorageFS store(pki.NewDir());
    for (int i = 0; i < state.range(0); ++i) store.Add(cert);
    state.ResumeTiming();
    for (int i = 0; i < 100; ++i) store.Add(cert);
  }
  state.counters["per_cert"] =
      benchmark::Counter(100.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate |
                                                                              benchmark::Counter::kInvert);
}
BENCHMARK(AddToStore)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
