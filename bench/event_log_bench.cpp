// Listing a full event log: a 10 MiB ring that has wrapped once, written by
// EventLog itself with a daemon's mix of events, listed without filters,
// with a user filter and with a level filter (standard output sent to
// /dev/null), against `grep -c .` over the same file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "config/event_log.h"

namespace {

using Seconds = std::chrono::duration<double>;

// Best of a few runs.
template <typename F>
double Time(F &&body, int runs = 5) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    best = std::min(best, Seconds(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

size_t CountLines(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "rb");
  size_t lines = 0;
  for (int c; (c = std::fgetc(file)) != EOF;) lines += c == '\n';
  std::fclose(file);
  return lines - 1;  // the header's newline
}

void Fill(const std::string &path) {
  const char *users[] = {"alice", "bob", "carol", "dmitry", ""};
  const char *texts[] = {"Принято 1408 байт, отправлено 1400 байт",
                         "Запрос на подключение",
                         "Соединение установлено",
                         "Запрос статистики",
                         "Ошибка обмена ключами EAP: сервер не ответил"};
  long now = 0;
  EventLog log(true, path, [&now] { return now; });
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int64_t last_offset = 0;
  // Past the limit once, so that the listing walks both parts of the ring.
  bool wrapped = false;
  for (unsigned i = 0; !wrapped || i % 1000 != 0; ++i) {
    const unsigned kind = i % 50;
    const EventLog::EventType type = kind < 35   ? EventLog::TRAFF
                                     : kind < 45 ? EventLog::INFO
                                     : kind < 49 ? EventLog::DEBUG
                                                 : EventLog::ERROR;
    const int text = type == EventLog::TRAFF ? 0 : type == EventLog::ERROR ? 4 : 1 + i % 3;
    log.Trigger(type, 0x0a000000u + i % 200, users[i % 5], texts[text]);
    if (i % 100 == 0) ++now;
    int64_t offset = 0;  // the header, little-endian like the host
    if (!wrapped && pread(fd, &offset, sizeof offset, 0) == sizeof offset) {
      wrapped = offset < last_offset;
      last_offset = offset;
    }
  }
  close(fd);
}

}  // namespace

int main() {
  char pattern[] = "/tmp/yrk-event-log-bench-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string path = dir + "/yrk.log";
  Fill(path);
  struct stat st {};
  stat(path.c_str(), &st);
  const size_t lines = CountLines(path);
  std::printf("log: %lld bytes, %zu lines\n", static_cast<long long>(st.st_size), lines);
  std::fflush(stdout);

  EventLog reader(false, path);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  struct Case {
    const char *name, *user, *levels;
  };
  const Case cases[] = {{"no filter", "", "INFO,ERROR,FATAL,TRAFF,DEBUG"},
                        {"default levels", "", ""},
                        {"user filter", "carol", "INFO,ERROR,FATAL,TRAFF,DEBUG"},
                        {"level filter", "", "ERROR"}};
  double seconds[4];
  for (int i = 0; i < 4; ++i) {
    std::fflush(stdout);
    dup2(null, 1);
    seconds[i] = Time([&] { reader.Output(cases[i].user, cases[i].levels, "", ""); });
    std::fflush(stdout);
    dup2(saved, 1);
  }
  const std::string grep = "grep -c . '" + path + "' >/dev/null";
  const double grep_seconds = Time([&] {
    if (std::system(grep.c_str()) != 0) std::abort();
  });

  for (int i = 0; i < 4; ++i)
    std::printf("Output, %-15s %8.2f ms  %6.2f M lines/s  %5.2f x grep -c .\n", cases[i].name,
                seconds[i] * 1e3, lines / seconds[i] / 1e6, seconds[i] / grep_seconds);
  std::printf("grep -c .               %8.2f ms  %6.2f M lines/s\n", grep_seconds * 1e3,
              lines / grep_seconds / 1e6);
  std::filesystem::remove_all(dir);
  return 0;
}
