#include "cert/distinguished_name.h"

#include <gtest/gtest.h>

namespace {

TEST(DistinguishedName, FieldMapsAttributeNumbers) {
  DistinguishedName dn;
  const std::pair<int, std::string DistinguishedName::*> table[] = {
      {3, &DistinguishedName::CN},      {4, &DistinguishedName::SN},
      {6, &DistinguishedName::C},       {7, &DistinguishedName::L},
      {8, &DistinguishedName::ST},      {9, &DistinguishedName::STREET},
      {10, &DistinguishedName::O},      {11, &DistinguishedName::OU},
      {13, &DistinguishedName::description},
  };
  for (const auto &[number, field] : table) EXPECT_EQ(&dn.Field(number), &(dn.*field)) << number;
  for (int number : {0, 1, 2, 5, 12, 14, 41, -1}) EXPECT_EQ(&dn.Field(number), &dn.other) << number;
}

TEST(DistinguishedName, UnlistedNumbersShareOneField) {
  DistinguishedName dn;
  dn.Field(0) = "user@example.org";
  dn.Field(5) = "serial";
  EXPECT_EQ(dn.other, "serial");
  EXPECT_EQ(dn.NAME, "");
}

TEST(DistinguishedName, EqualityLooksAtCommonNameOrganisationAndUnit) {
  DistinguishedName a, b;
  EXPECT_TRUE(a == b);
  a.CN = b.CN = "CA";
  a.O = b.O = "Org";
  a.OU = b.OU = "Unit";
  b.SN = "s";
  b.C = "RU";
  b.L = "l";
  b.ST = "st";
  b.STREET = "street";
  b.description = "d";
  b.NAME = "server";
  b.other = "e-mail";
  EXPECT_TRUE(a == b);
  DistinguishedName copy = b;
  EXPECT_EQ(copy.STREET, "street");
  EXPECT_TRUE(copy == a);
  b.OU = "unit";
  EXPECT_FALSE(a == b);
  b.OU = a.OU;
  b.O += " ";
  EXPECT_FALSE(a == b);
  b.O = a.O;
  b.CN.clear();
  EXPECT_FALSE(a == b);
}

}  // namespace
