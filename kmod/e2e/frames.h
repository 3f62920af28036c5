// Frames and the access server's UDP end, for tests of the module on either
// platform: no test framework, nothing of the user-space platform.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kmod_e2e {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLoopback = 0x7F000001;  // host order, as the records carry it

// An IPv4 frame of len bytes: PPP header, IPv4 header with ttl, UDP ports.
inline Bytes ipv4_frame(size_t len, uint8_t ttl = 64, uint32_t tag = 0) {
  Bytes f(len < 4 ? 4 : len, 0);
  f[0] = 0xFF, f[1] = 0x03, f[2] = 0x00, f[3] = 0x21;
  if (len >= 24) {
    f[4] = 0x45;
    f[6] = static_cast<uint8_t>((len - 4) >> 8), f[7] = static_cast<uint8_t>(len - 4);
    f[12] = ttl;
    f[13] = 17;
    const uint8_t src[4] = {10, 0, 0, 1}, dst[4] = {10, 0, 0, 2};
    std::memcpy(&f[16], src, 4), std::memcpy(&f[20], dst, 4);
  }
  if (len >= 28) f[24] = 0x30, f[25] = 0x39, f[26] = 0x00, f[27] = 0x35;  // 12345 -> 53
  if (len >= 32) std::memcpy(&f[28], &tag, 4);
  f.resize(len);
  return f;
}

inline Bytes ppp_frame(uint16_t protocol, Bytes info = {1, 2, 3, 4}) {
  Bytes f(4 + info.size());
  f[0] = 0xFF, f[1] = 0x03, f[2] = static_cast<uint8_t>(protocol >> 8), f[3] = static_cast<uint8_t>(protocol);
  std::copy(info.begin(), info.end(), f.begin() + 4);
  return f;
}

// A UDP socket on 127.0.0.1 playing the access server.
class UdpPeer {
 public:
  UdpPeer() {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    int size = 4 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size));
    int on = 1;
    setsockopt(fd_, IPPROTO_IP, IP_RECVTTL, &on, sizeof(on));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(kLoopback);
    bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof(sa));
    socklen_t len = sizeof(sa);
    getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~UdpPeer() { close(fd_); }
  UdpPeer(const UdpPeer &) = delete;
  UdpPeer &operator=(const UdpPeer &) = delete;

  uint16_t port() const { return port_; }
  int fd() const { return fd_; }

  // One datagram, or false after timeout_ms; its TTL and source port too.
  bool receive(Bytes &out, int timeout_ms = 2000, int *ttl = nullptr, uint16_t *from_port = nullptr) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return false;
    uint8_t buf[65536];
    char control[64];
    sockaddr_in from{};
    iovec iov{buf, sizeof(buf)};
    msghdr msg{};
    msg.msg_name = &from, msg.msg_namelen = sizeof(from);
    msg.msg_iov = &iov, msg.msg_iovlen = 1;
    msg.msg_control = control, msg.msg_controllen = sizeof(control);
    ssize_t n = recvmsg(fd_, &msg, 0);
    if (n < 0) return false;
    out.assign(buf, buf + n);
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
      if (ttl && c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) std::memcpy(ttl, CMSG_DATA(c), sizeof(int));
    if (from_port) *from_port = ntohs(from.sin_port);
    return true;
  }

  void send(const Bytes &datagram, uint16_t to_port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(kLoopback);
    to.sin_port = htons(to_port);
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
  }

 private:
  int fd_;
  uint16_t port_;
};

// A free local UDP port for a session to bind.
inline uint16_t free_port() {
  UdpPeer probe;
  return probe.port();
}


}  // namespace kmod_e2e
