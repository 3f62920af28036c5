// Feeds arbitrary text to the tag-file loader. Besides crashes, hangs and
// leaks it checks that a store after a load loses nothing: a tree that is
// not refused (see XMLTag::Lossy) writes back every byte it read, up to the
// writer's own indentation and the empty elements the format drops; and
// what it writes is a fixed point.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/xml.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string WithoutBlanks(std::string_view text) {
  std::string out;
  for (char c : text)
    if (!IsBlank(c)) out += c;
  return out;
}

// Whether "<" name "></" name ">" ends at some ">" of the text: such an empty
// element is dropped on load by design, so the byte comparison does not apply.
bool HasEmptyElement(std::string_view text) {
  for (std::size_t gt = text.find("></"); gt != std::string_view::npos; gt = text.find("></", gt + 1)) {
    for (std::size_t open = gt; open-- > 0 && text[open] != '>';) {
      if (text[open] != '<') continue;
      const std::string marker = "</" + std::string(text.substr(open + 1, gt - open - 1)) + ">";
      if (text.substr(gt + 1, marker.size()) == marker) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  XMLTag root;
  root.Load(input);
  std::string first;
  root.Store(first, 0);

  if (!root.Lossy() && !HasEmptyElement(input) && input.find('<') != std::string::npos &&
      WithoutBlanks(first) != WithoutBlanks(input))
    abort();

  XMLTag again;
  again.Load(first);
  std::string second;
  again.Store(second, 0);
  if (first != second) abort();

  XMLTag copy(again);
  for (XMLTag *child : copy.FindTag(copy.Name())) copy.Del(child);
  return 0;
}
