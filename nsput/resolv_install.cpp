#include "nsput/resolv_install.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <cerrno>

#include "config/posix_file.h"

namespace Nsput {
namespace {

using PosixFile::UniqueFd;

// For one scope, file access is checked against the real user and group
// instead of the effective ones: a set-user-ID run must not read for the
// caller what the caller may not read. The file-system identity alone
// changes, so the process keeps its rights for writing the target after.
class CallerRights {
 public:
  CallerRights() {
    if (getuid() == geteuid() && getgid() == getegid()) return;
    switched_ = true;
    setfsgid(getgid());
    setfsuid(getuid());
    // setfsuid reports no error; ask for the value now in force.
    ok_ = static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))) == getuid() &&
          static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))) == getgid();
  }
  ~CallerRights() {
    if (!switched_) return;
    setfsuid(geteuid());
    setfsgid(getegid());
  }
  CallerRights(const CallerRights &) = delete;
  CallerRights &operator=(const CallerRights &) = delete;
  bool ok() const { return ok_; }

 private:
  bool switched_ = false;
  bool ok_ = true;
};

// Holds off the signals a caller can send a set-user-ID process while the
// temporary file exists, so an interrupted run leaves none behind.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &saved_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;

 private:
  sigset_t saved_;
};

}  // namespace

int StatAsCaller(const std::string &path, struct stat &st) {
  CallerRights caller;
  if (!caller.ok()) return -1;
  return stat(path.c_str(), &st);
}

Outcome ReadSource(const std::string &path, std::string &content) {
  int opened;
  {
    CallerRights caller;
    if (!caller.ok()) return Outcome::kUnreadable;
    // Non-blocking and without becoming a controlling terminal: a FIFO or a
    // terminal is refused by its type below instead of stalling or taking
    // over the open.
    opened = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  UniqueFd fd(opened);
  if (fd.get() < 0) return Outcome::kUnreadable;
  // The descriptor's type and size, not the path's: the path may change.
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return Outcome::kUnreadable;
  if (!S_ISREG(st.st_mode)) return Outcome::kNotRegular;
  if (st.st_size > static_cast<off_t>(kMaxSource)) return Outcome::kTooLarge;
  content.clear();
  char chunk[16384];
  for (;;) {
    const ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Outcome::kUnreadable;
    if (n == 0) return Outcome::kDone;
    // A file still growing is cut off at the cap, not followed.
    if (content.size() + static_cast<std::size_t>(n) > kMaxSource) return Outcome::kTooLarge;
    content.append(chunk, static_cast<std::size_t>(n));
  }
}

Outcome Replace(const std::string &target, const std::string &content, std::string &link) {
  link.clear();
  struct stat old;
  if (lstat(target.c_str(), &old) == 0 && S_ISLNK(old.st_mode)) {
    char to[PATH_MAX];
    const ssize_t len = readlink(target.c_str(), to, sizeof to - 1);
    link = len > 0 ? std::string(to, static_cast<std::size_t>(len)) : std::string("?");
  }
  const std::string dir = PosixFile::DirectoryOf(target);
  std::string temp = dir + "/." + PosixFile::BaseOf(target) + ".XXXXXX";
  SignalsHeld held;
  UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return Outcome::kTargetFailed;
  // A set-user-ID run creates the file in the caller's group; the system's
  // resolver file is root's alone.
  bool ok = PosixFile::WriteAll(fd.get(), content) && fsync(fd.get()) == 0 && fchmod(fd.get(), 0644) == 0 &&
            (geteuid() != 0 || fchown(fd.get(), 0, 0) == 0);
  ok = fd.Close() && ok;
  if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
    unlink(temp.c_str());
    return Outcome::kTargetFailed;
  }
  // The rename reaches the disk with the directory.
  UniqueFd d(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.get() >= 0) fsync(d.get());
  return Outcome::kDone;
}

int Run(int argc, char **argv, std::ostream &out, std::ostream &err, const std::string &target) {
  if (argc < 2) return 255;
  const std::string source = argv[1];
  struct stat st;
  if (StatAsCaller(source, st) != 0) {
    out << "source file not found\n";
    return 255;
  }
  std::string content;
  Outcome outcome = ReadSource(source, content);
  std::string link;
  if (outcome == Outcome::kDone) outcome = Replace(target, content, link);
  switch (outcome) {
    case Outcome::kDone:
      if (!link.empty()) err << "nsput: " << target << " was a symbolic link to " << link
                             << "; replaced by a regular file\n";
      return 0;
    case Outcome::kNotRegular:
      out << "source file is not a regular file\n";
      break;
    case Outcome::kTooLarge:
      out << "source file is too large\n";
      break;
    case Outcome::kUnreadable:
      out << "cannot read source file\n";
      break;
    case Outcome::kTargetFailed:
      out << "cannot write " << target << "\n";
      break;
  }
  return 1;
}

}  // namespace Nsput
