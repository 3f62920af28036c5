#include "ui/cert_processor.h"

#include <boost/regex.hpp>

#include <memory>

#include "cert/cert_chain.h"
#include "cert/cert_storage_fs.h"
#include "cert/crl.h"
#include "impex/result_codes.h"

namespace UserInterface {

namespace {

// A CRL answers the certificate questions in its own way.
std::unique_ptr<Cert> EmptyObject(CertStorage::CertType kind) {
  if (kind == CertStorage::CERT_CRL) return std::make_unique<CRL>();
  return std::make_unique<Cert>();
}

const std::string &FieldOf(const Cert::Properties &properties, CertProcessor::PropertiesField field) {
  switch (field) {
    case CertProcessor::SUBJECT_CN: return properties.subject.CN;
    case CertProcessor::SUBJECT_O: return properties.subject.O;
    case CertProcessor::ISSUER_CN: return properties.issuer.CN;
    case CertProcessor::ISSUER_O: break;
  }
  return properties.issuer.O;
}

// A pattern Boost.Regex refuses, or abandons as too complex for a text,
// matches nothing rather than ending the command.
class WholeTextMatcher {
 public:
  explicit WholeTextMatcher(const std::string &pattern) {
    try {
      regex.assign(pattern);
      compiled = true;
    } catch (const std::exception &) {
    }
  }

  bool Matches(const std::string &text) const {
    if (!compiled) return false;
    try {
      return boost::regex_match(text, regex);
    } catch (const std::exception &) {
      return false;
    }
  }

 private:
  boost::regex regex;
  bool compiled = false;
};

// A chain's verification result as the user's certificate result code.
int UserCertResult(int verified) {
  switch (verified) {
    case ResultCode::kVerifyOutOfValidity: return ResultCode::kUserCertPeriodInvalid;
    case ResultCode::kVerifyIntegrity: return ResultCode::kUserCertNoCa;
    case ResultCode::kVerifyRevoked: return ResultCode::kUserChainRevoked;
    case ResultCode::kVerifyKeyUsage: return ResultCode::kUserKeyUsageInvalid;
    default: return verified < 0 ? ResultCode::kUserCertSignatureInvalid : verified;
  }
}

}  // namespace

CertStores StoresIn(const std::string &dir) {
  return CertStores([dir](CertStorage::CertType type) -> CertStorage * {
    static const char *const kNames[] = {"user", "ca", "crl"};
    return new CertStorageFS(dir + "/" + kNames[type]);
  });
}

CertProcessor::CertProcessor(CertStores stores, CertStorage::CertType kind)
    : stores(std::move(stores)), kind(kind) {}

int CertProcessor::Add(const std::string &path) { return CertChain(stores, path, kind).Store(); }

int CertProcessor::Del(int number) {
  const CertStorageHandle store = stores.Open(kind);
  if (!store) return ResultCode::kNotFound;
  return store->Del(number);
}

int CertProcessor::List() {
  entries.clear();
  const CertStorageHandle store = stores.Open(kind);
  if (!store) return ResultCode::kUnknownError;
  std::list<int> numbers;
  int result = store->List(numbers);
  for (const int number : numbers) {
    const std::unique_ptr<Cert> object = EmptyObject(kind);
    Cert::Properties properties;
    if (store->Get(*object, number) != 0 || object->Parse(properties) != 0) {
      result = ResultCode::kNotFound;
      continue;
    }
    entries.emplace_back(number, std::move(properties));
  }
  return result;
}

void CertProcessor::Filter(const std::string &pattern, PropertiesField field) {
  const WholeTextMatcher matcher(pattern);
  entries.remove_if([&](const Entry &entry) { return !matcher.Matches(FieldOf(entry.second, field)); });
}

void CertProcessor::FilterExpired() {
  const CertStorageHandle store = stores.Open(kind);
  entries.remove_if([&](const Entry &entry) {
    const std::unique_ptr<Cert> object = EmptyObject(kind);
    return !store || store->Get(*object, entry.first) != 0 || !object->IsExpired();
  });
}

int CertProcessor::List(const Filters &filters) {
  const int result = List();
  if (result < 0) return result;
  for (const auto &[type, text] : filters) {
    switch (type) {
      case FILTER_SUBJECT_CN:
      case FILTER_SUBJECT_O:
      case FILTER_ISSUER_CN:
      case FILTER_ISSUER_O: Filter(text, static_cast<PropertiesField>(type)); break;
      case FILTER_EXPIRED: FilterExpired(); break;
      default: return ResultCode::kInvalidParameters;
    }
  }
  return result;
}

int CertProcessor::Del(const Filters &filters) {
  int result = List(filters);
  if (result < 0) return result;
  for (const Entry &entry : entries) result = Del(entry.first);
  return result;
}

}  // namespace UserInterface

namespace UserInterface {

int CertProcessor::Verify(int number) {
  const CertStorageHandle store = stores.Open(kind);
  Cert cert;
  if (!store || store->Get(cert, number) != 0) return ResultCode::kCertStoreFailed;
  return UserCertResult(CertChain(stores, cert, kind).VerifySingle(cert, true));
}

}  // namespace UserInterface
