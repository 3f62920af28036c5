// The system's record of an X.509 name: the subject or issuer of a parsed
// certificate, and the record of a trusted access server in the system
// configuration.
#pragma once

#include <string>

class DistinguishedName {
 public:
  // Fields in their fixed order; all UTF-8, empty when absent.
  std::string CN;           // commonName (2.5.4.3)
  std::string SN;           // surname (2.5.4.4)
  std::string C;            // countryName (2.5.4.6)
  std::string L;            // localityName (2.5.4.7)
  std::string ST;           // stateOrProvinceName (2.5.4.8)
  std::string STREET;       // streetAddress (2.5.4.9)
  std::string O;            // organizationName (2.5.4.10)
  std::string OU;           // organizationalUnitName (2.5.4.11)
  std::string description;  // description (2.5.4.13)
  std::string NAME;         // configured name of a trusted server; never from a certificate
  std::string other;        // e-mail (0) and every attribute number not listed above

  // The field that receives X.520 attribute number `attribute` (the last arc of
  // 2.5.4.x); every unlisted number, 0 included, selects `other`.
  std::string &Field(int attribute);

  // Names are the same issuer when CN, O and OU match byte for byte; the other
  // fields do not take part. There is no ordering.
  bool operator==(const DistinguishedName &rhs) const;
};
