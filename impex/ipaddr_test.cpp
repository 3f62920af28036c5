#include "impex/ipaddr.h"

#include <gtest/gtest.h>

namespace {
uint32_t Parsed(const char *text) {
  uint32_t address = 0xDEADBEEF;
  EXPECT_EQ(string2ipaddr(text, address, nullptr), 0) << text;
  return address;
}

bool Fails(const char *text) {
  uint32_t address = 0xDEADBEEF;
  uint16_t port = 7;
  const bool failed = string2ipaddr(text, address, &port) == -1;
  EXPECT_EQ(address, 0xDEADBEEF) << "failure must not touch the output: " << text;
  return failed;
}
}  // namespace

TEST(StringToIpAddr, DottedTextFirstOctetMostSignificant) {
  EXPECT_EQ(Parsed("192.168.1.1"), 0xC0A80101u);
  EXPECT_EQ(Parsed("  10 . 0 .0. 1 "), 0x0A000001u);
  EXPECT_EQ(Parsed("10.0"), 0x0A000000u);
  EXPECT_EQ(Parsed(""), 0u);
}

TEST(StringToIpAddr, Failures) {
  EXPECT_TRUE(Fails("10.0.0.256"));
  EXPECT_TRUE(Fails("10.0.0.1.5"));
  EXPECT_TRUE(Fails("a10.0.0.1"));
  EXPECT_TRUE(Fails("10.0x.0.1"));
  EXPECT_TRUE(Fails("*.*.*.*"));
  EXPECT_TRUE(Fails("1.2.3.4:65536"));
  EXPECT_TRUE(Fails("1.2.3.4:-1"));
  EXPECT_TRUE(Fails("1.2.3.4:99999999999999999999"));
}

TEST(StringToIpAddr, PortAfterThirdDot) {
  uint32_t address = 0;
  uint16_t port = 0;
  ASSERT_EQ(string2ipaddr("1.2.3.4:4433", address, &port), 0);
  EXPECT_EQ(address, 0x01020304u);
  EXPECT_EQ(port, 4433);
  // Without a port pointer the colon and what follows are skipped as well.
  EXPECT_EQ(Parsed("1.2.3.4:"), 0x01020304u);
  EXPECT_EQ(Parsed("1.2.3.4 host"), 0x01020304u);
}
