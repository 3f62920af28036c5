// Feeds arbitrary bytes to the metadata parser. Besides crashes and reads
// past the end it checks that the records parsed are the whole records at
// the start of the input: serialising them gives back a prefix of the bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cert/cert_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  SecContainer input;
  input.Init(data, static_cast<int>(size));
  const CertMetadata parsed(input);
  const SecContainer written(parsed);
  const size_t length = static_cast<size_t>(written.Size());
  if (length > size) abort();
  if (length > 0 && std::memcmp(static_cast<const unsigned char *>(written), data, length) != 0)
    abort();
  return 0;
}
