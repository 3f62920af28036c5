#include "crypto/x509/x509_cert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "crypto/x509/test_pki.h"
#include "crypto/x509/x509_texts.h"

using CryptoTesting::TestPki;
using Crypto::X509Cert;
namespace Text = CryptoGostImpl::X509Text;

namespace {

using Bytes = std::vector<std::uint8_t>;

const auto cert = CryptoTesting::pki_cert;

// The text of the runtime_error that loading der raises, or "" when it loads.
std::string load_error(const Bytes &der) {
  try {
    Crypto::load_cert(der.data(), unsigned(der.size()));
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

std::string text(const Crypto::DirectoryString &s) {
  return std::string(reinterpret_cast<const char *>(s.data.get()), s.data.size());
}

// Seconds since 1970 of a UTC time.
long utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return long(timegm(&tm));
}

// Offset of the first occurrence of needle in haystack.
std::size_t find(const Bytes &haystack, const std::string &needle) {
  const auto at = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
  if (at == haystack.end()) throw std::runtime_error("not found: " + needle);
  return std::size_t(at - haystack.begin());
}

}  // namespace

TEST(X509Cert, EngineSignedCertificatesVerifyWithTheirIssuersKey) {
  REQUIRE_TEST_PKI();
  const auto root = cert("root"), inter = cert("inter"), user = cert("user");
  unsigned char root_key[64], inter_key[64];
  root->public_key(root_key);
  inter->public_key(inter_key);
  EXPECT_EQ(0, root->check_signature(root_key));
  EXPECT_EQ(0, inter->check_signature(root_key));
  EXPECT_EQ(0, user->check_signature(inter_key));
  EXPECT_NE(0, user->check_signature(root_key));
  EXPECT_EQ(0, root->check_signature(root));
  EXPECT_EQ(0, inter->check_signature(root));
  EXPECT_EQ(0, user->check_signature(inter));
  EXPECT_EQ(1, user->check_signature(root));  // names differ
  EXPECT_EQ(1, inter->check_signature(inter));
  EXPECT_EQ(1, user->check_signature(std::shared_ptr<X509Cert>()));
}

TEST(X509Cert, PublicKeyIsTheBitStringReversed) {
  REQUIRE_TEST_PKI();
  const Bytes der = TestPki::get().bytes("user.der");
  const std::uint8_t header[] = {0x03, 0x43, 0x00, 0x04, 0x40};
  const auto at = std::search(der.begin(), der.end(), std::begin(header), std::end(header));
  ASSERT_NE(at, der.end());
  Bytes expected(at + 5, at + 5 + 64);
  std::reverse(expected.begin(), expected.end());
  Bytes key(64);
  cert("user")->public_key(key.data());
  EXPECT_EQ(expected, key);
}

TEST(X509Cert, AnyChangedByteOfTheSignedPartFailsVerification) {
  REQUIRE_TEST_PKI();
  unsigned char inter_key[64];
  cert("inter")->public_key(inter_key);
  const Bytes original = TestPki::get().bytes("user.der");
  // The subject's common name and a byte of the validity: loading still works,
  // the signature no longer does.
  for (const std::size_t at : {find(original, "Test User"), find(original, "491231235959Z")}) {
    Bytes changed = original;
    changed[at] ^= 0x01;
    const auto user = Crypto::load_cert(changed.data(), unsigned(changed.size()));
    EXPECT_NE(0, user->check_signature(inter_key)) << at;
  }
  // A changed signature byte, too.
  Bytes changed = original;
  changed[changed.size() - 1] ^= 0x80;
  EXPECT_NE(0, Crypto::load_cert(changed.data(), unsigned(changed.size()))->check_signature(inter_key));
}

TEST(X509Cert, OnlyGostCertificatesLoad) {
  REQUIRE_TEST_PKI();
  EXPECT_EQ(Text::kUnknownSigAlg, load_error(TestPki::get().bytes("rsa.der")));
  // A GOST signature over an RSA key: the key algorithm is refused.
  Bytes der = TestPki::get().bytes("user.der");
  const std::uint8_t key_alg[] = {0x2a, 0x85, 0x03, 0x02, 0x02, 0x13};
  auto at = std::search(der.begin(), der.end(), std::begin(key_alg), std::end(key_alg));
  ASSERT_NE(at, der.end());
  at[5] = 0x14;
  EXPECT_EQ(Text::kUnknownKeyAlg, load_error(der));
}

TEST(X509Cert, MalformedInputIsRefusedCleanly) {
  REQUIRE_TEST_PKI();
  const Bytes der = TestPki::get().bytes("user.der");
  for (std::size_t len = 0; len < der.size(); len += 7)
    EXPECT_EQ(Text::kD2iX509, load_error(Bytes(der.begin(), der.begin() + long(len)))) << len;
  EXPECT_EQ(Text::kD2iX509, load_error(TestPki::get().bytes("user.pem")));
  EXPECT_EQ(Text::kD2iX509, load_error(Bytes(300, 0xff)));
  EXPECT_THROW(Crypto::load_cert(nullptr, 10), std::runtime_error);
  // A signature one byte short.
  Bytes short_signature = der;
  short_signature[short_signature.size() - 66] -= 1;  // BIT STRING length 0x41 -> 0x40
  short_signature[3] -= 1;                            // outer SEQUENCE length
  short_signature.pop_back();
  EXPECT_EQ(Text::kSignatureSize, load_error(short_signature));
}

TEST(X509Cert, NamesAsTextAndMaps) {
  REQUIRE_TEST_PKI();
  const auto user = cert("user");
  EXPECT_EQ("/CN=Test Intermediate CA/O=Yrk Test", user->issuer());
  EXPECT_NE(std::string::npos, user->subject().find("/CN=Test User"));
  std::map<unsigned, X509Cert::DirectoryString> subject, issuer;
  user->subject(subject);
  user->issuer(issuer);
  EXPECT_EQ("Test User", text(subject.at(3)));
  EXPECT_EQ(Crypto::DirectoryString::kUtf8, subject.at(3).kind);
  EXPECT_EQ("Second Unit", text(subject.at(11)));  // the later of two OUs
  EXPECT_EQ("user@example.test", text(subject.at(0)));
  EXPECT_EQ(Crypto::DirectoryString::kSingleByte, subject.at(0).kind);  // IA5String
  EXPECT_EQ(4u, subject.size());
  EXPECT_EQ((std::vector<unsigned>{3, 10}), (std::vector<unsigned>{issuer.begin()->first, issuer.rbegin()->first}));
  EXPECT_EQ("Yrk Test", text(issuer.at(10)));
}

TEST(X509Cert, KeyUsage) {
  REQUIRE_TEST_PKI();
  const auto user = cert("user"), root = cert("root"), noku = cert("user_noku");
  for (int u = 0; u <= 8; ++u) {
    const bool user_may = u == X509Cert::digitalSignature || u == X509Cert::keyEncipherment ||
                          u == X509Cert::keyAgreement;
    EXPECT_EQ(user_may ? 0 : 1, user->check_usage(X509Cert::KeyUsage(u))) << u;
    EXPECT_EQ(1, noku->check_usage(X509Cert::KeyUsage(u))) << u;
  }
  EXPECT_EQ(0, root->check_usage(X509Cert::keyCertSign));
  EXPECT_EQ(0, root->check_usage(X509Cert::cRLSign));
  for (const int bad : {-1, 9, 0x80})
    try {
      user->check_usage(X509Cert::KeyUsage(bad));
      ADD_FAILURE() << bad;
    } catch (const std::logic_error &e) {
      EXPECT_STREQ(Text::kKeyUsageValue, e.what());
    }
}

TEST(X509Cert, ValidityWindow) {
  REQUIRE_TEST_PKI();
  const auto user = cert("user");
  const long from = utc(2020, 1, 1, 0, 0, 0), to = utc(2049, 12, 31, 23, 59, 59);
  EXPECT_EQ(1, user->check_validity(from - 1));
  EXPECT_EQ(0, user->check_validity(from));
  EXPECT_EQ(0, user->check_validity(to - 1));
  EXPECT_EQ(1, user->check_validity(to + 1));
  const long now = long(std::time(nullptr));
  EXPECT_EQ(1, cert("expired")->check_validity(now));
  EXPECT_EQ(1, cert("future")->check_validity(now));
  EXPECT_EQ(0, user->check_validity(now));
  EXPECT_EQ("Jan  1 00:00:00 2020 GMT", user->valid_from());
  EXPECT_EQ("Dec 31 23:59:59 2049 GMT", user->valid_to());
  EXPECT_LT(cert("expired")->cmp_issued(user), 0);
  EXPECT_GT(user->cmp_issued(cert("expired")), 0);
  EXPECT_EQ(0, user->cmp_issued(user));
}

TEST(X509Cert, SerialsHashAndDump) {
  REQUIRE_TEST_PKI();
  const auto revoked = cert("revoked"), other = cert("other_user");
  EXPECT_EQ("1005", revoked->serial());
  EXPECT_EQ("1005", other->serial());
  EXPECT_NE(revoked->hash(), other->hash());  // same serial, other issuer
  EXPECT_EQ(revoked->hash(), cert("revoked")->hash());
  const Bytes der = TestPki::get().bytes("revoked.der");
  const shared_membuf dumped = revoked->dump();
  EXPECT_EQ(der, Bytes(dumped.get(), dumped.get() + dumped.size()));
}

TEST(X509Cert, CrlDistributionPoints) {
  REQUIRE_TEST_PKI();
  std::list<std::string> points{"kept"};
  cert("user")->crl_dist_points(points);
  EXPECT_EQ((std::list<std::string>{"kept", "http://crl.example.test/inter.crl", "ldap://ldap.example.test/inter"}),
            points);
  std::list<std::string> none;
  cert("user_noku")->crl_dist_points(none);
  EXPECT_TRUE(none.empty());
}
