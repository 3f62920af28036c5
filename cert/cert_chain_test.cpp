#include "cert/cert_chain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "cert/cert_testing.h"

namespace {

using CertTesting::PkiCert;
using CertTesting::PkiFile;

class CertChainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CryptoTesting::TestPki::get().ready()) GTEST_SKIP() << CryptoTesting::TestPki::get().reason();
    CertTesting::MakeFullUsageCert();
  }
  CertChain Chain(const SecContainer &bytes, CertStorage::CertType type = CertStorage::CERT_USER) {
    return CertChain(stores.Stores(), bytes, type);
  }
  int VerifySingle(const std::string &name, bool check_usage = true) {
    return Chain(SecContainer()).VerifySingle(PkiCert(name), check_usage);
  }
  void TrustRootAndInter() {
    stores.AddCa("root");
    stores.AddCa("inter");
  }

  CertTesting::ScratchStores stores;
};

TEST_F(CertChainTest, ValidChainVerifies) {
  TrustRootAndInter();
  EXPECT_EQ(VerifySingle("full_usage"), 0);
  EXPECT_EQ(VerifySingle("inter", false), 0);
  EXPECT_EQ(VerifySingle("root", false), 0);  // self-signed and in the store
}

TEST_F(CertChainTest, MissingCaIsAnIntegrityFailure) {
  stores.AddCa("root");
  EXPECT_EQ(VerifySingle("full_usage"), ResultCode::kVerifyIntegrity);
  stores.AddCa("other");
  EXPECT_EQ(VerifySingle("full_usage"), ResultCode::kVerifyIntegrity);
}

TEST_F(CertChainTest, OutOfValidityIsRejectedEvenWithoutCas) {
  EXPECT_EQ(VerifySingle("expired", false), ResultCode::kVerifyOutOfValidity);
  EXPECT_EQ(VerifySingle("future", false), ResultCode::kVerifyOutOfValidity);
  TrustRootAndInter();
  EXPECT_EQ(VerifySingle("expired", false), ResultCode::kVerifyOutOfValidity);
}

TEST_F(CertChainTest, RevokedByACurrentListOfItsIssuer) {
  TrustRootAndInter();
  EXPECT_EQ(VerifySingle("revoked", false), 0);
  stores.AddCrl("inter");
  EXPECT_EQ(VerifySingle("revoked", false), ResultCode::kVerifyRevoked);
  EXPECT_EQ(VerifySingle("full_usage"), 0);
}

TEST_F(CertChainTest, ListsOfAnotherCaOrStaleListsDoNotRevoke) {
  TrustRootAndInter();
  stores.AddCrl("other");
  stores.AddCrl("inter_stale");
  EXPECT_EQ(VerifySingle("revoked", false), 0);
}

TEST_F(CertChainTest, KeyUsage) {
  TrustRootAndInter();
  EXPECT_EQ(VerifySingle("user_noku"), ResultCode::kVerifyKeyUsage);
  EXPECT_EQ(VerifySingle("user"), ResultCode::kVerifyKeyUsage);  // no nonRepudiation
  EXPECT_EQ(VerifySingle("user_noku", false), 0);
  EXPECT_EQ(VerifySingle("user", false), 0);
}

TEST_F(CertChainTest, CaStoreThatCannotBeOpened) {
  const CertChain chain(CertStores([](CertStorage::CertType) -> CertStorage * { return nullptr; }), SecContainer(),
                        CertStorage::CERT_USER);
  EXPECT_EQ(chain.VerifySingle(PkiCert("full_usage"), true), ResultCode::kCertStoreFailed);
}

TEST_F(CertChainTest, CasSigningEachOtherAreACycle) {
  stores.AddCa("cross_a");
  stores.AddCa("cross_b");
  EXPECT_EQ(VerifySingle("cross_a", false), ResultCode::kVerifyIntegrity);
  EXPECT_EQ(VerifySingle("cross_b", false), ResultCode::kVerifyIntegrity);
}

TEST_F(CertChainTest, RsaAndGarbageAreRefused) {
  stores.Add(CertStorage::CERT_CA, PkiCert("rsa"));
  TrustRootAndInter();
  EXPECT_EQ(VerifySingle("rsa", false), ResultCode::kVerifyIntegrity);
  EXPECT_EQ(Chain(SecContainer()).VerifySingle(Cert(CertTesting::BytesOf({1, 2, 3})), false),
            ResultCode::kVerifyIntegrity);
  EXPECT_EQ(Chain(PkiFile("rsa.der")).Members().size(), 0u);
  EXPECT_EQ(Chain(PkiFile("rsa.pem")).Members().size(), 0u);
  EXPECT_EQ(Chain(PkiFile("rsa_chain.p7b")).Members().size(), 0u);
  EXPECT_EQ(Chain(PkiFile("rsa.der")).Verify(), ResultCode::kNotFound);
  EXPECT_EQ(VerifySingle("full_usage"), 0);  // the foreign CA entry is skipped
}

