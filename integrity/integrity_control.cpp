#include "integrity/integrity_control.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "crypto/gost28147/sbox.h"

IntegrityControl::IntegrityControl() : context_(Crypto::create_hash_context(CryptoGostImpl::sbox_verba)) {}

int IntegrityControl::Compute(shared_membuf &data) { return Compute(data.get(), data.size()); }

int IntegrityControl::Compute(const void *data, std::size_t len) {
  // The context takes unsigned int lengths.
  const auto *bytes = static_cast<const std::uint8_t *>(data);
  while (len > 0) {
    const std::size_t piece = len < UINT_MAX ? len : UINT_MAX;
    context_->hash(bytes, static_cast<unsigned>(piece));
    bytes += piece;
    len -= piece;
  }
  return 0;
}

shared_membuf IntegrityControl::Result() {
  const unsigned char *digest = context_->result();
  shared_membuf out(32);
  for (int i = 0; i < 8; ++i) {
    std::uint32_t word;
    std::memcpy(&word, digest + 4 * i, sizeof word);
    std::memcpy(out.get() + 4 * i, &word, sizeof word);
  }
  return out;
}
