// Accounts and connection parameters as the configuration store hands them
// out, with the 44-byte parameter block sent to the connection daemon.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

// Connection parameters of an account or of the global defaults; sent to the
// daemon as these raw 44 bytes (host order, the 32-bit x86 layout).
struct session_params {
  uint32_t reserved = 0;             // not set by the configuration store
  uint32_t server_ip = 0;            // IPv4, host order
  uint32_t local_ip = 0;             // IPv4, host order
  uint16_t server_port = 0;
  uint16_t local_port = 0;
  int32_t mtu = 0;
  int32_t log_traffic = 0;           // 0 or 1
  int32_t connect_try_count = 0;
  int32_t connect_try_interval = 0;
  int32_t reconnect_on_loss = 0;     // 0 or 1
  int32_t disconnect_on_timeout = 0;
  int32_t disable_unprotected = 0;
};
static_assert(sizeof(session_params) == 44);
static_assert(std::is_trivially_copyable_v<session_params>);
static_assert(std::is_standard_layout_v<session_params>);
static_assert(offsetof(session_params, server_ip) == 4);
static_assert(offsetof(session_params, local_ip) == 8);
static_assert(offsetof(session_params, server_port) == 12);
static_assert(offsetof(session_params, local_port) == 14);
static_assert(offsetof(session_params, mtu) == 16);
static_assert(offsetof(session_params, log_traffic) == 20);
static_assert(offsetof(session_params, connect_try_count) == 24);
static_assert(offsetof(session_params, connect_try_interval) == 28);
static_assert(offsetof(session_params, reconnect_on_loss) == 32);
static_assert(offsetof(session_params, disconnect_on_timeout) == 36);
static_assert(offsetof(session_params, disable_unprotected) == 40);

struct UserConfigStruct {
  std::string user;  // "USER"
  std::string cert;  // "CERT": number in the user certificate store, hexadecimal
};

// An account's connection settings; the session_params base is the block
// sent to the daemon (static_cast<const session_params &>(conn)).
struct ConnectionConfigStruct : session_params {
  std::string server_address;  // "SERVER_ADDRESS" as the user wrote it
};

struct _Account : UserConfigStruct {
  ConnectionConfigStruct conn;
  std::string name;   // "NAME", the account's identity
  uint32_t mask = 0;  // Config::SetMask bits of the fields that are set
};

// The global parameters; the base holds the same eleven words as an
// account's block, so an account starts as a copy of them.
struct YrkParamsStruct : session_params {
  YrkParamsStruct();

  std::string def_account;        // "DEF_ACCOUNT"
  std::string key;                // "KEY": where the private key lives
  std::string user_cert_dir;      // not stored
  std::string ca_dir;             // not stored
  std::string crl_dir;            // not stored
  uint32_t log_size_limit;        // not stored: the event log's size limit
};
