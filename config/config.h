// A user's configuration document (".yrk/cfg"): connection accounts and the
// global parameters. Each operation loads the file, works and, when it
// changes something, stores it; no tree is kept between operations. Every
// operation may throw std::runtime_error("file not found", "open failed",
// "write failed") from the document layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/account_records.h"
#include "config/scoped_fs_identity.h"
#include "config/system_config.h"

class Config : public SystemConfig {
 public:
  // Bits of _Account::mask: which fields of the account are set.
  enum SetMask : uint32_t {
    MASK_SERVER_ADDRESS = 0x1,
    MASK_SERVER_PORT = 0x2,
    MASK_LOCAL_ADDRESS = 0x4,
    MASK_LOCAL_PORT = 0x8,
    MASK_MTU = 0x10,
    MASK_LOG_TRAFFIC = 0x20,
    MASK_CONNECT_TRY_COUNT = 0x40,
    MASK_CONNECT_TRY_INTERVAL = 0x80,
    MASK_RECONNECT_ON_LOSS = 0x100,
    MASK_DISCONNECT_ON_TIMEOUT = 0x200,
    MASK_DISABLE_UNPROTECTED = 0x400,
    MASK_CERT = 0x800,
    MASK_USER = 0x1000,
  };

  // The user document at `path` beside the real system document.
  explicit Config(const std::string &path);
  // For tests: the system document and its template elsewhere too.
  Config(const std::string &path, const std::string &system_path,
         const std::string &template_path);
  // The user document of `owner`, which a superuser process loads and stores
  // with the owner's file-system identity; the system document is still the
  // process's own.
  Config(const std::string &path, const std::string &system_path,
         const std::string &template_path, std::optional<FsIdentity> owner);

  static bool Test(uint32_t mask, SetMask bit) { return (mask & bit) != 0; }

  // Overlays the stored "PARAMETERS" on `out` (pass a fresh one for defaults).
  void GetParams(YrkParamsStruct &out) const;
  // Rewrites "PARAMETERS" from `in`. Throws std::runtime_error("invalid value")
  // when def_account or key holds "<".
  void SetParams(const YrkParamsStruct &in) const;

  // 0; ResultCode::kAlreadyExists when an account of that name exists;
  // kInvalidParameters when a written text field holds "<".
  int AddAccount(const _Account &in) const;
  // Looks `inout` up by its name (an empty name matches a lone account) and
  // fills it over the global parameters: 0, ResultCode::kAccountNotFound when
  // nothing matches, -1 when the document has no account list.
  int GetAccount(_Account &inout) const;
  // Completes `inout` with the stored account's fields that it does not set,
  // and writes it anew at the end of the first account list, in one store:
  // the result of adding it (see AddAccount; on failure nothing is written),
  // or kAccountNotFound when there is no account of that name (an empty name
  // included).
  int ModifyAccount(_Account &inout) const;
  // Removes the account of that name: 0, or kAccountNotFound (the file is
  // rewritten in both cases).
  int DelAccount(const _Account &in) const;
  // Replaces `out` by every stored account as GetAccount reads it.
  void ListAccounts(std::vector<_Account> &out) const;

 private:
  std::string user_path_;
  std::optional<FsIdentity> owner_;
};
