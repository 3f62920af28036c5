#include "cert/cert.h"

#include <gtest/gtest.h>

#include <string>

#include "cert/cert_testing.h"

namespace {

using CertTesting::Bytes;
using CertTesting::Text;

TEST(Cert, DefaultHoldsNoBytes) { EXPECT_EQ(Cert().Get().Size(), 0); }

TEST(Cert, KeepsACopyOfItsBytes) {
  SecContainer der = Bytes("0\x03\x02\x01\x05");
  const Cert cert(der);
  der = Bytes("other");
  EXPECT_EQ(cert.Get(), Bytes("0\x03\x02\x01\x05"));
}

TEST(Cert, EqualWhenTheBytesAre) {
  const Cert a(Bytes("abc"));
  Cert copy = a;
  EXPECT_TRUE(copy == a);
  EXPECT_FALSE(Cert(Bytes("abd")) == a);
  EXPECT_FALSE(Cert(Bytes("abcd")) == a);
  copy = Cert(Bytes("x"));
  EXPECT_FALSE(copy == a);
  EXPECT_EQ(copy.Get(), Bytes("x"));
}

using CertTesting::PkiCert;
using CertTesting::PkiFile;

TEST(Cert, GarbageIsNeitherValidNorExpiredNorParsed) {
  const Cert garbage(Bytes("not a certificate"));
  Cert::Properties properties;
  EXPECT_FALSE(garbage.IsValid());
  EXPECT_FALSE(garbage.IsExpired());
  EXPECT_EQ(garbage.Parse(properties), -1);
  EXPECT_FALSE(Cert().IsValid());
  EXPECT_EQ(Cert().Parse(properties), -1);
}

TEST(Cert, ValidityPeriod) {
  REQUIRE_TEST_PKI();
  EXPECT_TRUE(PkiCert("user").IsValid());
  EXPECT_FALSE(PkiCert("user").IsExpired());
  EXPECT_TRUE(PkiCert("expired").IsValid());
  EXPECT_TRUE(PkiCert("expired").IsExpired());
  EXPECT_TRUE(PkiCert("future").IsExpired());
}

TEST(Cert, RsaCertificateIsRefused) {
  REQUIRE_TEST_PKI();
  Cert::Properties properties;
  EXPECT_FALSE(PkiCert("rsa").IsValid());
  EXPECT_EQ(PkiCert("rsa").Parse(properties), -1);
}

TEST(Cert, ParseGivesNamesAndDates) {
  REQUIRE_TEST_PKI();
  Cert::Properties properties;
  ASSERT_EQ(PkiCert("user").Parse(properties), 0);
  EXPECT_EQ(properties.subject.CN, "Test User");
  EXPECT_EQ(properties.subject.O, "Yrk Test");
  EXPECT_EQ(properties.subject.OU, "Second Unit");  // the later entry of a repeated attribute
  EXPECT_EQ(properties.subject.other, "user@example.test");
  EXPECT_EQ(properties.issuer.CN, "Test Intermediate CA");
  EXPECT_EQ(properties.issuer.O, "Yrk Test");
  EXPECT_EQ(properties.valid_from, "Jan  1 00:00:00 2020 GMT");
  EXPECT_EQ(properties.valid_to, "Dec 31 23:59:59 2049 GMT");
}

TEST(Cert, KeyPairTest) {
  REQUIRE_TEST_PKI();
  const std::vector<std::uint8_t> user_key = CertTesting::PkiPrivateKey("user");
  const std::vector<std::uint8_t> inter_key = CertTesting::PkiPrivateKey("inter");
  Container user, inter;
  user.Init(user_key.data(), static_cast<int>(user_key.size()));
  inter.Init(inter_key.data(), static_cast<int>(inter_key.size()));
  EXPECT_EQ(PkiCert("user").Check(PKey(user)), 0);
  EXPECT_EQ(PkiCert("user").Check(PKey(inter)), -1);
  EXPECT_EQ(PkiCert("inter").Check(PKey(inter)), 0);
  EXPECT_EQ(PkiCert("user").Check(PKey()), -1);
  EXPECT_THROW(Cert(Bytes("garbage")).Check(PKey(user)), std::runtime_error);
}

}  // namespace
