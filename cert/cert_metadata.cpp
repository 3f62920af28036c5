#include "cert/cert_metadata.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr size_t kHeaderSize = 8;  // type, then length

uint32_t LoadLe32(const unsigned char *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLe32(unsigned char *p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

CertMetadata::CertMetadata(const SecContainer &bytes) { InitRecords(bytes); }

void CertMetadata::InitRecords(const SecContainer &bytes) {
  records.clear();
  const unsigned char *base = bytes;
  const size_t size = static_cast<size_t>(bytes.Size());
  for (size_t pos = 0; size - pos >= kHeaderSize;) {
    const unsigned char *header = base + pos;
    const uint32_t length = LoadLe32(header + 4);
    if (length > size - pos - kHeaderSize) break;
    records.push_back({LoadLe32(header), {}});
    records.back().data.Init(header + kHeaderSize, static_cast<int>(length));
    pos += kHeaderSize + length;
  }
}

CertMetadata::operator SecContainer() const {
  size_t total = 0;
  for (const record &r : records) total += kHeaderSize + static_cast<size_t>(r.data.Size());
  SecContainer bytes;
  bytes.Init(static_cast<int>(total));
  unsigned char *out = bytes;
  for (const record &r : records) {
    StoreLe32(out, r.type);
    StoreLe32(out + 4, static_cast<uint32_t>(r.data.Size()));
    const unsigned char *data = r.data;
    out = std::copy(data, data + r.data.Size(), out + kHeaderSize);
  }
  return bytes;
}
