#include "cert/cert_metadata.h"

#include <gtest/gtest.h>

#include <string>

#include "cert/cert_testing.h"

namespace {

using CertTesting::Bytes;
using CertTesting::Text;

const std::string kTwoRecords("\x01\0\0\0\x03\0\0\0abc\x02\0\0\0\0\0\0\0", 19);

CertMetadata TwoRecords() {
  CertMetadata meta;
  meta.Records().push_back({1, Bytes("abc")});
  meta.Records().push_back({2, {}});
  return meta;
}

TEST(CertMetadata, SerialisesRecordsLittleEndianWithoutPadding) {
  EXPECT_EQ(Text(SecContainer(TwoRecords())), kTwoRecords);
}

TEST(CertMetadata, ParsesBackTheSameRecords) {
  const CertMetadata parsed(Bytes(kTwoRecords));
  ASSERT_EQ(parsed.Records().size(), 2u);
  EXPECT_EQ(parsed.Records()[0].type, 1u);
  EXPECT_EQ(Text(parsed.Records()[0].data), "abc");
  EXPECT_EQ(parsed.Records()[1].type, 2u);
  EXPECT_EQ(parsed.Records()[1].data.Size(), 0);
}

TEST(CertMetadata, NoBytesNoRecords) {
  EXPECT_TRUE(CertMetadata(SecContainer()).Records().empty());
  EXPECT_EQ(SecContainer(CertMetadata()).Size(), 0);
}

TEST(CertMetadata, WideTypesAndLengthsKeepAllBits) {
  CertMetadata meta;
  meta.Records().push_back({0xfedcba98u, Bytes(std::string(0x1234, 'x'))});
  const CertMetadata parsed(static_cast<SecContainer>(meta));
  ASSERT_EQ(parsed.Records().size(), 1u);
  EXPECT_EQ(parsed.Records()[0].type, 0xfedcba98u);
  EXPECT_EQ(parsed.Records()[0].data.Size(), 0x1234);
}

TEST(CertMetadata, LastRecordClaimingMoreThanIsLeftIsDropped) {
  for (size_t cut = 1; cut <= 11; ++cut) {  // into the data of the first record
    const CertMetadata parsed(Bytes(kTwoRecords.substr(0, 11 - cut)));
    EXPECT_TRUE(parsed.Records().empty()) << cut;
  }
  for (size_t cut = 1; cut < 8; ++cut) {  // into the header of the second
    const CertMetadata parsed(Bytes(kTwoRecords.substr(0, 19 - cut)));
    ASSERT_EQ(parsed.Records().size(), 1u) << cut;
    EXPECT_EQ(Text(parsed.Records()[0].data), "abc");
  }
}

TEST(CertMetadata, HugeClaimedLengthReadsNothing) {
  const CertMetadata parsed(Bytes(std::string("\x07\0\0\0\xff\xff\xff\xff", 8) + "tail"));
  EXPECT_TRUE(parsed.Records().empty());
}

}  // namespace
