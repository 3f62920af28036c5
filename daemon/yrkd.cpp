// yrkd: a stand-in for the connection daemon, for tests and demonstrations.
//
// usage: yrkd [-s SCRIPT] [-S SOCKET] [-m SEMAPHORE] [-l LOGFILE]
//   -s SCRIPT     answers per request kind (format in daemon/script.h);
//                 default: $YRKD_SCRIPT, else a connect gets "Подключение...",
//                 a session state and "Соединение установлено", a disconnect
//                 "Соединение разорвано", statistics one session state and
//                 kind 7, 0, and any other request kind 7, 0
//   -S SOCKET     the daemon's socket (default /tmp/yrkcmdm.soc)
//   -m SEMAPHORE  the command semaphore, created with value 1 when missing
//                 (default yrk_sem)
//   -l LOGFILE    the event log it writes (default /var/log/yrk.log); one it
//                 cannot open is reported and the daemon runs without
//
// Creates the semaphore, then binds the socket (so a socket that exists means
// the semaphore does too), prints "yrkd ready", and logs every request as
// "request kind=K length=L payload=HEX" on standard output (a password
// written as zeros). Each request also makes one event in the log, shown as
// "event LEVEL | ADDRESS | USER | TEXT": connect "Запрос на подключение",
// disconnect "Запрос на отключение" (INFO, the session's server, the user the
// request names), statistics "Запрос статистики" (DEBUG), parameters
// "Параметры соединения обновлены" (INFO), a log request the event it
// carries; a malformed payload "Искажённый запрос: вид K" and an unknown kind
// "Неизвестный запрос: вид K" (ERROR). The user is the sending process's,
// from the kernel; only root's requests may name another. Answers go to the
// requesting socket; one that is not bound gets none. SIGTERM or SIGINT
// removes the socket and ends it.
#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "config/event_log.h"
#include "config/paths.h"
#include "daemon/script.h"
#include "daemon/server.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

void Usage(const char *program) {
  std::fprintf(stderr, "usage: %s [-s SCRIPT] [-S SOCKET] [-m SEMAPHORE] [-l LOGFILE]\n", program);
  std::exit(2);
}

Script LoadScript(const char *path) {
  if (!path) return Script{};
  std::ifstream in(path);
  if (!in) throw std::runtime_error(std::string("cannot read script ") + path);
  return Script::Parse(in);
}

// Every user's command layer takes this semaphore, so it is created for all.
// One found held at start may belong to a client killed outright while it
// held it (nothing can give it back then): say so for the administrator.
void CreateSemaphore(const std::string &name) {
  const mode_t old_mask = umask(0);
  sem_t *sem = sem_open(name.c_str(), O_CREAT, 0666, 1);
  umask(old_mask);
  if (sem == SEM_FAILED) throw std::runtime_error("sem_open " + name);
  int value = 1;
  if (sem_getvalue(sem, &value) == 0 && value == 0)
    std::cout << "semaphore " << name
              << " found at 0: held by a running command, or by one killed while it held it"
              << std::endl;
  sem_close(sem);
}

void OnSignals(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char **argv) {
  const char *script_path = std::getenv("YRKD_SCRIPT");
  std::string socket_path = Paths::kDaemonSocket;
  std::string semaphore = Paths::kSemaphore;
  std::string log_path = Paths::kEventLog;
  for (int opt; (opt = getopt(argc, argv, "s:S:m:l:")) != -1;) {
    switch (opt) {
      case 's': script_path = optarg; break;
      case 'S': socket_path = optarg; break;
      case 'm': semaphore = optarg; break;
      case 'l': log_path = optarg; break;
      default: Usage(argv[0]);
    }
  }
  if (optind != argc) Usage(argv[0]);

  try {
    const Script script = LoadScript(script_path);
    CreateSemaphore(semaphore);
    OnSignals(RequestStop);
    EventLog events(true, log_path);
    if (events.IsOpen())
      gEventLog = &events;
    else
      std::cout << "event log " << log_path << " cannot be opened: running without it" << std::endl;
    Server server(socket_path, script, std::cout, gEventLog);
    std::cout << "yrkd ready" << std::endl;
    server.Run(stop_requested);
    gEventLog = nullptr;
  } catch (const std::exception &e) {
    std::cerr << "yrkd: " << e.what() << std::endl;
    return 1;
  }
  std::cout << "yrkd stopped" << std::endl;
  return 0;
}
