// The event journal "/var/log/yrk.log", one file used as a ring.
//
// Layout: bytes 0..7 the next-write offset (signed 64-bit, little-endian),
// byte 8 a newline, then text lines from offset 9. Lines between the
// next-write offset and the end of the file are older than those between 9
// and it. One writer process records events (Trigger); any process may list
// them (Output) without a lock and may then see a line being written.
//
// Line: "LEVEL | dd.mm.yyyy hh:mm:ss |  right-aligned ip | user | text".
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/paths.h"

class EventLog {
 public:
  enum EventType { INFO = 0, ERROR = 1, FATAL = 2, TRAFF = 3, DEBUG = 4 };

  // Seconds, for the flush rule of traffic lines; tests give their own.
  using Clock = std::function<long()>;
  static long Now();

  static constexpr off_t kHeaderSize = 9;
  static constexpr size_t kBufferCapacity = 1048576;

  // Read-only: opens the file and nothing more. Writable: opens it for
  // reading and writing, creating it (0600) with a fresh header when missing
  // or shorter than a header. Either way a symlink at the path or anything
  // but a regular file is refused; a failed open leaves the log closed
  // (Trigger -1, Output ResultCode::kLogUnreadable).
  explicit EventLog(bool writable, const std::string &path = Paths::kEventLog, Clock clock = Now);
  // Flushes buffered traffic lines, closes the file.
  virtual ~EventLog();
  EventLog(const EventLog &) = delete;
  EventLog &operator=(const EventLog &) = delete;

  bool IsOpen() const { return fd >= 0; }

  // Records one line: 0, or -1 when the log is not writable or not open.
  // Traffic lines stay buffered until the buffer is nearly full, 3 seconds
  // have passed since the last flush, or another kind of event comes. Line
  // breaks inside the user or the text become blanks (a text cannot forge a
  // line of its own); a line longer than the buffer loses the end of its
  // text, cut at a character boundary.
  int Trigger(EventType type, uint32_t address, const std::string &user, const std::string &text);
  // Writes the buffered lines at the next-write offset, or at offset 9 when
  // they would pass the size limit. A short write restarts the ring at 9.
  void Write();

  // Prints the lines that match, oldest first, one per puts to `sink`:
  // user: a text the line must contain (empty: any); levels: the level names
  // it names ("INFO", "ERROR", "FATAL", "TRAFF", "DEBUG"; empty: the first
  // three); from, to: times as MsgCompiler::MsgTime writes them (empty: no
  // bound). 0; ResultCode::kLogUnreadable when the log is not open or cannot
  // be read; kInvalidParameters for levels naming none or a bad time. A
  // damaged header makes it list the data area in file order; it never reads
  // more than the file's size.
  // With UserMatch::kField the user must be the line's user field exactly:
  // an ordinary user's own listing, where "al" must not show alice's lines.
  enum class UserMatch { kAnywhere, kField };
  int Output(const std::string &user, const std::string &levels, const std::string &from,
             const std::string &to, FILE *sink = stdout, UserMatch match = UserMatch::kAnywhere);

  // "dd.mm.yyyy hh:mm:ss" into out (tm_mday, tm_mon 0-11, tm_year since
  // 1900, tm_hour, tm_min, tm_sec): 0, or -1 for a missing or out-of-range
  // field.
  static int String2Time(const std::string &text, struct tm &out);
  // 1 when a is later, -1 when earlier, 0 when equal (to the second).
  static int CompareTime(const struct tm &a, const struct tm &b);

  // A part [pos, end) of the file that ReadLine walks, through a buffer.
  struct Span {
    off_t pos = 0;
    off_t end = 0;
    std::vector<char> buffer;
    size_t head = 0;  // unread bytes of buffer are [head, tail)
    size_t tail = 0;
  };
  // The span's next line without its newline: 1, 0 at the span's end, -1 on
  // a read error. A last line without a newline (a writer stopped mid-line)
  // ends at the span's end; of a line longer than the buffer capacity only
  // that many bytes are kept.
  static int ReadLine(std::string &line, int fd, Span &span);

 private:
  // Writes the buffer; the caller holds the mutex.
  void Flush();
  // Writes the header at offset 0; true when all 9 bytes went.
  bool StoreHeader();

  int fd = -1;
  bool writable;
  int64_t next_write = kHeaderSize;  // the header's offset; its newline is implied
  std::unique_ptr<char[]> buffer;
  size_t capacity = kBufferCapacity;
  size_t buffered = 0;
  long last_flush = 0;
  std::mutex mutex;
  Clock clock;
  int64_t size_limit;
};

// The process's event log; nullptr where nothing writes one (impex).
extern EventLog *gEventLog;
