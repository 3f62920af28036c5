// A user's home directory and the ".yrk" tree below it. Building a Personals
// creates the tree the first time a user is seen; a superuser process hands
// the new directories and configuration to that user.
#pragma once

#include <pwd.h>
#include <sys/types.h>

#include <cstdint>
#include <list>
#include <optional>
#include <string>

#include "config/context.h"
#include "config/paths.h"
#include "config/scoped_fs_identity.h"

class Personals {
 public:
  // The calling user.
  Personals();
  // A user from the password database. An unknown name, or an account whose
  // home directory is missing or not its own (a system account), leaves the
  // name and every path empty.
  explicit Personals(const std::string &name);
  // A given entry and template, for tests.
  Personals(const passwd &entry, const std::string &template_path);

  const std::string &Username() const { return user_name; }
  const std::string &HomeDir() const { return home; }
  const std::string &CfgPath() const { return cfg_path; }
  const std::string &KeyDir() const { return key_dir; }
  // Who the files below the home directory are opened as; none for an
  // unknown user.
  std::optional<FsIdentity> Owner() const;

  // True for the superuser: the name "root", or uid 0 without an entry.
  static bool IsRoot();
  // Appends the login names of uid 0 and uids 500 to 999, in uid order.
  static void Users(std::list<std::string> &out);

 private:
  // Takes the entry and builds its tree unless it is no person's account.
  void Adopt(const passwd &entry, const std::string &template_path);
  // Never follows a symbolic link below the home directory and leaves alone
  // any path that is not what it should be; errors are otherwise ignored.
  // The configuration path stays empty unless ".yrk" is a real directory,
  // the key directory unless ".yrk/key" is one too.
  void Setup(const std::string &template_path);

  std::string user_name;
  std::string home;
  std::string key_dir;
  std::string cfg_path;
  uint32_t uid = 0;
  gid_t gid = 0;
  bool known = false;
};

// True when a "KEY" value names a file-system location, not the USB token.
bool IsFS(const std::string &name);
