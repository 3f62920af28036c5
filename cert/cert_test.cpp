#include "cert/cert.h"

#include <gtest/gtest.h>

#include <string>

namespace {

SecContainer Bytes(const std::string &text) {
  SecContainer bytes;
  bytes.Init(text.data(), static_cast<int>(text.size()));
  return bytes;
}

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

}  // namespace
