#include "impex/import_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace ImportGuard {
namespace {

constexpr char kNotRegular[] = "not a regular file";
constexpr char kDefaultEncoding[] = "UTF-8";
constexpr std::string_view kBlanks = " \t\r\n";

// Reads to the end, or until past kMaxBytes, which Check then refuses.
std::string ReadAll(int fd, std::string &bytes) {
  char chunk[65536];
  while (bytes.size() <= kMaxBytes) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return {};
}

void SkipBlanks(std::string_view &text) {
  text.remove_prefix(std::min(text.size(), text.find_first_not_of(kBlanks)));
}

bool EncodingNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

// The encoding the XML declaration names, UTF-8 without one. A name that is
// no name counts as none: libxml2 then finds the declaration not well-formed.
std::string DeclaredEncoding(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!text.starts_with("<?xml") || text.size() < 6 || kBlanks.find(text[5]) == std::string_view::npos)
    return kDefaultEncoding;
  text = text.substr(0, text.find("?>"));
  const size_t key = text.find("encoding");
  if (key == std::string_view::npos) return kDefaultEncoding;
  text.remove_prefix(key + 8);
  SkipBlanks(text);
  if (!text.starts_with('=')) return kDefaultEncoding;
  text.remove_prefix(1);
  SkipBlanks(text);
  if (text.empty() || (text[0] != '"' && text[0] != '\'')) return kDefaultEncoding;
  const char quote = text[0];
  text.remove_prefix(1);
  const size_t end = std::find_if_not(text.begin(), text.end(), EncodingNameChar) - text.begin();
  if (end == 0 || end == text.size() || text[end] != quote) return kDefaultEncoding;
  return std::string(text.substr(0, end));
}

// Encodings in which each ASCII byte is that character and no other, so that
// BoundsOf counts what libxml2 reads; in UTF-16 or UTF-7 a '<' or '=' could
// hide from it. Besides UTF-8, the single-byte Latin and Cyrillic ones.
bool CountableEncoding(const std::string &name) {
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
  static constexpr std::string_view kNames[] = {"UTF-8", "US-ASCII", "KOI8-R", "KOI8-U", "CP866", "IBM866"};
  static constexpr std::string_view kFamilies[] = {"ISO-8859-", "WINDOWS-125", "CP125"};
  for (std::string_view known : kNames)
    if (upper == known) return true;
  for (std::string_view family : kFamilies)
    if (upper.starts_with(family) && upper.size() > family.size() &&
        std::all_of(upper.begin() + family.size(), upper.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return true;
  return false;
}

size_t CountOf(std::string_view text, std::string_view chars) {
  return std::count_if(text.begin(), text.end(),
                       [chars](char c) { return chars.find(c) != std::string_view::npos; });
}

size_t Occurrences(std::string_view text, std::string_view word) {
  size_t count = 0;
  for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + word.size()))
    ++count;
  return count;
}

// libxml2 ends a start tag at the first '<' after its own (no name, value or
// space between attributes holds one), and each attribute it keeps took an
// '=' of its own. So the most '=' between two '<' bounds the attributes of
// any element written out, whatever comments, quotes or errors lie between;
// counting across nothing else, a quote read wrongly cannot hide a tag's rest.
size_t MostEqualsBetweenTags(std::string_view text) {
  size_t most = 0;
  size_t run = 0;
  for (char c : text) {
    if (c == '<')
      run = 0;
    else if (c == '=')
      most = std::max(most, ++run);
  }
  return most;
}

// A document type declaration can give an element attributes and namespaces
// no start tag shows: defaults (<!ATTLIST e a CDATA "v">) and markup behind
// character references in an entity (<!ENTITY x "&#60;e a&#61;'v'/>">). Each
// costs a quote, '=' or '&' after "<!DOCTYPE", so all of them count for any
// element.
size_t DoctypeLoan(std::string_view text) {
  const size_t doctype = text.find("<!DOCTYPE");
  return doctype == std::string_view::npos ? 0 : CountOf(text.substr(doctype), "=&\"'");
}

// Why libxml2 would not take the bytes; empty when it may.
std::string Refusal(std::string_view bytes, const std::string &encoding) {
  if (bytes.size() > kMaxBytes) return "too large";
  if (!CountableEncoding(encoding)) return "unsupported encoding " + encoding;
  const Bounds bounds = BoundsOf(bytes);
  if (bounds.attributes > kMaxAttributes) return "too many attributes on one element";
  if (bounds.namespaces > kMaxNamespaces) return "too many namespace declarations";
  return {};
}

}  // namespace

// Anything but a regular file is refused before it is opened, so no device
// driver acts on the open; the open waits for no FIFO writer and takes no
// terminal as the controlling one, should the path change meanwhile, and the
// opened file is checked again. open itself refuses a socket with ENXIO.
std::string ReadRegularFile(const std::string &path, std::string &bytes) {
  bytes.clear();
  struct stat named;
  if (stat(path.c_str(), &named) != 0) return std::strerror(errno);
  if (!S_ISREG(named.st_mode)) return kNotRegular;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENXIO ? kNotRegular : std::strerror(errno);
  struct stat st;
  const std::string failure = fstat(fd, &st) != 0   ? std::strerror(errno)
                              : !S_ISREG(st.st_mode) ? kNotRegular
                                                     : ReadAll(fd, bytes);
  close(fd);
  return failure;
}

Verdict Check(std::string_view bytes) {
  std::string encoding = DeclaredEncoding(bytes);
  std::string refusal = Refusal(bytes, encoding);
  return {std::move(refusal), std::move(encoding)};
}

Bounds BoundsOf(std::string_view bytes) {
  const size_t loan = DoctypeLoan(bytes);
  return {MostEqualsBetweenTags(bytes) + loan, Occurrences(bytes, "xmlns") + loan};
}

}  // namespace ImportGuard
