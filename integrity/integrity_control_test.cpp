#include "integrity/integrity_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "crypto/gost3411/hash.h"
#include "crypto/gost28147/sbox.h"
#include "integrity/integrity_testing.h"

using namespace integrity_test;

namespace {

shared_membuf Buffer(const std::string &text) {
  shared_membuf b(static_cast<unsigned>(text.size()));
  if (!text.empty()) std::memcpy(b.get(), text.data(), text.size());
  return b;
}

Bytes Digest(const std::string &text) {
  IntegrityControl control;
  shared_membuf data = Buffer(text);
  EXPECT_EQ(0, control.Compute(data));
  return ToBytes(control.Result());
}

}  // namespace

TEST(IntegrityControl, CryptoProParameterSetDigests) {
  EXPECT_EQ(Hex(Digest("")), "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0");
  EXPECT_EQ(Hex(Digest("a")), "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011");
}

// Result's words in host order are the context's digest bytes unchanged:
// the same 32-byte string as the library's result() and libgcrypt's
// GCRY_MD_GOSTR3411_CP, first byte first.
TEST(IntegrityControl, ResultIsTheDigestByteString) {
  for (std::size_t len : {0u, 1u, 31u, 32u, 33u, 64u, 1000u, 65537u}) {
    SCOPED_TRACE(len);
    const std::string text = RandomText(len, static_cast<unsigned>(len));
    auto context = Crypto::create_hash_context(CryptoGostImpl::sbox_verba);
    context->hash(text.data(), static_cast<unsigned>(text.size()));
    const Bytes library(context->result(), context->result() + 32);
    const Bytes ours = Digest(text);
    EXPECT_EQ(ours, library);
    EXPECT_EQ(ours, GcryptDigest(text));
  }
}

TEST(IntegrityControl, PiecesOfAnySizeGiveOneDigest) {
  const std::string text = RandomText(5000, 7);
  IntegrityControl control;
  std::size_t at = 0;
  for (std::size_t piece : {0u, 1u, 31u, 32u, 33u, 100u, 4000u}) {
    shared_membuf b = Buffer(text.substr(at, piece));
    EXPECT_EQ(0, control.Compute(b));
    at += piece;
  }
  EXPECT_EQ(0, control.Compute(text.data() + at, text.size() - at));
  EXPECT_EQ(ToBytes(control.Result()), GcryptDigest(text));
}

TEST(IntegrityControl, NothingIsFedAfterTheResult) {
  IntegrityControl control;
  control.Compute("abc", 3);
  const Bytes first = ToBytes(control.Result());
  EXPECT_THROW(control.Compute("d", 1), std::logic_error);
  EXPECT_EQ(ToBytes(control.Result()), first);
  EXPECT_EQ(first, GcryptDigest("abc"));
}
