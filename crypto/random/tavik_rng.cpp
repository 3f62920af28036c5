#include "crypto/random/tavik_rng.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace CryptoGostImpl {

FileOpen::FileOpen(const char *path, int flags) : fd_(::open(path, flags)) {
  if (fd_ < 0) throw std::runtime_error("can't open file");
}

FileOpen::~FileOpen() { ::close(fd_); }

TavikRNG::TavikRNG(std::string path) : path_(std::move(path)) {}

int TavikRNG::Read(unsigned char *buf, unsigned int len) const {
  try {
    const FileOpen board(path_.c_str(), O_RDONLY);
    // 0 means no data; a failing ioctl (not the board, no driver) is no better.
    if (::ioctl(board.FD(), 0, 0) <= 0) return kUnusable;
    const ssize_t got = ::read(board.FD(), buf, len);
    return got < 0 ? kUnusable : int(got);
  } catch (const std::runtime_error &) {
    return kUnusable;
  }
}

void read_random_file(const std::string &path, unsigned char *buf, unsigned int len) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) throw std::runtime_error("can't open random source file");
  unsigned int done = 0;
  while (done < len) {
    const ssize_t got = ::read(fd, buf + done, len - done);
    if (got > 0) {
      done += unsigned(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      ::close(fd);
      throw std::runtime_error("can't read random source file");
    }
  }
  ::close(fd);
}

}  // namespace CryptoGostImpl
