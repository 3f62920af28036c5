#include "config/config.h"

#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <variant>

#include "config/xml.h"
#include "impex/ipaddr.h"
#include "impex/msg_compiler.h"
#include "impex/result_codes.h"

namespace {

// Which stored values a key accepts; a value outside is ignored on reading.
enum class Accept {
  kAny,
  kNonNegative,
  kPositive,
  kFlag,         // 0 or 1
  kOneOrZero,    // 1 gives 1, anything else 0
  kPort,         // 0 to 65535
  kNonZeroPort,  // 1 to 65535
};

using Field = std::variant<uint32_t session_params::*,   // address
                           uint16_t session_params::*,   // port
                           int32_t session_params::*>;   // decimal

// The eleven numeric keys of "PARAMETERS" and "ACCOUNT", in the order both
// are written, with the mask bit the key has in an account and what it
// accepts in each.
struct ParamKey {
  const char *key;
  Config::SetMask bit;
  Field field;
  Accept in_parameters;
  Accept in_account;
};
const ParamKey kParamKeys[] = {
    {"SERVER_ADDRESS", Config::MASK_SERVER_ADDRESS, &session_params::server_ip, Accept::kAny,
     Accept::kAny},
    {"SERVER_PORT", Config::MASK_SERVER_PORT, &session_params::server_port, Accept::kPort,
     Accept::kNonZeroPort},
    {"LOCAL_ADDRESS", Config::MASK_LOCAL_ADDRESS, &session_params::local_ip, Accept::kAny,
     Accept::kAny},
    {"LOCAL_PORT", Config::MASK_LOCAL_PORT, &session_params::local_port, Accept::kPort,
     Accept::kNonZeroPort},
    {"MTU", Config::MASK_MTU, &session_params::mtu, Accept::kAny, Accept::kAny},
    {"LOG_TRAFFIC", Config::MASK_LOG_TRAFFIC, &session_params::log_traffic, Accept::kOneOrZero,
     Accept::kFlag},
    {"CONNECT_TRY_COUNT", Config::MASK_CONNECT_TRY_COUNT, &session_params::connect_try_count,
     Accept::kPositive, Accept::kPositive},
    {"CONNECT_TRY_INTERVAL", Config::MASK_CONNECT_TRY_INTERVAL,
     &session_params::connect_try_interval, Accept::kNonNegative, Accept::kNonNegative},
    {"RECONNECT_ON_LOSS", Config::MASK_RECONNECT_ON_LOSS, &session_params::reconnect_on_loss,
     Accept::kFlag, Accept::kFlag},
    {"DISCONNECT_ON_TIMEOUT", Config::MASK_DISCONNECT_ON_TIMEOUT,
     &session_params::disconnect_on_timeout, Accept::kNonNegative, Accept::kNonNegative},
    {"DISABLE_UNPROTECTED", Config::MASK_DISABLE_UNPROTECTED,
     &session_params::disable_unprotected, Accept::kNonNegative, Accept::kNonNegative},
};
const ParamKey &kServerAddress = kParamKeys[0];

// The text keys of an account, written after "NAME" and before the numbers.
struct TextKey {
  const char *key;
  Config::SetMask bit;
  std::string UserConfigStruct::*field;
};
const TextKey kTextKeys[] = {
    {"CERT", Config::MASK_CERT, &UserConfigStruct::cert},
    {"USER", Config::MASK_USER, &UserConfigStruct::user},
};

// atoi() that saturates instead of wrapping: "4294971729" must not pass as
// port 4433.
int32_t ToInt(const std::string &text) {
  const char *p = text.c_str();
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
  if (negative) value = -value;
  return static_cast<int32_t>(value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : value);
}

// The value `accept` lets through for `value`, if any.
bool Admit(Accept accept, int32_t &value) {
  switch (accept) {
    case Accept::kAny: return true;
    case Accept::kNonNegative: return value >= 0;
    case Accept::kPositive: return value > 0;
    case Accept::kFlag: return value == 0 || value == 1;
    case Accept::kOneOrZero: value = value == 1; return true;
    case Accept::kPort: return value >= 0 && value <= 65535;
    case Accept::kNonZeroPort: return value >= 1 && value <= 65535;
  }
  return false;
}

std::string Encode(const ParamKey &k, const session_params &from) {
  std::string text;
  std::visit(
      [&](auto member) {
        using T = std::remove_reference_t<decltype(from.*member)>;
        if constexpr (std::is_same_v<T, const uint32_t>)
          MsgCompiler::MsgAddress(text, from.*member);
        else if constexpr (std::is_same_v<T, const uint16_t>)
          MsgCompiler::MsgPort(text, from.*member);
        else
          MsgCompiler::MsgInt(text, static_cast<uint32_t>(from.*member));
      },
      k.field);
  return text;
}

// Reads `text` into `to` when `accept` takes it; true when it did.
bool Decode(const ParamKey &k, Accept accept, const std::string &text, session_params &to) {
  return std::visit(
      [&](auto member) {
        using T = std::remove_reference_t<decltype(to.*member)>;
        if constexpr (std::is_same_v<T, uint32_t>) {
          return string2ipaddr(text.c_str(), to.*member, nullptr) == 0;
        } else {
          int32_t value = ToInt(text);
          if (!Admit(accept, value)) return false;
          to.*member = static_cast<T>(value);
          return true;
        }
      },
      k.field);
}

void CopyField(const ParamKey &k, const session_params &from, session_params &to) {
  std::visit([&](auto member) { to.*member = from.*member; }, k.field);
}

// Overlays every "PARAMETERS" element of a loaded document, later ones last.
void ReadParams(XML &doc, YrkParamsStruct &out) {
  for (XMLTag *params : doc.FindTag("PARAMETERS")) {
    for (const ParamKey &k : kParamKeys)
      if (const XMLTag *value = params->First(k.key)) Decode(k, k.in_parameters, value->Body(), out);
    if (const XMLTag *value = params->First("DEF_ACCOUNT")) out.def_account = value->Body();
    if (const XMLTag *value = params->First("KEY")) out.key = value->Body();
  }
}

bool HasName(XMLTag &account, const std::string &name) {
  for (XMLTag *n : account.FindTag("NAME"))
    if (n->Body() == name) return true;
  return false;
}

void ReadAccount(XMLTag &account, _Account &out) {
  for (const ParamKey &k : kParamKeys) {
    const XMLTag *value = account.First(k.key);
    if (!value) continue;
    if (&k == &kServerAddress) out.conn.server_address = value->Body();  // a host name too
    if (Decode(k, k.in_account, value->Body(), out.conn)) out.mask |= k.bit;
  }
  for (const TextKey &k : kTextKeys) {
    const XMLTag *value = account.First(k.key);
    if (!value || value->Body().empty()) continue;
    out.*k.field = value->Body();
    out.mask |= k.bit;
  }
}

// Looks an account up in a loaded document and fills it over `params`.
int FindAccount(XML &doc, const YrkParamsStruct &params, _Account &io) {
  const XMLTag::TagList lists = doc.FindTag("ACCOUNTS");
  if (lists.empty()) return -1;
  io.mask = 0;
  static_cast<session_params &>(io.conn) = params;
  // An empty name picks the account of a list that holds just one.
  bool only = false;
  for (XMLTag *list : lists) {
    const XMLTag::TagList accounts = list->FindTag("ACCOUNT");
    only = only || (io.name.empty() && accounts.size() == 1);
    for (XMLTag *account : accounts) {
      if (!account->First("NAME") || !(only || HasName(*account, io.name))) continue;
      ReadAccount(*account, io);
      return 0;
    }
  }
  return ResultCode::kAccountNotFound;
}

// Gives `inout` every field the stored account sets and `inout` does not.
void CompleteFrom(const _Account &stored, _Account &inout) {
  // A stored host name has no mask bit (it is no address) but is kept too.
  if (!Config::Test(inout.mask, Config::MASK_SERVER_ADDRESS) &&
      !stored.conn.server_address.empty()) {
    inout.conn.server_address = stored.conn.server_address;
    inout.mask |= Config::MASK_SERVER_ADDRESS;
  }
  for (const ParamKey &k : kParamKeys) {
    if (&k == &kServerAddress || !Config::Test(stored.mask, k.bit) || Config::Test(inout.mask, k.bit))
      continue;
    CopyField(k, stored.conn, inout.conn);
    inout.mask |= k.bit;
  }
  for (const TextKey &k : kTextKeys) {
    if (!Config::Test(stored.mask, k.bit) || Config::Test(inout.mask, k.bit)) continue;
    inout.*k.field = stored.*k.field;
    inout.mask |= k.bit;
  }
}

// Removes the first account of that name from every account list.
bool RemoveAccount(XML &doc, const std::string &name) {
  bool removed = false;
  for (XMLTag *list : doc.FindOrAdd("ACCOUNTS")) {
    for (XMLTag *account : list->FindTag("ACCOUNT")) {
      if (!HasName(*account, name)) continue;
      list->Del(account);  // the loop ends here, before the list goes stale
      removed = true;
      break;
    }
  }
  return removed;
}

// The keys and values an account is written with, in their order.
std::vector<std::pair<const char *, std::string>> AccountKeys(const _Account &in) {
  std::vector<std::pair<const char *, std::string>> keys = {{"NAME", in.name}};
  for (const TextKey &k : kTextKeys)
    if (Config::Test(in.mask, k.bit) && !(in.*k.field).empty()) keys.emplace_back(k.key, in.*k.field);
  for (const ParamKey &k : kParamKeys)
    if (Config::Test(in.mask, k.bit))
      keys.emplace_back(k.key, &k == &kServerAddress ? in.conn.server_address : Encode(k, in.conn));
  return keys;
}

// Appends a new account to the first account list of a loaded document.
int InsertAccount(XML &doc, const _Account &in) {
  const XMLTag::TagList lists = doc.FindOrAdd("ACCOUNTS");
  for (XMLTag *list : lists)
    for (XMLTag *account : list->FindTag("ACCOUNT"))
      if (HasName(*account, in.name)) return ResultCode::kAlreadyExists;

  const auto keys = AccountKeys(in);
  for (const auto &[key, value] : keys)
    if (!XMLTag::CanHold(value)) return ResultCode::kInvalidParameters;
  XMLTag account("ACCOUNT");
  for (const auto &[key, value] : keys) account.Add(XMLTag(key, value));
  lists.front()->Add(account);
  return 0;
}

}  // namespace

