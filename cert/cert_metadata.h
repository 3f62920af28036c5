// The records that may accompany a store entry, and their file form: each
// record is its type and data length (32-bit little-endian) followed by the
// data, with no header or padding.
#pragma once

#include <cstdint>
#include <vector>

#include "channel/container.h"

class CertMetadata {
 public:
  struct record {
    uint32_t type = 0;  // chosen by the writer
    SecContainer data;
  };

  CertMetadata() = default;
  // Parses `bytes` (see InitRecords).
  explicit CertMetadata(const SecContainer &bytes);

  std::vector<record> &Records() { return records; }
  const std::vector<record> &Records() const { return records; }

  // The file form of the records, in vector order.
  explicit operator SecContainer() const;

 private:
  // Replaces the records by those in `bytes`. Parsing stops at the end of the
  // bytes: a last record, or header, that claims more than is left is
  // dropped, so no data is read or allocated beyond what `bytes` holds.
  void InitRecords(const SecContainer &bytes);

  std::vector<record> records;
};
