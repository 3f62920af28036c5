// Test material for the certificate tests: the test PKI of
// tests/pki/make_test_pki.sh and certificate stores in scratch directories.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "cert/cert.h"
#include "cert/cert_storage_fs.h"
#include "cert/cert_stores.h"
#include "config/test_dir.h"
#include "crypto/x509/test_pki.h"

namespace CertTesting {

using CryptoTesting::TestPki;

inline SecContainer Bytes(const std::string &text) {
  SecContainer bytes;
  bytes.Init(text.data(), static_cast<int>(text.size()));
  return bytes;
}

inline std::string Text(const SecContainer &bytes) {
  const unsigned char *data = bytes;
  return std::string(data, data + bytes.Size());
}

inline SecContainer BytesOf(const std::vector<std::uint8_t> &bytes) {
  SecContainer out;
  out.Init(bytes.data(), static_cast<int>(bytes.size()));
  return out;
}

// The PKI file NAME as bytes.
inline SecContainer PkiFile(const std::string &name) { return BytesOf(TestPki::get().bytes(name)); }
// The PKI certificate NAME.der.
inline Cert PkiCert(const std::string &name) { return Cert(PkiFile(name + ".der")); }

// "full_usage": Test User's key certified by inter with the usages user
// certificates need (digitalSignature, nonRepudiation, keyEncipherment).
inline void MakeFullUsageCert() {
  TestPki &pki = TestPki::get();
  if (std::filesystem::exists(pki.path("full_usage.der"))) return;
  std::ofstream(pki.path("full_usage.ext"))
      << "basicConstraints = CA:false\n"
         "keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment\n"
         "subjectKeyIdentifier = hash\nauthorityKeyIdentifier = keyid:always\n";
  const TestPki::Run run = pki.openssl(
      "x509 -req -engine gost -md_gost94 -in user.csr -CA inter.pem -CAkey inter.key -set_serial 0x2001 "
      "-days 3650 -extfile full_usage.ext -outform DER -out full_usage.der");
  ASSERT_EQ(run.status, 0) << run.output;
}

// The 32-byte private key of the PKI key NAME.key, big-endian.
inline std::vector<std::uint8_t> PkiPrivateKey(const std::string &name) {
  const TestPki::Run run = TestPki::get().openssl("pkey -engine gost -text -noout -in " + name + ".key");
  const std::string label = "Private key: ";
  const size_t at = run.output.find(label);
  if (at == std::string::npos) throw std::runtime_error("no private key in " + run.output);
  std::string hex;
  for (size_t i = at + label.size(); i < run.output.size() && std::isxdigit(run.output[i]); ++i)
    hex += run.output[i];
  hex.insert(0, 64 - hex.size(), '0');
  std::vector<std::uint8_t> key;
  for (size_t i = 0; i < 64; i += 2) key.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return key;
}

// A user, a CA and a CRL store, each a file-system store in its own scratch directory.
class ScratchStores {
 public:
  CertStores Stores() const {
    return CertStores([this](CertStorage::CertType type) -> CertStorage * {
      switch (type) {
        case CertStorage::CERT_USER: return new CertStorageFS(user.path());
        case CertStorage::CERT_CA: return new CertStorageFS(ca.path());
        case CertStorage::CERT_CRL: return crl_missing ? nullptr : new CertStorageFS(crl.path());
      }
      return nullptr;
    });
  }
  int Add(CertStorage::CertType type, const Cert &cert) const {
    const CertStorageHandle store = Stores().Open(type);
    return store->Add(cert);
  }
  int AddCa(const std::string &name) const { return Add(CertStorage::CERT_CA, PkiCert(name)); }
  int AddCrl(const std::string &name) const { return Add(CertStorage::CERT_CRL, Cert(PkiFile(name + ".crl.der"))); }
  std::list<int> Numbers(CertStorage::CertType type) const {
    std::list<int> numbers;
    Stores().Open(type)->List(numbers);
    return numbers;
  }

  bool crl_missing = false;

 private:
  TestDir user, ca, crl;
};

}  // namespace CertTesting
