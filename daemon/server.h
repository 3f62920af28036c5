// The stand-in daemon's command channel: receives each request as a header
// datagram and a payload datagram and answers it as the script says.
#pragma once

#include <sys/un.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "daemon/script.h"

class Server {
 public:
  // Replaces a stale file at socket_path and binds it, mode 0666. Answers go
  // to the address the request came from, a path or an abstract name. An
  // unbound sender gets none: a fixed fallback path may be someone else's.
  // Throws std::runtime_error when the socket cannot be bound.
  Server(const std::string &socket_path, const Script &script, std::ostream &log);
  ~Server();  // closes the socket and removes its file
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Serves requests until stop becomes non-zero (set by a signal handler).
  void Run(const volatile std::sig_atomic_t &stop);

 private:
  struct Datagram {
    std::vector<uint8_t> bytes;
    sockaddr_un from;
    socklen_t from_len;  // an abstract name ends here, not at a NUL
  };

  // Waits up to timeout_ms (-1: until a signal) for one datagram.
  bool Receive(Datagram &out, int timeout_ms);
  void Serve(const Datagram &header, const volatile std::sig_atomic_t &stop);
  void Answer(int kind, const sockaddr_un &to, socklen_t to_len,
              const volatile std::sig_atomic_t &stop);
  void SendDatagram(const void *data, size_t len, const sockaddr_un &to, socklen_t to_len);

  int fd = -1;
  std::string path;
  const Script &script;
  std::ostream &log;
};
