// The test PKI of tests/pki/make_test_pki.sh, made once per test executable
// by the OpenSSL GOST engine into a fresh temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crypto/x509/x509_cert.h"

namespace CryptoTesting {

class TestPki : public testing::Environment {
 public:
  static TestPki &get();

  // Builds the PKI on first use; false (with reason()) when it cannot be built.
  bool ready() {
    if (!tried_) build();
    return ok_;
  }
  const std::string &reason() const { return reason_; }
  std::string path(const std::string &name) const { return dir_ + "/" + name; }

  std::vector<std::uint8_t> bytes(const std::string &name) const {
    std::ifstream in(path(name), std::ios::binary);
    if (!in) throw std::runtime_error("missing test PKI file " + name);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  struct Run {
    int status;
    std::string output;  // standard output and error together
  };
  // Runs an openssl command line in the PKI directory with its configuration.
  Run openssl(const std::string &arguments) const {
    const std::string command = "cd '" + dir_ + "' && OPENSSL_CONF='" + path("openssl.cnf") +
                                "' CA_NAME=none openssl " + arguments + " 2>&1";
    Run run{-1, ""};
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.output.append(chunk, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // The PKI's end entities lack nonRepudiation, which verification of a user
  // certificate asks for: this issues one from "inter" that has it, with the
  // serial (hexadecimal) and validity given, as NAME.der; its path. A name
  // issued before is not issued again (the serial is taken).
  std::string issue_full_usage(const std::string &name, const std::string &serial,
                               const std::string &from, const std::string &to) const {
    if (std::filesystem::exists(path(name + ".der"))) return path(name + ".der");
    // `openssl ca` of the PKI's configuration keeps its records under the CA name "none".
    std::ofstream(path("none.db"), std::ios::app);
    std::ofstream(path("none.serial")) << serial << "\n";
    std::filesystem::create_directories(path("none.issued"));
    std::ofstream(path("full.ext")) << "keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment\n"
                                       "authorityKeyIdentifier = keyid\n";
    const auto run = [&](const std::string &arguments) {
      const Run result = openssl(arguments);
      EXPECT_EQ(result.status, 0) << arguments << "\n" << result.output;
    };
    run("req -engine gost -new -md_gost94 -key user.key -subj '/CN=Test Full Usage/O=Yrk Test' -out full.csr");
    run("ca -engine gost -batch -notext -name ca_default -cert inter.pem -keyfile inter.key -extfile full.ext"
        " -in full.csr -out " + name + ".pem -startdate " + from + " -enddate " + to);
    run("x509 -in " + name + ".pem -outform DER -out " + name + ".der");
    return path(name + ".der");
  }

  void TearDown() override {
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }

 private:
  void build() {
    tried_ = true;
    char pattern[] = "/tmp/yrk-pki-XXXXXX";
    if (!mkdtemp(pattern)) {
      reason_ = "mkdtemp failed";
      return;
    }
    root_ = pattern;
    dir_ = root_ + "/pki";
    const std::string command =
        std::string("sh '") + YRK_TEST_PKI_SCRIPT + "' '" + dir_ + "' >'" + root_ + "/log' 2>&1";
    const int status = std::system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 77) {
      reason_ = "the OpenSSL GOST engine is not installed (libengine-gost-openssl)";
    } else if (code != 0) {
      std::ifstream log(root_ + "/log");
      reason_ = "make_test_pki.sh failed: " + std::string(std::istreambuf_iterator<char>(log), {});
      ADD_FAILURE() << reason_;
    } else {
      ok_ = true;
    }
  }

  bool tried_ = false, ok_ = false;
  std::string root_, dir_, reason_;
};

// Registered before main, so that its TearDown removes the directory; the
// PKI itself is made only when a test first asks for it.
inline TestPki *const test_pki = static_cast<TestPki *>(testing::AddGlobalTestEnvironment(new TestPki));
inline TestPki &TestPki::get() { return *test_pki; }

// The PKI's certificate NAME.der, loaded.
inline std::shared_ptr<Crypto::X509Cert> pki_cert(const std::string &name) {
  const std::vector<std::uint8_t> der = TestPki::get().bytes(name + ".der");
  return Crypto::load_cert(der.data(), unsigned(der.size()));
}

}  // namespace CryptoTesting

// Skips the test when the engine that makes the PKI is missing.
#define REQUIRE_TEST_PKI()                                              \
  do {                                                                  \
    if (!CryptoTesting::TestPki::get().ready())                         \
      GTEST_SKIP() << CryptoTesting::TestPki::get().reason();           \
  } while (0)
