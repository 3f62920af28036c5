#include "nsput/resolv_install.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "config/test_dir.h"

namespace {

std::vector<std::string> Names(const std::string &path) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

constexpr const char *kOld = "nameserver 192.0.2.1\n";

class ResolvInstall : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(target, kOld); }

  // nsput with these arguments; its outputs in out and err.
  int Run(std::vector<std::string> args) { return RunFor(target, std::move(args)); }
  int RunFor(const std::string &to, std::vector<std::string> args) {
    args.insert(args.begin(), "nsput");
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::ostringstream o, e;
    const int status = Nsput::Run(static_cast<int>(args.size()), argv.data(), o, e, to);
    out = o.str();
    err = e.str();
    return status;
  }
  void ExpectRefused(const std::string &source, const std::string &message) {
    SCOPED_TRACE(source);
    EXPECT_EQ(Run({source}), 1);
    EXPECT_EQ(out, message);
    EXPECT_EQ(ReadFile(target), kOld);
    EXPECT_EQ(Names(etc.path()), std::vector<std::string>{"resolv.conf"});
  }

  TestDir etc, src;
  const std::string target = etc / "resolv.conf";
  std::string out, err;
};

}  // namespace

TEST_F(ResolvInstall, CommandLine) {
  EXPECT_EQ(Run({}), 255);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(Run({src / "missing"}), 255);
  EXPECT_EQ(out, "source file not found\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(ReadFile(target), kOld);
  // Further arguments are ignored.
  WriteFile(src / "one", "nameserver 192.0.2.53\n");
  EXPECT_EQ(Run({src / "one", src / "missing"}), 0);
  EXPECT_EQ(out + err, "");
  EXPECT_EQ(ReadFile(target), "nameserver 192.0.2.53\n");
}

TEST_F(ResolvInstall, CopiesEveryByteAsANewFile) {
  std::string bytes = "search example.org\r\nnameserver ::1\n";
  bytes += std::string("\0\377\n", 3);
  WriteFile(src / "conf", bytes);
  const mode_t old_mask = umask(077);
  const int old_fd = open(target.c_str(), O_RDONLY);
  EXPECT_EQ(Run({src / "conf"}), 0);
  umask(old_mask);
  EXPECT_EQ(ReadFile(target), bytes);
  struct stat st;
  ASSERT_EQ(0, stat(target.c_str(), &st));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  // A reader that had the old file open still reads it whole.
  char old[64] = {};
  EXPECT_EQ(read(old_fd, old, sizeof old), ssize_t(std::string(kOld).size()));
  EXPECT_STREQ(old, kOld);
  close(old_fd);
  EXPECT_EQ(Names(etc.path()), std::vector<std::string>{"resolv.conf"});
}

TEST_F(ResolvInstall, EmptySourceEmptiesTheTarget) {
  WriteFile(src / "empty", "");
  EXPECT_EQ(Run({src / "empty"}), 0);
  EXPECT_EQ(ReadFile(target), "");
  EXPECT_TRUE(std::filesystem::is_regular_file(target));
}

TEST_F(ResolvInstall, MissingTargetIsCreated) {
  std::filesystem::remove(target);
  WriteFile(src / "conf", "x\n");
  EXPECT_EQ(Run({src / "conf"}), 0);
  EXPECT_EQ(ReadFile(target), "x\n");
}

TEST_F(ResolvInstall, TheTargetItselfAsSource) {
  EXPECT_EQ(Run({target}), 0);
  EXPECT_EQ(ReadFile(target), kOld);
}

// Only a regular file is a resolver configuration; nothing else is waited on
// (a FIFO without a writer) or read without end (a device).
TEST_F(ResolvInstall, SourceThatIsNoRegularFile) {
  std::filesystem::create_directory(src / "dir");
  ASSERT_EQ(0, mkfifo((src / "fifo").c_str(), 0644));
  alarm(60);  // a hang fails the run
  for (const std::string &path : {src / "dir", src / "fifo", std::string("/dev/zero"), std::string("/dev/null")})
    ExpectRefused(path, "source file is not a regular file\n");
  alarm(0);
  // A link to a regular file counts as the file.
  WriteFile(src / "conf", "y\n");
  std::filesystem::create_symlink(src / "conf", src / "link");
  EXPECT_EQ(Run({src / "link"}), 0);
  EXPECT_EQ(ReadFile(target), "y\n");
}

TEST_F(ResolvInstall, SourceSizeCap) {
  WriteFile(src / "big", "");
  ASSERT_EQ(0, truncate((src / "big").c_str(), off_t(Nsput::kMaxSource) + 1));
  ExpectRefused(src / "big", "source file is too large\n");
  ASSERT_EQ(0, truncate((src / "big").c_str(), off_t(1) << 40));
  ExpectRefused(src / "big", "source file is too large\n");
  ASSERT_EQ(0, truncate((src / "big").c_str(), off_t(Nsput::kMaxSource)));
  EXPECT_EQ(Run({src / "big"}), 0);
  EXPECT_EQ(ReadFile(target).size(), Nsput::kMaxSource);
}

// The link itself becomes the regular file; what it pointed at is untouched.
TEST_F(ResolvInstall, LinkedTargetIsReplacedByAFile) {
  const std::string stub = src / "stub-resolv.conf";
  WriteFile(stub, "nameserver 127.0.0.53\n");
  std::filesystem::remove(target);
  std::filesystem::create_symlink(stub, target);
  WriteFile(src / "conf", "nameserver 192.0.2.53\n");
  EXPECT_EQ(Run({src / "conf"}), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "nsput: " + target + " was a symbolic link to " + stub + "; replaced by a regular file\n");
  EXPECT_FALSE(std::filesystem::is_symlink(target));
  EXPECT_EQ(ReadFile(target), "nameserver 192.0.2.53\n");
  EXPECT_EQ(ReadFile(stub), "nameserver 127.0.0.53\n");
  // A dangling link the same.
  std::filesystem::remove(target);
  std::filesystem::create_symlink(src / "nowhere", target);
  EXPECT_EQ(Run({src / "conf"}), 0);
  EXPECT_EQ(ReadFile(target), "nameserver 192.0.2.53\n");
  EXPECT_FALSE(std::filesystem::exists(src / "nowhere"));
}

TEST_F(ResolvInstall, TargetThatCannotBeWritten) {
  WriteFile(src / "conf", "z\n");
  const std::string missing = etc / "no/resolv.conf";
  EXPECT_EQ(RunFor(missing, {src / "conf"}), 1);
  EXPECT_EQ(out, "cannot write " + missing + "\n");
  // A directory in the target's place stays.
  std::filesystem::remove(target);
  std::filesystem::create_directory(target);
  EXPECT_EQ(Run({src / "conf"}), 1);
  EXPECT_EQ(out, "cannot write " + target + "\n");
  EXPECT_TRUE(std::filesystem::is_directory(target));
  EXPECT_EQ(Names(etc.path()), std::vector<std::string>{"resolv.conf"});
}

// A copy that fails half way (here: a file size limit) leaves the old file
// whole and no temporary file.
TEST_F(ResolvInstall, FailedCopyKeepsTheOldFile) {
  WriteFile(src / "conf", std::string(100000, 'n'));
  for (rlim_t limit : {rlim_t(0), rlim_t(4096)}) {
    EXPECT_TRUE(RunInChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      const struct rlimit small = {limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &small) != 0) return false;
      return Run({src / "conf"}) == 1 && out == "cannot write " + target + "\n";
    }));
    EXPECT_EQ(ReadFile(target), kOld);
    EXPECT_EQ(Names(etc.path()), std::vector<std::string>{"resolv.conf"});
  }
}

