// Small helpers for the programs that run inside the test guest: verdict
// lines, the kernel log since start, lines of the control device with the
// N_HDLC discipline, and loopback UDP sockets. No test framework: the guest
// has nothing but these static programs and busybox.
#pragma once

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kmod/e2e/frames.h"

namespace ktest {

using Bytes = std::vector<uint8_t>;

inline int failures = 0;

// One verdict line in the form the guest's init counts.
inline bool check(bool ok, const std::string &what) {
  std::printf("%s - %s\n", ok ? "ok" : "not ok", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
  return ok;
}

inline std::string hex(const Bytes &b, size_t max = 24) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < b.size() && i < max; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
  }
  if (b.size() > max) s += "...";
  return s;
}

// Polls until done() holds or the time passes (TCG guests are slow).
inline bool eventually(const std::function<bool()> &done, int ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The kernel log written after construction, one message per entry.
class Kmsg {
 public:
  Kmsg() {
    fd_ = open("/dev/kmsg", O_RDONLY | O_NONBLOCK);
    if (fd_ >= 0) lseek(fd_, 0, SEEK_END);
  }
  ~Kmsg() {
    if (fd_ >= 0) close(fd_);
  }
  Kmsg(const Kmsg &) = delete;
  Kmsg &operator=(const Kmsg &) = delete;

  // Messages are "prio,seq,time,flags;text\n"; only the text is kept.
  const std::vector<std::string> &lines() {
    char buf[8192];
    for (;;) {
      ssize_t n = read(fd_, buf, sizeof buf - 1);
      if (n < 0 && errno == EPIPE) continue;  // overwritten records: go on
      if (n <= 0) break;
      std::string rec(buf, static_cast<size_t>(n));
      size_t semi = rec.find(';');
      std::string text = semi == std::string::npos ? rec : rec.substr(semi + 1);
      size_t nl = text.find('\n');
      if (nl != std::string::npos) text.resize(nl);
      lines_.push_back(text);
    }
    return lines_;
  }
  size_t count(const std::string &text) {
    size_t n = 0;
    for (const auto &l : lines()) n += l == text;
    return n;
  }
  // Waits until text has been logged at least n times since construction.
  bool wait_for(const std::string &text, size_t n = 1, int ms = 5000) {
    return eventually([&] { return count(text) >= n; }, ms);
  }

 private:
  int fd_ = -1;
  std::vector<std::string> lines_;
};

constexpr int kNHdlc = 13;

// A line of the control device, raw, with N_HDLC: each read is one frame.
class Line {
 public:
  explicit Line(int n) : name_("/dev/ttysim" + std::to_string(n)) {
    fd_ = open(name_.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
    int disc = kNHdlc;
    ldisc_ok_ = ioctl(fd_, TIOCSETD, &disc) == 0;
  }
  ~Line() { close(); }
  Line(const Line &) = delete;
  Line &operator=(const Line &) = delete;

  bool ok() const { return fd_ >= 0 && ldisc_ok_; }
  int fd() const { return fd_; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // The ioctl's result, or -errno.
  int ioctl_(unsigned long cmd, const void *arg = nullptr) {
    int r = ::ioctl(fd_, cmd, arg);
    return r < 0 ? -errno : r;
  }
  ssize_t write(const Bytes &f) { return ::write(fd_, f.data(), f.size()); }
  // One frame, or empty after ms without one.
  Bytes read(int ms = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return {};
    Bytes b(8192);
    ssize_t n = ::read(fd_, b.data(), b.size());
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool ldisc_ok_ = false;
};

// A UDP socket on 127.0.0.1 (port 0: any free one) that reports the TTL of
// what it receives.
class Udp {
 public:
  explicit Udp(uint16_t port = 0, uint32_t addr = INADDR_LOOPBACK) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1, big = 4 << 20;
    setsockopt(fd_, IPPROTO_IP, IP_RECVTTL, &one, sizeof one);
    // Bursts of hundreds of datagrams must not overflow the queue.
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(addr);
    bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Udp() { close(fd_); }
  Udp(const Udp &) = delete;
  Udp &operator=(const Udp &) = delete;

  bool bound() const { return bound_; }
  uint16_t port() const { return port_; }
  int fd() const { return fd_; }
  // 0 or -errno.
  int send(const Bytes &d, uint16_t port, uint32_t addr = INADDR_LOOPBACK) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(addr);
    ssize_t n = sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return n < 0 ? -errno : 0;
  }
  bool receive(Bytes &d, int ms = 5000, int *ttl = nullptr, uint16_t *from = nullptr) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    d.assign(4096, 0);
    sockaddr_in a{};
    iovec iov{d.data(), d.size()};
    alignas(cmsghdr) char control[64];
    msghdr m{};
    m.msg_name = &a;
    m.msg_namelen = sizeof a;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd_, &m, 0);
    if (n < 0) return false;
    d.resize(static_cast<size_t>(n));
    if (from) *from = ntohs(a.sin_port);
    for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
      if (ttl && c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL)
        std::memcpy(ttl, CMSG_DATA(c), sizeof *ttl);
    return true;
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  bool bound_ = false;
};

// A port nobody holds right now.
inline uint16_t free_port() {
  Udp u;
  return u.port();
}

using kmod_e2e::ipv4_frame;  // IPv4/UDP 10.0.0.1:12345 -> 10.0.0.2:53, tag at byte 28
using kmod_e2e::ppp_frame;

inline bool is_event(const Bytes &f) { return f.size() >= 8 && f[2] == 0xC0 && f[3] == 0x02; }

inline uint32_t word(const Bytes &f, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= f.size()) std::memcpy(&v, &f[at], 4);
  return v;
}

// Frames and events read from a line, kept apart.
struct Upward {
  std::vector<Bytes> frames, events;
  void read(Line &line, size_t frames_wanted, size_t events_wanted, int ms = 5000) {
    while (frames.size() < frames_wanted || events.size() < events_wanted) {
      Bytes f = line.read(ms);
      if (f.empty()) return;
      (is_event(f) ? events : frames).push_back(f);
    }
  }
};

}  // namespace ktest
