#include "crypto/random/random.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "crypto/gost28147/cipher.h"
#include "crypto/gost28147/gost_key.h"
#include "crypto/random/random_checks.h"
#include "crypto/random/tavik_rng.h"
#include "crypto/testing.h"

using namespace CryptoTesting;
using Crypto::Random::RawSource;
using Crypto::Random::RNG;

namespace {

// A file standing in for the system source: every read starts at its
// beginning, so generators on the same file produce the same stream.
std::string source_file(const std::string &name, std::size_t size) {
  const std::string path = testing::TempDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0; i < size; ++i) out.put(char(i * 37 + 11));
  return path;
}

RawSource file_only(const std::string &path) { return RawSource{nullptr, path}; }

Bytes get(RNG &rng, unsigned n) {
  Bytes out(n);
  rng.Get(out.data(), n);
  return out;
}

std::string error_of(const std::function<void()> &f) {
  try {
    f();
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

// A SecContainer-like buffer for the templated entry points.
struct Buffer {
  Bytes bytes;
  int Size() { return int(bytes.size()); }
  operator unsigned char *() { return bytes.data(); }
};

}  // namespace

TEST(RandomChecks, ExampleData) {
  const Bytes zeros(4096);
  EXPECT_FALSE(CryptoGostImpl::ones_test(zeros.data()));

  Bytes alternating(4096);
  for (std::size_t i = 0; i < alternating.size(); ++i) alternating[i] = i % 2 ? 0xAA : 0x55;
  EXPECT_TRUE(CryptoGostImpl::ones_test(alternating.data()));
  EXPECT_FALSE(CryptoGostImpl::frequency_test(alternating.data()));
  Buffer buffer{alternating};
  EXPECT_EQ(0, Crypto::Random::CheckSec(buffer));

  // Uniform counts but bit 0 alternating: 2048 runs of zeros end there.
  Bytes runs(4096);
  for (std::size_t i = 0; i < runs.size(); ++i) runs[i] = std::uint8_t(i);
  EXPECT_TRUE(CryptoGostImpl::ones_test(runs.data()));
  EXPECT_TRUE(CryptoGostImpl::frequency_test(runs.data()));
  EXPECT_FALSE(CryptoGostImpl::runs_test(runs.data()));

  Buffer good{random_bytes(4096)};
  EXPECT_EQ(1, Crypto::Random::CheckSec(good));
  Buffer short_data{random_bytes(4095)};
  EXPECT_EQ(0, Crypto::Random::CheckSec(short_data));
}

TEST(RandomChecks, TheGeneratorPasses) {
  EXPECT_EQ(1, Crypto::Random::Check());
  EXPECT_EQ(0, Crypto::check_random_generator());  // 0 is success here
}

TEST(Rng, ChunksAndReKeys) {
  RNG rng(file_only(source_file("chunks", 512)));
  EXPECT_EQ(rng.Available(), 128);
  EXPECT_EQ(rng.Rekeys(), 1u);

  get(rng, 0);
  EXPECT_EQ(rng.Available(), 128);
  EXPECT_EQ(rng.Rekeys(), 1u);

  get(rng, 128);  // 128 >= available: re-key first
  EXPECT_EQ(rng.Rekeys(), 2u);
  EXPECT_EQ(rng.Available(), 0);

  get(rng, 300);  // 128, 128 and 44, each after a re-key
  EXPECT_EQ(rng.Rekeys(), 5u);
  EXPECT_EQ(rng.Available(), 128 - 44);
}

TEST(Rng, FillTakesWholeWords) {
  const std::string path = source_file("words", 512);
  RNG filled(file_only(path)), twin(file_only(path));
  Bytes six(6);
  filled.Fill(six.data(), 6);
  EXPECT_EQ(filled.Available(), 120);
  const Bytes eight = get(twin, 8);
  EXPECT_EQ(six, Bytes({eight[0], eight[1], eight[2], eight[3], eight[4], eight[5]}));

  // Pieces continue the pool in order; a seed changes what follows.
  EXPECT_EQ(get(filled, 8), get(twin, 8));
  const unsigned char seed[] = "seed";
  filled.Init(seed, 4);
  EXPECT_NE(get(filled, 16), get(twin, 16));
}

TEST(Rng, BoardThatRefusesOrReadsShortFallsBack) {
  const std::string path = source_file("fallback", 512);
  RNG plain(file_only(path));
  RNG refusing(RawSource{[](unsigned char *, unsigned) { return CryptoGostImpl::TavikRNG::kUnusable; }, path});
  RNG short_reads(RawSource{[](unsigned char *buf, unsigned len) {
                              std::memset(buf, 0xAB, len / 2);
                              return int(len / 2);
                            },
                            path});
  const Bytes expected = get(plain, 64);
  EXPECT_EQ(get(refusing, 64), expected);
  EXPECT_EQ(get(short_reads, 64), expected);

  // A board that delivers in full is used alone.
  RNG board_only(RawSource{[](unsigned char *buf, unsigned len) {
                             for (unsigned i = 0; i < len; ++i) buf[i] = std::uint8_t(i ^ 0x5C);
                             return int(len);
                           },
                           testing::TempDir() + "/no-such-source"});
  EXPECT_NE(get(board_only, 64), expected);
}

TEST(Rng, BoardDeviceThatIsNotTheBoardIsUnusable) {
  unsigned char buf[16];
  EXPECT_EQ(CryptoGostImpl::TavikRNG(testing::TempDir() + "/no-board").Read(buf, 16),
            CryptoGostImpl::TavikRNG::kUnusable);
  // A plain file rejects the board's ioctl.
  EXPECT_EQ(CryptoGostImpl::TavikRNG(source_file("not-a-board", 64)).Read(buf, 16),
            CryptoGostImpl::TavikRNG::kUnusable);
  // The system's own source: the board is absent here, the generator runs.
  RNG system(Crypto::Random::system_source());
  EXPECT_EQ(system.Available(), 128);
}

TEST(Rng, SystemSourceErrors) {
  EXPECT_EQ(error_of([] { RNG rng(file_only(testing::TempDir() + "/missing")); }),
            "can't open random source file");
  // Too short to deliver the pool: a clear error, never a partly filled key.
  EXPECT_EQ(error_of([] { RNG rng(file_only(source_file("short", 100))); }), "can't read random source file");
  unsigned char buf[300];
  EXPECT_EQ(error_of([&] { CryptoGostImpl::read_random_file(source_file("short", 100), buf, 300); }),
            "can't read random source file");
  EXPECT_EQ(error_of([&] { CryptoGostImpl::read_random_file("/dev/urandom", buf, 300); }), "");
}

TEST(Rng, GlobalGeneratorArmsReMaskingWithoutRecursion) {
  EXPECT_EQ(CryptoGostImpl::prng_ready.load(), 1);
  auto &rng = Crypto::Random::rng;
  Crypto::Random::Init();
  Bytes drain(RNG::kServable - 1);
  rng.Get(drain.data(), unsigned(drain.size()));
  ASSERT_EQ(rng.Available(), 1);
  const unsigned long before = rng.Rekeys();
  // A new thread's mask stream takes its key (32 bytes) and counter from the
  // generator on its first key: exactly one re-key, whose own key is not
  // re-masked from the generator. Later keys on that thread draw nothing.
  std::thread([&] {
    auto key = Crypto::load_key(random_bytes(32).data(), nullptr);
    EXPECT_EQ(rng.Rekeys(), before + 1);
    const int left = rng.Available();
    for (int i = 0; i < 100; ++i) Crypto::load_key(random_bytes(32).data(), nullptr);
    EXPECT_EQ(rng.Available(), left);
  }).join();

  const std::uint32_t a = CryptoGostImpl::GOST_random(), b = CryptoGostImpl::GOST_random();
  EXPECT_NE(a, b);
  Buffer seed{random_bytes(40)};
  Crypto::Random::Init(seed);
  EXPECT_EQ(rng.Available(), 128);
}

TEST(Rng, NoMaskSourceWhileTheGeneratorReKeysItself) {
  ASSERT_NE(CryptoGostImpl::default_masks(), nullptr);
  {
    const CryptoGostImpl::RemaskPause pause;
    EXPECT_EQ(CryptoGostImpl::default_masks(), nullptr);
    // A key made now stays as given.
    auto key = Crypto::load_key(random_bytes(32).data(), nullptr);
    Bytes masked(32), mask(32);
    key->dump_masked(masked.data(), mask.data());
    EXPECT_EQ(mask, Bytes(32));
  }
  EXPECT_NE(CryptoGostImpl::default_masks(), nullptr);
}
