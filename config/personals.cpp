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

namespace {

constexpr uid_t kFirstListedUid = 500;
constexpr uid_t kLastListedUid = 999;
constexpr gid_t kGroupUnchanged = static_cast<gid_t>(-1);

// A file descriptor closed on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : fd(fd) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd; }
  bool ok() const { return fd >= 0; }

 private:
  int fd;
};

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
Fd SubDir(int dir, const char *name, mode_t mode) {
  if (Missing(dir, name)) mkdirat(dir, name, mode);
  return Fd(openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

void CopyTemplate(const std::string &template_path, int to) {
  Fd from(open(template_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!from.ok()) return;  // no template: the configuration stays empty
  char buf[8192];
  ssize_t got;
  while ((got = read(from.get(), buf, sizeof buf)) > 0) {
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to, buf + done, static_cast<size_t>(got - done));
      if (put <= 0) return;
      done += put;
    }
  }
}

// The configuration file: created from the template when missing, handed to
// uid every time. An existing one is only touched when it is a plain file
// with one link: a hard link to another file would otherwise change that
// file's owner.
void SetupConfig(int yrk_dir, const char *name, const std::string &template_path, uid_t uid) {
  if (Missing(yrk_dir, name)) {
    Fd cfg(openat(yrk_dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!cfg.ok()) return;
    CopyTemplate(template_path, cfg.get());
    HandTo(cfg.get(), uid);
    return;
  }
  // O_NONBLOCK: a FIFO planted there must not block the open.
  Fd cfg(openat(yrk_dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!cfg.ok() || fstat(cfg.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)
    return;
  HandTo(cfg.get(), uid);
}

const char *Leaf(const char *user_path) {  // ".yrk/cfg" -> "cfg"
  const char *slash = std::strrchr(user_path, '/');
  return slash ? slash + 1 : user_path;
}

}  // namespace

Personals::Personals() {
  if (const passwd *entry = getpwuid(getuid())) {
    Take(*entry);
    Setup(Paths::kDefConfig);
  }
}

Personals::Personals(const std::string &name) {
  if (const passwd *entry = getpwnam(name.c_str())) {
    Take(*entry);
    Setup(Paths::kDefConfig);
  }
}

Personals::Personals(const passwd &entry, const std::string &template_path) {
  Take(entry);
  Setup(template_path);
}

void Personals::Take(const passwd &entry) {
  user_name = entry.pw_name ? entry.pw_name : "";
  home = entry.pw_dir ? entry.pw_dir : "";
  uid = entry.pw_uid;
  gid = entry.pw_gid;
  known = true;
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
  Fd home_dir(open(home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!home_dir.ok()) return;
  Fd yrk(SubDir(home_dir.get(), Paths::kUserDir, 0700));
  if (!yrk.ok()) return;
  cfg_path = home + "/" + Paths::kUserConfig;
  HandTo(yrk.get(), uid);

  SetupConfig(yrk.get(), Leaf(Paths::kUserConfig), template_path, uid);

  Fd cert(SubDir(yrk.get(), Leaf(Paths::kUserCertDir), 0755));
  if (cert.ok() && Missing(cert.get(), Leaf(Paths::kUserCertStore)))
    mkdirat(cert.get(), Leaf(Paths::kUserCertStore), 0755);

  Fd key(SubDir(yrk.get(), Leaf(Paths::kUserKeyDir), 0755));
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
