#include "crypto/gost3411/hash.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

#include "crypto/gost3411/gost_hash.h"
#include "crypto/gost28147/sbox.h"
#include "crypto/reference_gost.h"
#include "crypto/testing.h"

using namespace CryptoTesting;

namespace {

// Installs a process-wide S-box for one test and puts the default back.
struct ProcessSBox {
  explicit ProcessSBox(const Bytes &sbox) { Crypto::GOST_set_sbox(sbox.data()); }
  ~ProcessSBox() { Crypto::GOST_set_sbox(CryptoGostImpl::sbox_verba); }
};

std::string message_of(const Record &r) {
  std::string text = r.has("In") ? [&] { auto b = from_hex(r.at("In")); return std::string(b.begin(), b.end()); }()
                                 : r.at("Text");
  const int repeat = r.has("Repeat") ? std::stoi(r.at("Repeat")) : 1;
  std::string message;
  for (int i = 0; i < repeat; ++i) message += text;
  return message;
}

std::string digest(Crypto::Hash_Context &h) { return to_hex(h.result(), 32); }

Bytes gcrypt_digest(int algo, const Bytes &data) {
  init_gcrypt();
  Bytes out(32);
  gcry_md_hash_buffer(algo, out.data(), data.data(), data.size());
  return out;
}

}  // namespace

TEST(Hash, PublishedDigests) {
  for (const auto &r : load_vectors("gost3411.vec")) {
    const std::string message = message_of(r);
    SCOPED_TRACE(r.section + ": " + message.substr(0, 60));
    std::shared_ptr<Crypto::Hash_Context> h;
    if (r.section == "compat-cryptopro-hash") {
      ProcessSBox process(sbox("cryptopro-hash"));
      h = Crypto::create_compat_hash_context();
      h->hash(message.data(), unsigned(message.size()));
      EXPECT_EQ(digest(*h), r.at("Out"));
      continue;
    }
    const Bytes s = sbox(r.section);
    h = Crypto::create_hash_context(s.data());
    h->hash(message.data(), unsigned(message.size()));
    EXPECT_EQ(digest(*h), r.at("Out"));

    // The same digest through the process-wide S-box.
    ProcessSBox process(s);
    auto shared = Crypto::create_hash_context();
    shared->hash(message.data(), unsigned(message.size()));
    EXPECT_EQ(digest(*shared), r.at("Out"));
  }
}

TEST(Hash, BuiltInTablesAreTheCryptoProParameterSet) {
  EXPECT_EQ(Bytes(CryptoGostImpl::sbox_rfc, CryptoGostImpl::sbox_rfc + 64), sbox("cryptopro-hash"));
  EXPECT_EQ(0, std::memcmp(CryptoGostImpl::sbox_rfc, CryptoGostImpl::sbox_verba, 64));
}

TEST(Hash, AgreesWithLibgcryptOnRandomMessagesInRandomPieces) {
  const struct {
    const char *sbox;
    int algo;
  } sets[] = {{"test", GCRY_MD_GOSTR3411_94}, {"cryptopro-hash", GCRY_MD_GOSTR3411_CP}};
  for (const auto &set : sets) {
    const Bytes s = sbox(set.sbox);
    for (std::size_t len : edge_lengths()) {
      SCOPED_TRACE(std::string(set.sbox) + " length " + std::to_string(len));
      const Bytes data = random_bytes(len);
      auto h = Crypto::create_hash_context(s.data());
      std::size_t at = 0;
      for (std::size_t piece : random_pieces(len)) {
        h->hash(data.data() + at, unsigned(piece));
        at += piece;
      }
      EXPECT_EQ(digest(*h), to_hex(gcrypt_digest(set.algo, data)));
    }
  }
}

TEST(Hash, ResultIsFinal) {
  auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  h->hash("a", 1);
  const unsigned char *first = h->result();
  const std::string value = to_hex(first, 32);
  EXPECT_EQ(first, h->result());
  EXPECT_EQ(to_hex(h->result(), 32), value);
  try {
    h->hash("b", 1);
    FAIL() << "hash after result accepted";
  } catch (const std::logic_error &e) {
    EXPECT_STREQ(e.what(), "Attempt to hash more data after retrieving result");
  }
  EXPECT_EQ(to_hex(h->result(), 32), value);
}

TEST(Hash, OwnSBoxIgnoresTheProcessWideOne) {
  auto before = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  before->hash("abc", 3);
  ProcessSBox process(sbox("test"));
  auto during = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  during->hash("abc", 3);
  EXPECT_EQ(digest(*before), digest(*during));
}

