// Any byte string fed to the import parser: a record list or one of its two
// exceptions, never a crash, leak or hang. And whenever libxml2 accepts the
// bytes, it meets no element with more attributes, and no more namespace
// declarations, than ImportGuard::BoundsOf counted for them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include <libxml/SAX2.h>
#include <libxml/parser.h>

#include "impex/import_guard.h"
#include "impex/parser.h"

namespace {
void Silence(void *, const char *, ...) {}

ImportGuard::Bounds seen;

// Counts as libxml2 hands each element over, defaulted attributes included,
// also inside entity text; then builds the tree as usual.
void CountElement(void *ctx, const xmlChar *localname, const xmlChar *prefix, const xmlChar *uri,
                  int nb_namespaces, const xmlChar **namespaces, int nb_attributes, int nb_defaulted,
                  const xmlChar **attributes) {
  seen.attributes = std::max(seen.attributes, static_cast<size_t>(nb_namespaces + nb_attributes));
  seen.namespaces += static_cast<size_t>(nb_namespaces);
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, nb_namespaces, namespaces, nb_attributes, nb_defaulted,
                        attributes);
}

// Reads the bytes as the parser reads a document that names no encoding.
void CheckBounds(const uint8_t *data, size_t size) {
  const ImportGuard::Bounds bounds = ImportGuard::BoundsOf({reinterpret_cast<const char *>(data), size});
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) return;
  ctxt->sax->startElementNs = CountElement;
  seen = {0, 0};
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, reinterpret_cast<const char *>(data), static_cast<int>(size),
                                    nullptr, "UTF-8", XML_PARSE_NONET | XML_PARSE_IGNORE_ENC);
  if (doc && (seen.attributes > bounds.attributes || seen.namespaces > bounds.namespaces)) abort();
  xmlFreeDoc(doc);
  xmlFreeParserCtxt(ctxt);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool quiet = [] {
    xmlSetGenericErrorFunc(nullptr, Silence);
    return true;
  }();
  (void)quiet;
  if (size > INT_MAX) return 0;
  Parser parser;
  try {
    parser.ParseMemory(reinterpret_cast<const char *>(data), static_cast<int>(size));
  } catch (const std::runtime_error &) {
  }
  CheckBounds(data, size);
  return 0;
}
