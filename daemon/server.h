// The stand-in daemon's command channel: receives each request as a header
// datagram and a payload datagram, records an event for it and answers it as
// the script says.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <ostream>
#include <string>
#include <vector>

#include "config/event_log.h"
#include "daemon/script.h"

// The event a request makes in the daemon's log.
struct RequestEvent {
  EventLog::EventType type;
  uint32_t address;  // a session's server, or 0
  std::string user;
  std::string text;
};

// Request payloads are fixed records: a 44-byte connection record (server
// address at 4..7), for connect and disconnect followed by a 134-byte block
// (certificate number, password at 4..68, user name at 69..133); a log
// request is an event type, a 65-byte user name and a NUL-terminated text.
namespace RequestLayout {
inline constexpr size_t kRecord = 44;
inline constexpr size_t kServerIp = 4;
inline constexpr size_t kBlock = 134;
inline constexpr size_t kPassword = kRecord + 4;
inline constexpr size_t kName = 65;
inline constexpr size_t kBlockUser = kRecord + 69;
}  // namespace RequestLayout

// What the log says for a request of `kind` with this payload from a sender
// (uid, and its name). A name in a connect, disconnect or log request is
// taken only from root, who may act for another user; anyone else is named
// as themselves. Malformed payloads and unknown kinds give an ERROR naming
// the kind.
RequestEvent EventFor(int kind, const std::vector<uint8_t> &payload, uid_t sender,
                      const std::string &sender_name);
// The payload in hexadecimal with the password of a connect or disconnect
// request written as zeros.
std::string MaskedHex(int kind, const std::vector<uint8_t> &payload);
// The account name of uid, or "uid N" when it has none.
std::string UserName(uid_t uid);

class Server {
 public:
  // Replaces a stale file at socket_path and binds it, mode 0666. Answers go
  // to the address the request came from, a path or an abstract name. An
  // unbound sender gets none: a fixed fallback path may be someone else's.
  // Throws std::runtime_error when the socket cannot be bound. Every
  // request served is recorded in events, unless that is nullptr, and shown
  // on log.
  Server(const std::string &socket_path, const Script &script, std::ostream &log,
         EventLog *events = nullptr);
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
    bool has_sender = false;
    ucred sender{};      // the sending process, from the kernel
  };

  // Waits up to timeout_ms (-1: until a signal) for one datagram.
  bool Receive(Datagram &out, int timeout_ms);
  void Serve(const Datagram &header, const volatile std::sig_atomic_t &stop);
  void Answer(int kind, const sockaddr_un &to, socklen_t to_len,
              const volatile std::sig_atomic_t &stop);
  void SendDatagram(const void *data, size_t len, const sockaddr_un &to, socklen_t to_len);
  void Record(int kind, const std::vector<uint8_t> &payload, const Datagram &header);

  int fd = -1;
  std::string path;
  const Script &script;
  std::ostream &log;
  EventLog *events;
};
