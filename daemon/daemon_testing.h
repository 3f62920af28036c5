// Request payloads as the command layer builds them, for the daemon's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "daemon/server.h"

// A connect or disconnect payload: the record with the server address, then
// certificate number, password and user name (each cut to its field).
inline std::vector<uint8_t> ConnectPayload(uint32_t server, const std::string &password,
                                           const std::string &user, int32_t cert = 42) {
  using namespace RequestLayout;
  std::vector<uint8_t> out(kRecord + kBlock, 0);
  std::memcpy(out.data() + kServerIp, &server, sizeof server);
  std::memcpy(out.data() + kRecord, &cert, sizeof cert);
  std::copy_n(password.begin(), std::min(password.size(), kName), out.begin() + kPassword);
  std::copy_n(user.begin(), std::min(user.size(), kName), out.begin() + kBlockUser);
  return out;
}

// A log request: event type, user name field, text and its NUL.
inline std::vector<uint8_t> LogPayload(int32_t type, const std::string &user,
                                       const std::string &text) {
  using RequestLayout::kName;
  std::vector<uint8_t> out(sizeof type + kName + text.size() + 1, 0);
  std::memcpy(out.data(), &type, sizeof type);
  std::copy_n(user.begin(), std::min(user.size(), kName), out.begin() + sizeof type);
  std::copy(text.begin(), text.end(), out.begin() + sizeof type + kName);
  return out;
}

// A 44-byte connection record with the server address.
inline std::vector<uint8_t> RecordPayload(uint32_t server) {
  std::vector<uint8_t> out(RequestLayout::kRecord, 0);
  std::memcpy(out.data() + RequestLayout::kServerIp, &server, sizeof server);
  return out;
}
