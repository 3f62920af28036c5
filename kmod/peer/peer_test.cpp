#include "kmod/peer/peer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "kmod/testing/random.h"

using kmod_testing::random_bytes;

namespace {

crypt_setup keys_with(const kmod_peer::SBox &sbox) {
  crypt_setup cs;
  auto b = random_bytes(sizeof(cs));
  std::memcpy(&cs, b.data(), sizeof(cs));
  std::memcpy(cs.sbox, sbox.data(), sizeof(cs.sbox));
  return cs;
}

}  // namespace

TEST(TestPeer, KnowsOnlyLibgcryptsSBoxes) {
  EXPECT_STREQ(kmod_peer::sbox_oid(kmod_peer::kSBoxCryptoProA), "1.2.643.2.2.31.1");
  EXPECT_STREQ(kmod_peer::sbox_oid(kmod_peer::kSBoxTest), "1.2.643.2.2.30.0");
  kmod_peer::SBox other = kmod_peer::kSBoxTest;
  other[0] ^= 1;
  EXPECT_THROW(kmod_peer::Peer{keys_with(other)}, std::invalid_argument);
}

TEST(TestPeer, DirectionsUseTheirOwnIv) {
  crypt_setup cs = keys_with(kmod_peer::kSBoxTest);
  kmod_peer::Peer peer(cs);
  EXPECT_NE(peer.frame_key(true, 1), peer.frame_key(false, 1));
  std::memcpy(cs.send_iv, cs.recv_iv, 8);
  kmod_peer::Peer same_iv(cs);
  EXPECT_EQ(same_iv.frame_key(true, 1), same_iv.frame_key(false, 1));
  EXPECT_NE(same_iv.frame_key(true, 1), same_iv.frame_key(true, 2));
}

TEST(TestPeer, ProtectedDatagramLayout) {
  kmod_peer::Peer peer(keys_with(kmod_peer::kSBoxCryptoProA));
  kmod_peer::Bytes frame = {0xFF, 0x03, 0x00, 0x21, 1, 2};
  auto first = peer.protect(frame), second = peer.protect(frame);
  ASSERT_EQ(first.size(), 1 + frame.size() + 16);
  EXPECT_EQ(first[0], 1);
  EXPECT_EQ(first[frame.size() + 8], 1);  // counter 1, most significant byte first
  EXPECT_EQ(second[frame.size() + 8], 2);
  EXPECT_EQ(peer.protect_at(frame, 2), second);
  EXPECT_EQ(kmod_peer::Peer::plain(frame)[0], 0);
  EXPECT_EQ(peer.open({}).error, kmod_peer::OpenError::empty);
}