TEST_F(CertChainTest, LoadsPkcs7DerAndPem) {
  EXPECT_EQ(Chain(PkiFile("chain.p7b")).Members().size(), 3u);
  EXPECT_EQ(Chain(PkiFile("user.der")).Members().size(), 1u);
  const CertChain pem = Chain(PkiFile("user.pem"));
  ASSERT_EQ(pem.Members().size(), 1u);
  EXPECT_TRUE(pem.Members().front() == PkiCert("user"));
  EXPECT_EQ(Chain(PkiFile("openssl.cnf")).Members().size(), 0u);
  EXPECT_EQ(Chain(PkiFile("inter.crl.der")).Members().size(), 0u);
}

TEST_F(CertChainTest, LoadsCrlDerAndPem) {
  EXPECT_EQ(Chain(PkiFile("inter.crl.der"), CertStorage::CERT_CRL).Members().size(), 1u);
  const CertChain pem = Chain(PkiFile("inter.crl.pem"), CertStorage::CERT_CRL);
  ASSERT_EQ(pem.Members().size(), 1u);
  EXPECT_TRUE(pem.Members().front() == Cert(PkiFile("inter.crl.der")));
  EXPECT_EQ(Chain(PkiFile("user.der"), CertStorage::CERT_CRL).Members().size(), 0u);
  EXPECT_EQ(pem.Store(), 0);
  EXPECT_EQ(stores.Numbers(CertStorage::CERT_CRL).size(), 1u);
}

TEST_F(CertChainTest, FilesThatAreNoCertificateFilesLoadNothing) {
  const std::string pki = CryptoTesting::TestPki::get().path("");
  EXPECT_EQ(CertChain(stores.Stores(), pki + "user.pem", CertStorage::CERT_USER).Members().size(), 1u);
  EXPECT_EQ(CertChain(stores.Stores(), pki + "missing", CertStorage::CERT_USER).Members().size(), 0u);
  EXPECT_EQ(CertChain(stores.Stores(), pki, CertStorage::CERT_USER).Members().size(), 0u);
  const std::string fifo = pki + "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(CertChain(stores.Stores(), fifo, CertStorage::CERT_USER).Members().size(), 0u);
  unlink(fifo.c_str());
}

TEST_F(CertChainTest, ChildAndCaLikeMembers) {
  const CertChain chain = Chain(PkiFile("chain.p7b"));
  Cert child;
  ASSERT_EQ(chain.GetChild(child), 0);
  EXPECT_TRUE(child == PkiCert("user"));
  EXPECT_TRUE(chain.CALike(PkiCert("inter")));
  EXPECT_TRUE(chain.CALike(PkiCert("root")));
  EXPECT_FALSE(chain.CALike(PkiCert("user")));
  EXPECT_EQ(Chain(SecContainer()).GetChild(child), -1);
}

TEST_F(CertChainTest, VerifyWalksUpInsideTheChain) {
  TrustRootAndInter();
  const CertChain user = Chain(PkiFile("full_usage.der"));
  EXPECT_EQ(user.Verify(), 0);
  EXPECT_EQ(Chain(SecContainer()).Verify(), ResultCode::kNotFound);
  EXPECT_EQ(Chain(PkiFile("user_noku.der")).Verify(), ResultCode::kVerifyKeyUsage);
  EXPECT_EQ(Chain(PkiFile("expired.der")).Verify(), ResultCode::kVerifyKeyUsage);  // usage is tested first
}

TEST_F(CertChainTest, StoringAUserChainTwiceAddsNothing) {
  const CertChain chain = Chain(PkiFile("chain.p7b"));
  const int first = chain.Store();
  ASSERT_GE(first, 0);
  EXPECT_EQ(chain.Store(), first);
  EXPECT_EQ(stores.Numbers(CertStorage::CERT_USER).size(), 1u);
  EXPECT_EQ(stores.Numbers(CertStorage::CERT_CA).size(), 2u);
  Cert stored;
  ASSERT_EQ(stores.Stores().Open(CertStorage::CERT_USER)->Get(stored, first), 0);
  EXPECT_TRUE(stored == PkiCert("user"));
}

TEST_F(CertChainTest, StoringACaChainReturnsItsLastMember) {
  stores.AddCa("other");
  const CertChain chain = Chain(PkiFile("inter.der"), CertStorage::CERT_CA);
  EXPECT_EQ(chain.Store(), 1);
  EXPECT_EQ(Chain(PkiFile("other.der"), CertStorage::CERT_CA).Store(), 0);
  EXPECT_EQ(Chain(SecContainer()).Store(), ResultCode::kUnknownError);
}

}  // namespace
