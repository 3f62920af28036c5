// Commands on the list of trusted access servers (system configuration).
#include <initializer_list>

#include "cert/distinguished_name.h"
#include "config/config.h"
#include "impex/result_codes.h"
#include "ui/ui.h"

namespace UserInterface {

namespace {

// The record field a server parameter fills, or null for other types.
std::string *ServerField(DistinguishedName &dn, ParameterType type) {
  switch (type) {
    case PARAM_NAME: return &dn.NAME;
    case PARAM_SUBJECT_CN: return &dn.CN;
    case PARAM_SUBJECT_O: return &dn.O;
    case PARAM_SUBJECT_OU: return &dn.OU;
    case PARAM_SUBJECT_C: return &dn.C;
    case PARAM_SUBJECT_ST: return &dn.ST;
    case PARAM_SUBJECT_L: return &dn.L;
    case PARAM_SUBJECT_STREET: return &dn.STREET;
    default: return nullptr;
  }
}

bool HasSubject(const DistinguishedName &dn) {
  for (const std::string *field : {&dn.CN, &dn.O, &dn.OU, &dn.C, &dn.ST, &dn.L, &dn.STREET})
    if (!field->empty()) return true;
  return false;
}

}  // namespace

int UI::AddServerHandler(ParameterBag &bag) {
  DistinguishedName dn;
  for (const _StringParameter &s : bag.strings)
    if (std::string *field = ServerField(dn, s.type)) *field = s.value;
  if (dn.NAME.empty() || !HasSubject(dn)) return ResultCode::kInvalidParameters;
  return OpenConfig().AddServer(dn);
}

int UI::DelServerHandler(ParameterBag &bag) {
  DistinguishedName dn;
  for (const _StringParameter &s : bag.strings)
    if (s.type == PARAM_NAME) dn.NAME = s.value;
  if (dn.NAME.empty()) return ResultCode::kInvalidParameters;
  return OpenConfig().DelServer(dn);
}

}  // namespace UserInterface
