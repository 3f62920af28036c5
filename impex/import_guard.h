// What an import file must pass before libxml2 reads it: the file is read
// only when it is a regular one, and its bytes only within limits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ImportGuard {

// Limits that keep a hostile file from stalling impex, checked on the bytes
// before libxml2 reads them: libxml2 2.9 compares the attributes of an
// element pairwise, and looks a namespace prefix up through every
// declaration in scope. Real import files are a few kilobytes, with fewer
// than 20 attributes on an element and no namespaces.
inline constexpr size_t kMaxBytes = 4 << 20;   // 4 MiB
inline constexpr size_t kMaxAttributes = 256;  // on any one element
inline constexpr size_t kMaxNamespaces = 256;  // declared in the whole document

// Replaces `bytes` with the file's, or returns why there are none ("not a
// regular file", "No such file or directory", ...); empty when it read them.
// Anything but a regular file (a FIFO, device, directory or socket) is
// refused without waiting on it. Reading stops once past kMaxBytes, which
// Check refuses.
std::string ReadRegularFile(const std::string &path, std::string &bytes);

struct Verdict {
  // Why libxml2 must not read the bytes ("too large", "unsupported encoding
  // UTF-16", "too many attributes on one element", "too many namespace
  // declarations"); empty when it may.
  std::string refusal;
  // The one to read them in: the one their XML declaration names, UTF-8
  // without one. Any but UTF-8 and the single-byte Latin and Cyrillic ones
  // (KOI8-R, windows-1251, ISO-8859-5, ...) is refused.
  std::string encoding;
};
Verdict Check(std::string_view bytes);

// Upper bounds, from the bytes alone, on what libxml2 meets in a document:
// the attributes of any one element (namespace declarations and defaults
// from a document type declaration included) and the namespace declarations
// of the whole document. Public for the fuzz target.
struct Bounds {
  size_t attributes;
  size_t namespaces;
};
Bounds BoundsOf(std::string_view bytes);

}  // namespace ImportGuard
