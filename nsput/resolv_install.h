// Installs a prepared resolver configuration as the system's resolv.conf.
// The program may be installed set-user-ID root: the source is then opened
// with the calling user's rights, and only the target with the program's.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <ostream>
#include <string>

#include "config/paths.h"

namespace Nsput {

// A resolver configuration is a few lines; a larger source is refused, so a
// mistaken argument cannot fill the disk below /etc.
inline constexpr std::size_t kMaxSource = 1 << 20;

enum class Outcome {
  kDone,
  kNotRegular,    // a directory, FIFO, device or socket
  kTooLarge,      // more than kMaxSource bytes
  kUnreadable,    // cannot be opened or read with the caller's rights
  kTargetFailed,  // the new target could not be written or put in place
};

// stat with the caller's rights; 0 or -1 as stat.
int StatAsCaller(const std::string &path, struct stat &st);

// The whole source, opened with the caller's rights. Only a regular file of
// at most kMaxSource bytes is read.
Outcome ReadSource(const std::string &path, std::string &content);

// Puts `content` at `target` as a new regular file of mode 0644: written to
// a temporary file in the same directory, synced, renamed over the target.
// Readers see the old or the new file, never a part; on failure the old one
// stays and the temporary file is removed. A symbolic link at `target` is
// replaced itself, never written through; `link` then names where it
// pointed (empty when the target was no link).
Outcome Replace(const std::string &target, const std::string &content, std::string &link);

// The program: nsput SOURCE. Exit status 255 without an argument (nothing
// printed) or when the source does not exist ("source file not found"),
// 1 for any later failure, 0 once the target is replaced. Failures are
// reported on `out`; the notice that a link was replaced goes to `err`, so a
// successful run prints nothing on `out`.
int Run(int argc, char **argv, std::ostream &out, std::ostream &err,
        const std::string &target = Paths::kResolvConf);

}  // namespace Nsput
