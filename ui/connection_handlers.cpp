// Commands that go to the connection daemon: connect, disconnect, statistics;
// and the event log listing.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "channel/message.h"
#include "channel/message_kinds.h"
#include "channel/request_block.h"
#include "config/config.h"
#include "config/event_log.h"
#include "config/personals.h"
#include "impex/ipaddr.h"
#include "impex/result_codes.h"
#include "ui/cert_processor.h"
#include "ui/ui.h"

namespace UserInterface {

namespace {

// Clears a string's characters where they lie before the string goes.
class WipedString {
 public:
  explicit WipedString(std::string text) : text(std::move(text)) {}
  ~WipedString() { explicit_bzero(text.data(), text.size()); }
  WipedString(const WipedString &) = delete;
  WipedString &operator=(const WipedString &) = delete;
  const std::string &operator*() const { return text; }

 private:
  std::string text;
};

// A NUL-padded field of the request block; false when the text does not fit
// with its NUL.
bool FillField(char (&field)[_request_block::kTextField], const std::string &text) {
  if (text.size() >= sizeof field) return false;
  std::memcpy(field, text.data(), text.size());
  return true;
}

// The connection record, then the request block, as the daemon reads them.
class ConnectionRequest {
 public:
  explicit ConnectionRequest(uint32_t server_ip) { record.server_ip = server_ip; }
  ~ConnectionRequest() { explicit_bzero(&block, sizeof block); }

  session_params record;
  _request_block block{};

  Message Build(int kind) const {
    unsigned char bytes[sizeof record + sizeof block];
    std::memcpy(bytes, &record, sizeof record);
    std::memcpy(bytes + sizeof record, &block, sizeof block);
    Message msg(kind);
    msg.Add(bytes, sizeof bytes);
    explicit_bzero(bytes, sizeof bytes);
    return msg;
  }
};

// A session_params record that is zero but for the server address.
Message ServerRecord(int kind, uint32_t server_ip) {
  session_params record;
  record.server_ip = server_ip;
  Message msg(kind);
  msg.Add(&record, sizeof record);
  return msg;
}

// The account's certificate entry is kept as a hexadecimal number; text
// that is none names no entry.
int CertNumber(const std::string &hex) {
  char *end = nullptr;
  const long number = std::strtol(hex.c_str(), &end, 16);
  if (hex.empty() || *end != '\0' || number < 0 || number > INT32_MAX) return -1;
  return static_cast<int>(number);
}

// The login name of the process's real user.
std::optional<std::string> InvokingUser() {
  passwd entry;
  passwd *found = nullptr;
  std::vector<char> room(4096);
  if (getpwuid_r(getuid(), &entry, room.data(), room.size(), &found) != 0 || !found)
    return std::nullopt;
  return std::string(found->pw_name);
}

}  // namespace

int UI::ConnectHandler(ParameterBag &bag) {
  const WipedString password(LastString(bag.strings, PARAM_PASSWORD));
  if ((*password).size() >= _request_block::kTextField) return ResultCode::kPasswordTooLong;

  const Config config = OpenConfig();
  YrkParamsStruct params;
  config.GetParams(params);
  _Account account;
  account.name = LastString(bag.strings, PARAM_NAME);
  if (account.name.empty()) account.name = params.def_account;
  if (config.GetAccount(account) < 0) return ResultCode::kNoAccountToConnect;

  const int cert = CertNumber(account.cert);
  const int verified = CertProcessor(Stores(), CertStorage::CERT_USER).Verify(cert);
  if (verified < 0) return verified;

  ConnectionRequest request(account.conn.server_ip);
  request.record = account.conn;
  request.block.cert_number = cert;
  FillField(request.block.password, *password);
  if (!FillField(request.block.user, CurrentUser())) return ResultCode::kNameTooLong;
  Message msg = request.Build(RequestKind::kConnect);
  connected_server = static_cast<int32_t>(account.conn.server_ip);
  return Issue(msg);
}

int UI::DisconnectHandler(ParameterBag &bag) {
  uint32_t server_ip = 0;
  for (const _StringParameter &s : bag.strings) {
    if (s.type == PARAM_SERVER) {
      if (string2ipaddr(s.value.c_str(), server_ip, nullptr) != 0)
        return ResultCode::kInvalidParameters;
      break;
    }
    if (s.type == PARAM_NAME) {
      _Account account;
      account.name = s.value;
      if (OpenConfig().GetAccount(account) < 0) return ResultCode::kNoAccountToConnect;
      if (account.conn.server_ip == 0) return ResultCode::kNoServerAddress;
      server_ip = account.conn.server_ip;
      break;
    }
  }
  ConnectionRequest request(server_ip);
  if (!FillField(request.block.user, CurrentUser())) return ResultCode::kNameTooLong;
  Message msg = request.Build(RequestKind::kDisconnect);
  return Issue(msg);
}

// The daemon's last word, a value, is collected like the rest: a failure it
// reports comes back as a PARAM_RESULT entry, and only a channel failure as
// the result.
int UI::StatsHandler(ParameterBag &bag) {
  states.clear();
  values.clear();
  uint32_t server_ip = 0;
  const std::string server = LastString(bag.strings, PARAM_SERVER);
  if (!server.empty() && string2ipaddr(server.c_str(), server_ip, nullptr) != 0)
    return ResultCode::kInvalidParameters;
  Message msg = ServerRecord(RequestKind::kStatistics, server_ip);
  const int result = Issue(msg);
  if (result < 0 && values.empty()) return result;
  bag.digitals.insert(bag.digitals.end(), values.begin(), values.end());
  bag.states.insert(bag.states.end(), states.begin(), states.end());
  return ResultCode::kOk;
}

// Ordinary users list only their own lines, by the user field (a name that
// is part of another's, or of a text, shows nothing more); naming someone
// else needs the superuser.
int UI::EventsHandler(ParameterBag &bag) {
  std::string user = LastString(bag.strings, PARAM_USER);
  EventLog::UserMatch match = EventLog::UserMatch::kAnywhere;
  if (!Personals::IsRoot()) {
    const std::optional<std::string> self = InvokingUser();
    if (!self) return ResultCode::kUnknownUser;
    if (!user.empty() && user != *self) return ResultCode::kNeedRoot;
    user = *self;
    match = EventLog::UserMatch::kField;
  }
  if (!gEventLog) return ResultCode::kLogUnreadable;
  return gEventLog->Output(user, LastString(bag.strings, PARAM_LOG_LEVEL),
                           LastString(bag.strings, PARAM_LOG_FROM),
                           LastString(bag.strings, PARAM_LOG_TO), listing_output, match);
}

}  // namespace UserInterface
