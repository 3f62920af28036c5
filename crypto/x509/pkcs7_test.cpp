#include "crypto/x509/pkcs7.h"

#include <gtest/gtest.h>

#include "crypto/x509/test_pki.h"
#include "crypto/x509/x509_texts.h"

using CryptoTesting::pki_cert;
using CryptoTesting::TestPki;
namespace Text = CryptoGostImpl::X509Text;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> subjects(const Crypto::CertList &certs) {
  std::vector<std::string> out;
  for (const auto &c : certs) out.push_back(c->subject());
  return out;
}

std::string load_error(const Bytes &der) {
  try {
    Crypto::load_pkcs7_chain(der.data(), unsigned(der.size()));
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

Bytes bytes(const shared_membuf &b) { return Bytes(b.get(), b.get() + b.size()); }

}  // namespace

TEST(Pkcs7, EngineBundleLoadsLastCertificateFirst) {
  REQUIRE_TEST_PKI();
  const Bytes der = TestPki::get().bytes("chain.p7b");
  const Crypto::CertList certs = Crypto::load_pkcs7_chain(der.data(), unsigned(der.size()));
  // crl2pkcs7 keeps the file's order (user, inter, root).
  EXPECT_EQ((std::vector<std::string>{pki_cert("root")->subject(), pki_cert("inter")->subject(),
                                      pki_cert("user")->subject()}),
            subjects(certs));
  EXPECT_EQ(TestPki::get().bytes("root.der"), bytes(certs.front()->dump()));
  EXPECT_EQ(0, certs.back()->check_signature(*std::next(certs.begin())));
}

TEST(Pkcs7, RoundTripKeepsTheOrderAndTheEngineReadsIt) {
  REQUIRE_TEST_PKI();
  const Crypto::CertList certs{pki_cert("user"), pki_cert("root"), pki_cert("inter")};
  const shared_membuf packed = Crypto::make_pkcs7_chain(certs);
  const Crypto::CertList loaded = Crypto::load_pkcs7_chain(packed.get(), packed.size());
  EXPECT_EQ(subjects(certs), subjects(loaded));
  for (auto a = certs.begin(), b = loaded.begin(); a != certs.end(); ++a, ++b)
    EXPECT_EQ(bytes((*a)->dump()), bytes((*b)->dump()));
  std::ofstream(TestPki::get().path("ours.p7b"), std::ios::binary)
      .write(reinterpret_cast<const char *>(packed.get()), packed.size());
  const auto run = TestPki::get().openssl("pkcs7 -inform DER -in ours.p7b -print_certs");
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("subject=CN = Test Intermediate CA")) << run.output;
}

TEST(Pkcs7, EmptyAndForeignBundlesAreRefused) {
  REQUIRE_TEST_PKI();
  const shared_membuf empty = Crypto::make_pkcs7_chain({});
  EXPECT_EQ(Text::kNoCerts, load_error(bytes(empty)));
  // An RSA certificate is refused even inside a bundle.
  EXPECT_EQ(Text::kUnknownSigAlg, load_error(TestPki::get().bytes("rsa_chain.p7b")));
  EXPECT_THROW(Crypto::make_pkcs7_chain({pki_cert("user"), nullptr}), std::logic_error);
}

TEST(Pkcs7, MalformedInputIsRefusedCleanly) {
  REQUIRE_TEST_PKI();
  const Bytes der = TestPki::get().bytes("chain.p7b");
  for (std::size_t len = 0; len < der.size(); len += 11)
    EXPECT_EQ(Text::kD2iPkcs7, load_error(Bytes(der.begin(), der.begin() + long(len)))) << len;
  EXPECT_EQ(Text::kD2iPkcs7, load_error(TestPki::get().bytes("user.der")));
  EXPECT_THROW(Crypto::load_pkcs7_chain(nullptr, 3), std::runtime_error);
  // A PKCS#7 data object is no signedData.
  const Bytes data = {0x30, 0x0b, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01};
  EXPECT_EQ(Text::kNotSigned, load_error(data));
}
