// Descriptor helpers for the code that writes files whole and atomically.
// Header-only, so that a program linking no library of ours (nsput) and a
// library that must not pull in the configuration one (integrity) share them.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace PosixFile {

// Owns a descriptor and closes it on every path out of a scope. Closing on
// destruction keeps errno, so a caller can still report why an earlier call
// failed.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
      Discard();
      fd_ = other.release();
    }
    return *this;
  }
  ~UniqueFd() { Discard(); }

  int get() const noexcept { return fd_; }
  bool ok() const noexcept { return fd_ >= 0; }
  // Hands the descriptor over; it is no longer closed here.
  int release() noexcept { return std::exchange(fd_, -1); }
  // Closes now; false when close fails, which is where a delayed write error
  // (a full disk, a network file system) shows. Nothing is left to close after.
  bool Close() noexcept {
    const int fd = release();
    return fd >= 0 && close(fd) == 0;
  }

 private:
  void Discard() noexcept {
    if (fd_ < 0) return;
    const int saved = errno;
    close(fd_);
    errno = saved;
    fd_ = -1;
  }

  int fd_;
};

namespace detail {

// Moves exactly `len` bytes with `io` (read or write), resuming after a
// signal or a short transfer. False on an error (errno says which) and on a
// call that moves nothing: an early end of file, or a write that would
// otherwise spin.
template <typename Byte, typename Io>
inline bool Exactly(Io io, int fd, Byte *p, std::size_t len) {
  while (len > 0) {
    const ssize_t n = io(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace detail

// Writes all `len` bytes; false when some could not be written.
inline bool WriteAll(int fd, const void *data, std::size_t len) {
  return detail::Exactly([](int f, const char *p, std::size_t n) { return write(f, p, n); }, fd,
                         static_cast<const char *>(data), len);
}

inline bool WriteAll(int fd, std::string_view text) { return WriteAll(fd, text.data(), text.size()); }

// Reads exactly `len` bytes; false on an error and on an end of file before
// them, so that a file that shrank never passes for a whole one.
inline bool ReadFully(int fd, void *out, std::size_t len) {
  return detail::Exactly([](int f, char *p, std::size_t n) { return read(f, p, n); }, fd,
                         static_cast<char *>(out), len);
}

// The directory holding `path`, in a form open() takes: "." for a bare name,
// "/" for a name right below the root.
inline std::string DirectoryOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The last component of `path` (empty when it ends in a slash).
inline std::string BaseOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace PosixFile
