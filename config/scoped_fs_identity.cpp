#include "config/scoped_fs_identity.h"

#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr uid_t kQueryUid = static_cast<uid_t>(-1);
constexpr gid_t kQueryGid = static_cast<gid_t>(-1);

// The system call itself: the C library's setgroups() changes every thread of
// the process, this one only the caller.
bool SetThreadGroups(const std::vector<gid_t> &groups) {
#ifdef SYS_setgroups32
  constexpr long kSetGroups = SYS_setgroups32;  // 32-bit x86: SYS_setgroups takes 16-bit ids
#else
  constexpr long kSetGroups = SYS_setgroups;
#endif
  return syscall(kSetGroups, groups.size(), groups.data()) == 0;
}

bool ThreadGroups(std::vector<gid_t> &out) {
  const int count = getgroups(0, nullptr);
  if (count < 0) return false;
  out.resize(static_cast<size_t>(count));
  const int got = getgroups(count, out.data());
  if (got < 0) return false;
  out.resize(static_cast<size_t>(got));
  return true;
}

// setfsuid() and setfsgid() report no errors: asking again tells whether the
// change took.
bool SetFsUid(uid_t uid) {
  setfsuid(uid);
  return static_cast<uid_t>(setfsuid(kQueryUid)) == uid;
}

bool SetFsGid(gid_t gid) {
  setfsgid(gid);
  return static_cast<gid_t>(setfsgid(kQueryGid)) == gid;
}

}  // namespace

ScopedFsIdentity::ScopedFsIdentity(const std::optional<FsIdentity> &owner) {
  if (!owner || owner->uid == 0 || geteuid() != 0) return;
  saved_uid_ = static_cast<uid_t>(setfsuid(kQueryUid));
  saved_gid_ = static_cast<gid_t>(setfsgid(kQueryGid));
  if (!ThreadGroups(saved_groups_)) throw std::runtime_error("open failed");
  // Groups and group first: a thread with a user's fsuid keeps its right to
  // change them, but nothing is lost by doing it while fully privileged.
  active_ = true;
  if (!SetThreadGroups(owner->groups) || !SetFsGid(owner->gid) || !SetFsUid(owner->uid)) {
    Restore();
    active_ = false;
    throw std::runtime_error("open failed");
  }
}

ScopedFsIdentity::~ScopedFsIdentity() {
  if (active_) Restore();
}

// Each step undoes its own part, so a partly taken identity is undone too.
void ScopedFsIdentity::Restore() {
  SetFsUid(saved_uid_);
  SetFsGid(saved_gid_);
  SetThreadGroups(saved_groups_);
}
