#include "cert/distinguished_name.h"

std::string &DistinguishedName::Field(int attribute) {
  switch (attribute) {
    case 3: return CN;
    case 4: return SN;
    case 6: return C;
    case 7: return L;
    case 8: return ST;
    case 9: return STREET;
    case 10: return O;
    case 11: return OU;
    case 13: return description;
    default: return other;
  }
}

bool DistinguishedName::operator==(const DistinguishedName &rhs) const {
  return CN == rhs.CN && O == rhs.O && OU == rhs.OU;
}
