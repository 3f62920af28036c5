// A superuser process working on a file that belongs to a user opens it with
// that user's file-system identity, so the kernel refuses whatever the user
// could not do: a link the user planted to a directory of root's is then no
// way in. The identity is the calling thread's only and lasts for one scope.
#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

// Whose file a user-owned document is: the owner and its groups.
struct FsIdentity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups; the primary one may be among them
};

class ScopedFsIdentity {
 public:
  // Takes on `owner` when the process runs as the superuser for another user;
  // does nothing without an owner, for the superuser's own files or in a
  // process that is no superuser. Throws std::runtime_error("open failed")
  // when the identity cannot be taken (nothing is then changed).
  explicit ScopedFsIdentity(const std::optional<FsIdentity> &owner);
  // Gives the thread its own identity back.
  ~ScopedFsIdentity();
  ScopedFsIdentity(const ScopedFsIdentity &) = delete;
  ScopedFsIdentity &operator=(const ScopedFsIdentity &) = delete;

 private:
  void Restore();

  bool active_ = false;
  uid_t saved_uid_ = 0;
  gid_t saved_gid_ = 0;
  std::vector<gid_t> saved_groups_;
};
