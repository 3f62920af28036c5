// The command layer: numbered commands with typed parameter bags, serialised
// between processes by the named semaphore "yrk_sem".
#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <string>

#include "config/personals.h"
#include "ui/parameters.h"

class Message;

// The 44-byte connection-parameter block of an account or of the global
// parameters, sent to the daemon unchanged (same layout as the first 44 bytes
// of the configuration store's connection record).
struct session_params {
  uint32_t reserved;
  uint32_t server_ip;  // host order, first octet most significant
  uint32_t local_ip;
  uint16_t server_port;
  uint16_t local_port;
  int32_t mtu;
  int32_t log_traffic;
  int32_t connect_try_count;
  int32_t connect_try_interval;
  int32_t reconnect_on_loss;
  int32_t disconnect_on_timeout;
  int32_t disable_unprotected;
};
static_assert(sizeof(session_params) == 44);

// A session as the daemon reports it; the layer copies it whole and reads
// none of its fields.
struct _session_state {
  uint8_t bytes[180];
};
static_assert(sizeof(_session_state) == 180);

namespace UserInterface {

class UI {
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

  // Runs on the command issuer's reader thread for every daemon message.
  virtual void CallbackNotify(Message &msg);

  void Cancel();
  bool CancelRequested() const;
  void ClearCancel();

  // 0 or a negative result code; never throws.
  int SendCommand(int number, ParameterBag &bag);

  // Sends the block to the daemon (kind 6); the reply is ignored.
  void UpdateParameters(session_params &params);
  // Asks the daemon to write an event (kind 7); returns the issuer's result.
  int AppendLog(int32_t event_type, const std::string &text);

  const std::string &CurrentUser() const;
  void SetCurrentUser(const std::string &name);

 protected:
  // For tests: another semaphore name.
  explicit UI(const std::string &semaphore_name);

  std::list<_session_state> &States() { return states; }
  std::list<_DigitalParameter> &Values() { return values; }

 private:
  int Dispatch(int number, ParameterBag &bag);
  int DelAccountHandler(ParameterBag &bag);
  int ModifyAccountHandler(ParameterBag &bag);
  int SetParamHandler(ParameterBag &bag, bool reset);
  int AddServerHandler(ParameterBag &bag);
  int DelServerHandler(ParameterBag &bag);

  Context context;
  sem_t *semaphore = nullptr;
  bool busy = false;
  std::atomic<bool> cancel{false};
  int32_t connected_server = -1;
  std::list<_session_state> states;
  std::list<_DigitalParameter> values;
};

}  // namespace UserInterface
