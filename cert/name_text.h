// Names of parsed certificates and CRLs as the system's UTF-8 records.
#pragma once

#include <string>

#include "cert/distinguished_name.h"
#include "crypto/x509/x509_names.h"

// A name value as UTF-8: BMPStrings converted, every other type byte for byte.
std::string DirectoryText(const Crypto::DirectoryString &value);
// Each entry of `name` into the field its attribute number selects.
void FillName(const Crypto::NameMap &name, DistinguishedName &out);
