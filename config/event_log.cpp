#include "config/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>

#include "config/account_records.h"
#include "impex/msg_compiler.h"
#include "impex/result_codes.h"

EventLog *gEventLog = nullptr;

namespace {

constexpr size_t kReadPiece = 65536;
constexpr long kTrafficFlushSeconds = 3;

struct Level {
  const char *name;    // as the levels filter names it
  const char *prefix;  // how a line of this level begins
};
// Indexed by EventLog::EventType.
constexpr Level kLevels[] = {
    {"INFO", "INFO  | "}, {"ERROR", "ERROR | "}, {"FATAL", "FATAL | "},
    {"TRAFF", "TRAFF | "}, {"DEBUG", "DEBUG | "},
};
// What a kept line begins with, per level: INFO with its blank.
constexpr const char *kLineStarts[] = {"INFO ", "ERROR", "FATAL", "TRAFF", "DEBUG"};

void EncodeHeader(int64_t offset, unsigned char out[EventLog::kHeaderSize]) {
  const uint64_t value = static_cast<uint64_t>(offset);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
  out[8] = '\n';
}

int64_t DecodeHeader(const unsigned char in[EventLog::kHeaderSize]) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
  return static_cast<int64_t>(value);
}

// pwrite until all went or it fails: the bytes written.
size_t WriteAt(int fd, const char *data, size_t len, off_t offset) {
  size_t done = 0;
  while (done < len) {
    const ssize_t n = pwrite(fd, data + done, len - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// Opens a regular file at path, never through a symlink there; and never
// blocks on a FIFO planted in its place.
int OpenRegular(const std::string &path, int flags, mode_t mode) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

off_t FileSize(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_size : -1;
}

// atoi of the text from pos on, saturating instead of overflowing; -1 when
// pos lies beyond the text.
long NumberAt(const std::string &text, size_t pos) {
  if (pos >= text.size()) return -1;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  long value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
    value = std::min<long>(value * 10 + (text[pos] - '0'), INT_MAX);
  return negative ? -value : value;
}

// Line breaks and NULs inside a field become blanks: each event stays one line.
void AppendField(std::string &line, const std::string &field, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    const char c = field[i];
    line.push_back(c == '\n' || c == '\r' || c == '\0' ? ' ' : c);
  }
}

// How much of text fits in room bytes without splitting a UTF-8 character.
size_t FittingPrefix(const std::string &text, size_t room) {
  if (text.size() <= room) return text.size();
  size_t len = room;
  while (len > 0 && (static_cast<unsigned char>(text[len]) & 0xc0) == 0x80) --len;
  return len;
}

}  // namespace

long EventLog::Now() {
  timeval now{};
  if (gettimeofday(&now, nullptr) != 0) return -1;
  return now.tv_sec;
}

EventLog::EventLog(bool writable, const std::string &path, Clock clock)
    : writable(writable), clock(std::move(clock)), size_limit(YrkParamsStruct().log_size_limit) {
  if (!writable) {
    fd = OpenRegular(path, O_RDONLY, 0);
    return;
  }
  fd = OpenRegular(path, O_RDWR | O_CREAT, 0600);
  if (fd < 0) return;
  fchmod(fd, 0600);
  const off_t size = FileSize(fd);
  unsigned char header[kHeaderSize];
  if (size >= kHeaderSize && pread(fd, header, sizeof header, 0) == kHeaderSize) {
    next_write = DecodeHeader(header);
    // A damaged offset, or a writer stopped between header and data: go on
    // after what the file holds, so nothing listed is lost.
    if (next_write < kHeaderSize || next_write > size) next_write = size;
    if (header[8] != '\n' || next_write != DecodeHeader(header)) StoreHeader();
  } else {
    next_write = kHeaderSize;
    if (!StoreHeader()) {
      close(fd);
      fd = -1;
      return;
    }
  }
  buffer = std::make_unique<char[]>(capacity);
  buffered = 0;
  // A writer stopped mid-line: the next line starts on a line of its own.
  char last = '\n';
  if (next_write > kHeaderSize && pread(fd, &last, 1, static_cast<off_t>(next_write - 1)) == 1 &&
      last != '\n')
    buffer[buffered++] = '\n';
  last_flush = this->clock();
}

EventLog::~EventLog() {
  {
    // Traffic lines still buffered would be lost otherwise.
    std::lock_guard<std::mutex> lock(mutex);
    if (buffered > 0) Flush();
  }
  if (fd >= 0) close(fd);
}

bool EventLog::StoreHeader() {
  unsigned char header[kHeaderSize];
  EncodeHeader(next_write, header);
  return WriteAt(fd, reinterpret_cast<const char *>(header), sizeof header, 0) == sizeof header;
}

int EventLog::Trigger(EventType type, uint32_t address, const std::string &user,
                      const std::string &text) {
  if (!writable || !buffer || fd < 0) return -1;
  const int level = std::clamp(static_cast<int>(type), static_cast<int>(INFO), static_cast<int>(DEBUG));
  std::lock_guard<std::mutex> lock(mutex);

  std::string line = kLevels[level].prefix;
  MsgCompiler::MsgTime(line);
  line += " | ";
  MsgCompiler::MsgAddress(line, address);
  line += " | ";
  const std::string &who = user.empty() ? std::string("system") : user;
  // A name longer than a whole line could be is cut like a text.
  AppendField(line, who, FittingPrefix(who, capacity / 2));
  line += " | ";
  size_t text_len = text.size();
  if (text_len > 0 && text[text_len - 1] == '\n') --text_len;
  const size_t room = capacity - line.size() - 1;  // the newline
  AppendField(line, text, FittingPrefix(text.substr(0, text_len), room));
  line.push_back('\n');

  // A clock set back counts as time gone by: lines must not wait for it.
  const long since_flush = clock() - last_flush;
  if (buffered > 0 && (capacity - buffered < line.size() || since_flush >= kTrafficFlushSeconds ||
                       since_flush < 0))
    Flush();
  std::memcpy(buffer.get() + buffered, line.data(), line.size());
  buffered += line.size();
  if (type != TRAFF) Flush();
  return 0;
}

void EventLog::Write() {
  std::lock_guard<std::mutex> lock(mutex);
  Flush();
}

void EventLog::Flush() {
  if (!buffer || fd < 0) return;
  if (buffered > 0) {
    const int64_t start = next_write + static_cast<int64_t>(buffered) <= size_limit ? next_write
                                                                                   : kHeaderSize;
    next_write = start + static_cast<int64_t>(buffered);
    StoreHeader();
    if (WriteAt(fd, buffer.get(), buffered, static_cast<off_t>(start)) < buffered) {
      next_write = kHeaderSize;
      StoreHeader();
    }
  }
  last_flush = clock();
  buffered = 0;
}

int EventLog::ReadLine(std::string &line, int fd, Span &span) {
  line.clear();
  bool found = false;
  bool any = false;
  while (!found) {
    if (span.head == span.tail) {
      if (span.pos >= span.end) break;
      if (span.buffer.size() < kReadPiece) span.buffer.resize(kReadPiece);
      const size_t want = static_cast<size_t>(std::min<off_t>(span.end - span.pos, kReadPiece));
      ssize_t got;
      do got = pread(fd, span.buffer.data(), want, span.pos);
      while (got < 0 && errno == EINTR);
      if (got < 0) return -1;
      if (got == 0) {  // the file shrank under us
        span.end = span.pos;
        break;
      }
      span.pos += got;
      span.head = 0;
      span.tail = static_cast<size_t>(got);
    }
    const char *from = span.buffer.data() + span.head;
    const size_t avail = span.tail - span.head;
    const char *newline = static_cast<const char *>(std::memchr(from, '\n', avail));
    const size_t take = newline ? static_cast<size_t>(newline - from) : avail;
    const size_t keep = std::min(take, kBufferCapacity - std::min(line.size(), kBufferCapacity));
    line.append(from, keep);
    span.head += take + (newline ? 1 : 0);
    found = newline != nullptr;
    any = true;
  }
  return any ? 1 : 0;
}

namespace {

// Where the user field starts: after the level, the time, the address and
// their separators.
constexpr size_t kUserColumn = 8 + 19 + 3 + 16 + 3;

// The user filter as a line must hold it: the name anywhere, or the user
// field with its separator at its column (made once per listing).
class UserFilter {
 public:
  UserFilter(const std::string &user, EventLog::UserMatch match)
      : text(match == EventLog::UserMatch::kField ? user + " | " : user), match(match) {}

  bool Names(const std::string &line) const {
    if (match == EventLog::UserMatch::kAnywhere) return line.find(text) != std::string::npos;
    // A torn line at the start of the ring's older part may be shorter.
    return line.size() >= kUserColumn + text.size() && line.compare(kUserColumn, text.size(), text) == 0;
  }

 private:
  std::string text;
  EventLog::UserMatch match;
};

}  // namespace

int EventLog::Output(const std::string &user, const std::string &levels, const std::string &from,
                     const std::string &to, FILE *sink, UserMatch match) {
  if (fd < 0) return ResultCode::kLogUnreadable;
  bool shown[5] = {};
  if (levels.empty()) {
    shown[INFO] = shown[ERROR] = shown[FATAL] = true;
  } else {
    bool any = false;
    for (int i = 0; i < 5; ++i) any |= shown[i] = levels.find(kLevels[i].name) != std::string::npos;
    if (!any) return ResultCode::kInvalidParameters;
  }
  struct tm from_time {}, to_time {};
  if ((!from.empty() && String2Time(from, from_time) != 0) ||
      (!to.empty() && String2Time(to, to_time) != 0))
    return ResultCode::kInvalidParameters;

  const off_t size = FileSize(fd);
  if (size < 0) return ResultCode::kLogUnreadable;
  if (size <= kHeaderSize) return ResultCode::kOk;
  unsigned char header[kHeaderSize];
  if (pread(fd, header, sizeof header, 0) != kHeaderSize) return ResultCode::kLogUnreadable;
  int64_t next = DecodeHeader(header);
  // An offset outside the data area says nothing about the order: list the
  // whole area as it lies.
  if (next < kHeaderSize || next > size) next = size;

  Span spans[2];
  if (next < size) {  // the older part of the ring first
    spans[0].pos = static_cast<off_t>(next);
    spans[0].end = size;
    spans[1].pos = kHeaderSize;
    spans[1].end = static_cast<off_t>(next);
  } else {
    spans[0].pos = kHeaderSize;
    spans[0].end = size;
  }

  const UserFilter user_filter(user, match);
  std::string line;
  // One lock for the whole listing instead of one per line.
  flockfile(sink);
  struct Unlock {
    FILE *file;
    ~Unlock() { funlockfile(file); }
  } unlock{sink};
  for (Span &span : spans) {
    for (int got; (got = ReadLine(line, fd, span)) != 0;) {
      if (got < 0) return ResultCode::kLogUnreadable;
      if (!user.empty() && !user_filter.Names(line)) continue;
      bool keep = false;
      for (int i = 0; i < 5 && !keep; ++i) keep = shown[i] && line.starts_with(kLineStarts[i]);
      if (!keep) continue;
      if (!from.empty() || !to.empty()) {
        struct tm when {};
        if (line.size() > 8 && String2Time(line.substr(8, 20), when) == 0 &&
            ((!from.empty() && CompareTime(when, from_time) < 0) ||
             (!to.empty() && CompareTime(when, to_time) > 0)))
          continue;
      }
      // As puts would: up to a NUL, then a newline.
      fputs_unlocked(line.c_str(), sink);
      fputc_unlocked('\n', sink);
    }
  }
  fflush_unlocked(sink);
  return ResultCode::kOk;
}

int EventLog::String2Time(const std::string &text, struct tm &out) {
  const long day = NumberAt(text, 0), month = NumberAt(text, 3), year = NumberAt(text, 6),
             hour = NumberAt(text, 11), minute = NumberAt(text, 14), second = NumberAt(text, 17);
  if (day < 1 || day > 31 || month < 1 || month > 12 || year < 0 || year > 3000 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return -1;
  out = tm{};
  out.tm_mday = static_cast<int>(day);
  out.tm_mon = static_cast<int>(month - 1);
  out.tm_year = static_cast<int>(year - 1900);
  out.tm_hour = static_cast<int>(hour);
  out.tm_min = static_cast<int>(minute);
  out.tm_sec = static_cast<int>(second);
  return 0;
}

int EventLog::CompareTime(const struct tm &a, const struct tm &b) {
  const int pairs[][2] = {{a.tm_year, b.tm_year}, {a.tm_mon, b.tm_mon}, {a.tm_mday, b.tm_mday},
                          {a.tm_hour, b.tm_hour}, {a.tm_min, b.tm_min}, {a.tm_sec, b.tm_sec}};
  for (const auto &pair : pairs) {
    if (pair[0] != pair[1]) return pair[0] > pair[1] ? 1 : -1;
  }
  return 0;
}
