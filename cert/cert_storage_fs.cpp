#include "cert/cert_storage_fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

#include "config/posix_file.h"
#include "impex/result_codes.h"

namespace {

constexpr int kNumbers = 1000;
using ResultCode::kNotFound;
constexpr int kStoreFull = ResultCode::kNotFound;  // a full store shares the not-found code
using ResultCode::kUnknownError;
constexpr mode_t kEntryMode = 0755;
constexpr mode_t kFileMode = 0666;
constexpr const char *kCertFile = "cert";
constexpr const char *kMetaFile = "meta";
constexpr int kTempAttempts = 100;

using PosixFile::UniqueFd;

std::string EntryName(int number) {
  char name[8];
  snprintf(name, sizeof name, "%04x", static_cast<unsigned>(number));
  return name;
}

// The store directory: its first `trusted` characters are opened as they
// are, each name after them without following a link.
UniqueFd OpenStore(const std::string &path, size_t trusted) {
  UniqueFd dir(open(path.substr(0, trusted).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (size_t start = trusted; dir.ok() && start < path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      const std::string name = path.substr(start, end - start);
      dir = UniqueFd(openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    start = end + 1;
  }
  return dir;
}

UniqueFd OpenEntry(int store, const std::string &name) {
  return UniqueFd(openat(store, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

UniqueFd OpenEntry(int store, int number) {
  if (number < 0 || number >= kNumbers) return UniqueFd();
  return OpenEntry(store, EntryName(number));
}

bool InUse(int store, int number) {
  struct stat st;
  return fstatat(store, EntryName(number).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// The lowest number from `from` on that is not in use, or -1.
int FreeNumber(int store, int from) {
  for (int number = from; number < kNumbers; ++number)
    if (!InUse(store, number)) return number;
  return -1;
}

// Runs `create` on fresh names that are no entry names until one is not
// taken: that name, or empty when creation failed otherwise.
template <typename Create>
std::string CreateUnique(Create create) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    std::string name = ".new-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
    if (create(name.c_str())) return name;
    if (errno != EEXIST) break;
  }
  return {};
}

UniqueFd CreateFile(int dir, const char *name) {
  return UniqueFd(openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
}

// Writes all of `bytes` and flushes them to the disk.
bool WriteDurably(int fd, const Container &bytes) {
  const unsigned char *data = bytes;
  return PosixFile::WriteAll(fd, data, static_cast<size_t>(bytes.Size())) && fsync(fd) == 0;
}

// The whole regular file `name` in `dir`; false when it is missing, no
// regular file, shorter than it said, or has another name elsewhere (a hard
// link would show a file of someone else's).
bool ReadWhole(int dir, const char *name, SecContainer &out) {
  // Non-blocking, so a planted FIFO cannot hold the open.
  const UniqueFd file(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!file.ok() || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_size > INT_MAX)
    return false;
  out.Init(static_cast<int>(st.st_size));
  unsigned char *data = out;
  return PosixFile::ReadFully(file.get(), data, static_cast<size_t>(st.st_size));
}

int ReadEntryFile(const UniqueFd &store, int number, const char *name, SecContainer &out) {
  if (!store.ok()) return kNotFound;
  const UniqueFd entry = OpenEntry(store.get(), number);
  return entry.ok() && ReadWhole(entry.get(), name, out) ? 0 : kNotFound;
}

// Removes the entry's own files and then the entry, ignoring failures; false
// when `name` is no entry directory.
bool RemoveEntry(int store, const std::string &name) {
  {
    const UniqueFd entry = OpenEntry(store, name);
    if (!entry.ok()) return false;
    unlinkat(entry.get(), kCertFile, 0);
    unlinkat(entry.get(), kMetaFile, 0);
  }
  unlinkat(store, name.c_str(), AT_REMOVEDIR);
  return true;
}

// Creates the entry's "cert" holding `der`, flushed with the directory.
bool WriteCert(int store, const std::string &entry, const Container &der) {
  const UniqueFd dir(openat(store, entry.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.ok()) return false;
  const UniqueFd cert = CreateFile(dir.get(), kCertFile);
  return cert.ok() && WriteDurably(cert.get(), der) && fsync(dir.get()) == 0;
}

// A new temporary entry in the store holding `der`: its name, or empty
// (nothing is then left behind).
std::string WriteTempEntry(int store, const Container &der) {
  const std::string temp =
      CreateUnique([&](const char *name) { return mkdirat(store, name, kEntryMode) == 0; });
  if (temp.empty() || WriteCert(store, temp, der)) return temp;
  RemoveEntry(store, temp);
  return {};
}

int AddEntry(const UniqueFd &store, const Container &der) {
  if (!store.ok()) return kUnknownError;
  int number = FreeNumber(store.get(), 0);
  if (number < 0) return kStoreFull;
  const std::string temp = WriteTempEntry(store.get(), der);
  if (temp.empty()) return kUnknownError;
  // The rename fails when another writer took the number meanwhile.
  for (; number >= 0; number = FreeNumber(store.get(), number + 1)) {
    if (renameat2(store.get(), temp.c_str(), store.get(), EntryName(number).c_str(),
                  RENAME_NOREPLACE) == 0)
      return number;
    if (errno != EEXIST) break;
  }
  RemoveEntry(store.get(), temp);
  return number < 0 ? kStoreFull : kUnknownError;
}

int ReplaceMeta(const UniqueFd &store, const Container &bytes, int number) {
  if (!store.ok()) return kUnknownError;
  const UniqueFd entry = OpenEntry(store.get(), number);
  if (!entry.ok()) return kNotFound;
  UniqueFd file;
  const std::string temp = CreateUnique([&](const char *name) {
    file = CreateFile(entry.get(), name);
    return file.ok();
  });
  if (temp.empty()) return kUnknownError;
  if (WriteDurably(file.get(), bytes) &&
      renameat(entry.get(), temp.c_str(), entry.get(), kMetaFile) == 0)
    return 0;
  unlinkat(entry.get(), temp.c_str(), 0);
  return kUnknownError;
}

int DelEntry(const UniqueFd &store, int number) {
  if (!store.ok() || number < 0 || number >= kNumbers) return kNotFound;
  return RemoveEntry(store.get(), EntryName(number)) ? 0 : kNotFound;
}

int ListEntries(const UniqueFd &store, std::list<int> &out) {
  if (!store.ok()) return kNotFound;
  for (int number = 0; number < kNumbers; ++number)
    if (InUse(store.get(), number)) out.push_back(number);
  return static_cast<int>(out.size());
}

}  // namespace

CertStorageFS::CertStorageFS(std::string path)
    : CertStorage(std::move(path)), trusted(this->path.size()) {}

// The slash stays in the trusted part, so an empty base is the root.
CertStorageFS::CertStorageFS(const std::string &base, const std::string &below)
    : CertStorage(base + "/" + below), trusted(base.size() + 1) {}

int CertStorageFS::Add(const Cert &cert) {
  return AddEntry(OpenStore(path, trusted), cert.Get());
}

int CertStorageFS::Get(Cert &out, int number) {
  SecContainer der;
  const int result = ReadEntryFile(OpenStore(path, trusted), number, kCertFile, der);
  if (result == 0) out = Cert(der);
  return result;
}

int CertStorageFS::SetMeta(const CertMetadata &in, int number) {
  return ReplaceMeta(OpenStore(path, trusted), SecContainer(in), number);
}

int CertStorageFS::GetMeta(CertMetadata &out, int number) {
  SecContainer bytes;
  const int result = ReadEntryFile(OpenStore(path, trusted), number, kMetaFile, bytes);
  if (result == 0) out = CertMetadata(bytes);
  return result;
}

int CertStorageFS::Del(int number) { return DelEntry(OpenStore(path, trusted), number); }

int CertStorageFS::List(std::list<int> &out) {
  out.clear();
  return ListEntries(OpenStore(path, trusted), out);
}

int CertStorageFS::MakeCPath(std::string &out) const {
  out = path;
  return 0;
}
