// A bound AF_UNIX datagram socket talking to one peer address.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <atomic>
#include <string>

#include "channel/container.h"

class UnixSocket {
 public:
  // Removes a stale file at local_path and binds it (mode 0666 requested with
  // fchmod). Sender credentials are switched on (SO_PASSCRED) before the bind,
  // so every datagram that can reach the socket carries them. Throws
  // std::runtime_error "socket creation failed" or "socket bind failed".
  UnixSocket(const std::string &local_path, const std::string &peer_path);
  virtual ~UnixSocket();
  UnixSocket(const UnixSocket &) = delete;
  UnixSocket &operator=(const UnixSocket &) = delete;

  // One datagram with the whole buffer to the peer; what sendto returns.
  int Send(const Container &buffer);
  // Fills the pre-sized buffer from successive datagrams, each cut to the room
  // left. The local socket is world-writable, so a datagram counts only when
  // its sender's credentials show root or the owner of the file at the peer
  // path. The sender's address does not matter: the daemon may answer from
  // any socket of its own, bound or not. Others' datagrams, and any without
  // credentials, are dropped. Returns the byte count, or the first result of
  // 0 or less.
  int Recv(Container &buffer);
  // Ends receiving: a Recv blocked now or called later returns 0.
  void StopReceiving();

 private:
  // Looks the owner up for each datagram: a restarted daemon may run as
  // someone else.
  bool Authorised(uid_t sender) const;

  int fd = -1;
  sockaddr_un local{};
  sockaddr_un peer{};
  std::atomic<bool> stopped{false};  // set by another thread than Recv's
};
