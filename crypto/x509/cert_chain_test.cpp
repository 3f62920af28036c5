#include "crypto/x509/cert_chain.h"

#include <gtest/gtest.h>

#include "crypto/x509/test_pki.h"

using CryptoTesting::pki_cert;

TEST(CertChain, WalksFromTheFirstCertificateToItsRoot) {
  REQUIRE_TEST_PKI();
  const auto user = pki_cert("user"), inter = pki_cert("inter"), root = pki_cert("root"),
             other = pki_cert("other");
  for (const Crypto::CertList &list : {Crypto::CertList{user, inter, root}, Crypto::CertList{user, root, inter},
                                       Crypto::CertList{user, other, root, user, inter}}) {
    EXPECT_EQ(root, Crypto::check_chain(list));
    EXPECT_EQ((Crypto::CertList{user, inter, root}), Crypto::strip_chain(list));
  }
  EXPECT_EQ(root, Crypto::check_chain({root}));
  EXPECT_EQ((Crypto::CertList{root}), Crypto::strip_chain({root, user}));
}

TEST(CertChain, FailsWithoutARoot) {
  REQUIRE_TEST_PKI();
  const auto user = pki_cert("user"), inter = pki_cert("inter");
  EXPECT_EQ(nullptr, Crypto::check_chain({}));
  EXPECT_TRUE(Crypto::strip_chain({}).empty());
  EXPECT_EQ(nullptr, Crypto::check_chain({user, inter}));
  EXPECT_TRUE(Crypto::strip_chain({user, inter}).empty());
  EXPECT_EQ(nullptr, Crypto::check_chain({user, pki_cert("other")}));
  EXPECT_EQ(nullptr, Crypto::check_chain({nullptr, user}));
}

TEST(CertChain, IssuerCycleEnds) {
  REQUIRE_TEST_PKI();
  const auto a = pki_cert("cross_a"), b = pki_cert("cross_b");
  EXPECT_EQ(0, a->check_signature(b));
  EXPECT_EQ(0, b->check_signature(a));
  EXPECT_EQ(nullptr, Crypto::check_chain({a, b}));
  EXPECT_TRUE(Crypto::strip_chain({b, a, b}).empty());
}
