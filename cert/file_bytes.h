// Whole small regular files as bytes, for certificate and CRL files.
#pragma once

#include <string>

#include "channel/container.h"

// Files above this size are no certificate material and are not read.
inline constexpr long kMaxCertFileSize = 16L << 20;

// The whole regular file at path in out (opened without blocking, read in one
// call); false, with out empty, when it is missing, special, empty, too large
// or read short.
bool ReadCertFile(const std::string &path, SecContainer &out);
