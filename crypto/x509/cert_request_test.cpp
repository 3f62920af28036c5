#include "crypto/x509/cert_request.h"

#include <gtest/gtest.h>

#include <fstream>

#include "crypto/gost3410/signature.h"
#include "crypto/x509/test_pki.h"
#include "crypto/x509/x509_der.h"
#include "crypto/x509/x509_texts.h"

using CryptoTesting::TestPki;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct KeyPair {
  Bytes pub = Bytes(64), priv = Bytes(32);
  KeyPair() { Crypto::create_sig_context()->generate_key_pair(pub.data(), priv.data()); }
};

Bytes request(const std::map<unsigned, std::string> &subject, const KeyPair &keys) {
  const shared_membuf der = Crypto::make_cert_request(subject, keys.pub.data(), keys.priv.data());
  return Bytes(der.get(), der.get() + der.size());
}

void write(const std::string &name, const Bytes &b) {
  std::ofstream(TestPki::get().path(name), std::ios::binary)
      .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

}  // namespace

TEST(CertRequest, TheEngineVerifiesOurRequests) {
  REQUIRE_TEST_PKI();
  // Several key pairs, so that signatures with leading and trailing zero bytes turn up.
  for (int i = 0; i < 8; ++i) {
    const Bytes der = request({{3, "Тестовый пользователь"}, {10, "Yrk Test"}, {0, "user@example.test"}, {6, "RU"}},
                              KeyPair());
    write("ours.req", der);
    // The tool's exit status does not tell: OpenSSL 3.0 returns 0 on a failed verification.
    const auto run = TestPki::get().openssl("req -engine gost -inform DER -in ours.req -verify -noout");
    ASSERT_NE(std::string::npos, run.output.find("verify OK")) << i << run.output;
  }
  // A changed subject byte no longer verifies.
  Bytes der = request({{3, "Tampered"}}, KeyPair());
  const std::string name = "Tampered";
  *std::search(der.begin(), der.end(), name.begin(), name.end()) = 't';
  write("tampered.req", der);
  const auto run = TestPki::get().openssl("req -engine gost -inform DER -in tampered.req -verify -noout");
  EXPECT_NE(std::string::npos, run.output.find("verify failure")) << run.output;
}

TEST(CertRequest, SignsItsInformationWithTheGivenKey) {
  const KeyPair keys;
  const Bytes der = request({{3, "Name"}}, keys);
  const auto info = CryptoGostImpl::X509Der::signed_part(der, "request");
  // The signature is the last 64 bytes, after 03 41 00.
  ASSERT_EQ(0, der[der.size() - 65]);
  ASSERT_EQ(0x41, der[der.size() - 66]);
  EXPECT_EQ(0, CryptoGostImpl::X509Der::verify_gost(info, der.data() + der.size() - 64, keys.pub.data()));
  EXPECT_NE(0, CryptoGostImpl::X509Der::verify_gost(info, der.data() + der.size() - 64, KeyPair().pub.data()));
  // The key sits reversed in the bit string after 03 43 00 04 40.
  const std::uint8_t header[] = {0x03, 0x43, 0x00, 0x04, 0x40};
  const auto at = std::search(der.begin(), der.end(), std::begin(header), std::end(header));
  ASSERT_NE(at, der.end());
  EXPECT_EQ(Bytes(keys.pub.rbegin(), keys.pub.rend()), Bytes(at + 5, at + 69));
}

TEST(CertRequest, RefusesAttributeNumbersThatDoNotFitOneByte) {
  const KeyPair keys;
  try {
    request({{128, "x"}}, keys);
    ADD_FAILURE();
  } catch (const std::logic_error &e) {
    EXPECT_STREQ(CryptoGostImpl::X509Text::kNameAttribute, e.what());
  }
  EXPECT_NO_THROW(request({{127, "x"}}, keys));
}
