// Raw entropy readers: the random board and plain device files.
#pragma once

#include <string>

namespace CryptoGostImpl {

// Owns one open descriptor; std::runtime_error "can't open file" on failure.
class FileOpen {
 public:
  FileOpen(const char *path, int flags);
  FileOpen(const FileOpen &) = delete;
  FileOpen &operator=(const FileOpen &) = delete;
  ~FileOpen();
  int FD() const { return fd_; }

 private:
  int fd_;
};

// The hardware board: usable when ioctl 0 reports data ready.
class TavikRNG {
 public:
  static constexpr int kUnusable = -14;

  explicit TavikRNG(std::string path);
  // Bytes read, or kUnusable.
  int Read(unsigned char *buf, unsigned int len) const;

 private:
  std::string path_;
};

// Reads exactly len bytes, looping over short reads.
// std::runtime_error "can't open random source file" when the file cannot be
// opened, "can't read random source file" when it ends or fails early.
void read_random_file(const std::string &path, unsigned char *buf, unsigned int len);

}  // namespace CryptoGostImpl
