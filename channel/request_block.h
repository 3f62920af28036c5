// The block that follows the 44-byte connection record in connect and
// disconnect requests; unfilled bytes are 0.
#pragma once

#include <cstddef>
#include <cstdint>

struct __attribute__((packed)) _request_block {
  static constexpr size_t kTextField = 65;  // up to 64 bytes and a NUL

  int32_t cert_number;  // in the user's certificate store
  char password[kTextField];
  char user[kTextField];  // the user the command acts for
};
static_assert(sizeof(_request_block) == 134);
static_assert(offsetof(_request_block, password) == 4);
static_assert(offsetof(_request_block, user) == 69);
