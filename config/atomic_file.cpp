#include "config/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>

#include "config/posix_file.h"

namespace AtomicFile {
namespace {

using PosixFile::UniqueFd;

// A name for the temporary file that no other writer in this or another
// process picks at the same moment; O_EXCL settles leftovers of a crash.
std::string TemporaryName(const std::string &base) {
  static std::atomic<unsigned> counter{0};
  return "." + base + ".new" + std::to_string(getpid()) + "." + std::to_string(counter++);
}

// Takes over owner, group and mode from the file being replaced. A caller
// that may not set the old group (a user outside the group root gave the
// file) still writes, under its own group; a different owner is refused.
bool Inherit(int fd, const struct stat &old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    struct stat now;
    if (fstat(fd, &now) != 0 || now.st_uid != old.st_uid) return false;
  }
  return fchmod(fd, old.st_mode & 07777) == 0;
}

// The identity the kernel checks file access against: a superuser thread
// working on a user's file has taken on that user's (ScopedFsIdentity).
uid_t FsUid() { return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))); }

// The file `path` names: the path itself, or the regular file a symbolic link
// there points at when link and file belong to the caller's file-system uid
// or to root (an administrator's own links, a user's link to a file of
// theirs). Any other link is refused: its owner could steer the caller to a
// file that owner may not touch. Only one link is followed.
std::optional<std::string> Resolve(const std::string &path) {
  struct stat link;
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  if (link.st_uid != FsUid() && link.st_uid != 0) return std::nullopt;
  char target[PATH_MAX];
  const ssize_t len = readlink(path.c_str(), target, sizeof target);
  if (len <= 0 || static_cast<size_t>(len) >= sizeof target) return std::nullopt;
  std::string resolved(target, static_cast<size_t>(len));
  if (resolved.front() != '/') {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) resolved.insert(0, path, 0, slash + 1);
  }
  struct stat file;
  if (lstat(resolved.c_str(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != link.st_uid)
    return std::nullopt;
  return resolved;
}

}  // namespace

bool Read(const std::string &path, std::string &out) {
  const std::optional<std::string> file = Resolve(path);
  if (!file) return false;
  // Non-blocking, so that a FIFO planted at the path cannot stall the reader.
  UniqueFd fd(open(file->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;  // a partial document must not pass for the whole one
    }
    out.append(chunk, static_cast<size_t>(n));
  }
}

Result Replace(const std::string &linked_path, std::string_view text) {
  const std::optional<std::string> file = Resolve(linked_path);
  if (!file) return Result::kOpenFailed;
  const std::string &path = *file;
  const std::string dir = PosixFile::DirectoryOf(path);
  const std::string base = PosixFile::BaseOf(path);
  if (base.empty()) return Result::kOpenFailed;

  UniqueFd dirfd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirfd.get() < 0) return Result::kOpenFailed;

  struct stat old;
  const bool replacing = fstatat(dirfd.get(), base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!replacing && errno != ENOENT) return Result::kOpenFailed;
  if (replacing) {
    // Only a regular file is replaced: a link here now was swapped in after
    // it was resolved.
    if (!S_ISREG(old.st_mode)) return Result::kOpenFailed;
    // Writing in place needed write access to the file; renaming needs only the
    // directory. Keep the file's own protection in force.
    if (faccessat(dirfd.get(), base.c_str(), W_OK, AT_EACCESS) != 0) return Result::kOpenFailed;
  }

  std::string temp;
  int raw = -1;
  for (unsigned attempt = 0; raw < 0 && attempt < 100; ++attempt) {
    temp = TemporaryName(base);
    raw = openat(dirfd.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0644);
    if (raw < 0 && errno != EEXIST) break;
  }
  if (raw < 0) return Result::kOpenFailed;
  UniqueFd fd(raw);

  Result result = Result::kOk;
  if (replacing && !Inherit(fd.get(), old))
    result = Result::kOpenFailed;
  else if (!PosixFile::WriteAll(fd.get(), text) || fsync(fd.get()) != 0 || !fd.Close() ||
           renameat(dirfd.get(), temp.c_str(), dirfd.get(), base.c_str()) != 0)
    result = Result::kWriteFailed;
  if (result != Result::kOk) unlinkat(dirfd.get(), temp.c_str(), 0);
  return result;
}

}  // namespace AtomicFile
