#include "cert/text_conv.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TextConv, BmpStringCyrillicToUtf8) {
  std::string out = "old";
  EXPECT_EQ(TextConv::BMPSTRINGtoUTF8(Bytes{0x04, 0x18, 0x04, 0x32}, out), 0);
  EXPECT_EQ(out, "\xd0\x98\xd0\xb2");  // "Ив"
}

TEST(TextConv, BmpStringOddLastByteIsIgnored) {
  std::string out;
  EXPECT_EQ(TextConv::BMPSTRINGtoUTF8(Bytes{0x00, 0x41, 0x00}, out), 0);
  EXPECT_EQ(out, "A");
}

TEST(TextConv, EmbeddedNulEndsTheText) {
  std::string out;
  EXPECT_EQ(TextConv::BMPSTRINGtoUTF8(Bytes{0x00, 0x41, 0x00, 0x00, 0x00, 0x42}, out), 0);
  EXPECT_EQ(out, "A");
}

TEST(TextConv, UnicodeIsHostOrder) {
  std::string out;
  EXPECT_EQ(TextConv::UNICODEtoUTF8(Bytes{0x18, 0x04}, out), 0);
  EXPECT_EQ(out, "\xd0\x98");
}

TEST(TextConv, UnknownEncodingLeavesAnEmptyText) {
  std::string out = "old";
  EXPECT_EQ(TextConv::XtoUTF8("NO-SUCH-ENCODING", Bytes{0x41}, out), -1);
  EXPECT_EQ(out, "");
}

TEST(TextConv, InvalidInputKeepsWhatWasConverted) {
  std::string out;
  EXPECT_EQ(TextConv::XtoUTF8("UTF-8", Bytes{'a', 'b', 0xff, 'c'}, out), 0);
  EXPECT_EQ(out, "ab");
}

}  // namespace
