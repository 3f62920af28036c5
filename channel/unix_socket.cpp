#include "channel/unix_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <optional>
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

// The uid in the datagram's SCM_CREDENTIALS message, if it has one.
std::optional<uid_t> SenderUid(msghdr &msg) {
  for (cmsghdr *part = CMSG_FIRSTHDR(&msg); part; part = CMSG_NXTHDR(&msg, part)) {
    if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_CREDENTIALS ||
        part->cmsg_len != CMSG_LEN(sizeof(ucred)))
      continue;
    ucred credentials;
    std::memcpy(&credentials, CMSG_DATA(part), sizeof credentials);
    return credentials.uid;
  }
  return std::nullopt;
}

}  // namespace

UnixSocket::UnixSocket(const std::string &local_path, const std::string &peer_path) {
  fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket creation failed");
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    close(fd);
    fd = -1;
    throw std::runtime_error("socket creation failed");
  }
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

bool UnixSocket::Authorised(uid_t sender) const {
  if (sender == 0) return true;
  struct stat owner;
  return stat(peer.sun_path, &owner) == 0 && owner.st_uid == sender;
}

int UnixSocket::Recv(Container &buffer) {
  auto *data = static_cast<unsigned char *>(buffer);
  const size_t size = static_cast<size_t>(buffer.Size());
  size_t filled = 0;
  for (;;) {
    // An empty buffer still takes one (empty) datagram: the payload datagram
    // of a message without payload.
    iovec room{size ? data + filled : nullptr, size - filled};
    // Room for the credentials alone: descriptors a sender attaches do not
    // fit, and the kernel closes them.
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(ucred))];
    msghdr msg{};
    msg.msg_iov = &room;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd, &msg, 0);
    if (got < 0) return static_cast<int>(got);
    // The shut-down receiving side reads as an empty datagram.
    if (got == 0 && stopped) return 0;
    // Before the end below: a stranger's empty datagram must not end the
    // exchange.
    const std::optional<uid_t> sender = SenderUid(msg);
    if (!sender || !Authorised(*sender)) continue;
    if (got == 0 && size != 0) return 0;
    filled += static_cast<size_t>(got);
    if (filled >= size) return static_cast<int>(filled);
  }
}

void UnixSocket::StopReceiving() {
  stopped = true;
  shutdown(fd, SHUT_RD);
}
