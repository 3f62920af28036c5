#include "cert/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadCertFile(const std::string &path, SecContainer &out) {
  out.Destroy();
  // Non-blocking, so that a FIFO named as a certificate file cannot stall the import.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool readable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
                        info.st_size <= kMaxCertFileSize;
  if (readable) {
    out.Init(static_cast<int>(info.st_size));
    if (read(fd, static_cast<void *>(out), static_cast<size_t>(info.st_size)) != info.st_size) out.Destroy();
  }
  close(fd);
  return out.Size() > 0;
}
