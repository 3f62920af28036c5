// Commands on the current user's accounts and global connection parameters.
#include <cstdio>
#include <vector>

#include "config/config.h"
#include "impex/ipaddr.h"
#include "impex/result_codes.h"
#include "ui/cert_processor.h"
#include "ui/ui.h"

namespace UserInterface {

namespace {

// Stores one digital parameter in the block; the mask bit it sets, or 0 for a
// type that is no connection parameter.
uint32_t ApplyDigital(session_params &params, const _DigitalParameter &digital) {
  const int32_t v = digital.value;
  switch (digital.type) {
    case PARAM_SERVER_PORT: params.server_port = static_cast<uint16_t>(v); return Config::MASK_SERVER_PORT;
    case PARAM_LOCAL_PORT: params.local_port = static_cast<uint16_t>(v); return Config::MASK_LOCAL_PORT;
    case PARAM_MTU: params.mtu = v; return Config::MASK_MTU;
    case PARAM_LOG_TRAFFIC: params.log_traffic = v; return Config::MASK_LOG_TRAFFIC;
    case PARAM_CONNECT_TRY_COUNT: params.connect_try_count = v; return Config::MASK_CONNECT_TRY_COUNT;
    case PARAM_CONNECT_TRY_INTERVAL: params.connect_try_interval = v; return Config::MASK_CONNECT_TRY_INTERVAL;
    case PARAM_RECONNECT_ON_LOSS: params.reconnect_on_loss = v; return Config::MASK_RECONNECT_ON_LOSS;
    case PARAM_DISCONNECT_ON_TIMEOUT: params.disconnect_on_timeout = v; return Config::MASK_DISCONNECT_ON_TIMEOUT;
    case PARAM_DISABLE_UNPROTECTED: params.disable_unprotected = v; return Config::MASK_DISABLE_UNPROTECTED;
    default: return 0;
  }
}

uint32_t ApplyDigitals(session_params &params, const std::list<_DigitalParameter> &digitals) {
  uint32_t mask = 0;
  for (const _DigitalParameter &digital : digitals) mask |= ApplyDigital(params, digital);
  return mask;
}

// Reads the local address into the block; false when it does not parse.
bool ApplyLocalAddress(_Account &account, const std::string &text) {
  if (string2ipaddr(text.c_str(), account.conn.local_ip, nullptr) != 0) return false;
  account.mask |= Config::MASK_LOCAL_ADDRESS;
  return true;
}

void ApplyServerAddress(_Account &account, const std::string &text) {
  account.conn.server_address = text;
  account.mask |= Config::MASK_SERVER_ADDRESS;
}

}  // namespace

int UI::AddAccountCert(const std::string &path, _Account &account) {
  const int number = CertProcessor(Stores(), CertStorage::CERT_USER).Add(path);
  if (number < 0) return ResultCode::kCertNotStored;
  char text[16];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(number));
  account.cert = text;
  account.mask |= Config::MASK_CERT;
  return 0;
}

int UI::AddAccountHandler(ParameterBag &bag) {
  _Account account;
  account.user = CurrentUser();
  account.mask = Config::MASK_USER;
  std::string cert_path;
  for (const _StringParameter &s : bag.strings) {
    switch (s.type) {
      case PARAM_NAME: account.name = s.value; break;
      case PARAM_SERVER: ApplyServerAddress(account, s.value); break;
      case PARAM_CERT_PATH: cert_path = s.value; break;
      case PARAM_LOCAL_ADDRESS:
        if (!ApplyLocalAddress(account, s.value)) return ResultCode::kInvalidParameters;
        break;
      default: break;
    }
  }
  const std::string &server = account.conn.server_address;
  if (account.name.empty() || server.empty() || account.user.empty() || cert_path.empty() ||
      string2ipaddr(server.c_str(), account.conn.server_ip, nullptr) != 0)
    return ResultCode::kInvalidParameters;
  if (const int stored = AddAccountCert(cert_path, account); stored != 0) return stored;
  account.mask |= ApplyDigitals(account.conn, bag.digitals);
  return OpenConfig().AddAccount(account);
}

int UI::DelAccountHandler(ParameterBag &bag) {
  _Account account;
  account.name = LastString(bag.strings, PARAM_NAME);
  if (account.name.empty()) return ResultCode::kInvalidParameters;
  if (OpenConfig().DelAccount(account) < 0) return ResultCode::kAccountNotFound;
  // The account's certificate stays in the user store.
  return 0;
}

int UI::ModifyAccountHandler(ParameterBag &bag) {
  _Account account;
  account.user = CurrentUser();
  for (const _StringParameter &s : bag.strings) {
    switch (s.type) {
      case PARAM_NAME: account.name = s.value; break;
      case PARAM_SERVER: ApplyServerAddress(account, s.value); break;
      case PARAM_LOCAL_ADDRESS:
        if (!ApplyLocalAddress(account, s.value)) return ResultCode::kInvalidParameters;
        break;
      case PARAM_CERT_PATH:
        // Stored at once: a later failure leaves the certificate in the store.
        if (const int stored = AddAccountCert(s.value, account); stored != 0) return stored;
        break;
      default: break;
    }
  }
  if (account.name.empty()) return ResultCode::kInvalidParameters;
  account.mask |= ApplyDigitals(account.conn, bag.digitals);

  const Config config = OpenConfig();
  const int result = config.ModifyAccount(account);
  _Account stored;
  stored.name = account.name;
  if (config.GetAccount(stored) == 0) UpdateParameters(stored.conn);
  return result;
}

int UI::SetParamHandler(ParameterBag &bag, bool reset) {
  const Config config = OpenConfig();
  YrkParamsStruct params;
  if (!reset) {
    config.GetParams(params);
    for (const _StringParameter &s : bag.strings) {
      if (s.type == PARAM_NAME) params.def_account = s.value;
      if (s.type == PARAM_KEY) params.key = s.value;
    }
    ApplyDigitals(params, bag.digitals);
  }
  config.SetParams(params);
  UpdateParameters(params);

  std::vector<_Account> accounts;
  config.ListAccounts(accounts);
  for (_Account &account : accounts) UpdateParameters(account.conn);
  return 0;
}

}  // namespace UserInterface
