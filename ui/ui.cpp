#include "ui/ui.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "channel/cmd_issuer.h"
#include "channel/message.h"
#include "channel/message_kinds.h"
#include "config/config.h"
#include "config/personals.h"
#include "impex/result_codes.h"
#include "ui/commands.h"
#include "ui/cert_processor.h"
#include "ui/held_semaphore.h"
#include "ui/store_as_owner.h"

namespace UserInterface {

namespace {

constexpr int kSemaphoreAttempts = 10;

constexpr size_t kUserField = 65;  // at most 64 characters and a NUL

// Handlers never throw: whatever escapes one becomes ResultCode::kHandlerFailed.
template <typename Handler>
int Guarded(Handler handler) {
  try {
    return handler();
  } catch (...) {
    return ResultCode::kHandlerFailed;
  }
}

}  // namespace

UI::UI() : UI(Files{}) {}

UI::UI(Files files)
    : context(files.user.empty() ? Context() : Context(files.user)), files(std::move(files)) {
  semaphore = sem_open(this->files.semaphore.c_str(), 0);
  if (semaphore == SEM_FAILED) {
    semaphore = nullptr;
    throw std::runtime_error("sem_open");
  }
}

UI::~UI() {
  if (semaphore) sem_close(semaphore);
}

void UI::Cancel() { cancel = true; }
bool UI::CancelRequested() const { return cancel; }
void UI::ClearCancel() { cancel = false; }

const std::string &UI::CurrentUser() const { return context.Username(); }
void UI::SetCurrentUser(const std::string &name) { context.SetUsername(name); }

int UI::SendCommand(int number, ParameterBag &bag) {
  if (!semaphore) return ResultCode::kUnknownError;  // the code for a semaphore not open
  const HeldSemaphore hold(semaphore, kSemaphoreAttempts);
  if (!hold.held()) return ResultCode::kSemaphoreBusy;
  values.clear();
  return Dispatch(number, bag);
}

int UI::Dispatch(int number, ParameterBag &bag) {
  switch (number) {
    case Command::kConnect: return Guarded([&] { return ConnectHandler(bag); });
    case Command::kDisconnect: return Guarded([&] { return DisconnectHandler(bag); });
    case Command::kStats: return Guarded([&] { return StatsHandler(bag); });
    case Command::kEvents: return Guarded([&] { return EventsHandler(bag); });
    case Command::kAddAccount: return Guarded([&] { return AddAccountHandler(bag); });
    case Command::kDelAccount: return Guarded([&] { return DelAccountHandler(bag); });
    case Command::kModifyAccount: return Guarded([&] { return ModifyAccountHandler(bag); });
    case Command::kAddCert: return Guarded([&] { return AddCertHandler(bag); });
    case Command::kDelCert: return Guarded([&] { return DelCertHandler(bag); });
    case Command::kSetParams: return Guarded([&] { return SetParamHandler(bag, false); });
    case Command::kResetParams: return Guarded([&] { return SetParamHandler(bag, true); });
    case Command::kAddServer: return Guarded([&] { return AddServerHandler(bag); });
    case Command::kDelServer: return Guarded([&] { return DelServerHandler(bag); });
    default: return ResultCode::kInvalidParameters;
  }
}

// The user's own document is loaded and stored as that user: a superuser
// process must not be led by the user's links to files the user may not touch.
Config UI::OpenConfig() const {
  if (!files.user_config.empty())
    return Config(files.user_config, files.system_config, files.system_template);
  const Personals user(CurrentUser());
  return Config(user.CfgPath(), files.system_config, files.system_template, user.Owner());
}

// The superuser works in the user's own store as that user.
CertStores UI::Stores() {
  if (files.cert_stores.empty()) {
    return CertStores([this](CertStorage::CertType type) -> CertStorage * {
      PContext user(&context);
      CertStorage *store = CertStorage::Open(user, type);
      if (!store || type != CertStorage::CERT_USER) return store;
      return new StoreAsOwner(store, Personals(CurrentUser()).Owner());
    });
  }
  return StoresIn(files.cert_stores);
}

int UI::Issue(Message &msg) {
  CmdIssuer issuer(this, files.client_socket, files.daemon_socket, files.clock);
  return issuer.Put(msg);
}

void UI::CallbackNotify(Message &msg) {
  switch (msg.Kind()) {
    case AnswerKind::kOtherText:
    case AnswerKind::kEnd:
    case AnswerKind::kText:
      printf("%s \n", msg.Text().c_str());
      fflush(stdout);
      break;
    case AnswerKind::kValue:
      if (auto value = msg.FirstInt()) values.push_back({PARAM_RESULT, *value});
      break;
    case AnswerKind::kState:
      // A short payload is dropped rather than read past its end.
      if (msg.Length() >= static_cast<int>(sizeof(_session_state))) {
        _session_state state;
        std::memcpy(&state, msg.Payload(), sizeof state);
        states.push_back(state);
      }
      break;
    default:
      break;
  }
}

void UI::UpdateParameters(session_params &params) {
  Message msg(RequestKind::kParameters);
  msg.Add(&params, sizeof params);
  // Telling the daemon is best effort: the stored change stands whether or
  // not the channel can even be opened.
  try {
    Issue(msg);
  } catch (const std::exception &) {
  }
}

int UI::AppendLog(int32_t event_type, const std::string &text) {
  char user[kUserField] = {};
  std::strncpy(user, CurrentUser().c_str(), kUserField - 1);
  Message msg(RequestKind::kLog);
  msg.Add(&event_type, sizeof event_type);
  msg.Add(user, sizeof user);
  msg.Add(text.c_str(), static_cast<unsigned>(text.size() + 1));
  return Issue(msg);
}

}  // namespace UserInterface