TEST(Hash, LengthBlockHoldsTheFullBitLength) {
  CryptoGostImpl::Words256 block;
  const auto hex = [&] {
    std::uint8_t bytes[32];
    for (int i = 0; i < 32; ++i) bytes[31 - i] = std::uint8_t(block[i / 8] >> (8 * (i % 8)));
    return to_hex(bytes, 32);  // most significant first
  };
  CryptoGostImpl::length_block(50, block);
  EXPECT_EQ(hex(), std::string(60, '0') + "0190");
  // 2^29 bytes = 2^32 bits: the count no longer fits 32 bits.
  CryptoGostImpl::length_block(std::uint64_t(1) << 29, block);
  EXPECT_EQ(hex(), std::string(54, '0') + "0100000000");
  CryptoGostImpl::length_block(~std::uint64_t(0), block);
  EXPECT_EQ(hex(), std::string(46, '0') + "07fffffffffffffff8");
}

// Half a gigabyte and more: run with YRK_LONG_TESTS=1.
TEST(Hash, MessagesOf512MiBAndMoreAgreeWithLibgcrypt) {
  if (!std::getenv("YRK_LONG_TESTS")) GTEST_SKIP() << "set YRK_LONG_TESTS=1";
  const std::size_t len = (std::size_t(1) << 29) + 5;
  Bytes data(len);
  for (std::size_t i = 0; i < len; ++i) data[i] = std::uint8_t(i * 131 + (i >> 12));
  auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  h->hash(data.data(), unsigned(len));
  EXPECT_EQ(digest(*h), to_hex(gcrypt_digest(GCRY_MD_GOSTR3411_CP, data)));
}

// A call of 2^32 - 1 bytes after a buffered byte: buffered and new lengths
// together do not fit 32 bits. Run with YRK_LONG_TESTS=1.
TEST(Hash, CallOfNearly4GiBAfterABufferedByte) {
  if (!std::getenv("YRK_LONG_TESTS")) GTEST_SKIP() << "set YRK_LONG_TESTS=1";
  if (sizeof(std::size_t) < 8) GTEST_SKIP() << "needs a 64-bit address space";
  const std::size_t len = 0xFFFFFFFFu;
  // Untouched anonymous pages read as zeros and cost no memory.
  void *map = mmap(nullptr, len + 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto *bytes = static_cast<unsigned char *>(map);
  bytes[0] = 0x61;
  auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
  h->hash(bytes, 1);
  h->hash(bytes + 1, unsigned(len));
  init_gcrypt();
  Bytes expected(32);
  gcry_md_hash_buffer(GCRY_MD_GOSTR3411_CP, expected.data(), bytes, len + 1);
  EXPECT_EQ(digest(*h), to_hex(expected));
  munmap(map, len + 1);
}

TEST(Hash, ReferenceAgreesWithLibgcrypt) {
  const struct {
    const char *sbox;
    int algo;
  } sets[] = {{"test", GCRY_MD_GOSTR3411_94}, {"cryptopro-hash", GCRY_MD_GOSTR3411_CP}};
  for (const auto &set : sets)
    for (std::size_t len : {0, 1, 31, 32, 33, 64, 100}) {
      SCOPED_TRACE(std::string(set.sbox) + " length " + std::to_string(len));
      const Bytes data = random_bytes(len);
      EXPECT_EQ(CryptoReference::hash(sbox(set.sbox).data(), data), gcrypt_digest(set.algo, data));
    }
}

TEST(Hash, EveryLengthTo200AgreesWithLibgcrypt) {
  const Bytes data = random_bytes(200);
  for (std::size_t len = 0; len <= 200; ++len) {
    SCOPED_TRACE("length " + std::to_string(len));
    const Bytes message(data.begin(), data.begin() + std::ptrdiff_t(len));
    auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
    std::size_t at = 0;
    for (std::size_t piece : random_pieces(len)) {
      h->hash(message.data() + at, unsigned(piece));
      at += piece;
    }
    ASSERT_EQ(digest(*h), to_hex(gcrypt_digest(GCRY_MD_GOSTR3411_CP, message)));
  }
}

TEST(Hash, RandomSBoxesAgreeWithTheReference) {
  for (int round = 0; round < 8; ++round) {
    const Bytes box = random_bytes(64);
    for (std::size_t len : {0, 5, 32, 33, 96, 1000}) {
      SCOPED_TRACE("round " + std::to_string(round) + " length " + std::to_string(len));
      const Bytes data = random_bytes(len);
      const std::string expected = to_hex(CryptoReference::hash(box.data(), data));
      auto own = Crypto::create_hash_context(box.data());
      own->hash(data.data(), unsigned(len));
      EXPECT_EQ(digest(*own), expected);
      ProcessSBox process(box);
      auto shared = Crypto::create_hash_context();
      shared->hash(data.data(), unsigned(len));
      EXPECT_EQ(digest(*shared), expected);
    }
  }
}

TEST(Hash, MaximalWordsCarryThroughTheSum) {
  // All-ones blocks make every addition in the control sum carry.
  for (std::size_t len : {32, 64, 96, 95}) {
    const Bytes data(len, 0xFF);
    auto h = Crypto::create_hash_context(CryptoGostImpl::sbox_rfc);
    h->hash(data.data(), unsigned(len));
    EXPECT_EQ(digest(*h), to_hex(gcrypt_digest(GCRY_MD_GOSTR3411_CP, data)));
  }
}
