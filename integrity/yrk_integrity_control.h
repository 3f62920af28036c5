// File integrity control: one GOST R 34.11-94 digest over the files named in
// a list, kept as a reference and compared with the files as they are now.
// Failures throw std::runtime_error with short English texts.
#pragma once

#include <cstddef>
#include <string>

#include "channel/shared_membuf.h"
#include "config/paths.h"

class IntegrityControl;

class YRKIntegrityControl {
 public:
  // Listed files are fed to the hash in pieces of this size, so a large file
  // never has to fit in memory at once.
  static constexpr std::size_t kChunk = 1 << 20;
  // A digest is 32 bytes; a reference file larger than this can never match
  // and is not read.
  static constexpr std::size_t kMaxReference = 4096;

  explicit YRKIntegrityControl(std::string filelist = Paths::kFileList,
                               std::string checksum = Paths::kChecksum);
  virtual ~YRKIntegrityControl() = default;

  // The digest of the listed files' contents, in list order.
  shared_membuf ComputeHash();
  // Replaces the reference file with `digest` (mode 0644): readers see the
  // old or the new reference, never a part; on failure the old one stays.
  void SaveHash(shared_membuf digest);
  // The reference file's contents; "error reading file" for one above
  // kMaxReference bytes.
  shared_membuf LoadHash();
  // Stores the digest of the files now as the reference.
  void Compute();
  // True when the files' digest equals the reference; false for any
  // mismatch, an oversized reference included.
  bool Check();

 protected:
  // Called for each listed file once it is open and its size taken: the
  // bytes hashed are the first that many, whatever happens to the file next.
  virtual void Opened(const std::string &path) { (void)path; }

 private:
  void HashFile(IntegrityControl &control, const std::string &path, unsigned char *chunk);
  // The reference, or `oversized` set and an empty buffer.
  shared_membuf Load(bool &oversized);

  std::string filelist_;
  std::string checksum_;
};
