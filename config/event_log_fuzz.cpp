// Arbitrary bytes as the event log file: listing it with several filters,
// and a writer opening it and adding a line, must neither crash nor hang, nor
// read more than the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/event_log.h"

namespace {

const std::string &ScratchFile() {
  static const std::string path = [] {
    char pattern[] = "/tmp/yrk-event-log-fuzz-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) abort();
    close(fd);
    return std::string(pattern);
  }();
  return path;
}

FILE *Sink() {
  static FILE *sink = std::fopen("/dev/null", "w");
  return sink;
}

void ListAll(EventLog &log) {
  struct Filter {
    const char *user, *levels, *from, *to;
  };
  static const Filter kFilters[] = {
      {"", "", "", ""},
      {"", "INFO,ERROR,FATAL,TRAFF,DEBUG", "", ""},
      {"alice", "ERROR FATAL", "", ""},
      {"", "DEBUG", "01.01.2026 00:00:00", "31.12.2026 23:59:59"},
  };
  for (const Filter &f : kFilters)
    if (log.Output(f.user, f.levels, f.from, f.to, Sink()) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &path = ScratchFile();
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);
  {
    EventLog reader(false, path);
    ListAll(reader);
  }
  {
    EventLog writer(true, path, [] { return 0L; });
    if (writer.Trigger(EventLog::INFO, 0x7f000001, "alice", "fuzz") != 0) abort();
    ListAll(writer);
  }
  struct tm when {};
  EventLog::String2Time(std::string(reinterpret_cast<const char *>(data), size), when);
  return 0;
}
