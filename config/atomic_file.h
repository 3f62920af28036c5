// Whole-file reads and replacements for the configuration documents. A
// symbolic link at the path is followed only when it and the regular file it
// points at belong to the caller's file-system uid or to root, so a process
// working in another user's directory cannot be steered to some other file.
#pragma once

#include <string>
#include <string_view>

namespace AtomicFile {

enum class Result { kOk, kOpenFailed, kWriteFailed };

// Appends the file's contents to `out`; false when it cannot be opened or
// read, or is no regular file, or is a link refused as above.
bool Read(const std::string &path, std::string &out);

// Writes `text` to a new file in the same directory and renames it over
// `path` (over a link's target, which the link keeps naming): readers see the
// old or the new contents, never a part. An existing file keeps its owner,
// mode and (where the caller may set it) group, and must be writable by the
// caller; a new one gets 0644 less the umask. On failure the old file is
// untouched. kOpenFailed: the directory, the old file (a refused link,
// anything but a regular file) or the temporary file is not usable;
// kWriteFailed: writing, flushing or renaming failed.
Result Replace(const std::string &path, std::string_view text);

}  // namespace AtomicFile
