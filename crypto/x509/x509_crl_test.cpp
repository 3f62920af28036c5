#include "crypto/x509/x509_crl.h"

#include <gtest/gtest.h>

#include <ctime>

#include "crypto/x509/test_pki.h"
#include "crypto/x509/x509_texts.h"

using CryptoTesting::pki_cert;
using CryptoTesting::TestPki;
namespace Text = CryptoGostImpl::X509Text;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::shared_ptr<Crypto::CRL> crl(const std::string &name, const std::string &issuer) {
  const Bytes der = TestPki::get().bytes(name + ".crl.der");
  return Crypto::load_crl(der.data(), unsigned(der.size()), pki_cert(issuer));
}

std::string load_error(const Bytes &der, const std::string &issuer) {
  try {
    Crypto::load_crl(der.data(), unsigned(der.size()), pki_cert(issuer));
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Crl, EngineSignedListsLoadOnlyWithTheirIssuer) {
  REQUIRE_TEST_PKI();
  EXPECT_NO_THROW(crl("inter", "inter"));
  EXPECT_NO_THROW(crl("root", "root"));
  EXPECT_NO_THROW(crl("other", "other"));
  const Bytes der = TestPki::get().bytes("inter.crl.der");
  EXPECT_EQ(Text::kCrlWrongIssuer, load_error(der, "root"));
  EXPECT_EQ(Text::kCrlWrongIssuer, load_error(der, "user"));
  Bytes changed = der;
  // A revoked serial byte: after the issuer name, before the signature.
  const std::uint8_t serial[] = {0x02, 0x02, 0x10, 0x05};
  const auto entry = std::search(changed.begin(), changed.end(), std::begin(serial), std::end(serial));
  ASSERT_NE(entry, changed.end());
  entry[3] = 0x06;
  EXPECT_EQ(Text::kCrlBadSignature, load_error(changed, "inter"));
  EXPECT_THROW(crl("inter", "rsa"), std::runtime_error);  // the RSA certificate does not even load
}

TEST(Crl, MalformedListsAreRefusedCleanly) {
  REQUIRE_TEST_PKI();
  const Bytes der = TestPki::get().bytes("inter.crl.der");
  for (std::size_t len = 0; len < der.size(); len += 5)
    EXPECT_EQ(Text::kD2iCrl, load_error(Bytes(der.begin(), der.begin() + long(len)), "inter")) << len;
  EXPECT_EQ(Text::kD2iCrl, load_error(TestPki::get().bytes("inter.crl.pem"), "inter"));
  EXPECT_THROW(Crypto::load_crl(nullptr, 5, pki_cert("inter")), std::runtime_error);
  EXPECT_THROW(Crypto::load_crl(der.data(), unsigned(der.size()), nullptr), std::logic_error);
  EXPECT_THROW(CryptoGostImpl::X509CrlImpl(der.data(), 20), std::runtime_error);
}

TEST(Crl, RevocationNeedsTheSameIssuerAndSerial) {
  REQUIRE_TEST_PKI();
  const auto inter = crl("inter", "inter"), other = crl("other", "other");
  EXPECT_EQ(1, inter->check_certificate(pki_cert("revoked")));
  EXPECT_EQ(0, inter->check_certificate(pki_cert("user")));
  // other_user has serial 1005 too, from another issuer.
  EXPECT_EQ(0, inter->check_certificate(pki_cert("other_user")));
  EXPECT_EQ(1, other->check_certificate(pki_cert("other_user")));
  EXPECT_EQ(0, other->check_certificate(pki_cert("revoked")));
  EXPECT_EQ(0, crl("root", "root")->check_certificate(pki_cert("inter")));
}

TEST(Crl, Freshness) {
  REQUIRE_TEST_PKI();
  const long now = long(std::time(nullptr));
  EXPECT_EQ(0, crl("inter", "inter")->check_update_time(now));
  EXPECT_EQ(1, crl("inter", "inter")->check_update_time(now + 31L * 24 * 3600));
  EXPECT_EQ(1, crl("inter_stale", "inter")->check_update_time(now));
}

TEST(Crl, PlainListGivesIssuerAndTimes) {
  REQUIRE_TEST_PKI();
  const Bytes der = TestPki::get().bytes("inter_stale.crl.der");
  const CryptoGostImpl::X509CrlImpl list(der.data(), unsigned(der.size()));
  std::map<unsigned, Crypto::DirectoryString> issuer;
  list.issuer(issuer);
  ASSERT_EQ(2u, issuer.size());
  EXPECT_EQ("Test Intermediate CA",
            std::string(reinterpret_cast<const char *>(issuer.at(3).data.get()), issuer.at(3).data.size()));
  EXPECT_EQ("Jan  1 00:00:00 2001 GMT", list.valid_from());
  EXPECT_EQ("Jan  1 00:00:00 2002 GMT", list.valid_to());
  EXPECT_EQ(1, list.check_validity(978307200 - 1));  // 2001-01-01 00:00:00Z
  EXPECT_EQ(0, list.check_validity(978307200));
  EXPECT_EQ(1, list.check_validity(long(std::time(nullptr))));
}
