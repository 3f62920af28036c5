// The command layer: numbered commands with typed parameter bags, serialised
// between processes by the named semaphore "yrk_sem".
#pragma once

#include <semaphore.h>

#include <cstdio>

#include <atomic>
#include <cstdint>
#include <list>
#include <string>

#include "cert/cert_stores.h"
#include "channel/cmd_issuer.h"
#include "channel/session_state.h"
#include "config/account_records.h"
#include "config/context.h"
#include "config/paths.h"
#include "ui/parameters.h"

class Config;
class Message;

namespace UserInterface {

class UI : public IssuerListener {
 public:
  struct ParameterBag {
    std::list<_StringParameter> strings;
    std::list<_DigitalParameter> digitals;
    std::list<_session_state> states;
  };

  // Opens "yrk_sem" (never creates it); throws std::runtime_error("sem_open").
  UI();
  virtual ~UI();
  UI(const UI &) = delete;
  UI &operator=(const UI &) = delete;

  // Prints the daemon's texts, collects its values and session states.
  void CallbackNotify(Message &msg) override;

  // Withdraws a pending connect (from a signal handler or another thread).
  void Cancel();
  bool CancelRequested() const override;
  void ClearCancel() override;

  // Runs command `number` (ui/commands.h): 0 or a negative result code
  // (impex/result_codes.h); never throws.
  int SendCommand(int number, ParameterBag &bag);

  // Sends the block to the daemon (RequestKind::kParameters); the reply, and
  // a channel that cannot be opened, are ignored.
  void UpdateParameters(session_params &params);
  // Asks the daemon to write an event (RequestKind::kLog); returns the
  // issuer's result.
  int AppendLog(int32_t event_type, const std::string &text);

  const std::string &CurrentUser() const;
  void SetCurrentUser(const std::string &name);
  // The server of the last connect request, -1 before any.
  int32_t ConnectedServer() const { return connected_server; }

 protected:
  // The files and sockets the layer works on; tests point them elsewhere.
  struct Files {
    std::string user;  // empty: the calling user, whose ".yrk" tree is prepared
    std::string semaphore = Paths::kSemaphore;
    std::string user_config;  // empty: the current user's ".yrk/cfg", opened as that user
    std::string system_config = Paths::kSystemConfig;
    std::string system_template = Paths::kDefConfig;
    std::string client_socket = Paths::kClientSocket;
    std::string daemon_socket = Paths::kDaemonSocket;
    // empty: the current user's certificate stores; else a directory holding
    // the stores "user", "ca" and "crl"
    std::string cert_stores;
    CmdIssuer::SecondsClock clock = Time;  // of the daemon's idle time-out
  };
  explicit UI(Files files);

  std::list<_session_state> &States() { return states; }
  std::list<_DigitalParameter> &Values() { return values; }
  // The certificate stores of the current user.
  CertStores Stores();
  // Where the events command prints its lines: standard output unless a
  // front end collects them (it must not hold the semaphore while a reader
  // of its output dawdles).
  void SetListingOutput(FILE *out) { listing_output = out; }

 private:
  int Dispatch(int number, ParameterBag &bag);
  // The current user's configuration beside the system configuration.
  Config OpenConfig() const;
  // Sends one request to the daemon through a fresh command issuer.
  int Issue(Message &msg);

  // Adds the certificate file to the user store and names its entry in the
  // account: 0, or ResultCode::kCertNotStored.
  int AddAccountCert(const std::string &path, _Account &account);

  int AddAccountHandler(ParameterBag &bag);
  int DelAccountHandler(ParameterBag &bag);
  int ModifyAccountHandler(ParameterBag &bag);
  int SetParamHandler(ParameterBag &bag, bool reset);
  int AddCertHandler(ParameterBag &bag);
  int DelCertHandler(ParameterBag &bag);
  int AddServerHandler(ParameterBag &bag);
  int DelServerHandler(ParameterBag &bag);
  int ConnectHandler(ParameterBag &bag);
  int DisconnectHandler(ParameterBag &bag);
  int StatsHandler(ParameterBag &bag);
  int EventsHandler(ParameterBag &bag);

  Context context;
  sem_t *semaphore = nullptr;
  std::atomic<bool> cancel{false};
  int32_t connected_server = -1;
  std::list<_session_state> states;
  std::list<_DigitalParameter> values;
  FILE *listing_output = stdout;
  Files files;
};

}  // namespace UserInterface