Config::Config(const std::string &path) : user_path_(path) {}

Config::Config(const std::string &path, const std::string &system_path,
               const std::string &template_path)
    : SystemConfig(system_path, template_path), user_path_(path) {}

Config::Config(const std::string &path, const std::string &system_path,
               const std::string &template_path, std::optional<FsIdentity> owner)
    : SystemConfig(system_path, template_path), user_path_(path), owner_(std::move(owner)) {}

void Config::GetParams(YrkParamsStruct &out) const {
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  ReadParams(doc, out);
}

void Config::SetParams(const YrkParamsStruct &in) const {
  if (!XMLTag::CanHold(in.def_account) || !XMLTag::CanHold(in.key)) throw std::runtime_error("invalid value");
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  XMLTag *params = doc.FindOrAdd("PARAMETERS").front();
  params->Clear();
  for (const ParamKey &k : kParamKeys) params->Add(XMLTag(k.key, Encode(k, in)));
  params->Add(XMLTag("DEF_ACCOUNT", in.def_account));
  params->Add(XMLTag("KEY", in.key));
  doc.Store();
}

int Config::AddAccount(const _Account &in) const {
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  const int result = InsertAccount(doc, in);
  if (result == 0) doc.Store();
  return result;
}

int Config::GetAccount(_Account &inout) const {
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  YrkParamsStruct params;
  ReadParams(doc, params);
  return FindAccount(doc, params, inout);
}

