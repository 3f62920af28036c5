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
  // to the sender's address, or to client_path for an unnamed sender.
  // Throws std::runtime_error when the socket cannot be bound.
  Server(const std::string &socket_path, const std::string &client_path, const Script &script,
         std::ostream &log);
  ~Server();  // closes the socket and removes its file
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Serves requests until stop becomes non-zero (set by a signal handler).
  void Run(const volatile std::sig_atomic_t &stop);

 private:
  struct Datagram {
    std::vector<uint8_t> bytes;
    sockaddr_un from;
    socklen_t from_len;
  };

  // Waits up to timeout_ms (-1: until a signal) for one datagram.
  bool Receive(Datagram &out, int timeout_ms);
  void Serve(const Datagram &header, const volatile std::sig_atomic_t &stop);
  void Answer(int kind, const sockaddr_un &to, const volatile std::sig_atomic_t &stop);
  void SendDatagram(const void *data, size_t len, const sockaddr_un &to);

  int fd = -1;
  std::string path;
  sockaddr_un client{};
  const Script &script;
  std::ostream &log;
};
