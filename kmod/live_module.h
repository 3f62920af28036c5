// A loaded parvex for tests that drive it as the connection daemon and the
// access server would: lines of the control device, loopback UDP peers and
// the captured kernel log.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kmod/module.h"
#include "kmod/records.h"
#include "kmod/user/devices_user.h"
#include "kmod/user/controls_user.h"

namespace kmod_live {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLoopback = 0x7F000001;  // host order, as the records carry it

inline std::vector<std::string> log_lines() {
  std::vector<std::string> lines;
  for (size_t i = 0; i < user_log_count(); ++i) {
    std::string line(user_log_entry(i, nullptr, 0), '\0');
    user_log_entry(i, line.data(), line.size() + 1);
    lines.push_back(line);
  }
  return lines;
}

inline size_t log_count(const std::string &line) {
  size_t n = 0;
  for (const auto &l : log_lines()) n += l == line;
  return n;
}

// Polls until done() holds or two seconds pass.
inline bool eventually(const std::function<bool()> &done) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

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

// One line of the control device, closed at the end.
class Line {
 public:
  explicit Line(int index) : tty_(user_tty_open(index)) { EXPECT_NE(tty_, nullptr); }
  ~Line() { close(); }
  Line(const Line &) = delete;
  Line &operator=(const Line &) = delete;

  void close() {
    if (tty_) user_tty_close(tty_);
    tty_ = nullptr;
  }
  tty_struct *tty() const { return tty_; }

  int write(const Bytes &frame) { return user_tty_write(tty_, frame.data(), static_cast<int>(frame.size())); }
  // Writes, retrying while the ring is full.
  void write_admitted(const Bytes &frame) {
    for (int i = 0; i < 100000 && write(frame) < 0; ++i) std::this_thread::yield();
  }
  int ioctl(unsigned int cmd, const void *arg = nullptr) {
    return user_tty_ioctl(tty_, cmd, reinterpret_cast<unsigned long>(arg));
  }
  int create(int32_t sid, uint16_t peer_port, uint16_t local_port, uint32_t traffic_events = 0) {
    session_setup setup{};
    setup.sid = sid;
    setup.peer_addr = kLoopback;
    setup.local_addr = kLoopback;
    setup.peer_port = peer_port;
    setup.local_port = local_port;
    setup.traffic_events = traffic_events;
    return ioctl(TTYSIM_CREATE_SESSION, &setup);
  }
  traffic_stats stats() {
    traffic_stats st{};
    EXPECT_EQ(ioctl(TTYSIM_GET_STATS, &st), 0);
    return st;
  }
  // The next delivered frame, or empty after timeout_ms.
  Bytes read(int timeout_ms = 2000) {
    uint8_t buf[4096];
    int n = user_tty_read(tty_, buf, sizeof(buf), timeout_ms);
    return n < 0 ? Bytes{} : Bytes(buf, buf + n);
  }

 private:
  tty_struct *tty_;
};

// Rules in caller memory that a filter_list_desc can point at.
class RuleList {
 public:
  explicit RuleList(const std::vector<filter_rule> &rules) : size_(rules.size() * sizeof(filter_rule) + 8) {
    mem_ = static_cast<filter_rule *>(user_low_alloc(size_));
    std::memcpy(mem_, rules.data(), rules.size() * sizeof(filter_rule));
  }
  ~RuleList() { user_low_free(mem_, size_); }
  RuleList(const RuleList &) = delete;
  RuleList &operator=(const RuleList &) = delete;
  filter_list_desc desc(uint32_t size) const {
    return filter_list_desc{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem_)), size};
  }
  const void *data() const { return mem_; }

 private:
  size_t size_;
  filter_rule *mem_;
};

// The module loaded for each test and unloaded after it, threads gone.
class LiveModule : public ::testing::Test {
 protected:
  void SetUp() override {
    user_log_clear();
    ASSERT_EQ(init_module(), 0);
  }
  void TearDown() override {
    user_fail_alloc_after(-1);
    user_set_unreadable(nullptr, 0);
    cleanup_module();
    EXPECT_EQ(user_threads_alive(), 0);
    user_log_clear();
  }
};

}  // namespace kmod_live
