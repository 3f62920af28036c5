#include "config/personals.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "config/atomic_file.h"
#include "config/posix_file.h"

namespace {

constexpr uid_t kFirstListedUid = 500;
constexpr uid_t kLastListedUid = 999;
constexpr gid_t kGroupUnchanged = static_cast<gid_t>(-1);

using PosixFile::UniqueFd;

// Owner changes may fail (no privilege); later operations report their own errors.
void HandTo(int fd, uid_t uid) {
  if (fchown(fd, uid, kGroupUnchanged) != 0) return;
}

bool Missing(int dir, const char *name) {
  struct stat st;
  return fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// Creates name below dir when missing and opens it; fails (fd -1) on a
// symbolic link or anything else that is not a directory.
UniqueFd SubDir(int dir, const char *name, mode_t mode) {
  if (Missing(dir, name)) mkdirat(dir, name, mode);
  return UniqueFd(openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// A temporary name beside the configuration for its first copy.
std::string TemporaryName(const char *name) {
  return std::string(".") + name + ".new" + std::to_string(getpid());
}

// The template's text, through a link of root's too; empty when it is missing.
std::string TemplateText(const std::string &template_path) {
  std::string text;
  if (!AtomicFile::Read(template_path, text)) text.clear();
  return text;
}

// The first configuration appears whole or not at all: the copy is written
// under a temporary name and linked into place only while no file is there,
// so a second run naming the same new user never sees a partial copy.
void CreateConfig(int yrk_dir, const char *name, const std::string &template_path, uid_t uid) {
  const std::string temp = TemporaryName(name);
  unlinkat(yrk_dir, temp.c_str(), 0);  // a leftover of a killed run of this pid
  UniqueFd cfg(openat(yrk_dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!cfg.ok()) return;
  HandTo(cfg.get(), uid);
  if (PosixFile::WriteAll(cfg.get(), TemplateText(template_path)) && fsync(cfg.get()) == 0)
    linkat(yrk_dir, temp.c_str(), yrk_dir, name, 0);  // EEXIST: another run was first
  unlinkat(yrk_dir, temp.c_str(), 0);
}

// The configuration file: created from the template when missing, handed to
// uid every time. An existing one is only touched when it is a plain file
// with one link: a hard link to another file would otherwise change that
// file's owner.
void SetupConfig(int yrk_dir, const char *name, const std::string &template_path, uid_t uid) {
  if (Missing(yrk_dir, name)) return CreateConfig(yrk_dir, name, template_path, uid);
  // O_NONBLOCK: a FIFO planted there must not block the open.
  UniqueFd cfg(openat(yrk_dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!cfg.ok() || fstat(cfg.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
    return;
  HandTo(cfg.get(), uid);
}

const char *Leaf(const char *user_path) {  // ".yrk/cfg" -> "cfg"
  const char *slash = std::strrchr(user_path, '/');
  return slash ? slash + 1 : user_path;
}

// A person's account has a home directory of its own; system accounts
// (bin with "/bin", a home that does not exist or is someone else's) get no
// tree. Root is always a user.
bool OwnsHome(const passwd &entry) {
  if (entry.pw_uid == 0) return true;
  struct stat st;
  return entry.pw_dir && stat(entry.pw_dir, &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == entry.pw_uid;
}

}  // namespace

Personals::Personals() {
  if (const passwd *entry = getpwuid(getuid())) Adopt(*entry, Paths::kDefConfig);
}

Personals::Personals(const std::string &name) {
  if (const passwd *entry = getpwnam(name.c_str())) Adopt(*entry, Paths::kDefConfig);
}

Personals::Personals(const passwd &entry, const std::string &template_path) {
  Adopt(entry, template_path);
}

void Personals::Adopt(const passwd &entry, const std::string &template_path) {
  if (!OwnsHome(entry)) return;
  user_name = entry.pw_name ? entry.pw_name : "";
  home = entry.pw_dir ? entry.pw_dir : "";
  uid = entry.pw_uid;
  gid = entry.pw_gid;
  known = true;
  Setup(template_path);
}

std::optional<FsIdentity> Personals::Owner() const {
  if (!known) return std::nullopt;
  FsIdentity owner{uid, gid, {}};
  int count = 0;
  getgrouplist(user_name.c_str(), gid, nullptr, &count);  // asks for the count
  owner.groups.resize(static_cast<size_t>(count));
  // Without the group list the user still acts as its own uid and group.
  if (count <= 0 || getgrouplist(user_name.c_str(), gid, owner.groups.data(), &count) < 0)
    owner.groups.assign(1, gid);
  else
    owner.groups.resize(static_cast<size_t>(count));
  return owner;
}

// Every step works relative to a directory opened without following links,
// so a link planted by the user below the home directory is never followed.
// A refused ".yrk" or key directory leaves its path empty: callers open the
// paths by name, and the configuration store would otherwise read and replace
// a file wherever the link points.
void Personals::Setup(const std::string &template_path) {
  UniqueFd home_dir(open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!home_dir.ok()) return;
  UniqueFd yrk(SubDir(home_dir.get(), Paths::kUserDir, 0700));
  if (!yrk.ok()) return;
  cfg_path = home + "/" + Paths::kUserConfig;
  HandTo(yrk.get(), uid);

  SetupConfig(yrk.get(), Leaf(Paths::kUserConfig), template_path, uid);

  // The certificate directories are the user's too: a user running impex
  // for themself adds their own certificates.
  UniqueFd cert(SubDir(yrk.get(), Leaf(Paths::kUserCertDir), 0755));
  if (cert.ok()) {
    HandTo(cert.get(), uid);
    UniqueFd store(SubDir(cert.get(), Leaf(Paths::kUserCertStore), 0755));
    if (store.ok()) HandTo(store.get(), uid);
  }

  UniqueFd key(SubDir(yrk.get(), Leaf(Paths::kUserKeyDir), 0755));
  if (!key.ok()) return;
  key_dir = home + "/" + Paths::kUserKeyDir;
  HandTo(key.get(), uid);
}

bool Personals::IsRoot() {
  const uid_t self = getuid();
  if (const passwd *entry = getpwuid(self)) return std::string(entry->pw_name) == "root";
  return self == 0;
}

void Personals::Users(std::list<std::string> &out) {
  std::vector<std::pair<uid_t, std::string>> found;
  setpwent();
  while (const passwd *entry = getpwent()) {
    const uid_t id = entry->pw_uid;
    if (id == 0 || (id >= kFirstListedUid && id <= kLastListedUid))
      found.emplace_back(id, entry->pw_name ? entry->pw_name : "");
  }
  endpwent();
  std::stable_sort(found.begin(), found.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  for (auto &[id, name] : found) out.push_back(std::move(name));
}

bool IsFS(const std::string &name) {
  for (const char *token : {"ruToken", "rutoken", "RUTOKEN"})
    if (name.find(token) != std::string::npos) return false;
  return true;
}

Context::Context() : user(Personals().Username()) {}
