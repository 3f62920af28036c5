#include "integrity/yrk_integrity_control.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "config/posix_file.h"
#include "integrity/integrity_control.h"

namespace {

using PosixFile::UniqueFd;

[[noreturn]] void Fail(const std::string &text) { throw std::runtime_error(text); }

// Opens a regular file for reading. Non-blocking, so that a FIFO or a device
// at the path is refused by its type instead of stalling the open; the type
// is taken from the descriptor, so the path cannot change under the check.
int OpenRegular(const std::string &path, struct stat &st) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

YRKIntegrityControl::YRKIntegrityControl(std::string filelist, std::string checksum)
    : filelist_(std::move(filelist)), checksum_(std::move(checksum)) {}

void YRKIntegrityControl::HashFile(IntegrityControl &control, const std::string &path, unsigned char *chunk) {
  struct stat st;
  UniqueFd fd(OpenRegular(path, st));
  if (fd.get() < 0) Fail("file not found " + path);
  Opened(path);
  // Only the size taken at open counts: a file that grows meanwhile is
  // hashed up to it, one that shrinks is an error, never a shorter digest.
  for (off_t left = st.st_size; left > 0;) {
    const std::size_t piece = left < static_cast<off_t>(kChunk) ? static_cast<std::size_t>(left) : kChunk;
    if (!PosixFile::ReadFully(fd.get(), chunk, piece)) Fail("error reading file");
    control.Compute(chunk, piece);
    left -= static_cast<off_t>(piece);
  }
}

shared_membuf YRKIntegrityControl::ComputeHash() {
  struct stat st;
  UniqueFd list(OpenRegular(filelist_, st));
  if (list.get() < 0) Fail("filelist not found");

  // Paths are hashed as they are read, so the list is never held whole. A
  // line longer than any path is kept only in part: it names no file.
  IntegrityControl control;
  const std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunk]);
  char text[65536];
  std::string line;
  std::size_t paths = 0;
  auto take = [&] {
    if (line.empty()) return;
    ++paths;
    HashFile(control, line, chunk.get());
    line.clear();
  };
  for (;;) {
    const ssize_t n = read(list.get(), text, sizeof text);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("filelist not found");
    if (n == 0) break;
    for (const char *p = text, *end = text + n; p < end;) {
      const char *newline = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      const char *stop = newline ? newline : end;
      const std::size_t room = PATH_MAX - std::min<std::size_t>(line.size(), PATH_MAX);
      line.append(p, std::min(room, static_cast<std::size_t>(stop - p)));
      if (!newline) break;
      take();
      p = newline + 1;
    }
  }
  take();  // a last line without a newline
  if (paths == 0) Fail("error while building filelist");
  return control.Result();
}

void YRKIntegrityControl::SaveHash(shared_membuf digest) {
  // A new file beside the reference, renamed over it once complete and on
  // disk: a crash or a full disk leaves the old reference, never a part.
  std::string temp = checksum_ + ".XXXXXX";
  UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.ok()) Fail("file not found");
  bool ok = PosixFile::WriteAll(fd.get(), digest.get(), digest.size()) && fchmod(fd.get(), 0644) == 0 &&
            fsync(fd.get()) == 0;
  ok = fd.Close() && ok;
  if (!ok || rename(temp.c_str(), checksum_.c_str()) != 0) {
    unlink(temp.c_str());
    Fail("error writing file");
  }
  // The rename itself reaches the disk with the directory.
  UniqueFd dir(open(PosixFile::DirectoryOf(checksum_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
}

shared_membuf YRKIntegrityControl::Load(bool &oversized) {
  struct stat st;
  UniqueFd fd(OpenRegular(checksum_, st));
  if (fd.get() < 0) Fail("file not found");
  oversized = st.st_size > static_cast<off_t>(kMaxReference);
  if (oversized) return shared_membuf(0);
  shared_membuf out(static_cast<unsigned>(st.st_size));
  if (!PosixFile::ReadFully(fd.get(), out.get(), out.size())) Fail("error reading file");
  return out;
}

shared_membuf YRKIntegrityControl::LoadHash() {
  bool oversized = false;
  shared_membuf out = Load(oversized);
  if (oversized) Fail("error reading file");
  return out;
}

void YRKIntegrityControl::Compute() { SaveHash(ComputeHash()); }

bool YRKIntegrityControl::Check() {
  const shared_membuf now = ComputeHash();
  bool oversized = false;
  const shared_membuf stored = Load(oversized);
  return !oversized && now.size() == stored.size() && std::memcmp(now.get(), stored.get(), now.size()) == 0;
}
