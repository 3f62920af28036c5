// Scratch directories and file helpers for the tests; the tests of other
// folders use them too (header-only, nothing to link).
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

// A fresh directory, removed with all it holds at the end of the test. It is
// under /tmp whatever TMPDIR says: tests that drop to another user must be
// able to reach it, and socket paths in it must stay short.
class TestDir {
 public:
  TestDir() {
    char templ[] = "/tmp/yrk-test-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = templ;
  }
  TestDir(const TestDir &) = delete;
  TestDir &operator=(const TestDir &) = delete;
  ~TestDir() {
    // A test may have taken the directory's permissions away.
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline ino_t Inode(const std::string &path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_ino;
}

// Runs `body` in a child process (for limits and identities the test itself
// must not take on); true when it returned true.
inline bool RunInChild(const std::function<bool()> &body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// As RunInChild, as an unprivileged user when the test runs as root, so that
// permission checks apply.
inline bool RunUnprivileged(const std::function<bool()> &body) {
  return RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    return body();
  });
}

#ifdef YRK_SOURCE_DIR
// The shipped template, read from the source tree.
inline std::string Template() { return ReadFile(std::string(YRK_SOURCE_DIR) + "/config/defconfig"); }
#endif
