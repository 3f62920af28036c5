// Commands on the certificate stores.
#include <optional>

#include "impex/result_codes.h"
#include "ui/cert_processor.h"
#include "ui/ui.h"

namespace UserInterface {

namespace {

enum class CertCommand { kAdd, kDel };

// The store a Type text names. Adding a "user" certificate puts it among the
// CA certificates; only deleting reaches the user store by that name.
std::optional<CertStorage::CertType> StoreKind(const std::string &text, CertCommand command) {
  if (text == "ca") return CertStorage::CERT_CA;
  if (text == "crl") return CertStorage::CERT_CRL;
  if (text == "user") return command == CertCommand::kAdd ? CertStorage::CERT_CA : CertStorage::CERT_USER;
  return std::nullopt;
}

std::optional<filtertype> FilterOf(ParameterType type) {
  switch (type) {
    case PARAM_SUBJECT_CN: return FILTER_SUBJECT_CN;
    case PARAM_SUBJECT_O: return FILTER_SUBJECT_O;
    case PARAM_ISSUER_CN: return FILTER_ISSUER_CN;
    case PARAM_ISSUER_O: return FILTER_ISSUER_O;
    case PARAM_EXPIRED: return FILTER_EXPIRED;
    default: return std::nullopt;
  }
}

}  // namespace

// Certificates are stored as given; they are verified when a connection uses them.
int UI::AddCertHandler(ParameterBag &bag) {
  CertStorage::CertType kind = CertStorage::CERT_CA;
  std::string path;
  for (const _StringParameter &s : bag.strings) {
    if (s.type == PARAM_CERT_TYPE) {
      const auto named = StoreKind(s.value, CertCommand::kAdd);
      if (!named) return ResultCode::kInvalidParameters;
      kind = *named;
    }
    if (s.type == PARAM_CERT_PATH) path = s.value;
  }
  if (path.empty()) return ResultCode::kInvalidParameters;
  const int number = CertProcessor(Stores(), kind).Add(path);
  if (number == ResultCode::kAlreadyExists) return ResultCode::kAlreadyExists;
  return number < 0 ? ResultCode::kCertNotStored : ResultCode::kOk;
}

int UI::DelCertHandler(ParameterBag &bag) {
  std::optional<CertStorage::CertType> kind;
  CertProcessor::Filters filters;
  for (const _StringParameter &s : bag.strings) {
    if (s.type == PARAM_CERT_TYPE) {
      kind = StoreKind(s.value, CertCommand::kDel);
      if (!kind) return ResultCode::kInvalidParameters;
    }
    if (const auto filter = FilterOf(s.type)) filters.emplace_back(*filter, s.value);
  }
  // Without a filter a command could empty a whole store.
  if (!kind || filters.empty()) return ResultCode::kInvalidParameters;
  return CertProcessor(Stores(), *kind).Del(filters);
}

}  // namespace UserInterface
