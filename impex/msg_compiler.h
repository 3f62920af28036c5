// Result codes and the Russian texts shown to the user for them, plus the
// value formatters the configuration writer and the event log use.
#pragma once

#include <cstdint>
#include <string>

class MsgCompiler {
 public:
  // The user message for a result code; the sign is ignored.
  static std::string HandleError(int code);

  static void MsgError(std::string &out);
  static void MsgInvalidParameter(std::string &out);
  static void MsgNeedRootAccess(std::string &out);
  static void MsgServerError(std::string &out);
  static void MsgLogReadError(std::string &out);
  static void MsgNoUserSelected(std::string &out);
  static void MsgErrorPasswdTooLong(std::string &out);
  static void MsgErrorNameTooLong(std::string &out);
  static void MsgErrorKeyPath(std::string &out);
  static void MsgErrorInvalidAccount(std::string &out);

  static std::string CertStorageExportError();
  static std::string MsgICCheckFail();
  static std::string MsgICCheckError();
  static std::string MsgErrorIKI();
  static std::string MsgErrorMTUInvalid();

  // Current local time as "dd.mm.yyyy hh:mm:ss".
  static void MsgTime(std::string &out);
  // Dotted address, first octet in the most significant byte; 0 is
  // "*.*.*.*"; right-aligned in 16 characters.
  static void MsgAddress(std::string &out, uint32_t address);
  static void MsgPort(std::string &out, uint16_t port);
  // Printed as a signed 32-bit value.
  static void MsgInt(std::string &out, uint32_t value);
};