TEST_F(ResolvInstall, UnreadableSource) {
  WriteFile(src / "secret", "s\n");
  chmod((src / "secret").c_str(), 0);
  chmod(src.path().c_str(), 0755);
  chmod(etc.path().c_str(), 0777);
  EXPECT_TRUE(RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    return Run({src / "secret"}) == 1 && out == "cannot read source file\n";
  }));
  EXPECT_EQ(ReadFile(target), kOld);
}

// Installed set-user-ID root and run by user 500: the source is reached with
// the caller's rights, the target with root's, and root's file-system
// identity is back after each source access.
TEST_F(ResolvInstall, SetUserIdRunReadsAsTheCaller) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to take on a set-user-ID identity";
  chmod(src.path().c_str(), 0755);
  WriteFile(src / "secret", "secret\n");
  chmod((src / "secret").c_str(), 0600);
  std::filesystem::create_directory(src / "closed");
  chmod((src / "closed").c_str(), 0700);
  WriteFile(src / "closed/conf", "hidden\n");
  WriteFile(src / "mine", "nameserver 192.0.2.7\n");
  chown((src / "mine").c_str(), 500, 500);
  chmod((src / "mine").c_str(), 0600);
  EXPECT_TRUE(RunInChild([&] {
    const gid_t groups[] = {500};
    if (setgroups(1, groups) != 0 || setresgid(500, 500, 500) != 0 || setresuid(500, 0, 0) != 0) return false;
    const auto root_again = [] { return setfsuid(static_cast<uid_t>(-1)) == 0; };
    bool ok = true;
    ok &= Run({src / "closed/conf"}) == 255 && out == "source file not found\n" && root_again();
    ok &= Run({src / "secret"}) == 1 && out == "cannot read source file\n" && root_again();
    ok &= ReadFile(target) == kOld;
    ok &= Run({src / "mine"}) == 0 && out == "" && root_again();
    struct stat st;
    ok &= stat(target.c_str(), &st) == 0 && st.st_uid == 0 && st.st_gid == 0 && (st.st_mode & 07777) == 0644;
    return ok && ReadFile(target) == "nameserver 192.0.2.7\n";
  }));
}
