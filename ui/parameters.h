// Typed command parameters: what a front end puts into a command's bag.
#pragma once

#include <cstdint>
#include <list>
#include <string>

namespace UserInterface {

enum ParameterType : int32_t {
  PARAM_NAME = 0,
  PARAM_SERVER = 2,
  PARAM_PASSWORD = 3,
  PARAM_USER = 4,
  PARAM_CERT_TYPE = 5,
  PARAM_CERT_PATH = 6,
  PARAM_LOG_LEVEL = 7,
  PARAM_LOG_FROM = 9,
  PARAM_LOG_TO = 10,
  PARAM_SUBJECT_CN = 11,
  PARAM_SUBJECT_O = 12,
  PARAM_SUBJECT_OU = 13,
  PARAM_SUBJECT_C = 14,
  PARAM_SUBJECT_ST = 15,
  PARAM_SUBJECT_L = 16,
  PARAM_SUBJECT_STREET = 17,
  PARAM_ISSUER_CN = 18,
  PARAM_ISSUER_O = 19,
  PARAM_EXPIRED = 20,
  PARAM_LOCAL_ADDRESS = 21,
  PARAM_SERVER_PORT = 22,
  PARAM_LOCAL_PORT = 23,
  PARAM_MTU = 24,
  PARAM_LOG_TRAFFIC = 25,
  PARAM_RECONNECT_ON_LOSS = 26,
  PARAM_CONNECT_TRY_INTERVAL = 27,
  PARAM_CONNECT_TRY_COUNT = 28,
  PARAM_DISCONNECT_ON_TIMEOUT = 29,
  PARAM_DISABLE_UNPROTECTED = 30,
  PARAM_RESULT = 31,
  PARAM_KEY = 32,
};
static_assert(sizeof(ParameterType) == 4);

// The certificate field a filter entry tests.
enum filtertype : int32_t {
  FILTER_SUBJECT_CN = 0,
  FILTER_SUBJECT_O = 1,
  FILTER_ISSUER_CN = 2,
  FILTER_ISSUER_O = 3,
  FILTER_EXPIRED = 4,
};

struct _StringParameter {
  ParameterType type;
  std::string value;
};

struct _DigitalParameter {
  ParameterType type;
  int32_t value;
};

// The value of the last parameter of that type (a repeated type: the last
// counts), or "" when there is none.
inline std::string LastString(const std::list<_StringParameter> &strings, ParameterType type) {
  std::string value;
  for (const _StringParameter &s : strings)
    if (s.type == type) value = s.value;
  return value;
}

}  // namespace UserInterface
