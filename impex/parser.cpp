#include "impex/parser.h"

#include <libxml/parser.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "impex/import_guard.h"

using UserInterface::ParameterType;

namespace {

// Never reach the network, never load a DTD or external entity, never
// substitute entities: an import file is read as it stands. The encoding is
// the one ImportGuard::Check names, never the document's own say. libxml2
// prints nothing: the reason a document is refused is its ReadFailure.
constexpr int kReadOptions =
    XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

constexpr std::string_view kBlanks = " \t\r\n";

struct DocFree {
  void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

struct CtxtFree {
  void operator()(xmlParserCtxt *ctxt) const { xmlFreeParserCtxt(ctxt); }
};
using CtxtPtr = std::unique_ptr<xmlParserCtxt, CtxtFree>;

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string NotWellFormed(const xmlError *error) {
  std::string reason = "not well-formed XML";
  if (!error || !error->message) return reason;
  return reason + " (line " + std::to_string(error->line) + ": " + std::string(Trimmed(error->message)) + ")";
}

// Keeps the first fatal error, in the string the context's _private points
// to (libxml2 hands it on to the contexts it makes for entity text): the
// errors after it mostly follow from it.
void KeepFirstError(void *ctxt, xmlErrorPtr error) {
  auto *first = static_cast<std::string *>(static_cast<xmlParserCtxtPtr>(ctxt)->_private);
  if (first && first->empty() && error->level == XML_ERR_FATAL) *first = NotWellFormed(error);
}

bool Named(const xmlNode *node, const char *name) {
  return xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

bool Named(const xmlAttr *attr, const char *name) {
  return xmlStrcasecmp(attr->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

bool SameText(const std::string &text, const char *word) {
  return xmlStrcasecmp(reinterpret_cast<const xmlChar *>(text.c_str()),
                       reinterpret_cast<const xmlChar *>(word)) == 0;
}

// The content of the first child node when that is text. Entity references
// are left unexpanded, so an internal entity cannot blow up into a huge value.
std::optional<std::string_view> FirstText(const xmlNode *children) {
  if (!children || !children->content) return std::nullopt;
  if (children->type != XML_TEXT_NODE && children->type != XML_CDATA_SECTION_NODE)
    return std::nullopt;
  return reinterpret_cast<const char *>(children->content);
}

// Without the line breaks and indentation a pretty-printed file puts around
// it.
std::optional<std::string> ElementText(const xmlNode *element) {
  const std::optional<std::string_view> text = FirstText(element->children);
  if (!text) return std::nullopt;
  return std::string(Trimmed(*text));
}

// As written; one with no value at all reads as the empty text.
std::string AttributeText(const xmlAttr *attr) {
  return std::string(FirstText(attr->children).value_or(std::string_view()));
}

template <typename Fn>
void ForEachElement(xmlNode *parent, Fn fn) {
  for (xmlNode *child = parent->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE) fn(child);
}

void AddString(Parser::_Record &record, ParameterType type, std::string value) {
  record.strings.push_back({type, std::move(value)});
}

void AddStringIfText(Parser::_Record &record, ParameterType type, const xmlNode *element) {
  if (auto text = ElementText(element)) AddString(record, type, std::move(*text));
}

void AddStringIfNonEmpty(Parser::_Record &record, ParameterType type, const xmlNode *element) {
  auto text = ElementText(element);
  if (text && !text->empty()) AddString(record, type, std::move(*text));
}

// atoi's reading (text that is no number counts as 0), clamped so that an
// over-long number is simply out of range instead of undefined.
long long NumberOf(const std::string &text) {
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return static_cast<long long>(INT_MAX) + 1;
  if (value < INT_MIN) return static_cast<long long>(INT_MIN) - 1;
  return value;
}

[[noreturn]] void InvalidAttribute() { throw std::runtime_error("invalid attribute"); }

int32_t InRange(const std::string &text, long long low, long long high) {
  const long long value = NumberOf(text);
  if (value < low || value > high) InvalidAttribute();
  return static_cast<int32_t>(value);
}

int32_t Switch(const std::string &text) {
  if (text == "on") return 1;
  if (text == "off") return 0;
  InvalidAttribute();
}

enum class ValueRule { Port, Mtu, NonNegative, OnOff };

struct ParameterAttribute {
  const char *name;
  ParameterType type;
  ValueRule rule;
};

constexpr ParameterAttribute kParameterAttributes[] = {
    {"sp", UserInterface::PARAM_SERVER_PORT, ValueRule::Port},
    {"lp", UserInterface::PARAM_LOCAL_PORT, ValueRule::Port},
    {"mtu", UserInterface::PARAM_MTU, ValueRule::Mtu},
    {"dot", UserInterface::PARAM_DISCONNECT_ON_TIMEOUT, ValueRule::NonNegative},
    {"cti", UserInterface::PARAM_CONNECT_TRY_INTERVAL, ValueRule::NonNegative},
    {"ctc", UserInterface::PARAM_CONNECT_TRY_COUNT, ValueRule::NonNegative},
    {"lt", UserInterface::PARAM_LOG_TRAFFIC, ValueRule::OnOff},
    {"rol", UserInterface::PARAM_RECONNECT_ON_LOSS, ValueRule::OnOff},
    {"du", UserInterface::PARAM_DISABLE_UNPROTECTED, ValueRule::OnOff},
};

int32_t ParameterValue(ValueRule rule, const std::string &text) {
  switch (rule) {
    case ValueRule::Port: return InRange(text, 0, 65535);
    case ValueRule::Mtu: return InRange(text, 0, 1999);
    case ValueRule::NonNegative: return InRange(text, 0, INT_MAX);
    case ValueRule::OnOff: return Switch(text);
  }
  InvalidAttribute();
}

struct NamedString {
  const char *name;
  ParameterType type;
};

constexpr NamedString kFilterAttributes[] = {
    {"subject_cn", UserInterface::PARAM_SUBJECT_CN}, {"subject_o", UserInterface::PARAM_SUBJECT_O},
    {"issuer_cn", UserInterface::PARAM_ISSUER_CN},   {"issuer_o", UserInterface::PARAM_ISSUER_O},
    {"expired", UserInterface::PARAM_EXPIRED},
};

constexpr NamedString kServerAttributes[] = {
    {"subject_cn", UserInterface::PARAM_SUBJECT_CN},
    {"subject_o", UserInterface::PARAM_SUBJECT_O},
    {"subject_ou", UserInterface::PARAM_SUBJECT_OU},
    {"subject_c", UserInterface::PARAM_SUBJECT_C},
    {"subject_st", UserInterface::PARAM_SUBJECT_ST},
    {"subject_l", UserInterface::PARAM_SUBJECT_L},
    {"subject_street", UserInterface::PARAM_SUBJECT_STREET},
};

constexpr NamedString kAccountElements[] = {
    {"Name", UserInterface::PARAM_NAME},
    {"User", UserInterface::PARAM_USER},
    {"CertPath", UserInterface::PARAM_CERT_PATH},
    {"Server", UserInterface::PARAM_SERVER},
};

// Each attribute whose name is in the table gives a string parameter as written.
template <size_t N>
void StringsFromAttributes(xmlNode *element, const NamedString (&table)[N], Parser::_Record &record) {
  for (xmlAttr *attr = element->properties; attr; attr = attr->next)
    for (const NamedString &row : table)
      if (Named(attr, row.name)) {
        AddString(record, row.type, AttributeText(attr));
        break;
      }
}

std::optional<Parser::SectionAction> ActionOf(const std::string &value) {
  static constexpr const char *kNames[] = {"Add", "Del", "Modify", "Store"};
  for (int code = 0; code < 4; ++code)
    if (SameText(value, kNames[code])) return static_cast<Parser::SectionAction>(code);
  return std::nullopt;
}

}  // namespace

Parser &Parser::Parse(const std::string &path) {
  records.clear();
  std::string bytes;
  read_failure = ImportGuard::ReadRegularFile(path, bytes);
  if (read_failure.empty()) Read(bytes);
  return *this;
}

Parser &Parser::ParseMemory(const char *data, int size) {
  records.clear();
  Read(std::string_view(data, size > 0 ? static_cast<size_t>(size) : 0));
  return *this;
}

void Parser::Read(std::string_view bytes) {
  const ImportGuard::Verdict verdict = ImportGuard::Check(bytes);
  read_failure = verdict.refusal;
  if (!read_failure.empty()) return;
  CtxtPtr ctxt(xmlNewParserCtxt());
  if (!ctxt) throw std::bad_alloc();
  std::string first_error;
  ctxt->_private = &first_error;
  ctxt->sax->serror = KeepFirstError;
  DocPtr doc(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr,
                               verdict.encoding.c_str(), kReadOptions));
  if (!doc) {
    read_failure = first_error.empty() ? NotWellFormed(xmlCtxtGetLastError(ctxt.get())) : first_error;
    return;
  }
  ProcessDocument(doc.get());
}

void Parser::ProcessDocument(xmlDoc *doc) {
  for (xmlNode *node = doc->children; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE && Named(node, "Sections")) ProcessSections(node);
}

void Parser::ProcessSections(xmlNode *sections) {
  ForEachElement(sections, [this](xmlNode *child) {
    if (Named(child, "Section")) ProcessSection(child);
  });
}

void Parser::ProcessSection(xmlNode *section) {
  std::optional<SectionAction> action;
  for (xmlAttr *attr = section->properties; attr && !action; attr = attr->next)
    if (Named(attr, "Action")) action = ActionOf(AttributeText(attr));
  if (!action) throw std::runtime_error("invalid section");

  ForEachElement(section, [this, action](xmlNode *entry) {
    _Record record;
    record.action = *action;
    if (Named(entry, "Account")) {
      record.kind = Account;
      ProcessAccount(entry, record);
    } else if (Named(entry, "Cert")) {
      record.kind = Cert;
      ProcessCert(entry, record);
    } else if (Named(entry, "Server")) {
      record.kind = Server;
      ProcessServer(entry, record);
    } else {
      return;
    }
    records.push_back(std::move(record));
  });
}

void Parser::ProcessAccount(xmlNode *entry, _Record &record) {
  ForEachElement(entry, [this, &record](xmlNode *child) {
    if (Named(child, "Parameter")) {
      ProcessParameter(child, record);
      return;
    }
    for (const NamedString &row : kAccountElements)
      if (Named(child, row.name)) {
        AddStringIfText(record, row.type, child);
        return;
      }
  });
}

void Parser::ProcessParameter(xmlNode *parameter, _Record &record) {
  for (xmlAttr *attr = parameter->properties; attr; attr = attr->next)
    for (const ParameterAttribute &row : kParameterAttributes)
      if (Named(attr, row.name)) {
        record.digitals.push_back({row.type, ParameterValue(row.rule, AttributeText(attr))});
        break;
      }
}

void Parser::ProcessCert(xmlNode *entry, _Record &record) {
  for (xmlAttr *attr = entry->properties; attr; attr = attr->next) {
    if (!Named(attr, "Type")) continue;
    const std::string type = AttributeText(attr);
    if (SameText(type, "ca") || SameText(type, "crl") || SameText(type, "user"))
      AddString(record, UserInterface::PARAM_CERT_TYPE, type);
  }
  ForEachElement(entry, [this, &record](xmlNode *child) {
    if (Named(child, "CertPath"))
      AddStringIfNonEmpty(record, UserInterface::PARAM_CERT_PATH, child);
    else if (Named(child, "User"))
      AddStringIfNonEmpty(record, UserInterface::PARAM_USER, child);
    else if (Named(child, "Filter"))
      ProcessFilter(child, record);
  });
}

void Parser::ProcessFilter(xmlNode *filter, _Record &record) {
  StringsFromAttributes(filter, kFilterAttributes, record);
}

void Parser::ProcessServer(xmlNode *entry, _Record &record) {
  AddStringIfText(record, UserInterface::PARAM_NAME, entry);
  StringsFromAttributes(entry, kServerAttributes, record);
}