int Config::ModifyAccount(_Account &inout) const {
  if (inout.name.empty()) return ResultCode::kAccountNotFound;  // no account is named so
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  YrkParamsStruct params;
  ReadParams(doc, params);
  _Account stored;
  stored.name = inout.name;
  if (FindAccount(doc, params, stored) != 0) return ResultCode::kAccountNotFound;
  CompleteFrom(stored, inout);
  // Removal and re-insertion in one document and one store: a failure on the
  // way leaves the stored account as it was.
  RemoveAccount(doc, stored.name);
  const int result = InsertAccount(doc, inout);
  if (result == 0) doc.Store();
  return result;
}

int Config::DelAccount(const _Account &in) const {
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  const bool removed = RemoveAccount(doc, in.name);
  doc.Store();
  return removed ? 0 : ResultCode::kAccountNotFound;
}

void Config::ListAccounts(std::vector<_Account> &out) const {
  out.clear();
  const ScopedFsIdentity as_owner(owner_);
  XML doc(user_path_.c_str());
  doc.Load();
  YrkParamsStruct params;
  ReadParams(doc, params);
  // Copies: each lookup below refills the lists FindTag hands out.
  const XMLTag::TagList lists = doc.FindTag("ACCOUNTS");
  for (XMLTag *list : lists) {
    const XMLTag::TagList accounts = list->FindTag("ACCOUNT");
    for (XMLTag *account : accounts) {
      const XMLTag *name = account->First("NAME");
      if (!name) continue;
      _Account entry;
      entry.name = name->Body();
      if (FindAccount(doc, params, entry) >= 0) out.push_back(entry);
    }
  }
}
