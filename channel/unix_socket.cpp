#include "channel/unix_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace {

// False when the path does not fit sun_path with its NUL.
bool FillAddress(sockaddr_un &addr, const std::string &path) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

UnixSocket::UnixSocket(const std::string &local_path, const std::string &peer_path) {
  fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket creation failed");
  const bool local_fits = FillAddress(local, local_path);
  const bool peer_fits = FillAddress(peer, peer_path);
  if (local_fits) {
    unlink(local.sun_path);
    // Linux gives the bound file this mode, less the umask.
    fchmod(fd, 0666);
  }
  if (!local_fits || !peer_fits ||
      bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
    close(fd);
    fd = -1;
    throw std::runtime_error("socket bind failed");
  }
}

UnixSocket::~UnixSocket() {
  if (fd < 0) return;
  shutdown(fd, SHUT_RDWR);
  close(fd);
  unlink(local.sun_path);
}

int UnixSocket::Send(const Container &buffer) {
  const void *data = buffer;
  return static_cast<int>(sendto(fd, data, static_cast<size_t>(buffer.Size()), 0,
                                 reinterpret_cast<const sockaddr *>(&peer), sizeof peer));
}

bool UnixSocket::FromPeer(const sockaddr_un &from, socklen_t len) const {
  const size_t path_offset = offsetof(sockaddr_un, sun_path);
  const size_t room = std::min<size_t>(len, sizeof from);
  if (room <= path_offset || from.sun_family != AF_UNIX) return false;  // unnamed sender
  const size_t path_len = strnlen(from.sun_path, room - path_offset);
  return path_len == std::strlen(peer.sun_path) &&
         std::memcmp(from.sun_path, peer.sun_path, path_len) == 0;
}

int UnixSocket::Recv(Container &buffer) {
  auto *data = static_cast<unsigned char *>(buffer);
  const size_t size = static_cast<size_t>(buffer.Size());
  size_t filled = 0;
  for (;;) {
    sockaddr_un from{};
    socklen_t from_len = sizeof from;
    // An empty buffer still takes one (empty) datagram: the payload datagram
    // of a message without payload.
    const ssize_t got = recvfrom(fd, size ? data + filled : nullptr, size - filled, 0,
                                 reinterpret_cast<sockaddr *>(&from), &from_len);
    if (got < 0) return static_cast<int>(got);
    // No sender address: receiving was stopped, or an unbound socket sent
    // an (empty) datagram, which must not end the exchange.
    if (got == 0 && from_len == 0 && stopped) return 0;
    if (!FromPeer(from, from_len)) continue;
    if (got == 0 && size != 0) return 0;
    filled += static_cast<size_t>(got);
    if (filled >= size) return static_cast<int>(filled);
  }
}

void UnixSocket::StopReceiving() {
  stopped = true;
  shutdown(fd, SHUT_RD);
}
