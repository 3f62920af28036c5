// Feeds arbitrary text to the tag-file loader. Besides crashes, hangs and
// leaks it checks that a loaded tree, once written, is a fixed point: writing
// what was read back gives the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  XMLTag root;
  root.Load(std::string(reinterpret_cast<const char *>(data), size));
  std::string first;
  root.Store(first, 0);

  XMLTag again;
  again.Load(first);
  std::string second;
  again.Store(second, 0);
  if (first != second) abort();

  XMLTag copy(again);
  for (XMLTag *child : copy.FindTag(copy.Name())) copy.Del(child);
  return 0;
}
