// A session as the daemon reports it in a statistics answer: one 180-byte
// record per session, host order, zero where unset. The command layer copies
// it whole; front ends read the fields.
#pragma once

#include <cstddef>
#include <cstdint>

// What the session is doing.
enum SessionStatus : int32_t {
  kSessionDown = 0,
  kSessionConnecting = 1,
  kSessionUp = 2,
  kSessionDisconnecting = 3,
};

struct __attribute__((packed)) _session_state {
  uint32_t server_ip;  // IPv4, first octet most significant
  uint32_t local_ip;
  uint16_t server_port;
  uint16_t local_port;
  int32_t status;       // SessionStatus
  int32_t last_result;  // result code of the last failure, 0 for none
  uint32_t uptime;      // seconds since the session came up
  uint64_t bytes_received;
  uint64_t bytes_sent;
  uint64_t frames_received;
  uint64_t frames_sent;
  uint64_t frames_dropped;  // failed checks, replays
  char account[65];         // NUL-terminated
  uint8_t reserved[51];
};
static_assert(sizeof(_session_state) == 180);
static_assert(offsetof(_session_state, status) == 12);
static_assert(offsetof(_session_state, bytes_received) == 24);
static_assert(offsetof(_session_state, frames_dropped) == 56);
static_assert(offsetof(_session_state, account) == 64);
