#include "cert/crl.h"

#include <gtest/gtest.h>

#include "cert/cert_testing.h"
#include "cert/crl_collection.h"
#include "crypto/x509/x509_cert.h"

namespace {

using CertTesting::PkiFile;
using CryptoTesting::pki_cert;

CRL PkiCrl(const std::string &name) { return CRL(PkiFile(name + ".crl.der")); }

TEST(CRL, ValidityAndParse) {
  REQUIRE_TEST_PKI();
  EXPECT_TRUE(PkiCrl("inter").IsValid());
  EXPECT_FALSE(PkiCrl("inter").IsExpired());
  EXPECT_TRUE(PkiCrl("inter_stale").IsExpired());
  Cert::Properties properties;
  properties.subject.CN = "kept";
  ASSERT_EQ(PkiCrl("inter").Parse(properties), 0);
  EXPECT_EQ(properties.issuer.CN, "Test Intermediate CA");
  EXPECT_EQ(properties.issuer.O, "Yrk Test");
  EXPECT_EQ(properties.subject.CN, "kept");
  EXPECT_EQ(properties.valid_from.empty(), false);
}

TEST(CRL, CertificateBytesAreNoList) {
  REQUIRE_TEST_PKI();
  const CRL wrapped(PkiFile("user.der"));
  Cert::Properties properties;
  EXPECT_FALSE(wrapped.IsValid());
  EXPECT_FALSE(wrapped.IsExpired());
  EXPECT_EQ(wrapped.Parse(properties), -1);
}

TEST(CRL, KeyCheckIsNotSupported) { EXPECT_THROW(CRL().Check(PKey()), std::runtime_error); }

TEST(CRL, RevocationByItsIssuerOnly) {
  REQUIRE_TEST_PKI();
  EXPECT_EQ(PkiCrl("inter").Check(pki_cert("revoked"), pki_cert("inter")), 1);
  EXPECT_EQ(PkiCrl("inter").Check(pki_cert("user"), pki_cert("inter")), 0);
  EXPECT_EQ(PkiCrl("inter").Check(pki_cert("revoked"), pki_cert("root")), -1);
  EXPECT_EQ(PkiCrl("other").Check(pki_cert("revoked"), pki_cert("other")), 0);
  EXPECT_EQ(PkiCrl("inter_stale").Check(pki_cert("revoked"), pki_cert("inter")), -1);
  EXPECT_EQ(CRL(PkiFile("user.der")).Check(pki_cert("revoked"), pki_cert("inter")), -1);
}

class CRLCollectionTest : public ::testing::Test {
 protected:
  int Check(const std::string &cert, const std::string &issuer) {
    return CRLCollection(stores.Stores()).Check(pki_cert(cert), pki_cert(issuer));
  }
  CertTesting::ScratchStores stores;
};

TEST_F(CRLCollectionTest, ACurrentListOfTheIssuerRevokes) {
  REQUIRE_TEST_PKI();
  stores.AddCrl("root");
  stores.AddCrl("inter");
  EXPECT_EQ(Check("revoked", "inter"), -1);
  EXPECT_EQ(Check("user", "inter"), 0);
}

TEST_F(CRLCollectionTest, AListOfAnotherCaWithTheSameSerialDoesNotRevoke) {
  REQUIRE_TEST_PKI();
  stores.AddCrl("other");
  EXPECT_EQ(Check("revoked", "inter"), 0);
  EXPECT_EQ(Check("revoked", "other"), 0);  // the list of other names other's certificate only
  EXPECT_EQ(Check("other_user", "other"), -1);
}

TEST_F(CRLCollectionTest, AStaleListDoesNotRevoke) {
  REQUIRE_TEST_PKI();
  stores.AddCrl("inter_stale");
  EXPECT_EQ(Check("revoked", "inter"), 0);
}

TEST_F(CRLCollectionTest, DamagedEntriesAndMissingStoresRevokeNothing) {
  REQUIRE_TEST_PKI();
  EXPECT_EQ(Check("revoked", "inter"), 0);
  stores.Add(CertStorage::CERT_CRL, Cert(PkiFile("user.der")));
  stores.Add(CertStorage::CERT_CRL, Cert(SecContainer()));
  stores.AddCrl("inter");
  EXPECT_EQ(Check("revoked", "inter"), -1);
  stores.crl_missing = true;
  EXPECT_EQ(Check("revoked", "inter"), 0);
}

}  // namespace
