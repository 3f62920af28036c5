// The end-to-end program for the kernel module: the same checks as the
// user-space build runs, on the device nodes /dev/ttysim0.. with the N_HDLC
// discipline attached (each read is one whole frame), and real packets for
// the filter. Built statically for a test machine, from the checkout's top:
//   g++ -std=c++20 -O2 -static -I. kmod/e2e/device_backend.cpp kmod/e2e/checks.cpp
//       kmod/peer/peer.cpp kmod/peer/gcrypt_gost.cpp -lgcrypt -lgpg-error -pthread
// Exit status 0 when every check passed; one "ok"/"not ok" line per check.
#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "kmod/e2e/backend.h"

#ifndef N_HDLC
#define N_HDLC 13
#endif

namespace kmod_e2e {
namespace {

class DeviceBackend : public Backend {
 public:
  int open_line(int index) override {
    std::string path = "/dev/ttysim" + std::to_string(index);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios t{};
    int ldisc = N_HDLC;
    if (tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
    if (::ioctl(fd, TIOCSETD, &ldisc) < 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  void close_line(int line) override { ::close(line); }
  int ioctl(int line, unsigned int cmd, const void *arg) override {
    int r = ::ioctl(line, cmd, arg);
    return r < 0 ? -errno : r;
  }
  int write(int line, const Bytes &frame) override {
    ssize_t n = ::write(line, frame.data(), frame.size());
    return n < 0 ? -errno : static_cast<int>(n);
  }
  Bytes read(int line, int timeout_ms) override {
    pollfd p{line, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return {};
    uint8_t buf[4096];
    ssize_t n = ::read(line, buf, sizeof(buf));
    return n <= 0 ? Bytes{} : Bytes(buf, buf + n);
  }
  // A dropped packet makes sendto fail with EPERM.
  bool ipv4_leaves(const char *dst) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    inet_pton(AF_INET, dst, &to.sin_addr);
    return send_one(AF_INET, &to, sizeof(to)) == 0;
  }
  int ipv6_leaves(bool loopback) override {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(9);
    inet_pton(AF_INET6, loopback ? "::1" : "2001:db8::1", &to.sin6_addr);
    int err = send_one(AF_INET6, &to, sizeof(to));
    if (err == 0 || err == EPERM) return err == 0;
    return -1;  // no route out of this machine: nothing to tell
  }
  int patience_ms() const override { return 10000; }

 private:
  static int send_one(int family, const void *to, socklen_t len) {
    int fd = socket(family, SOCK_DGRAM, 0);
    if (fd < 0) return errno;
    int err = sendto(fd, "x", 1, 0, static_cast<const sockaddr *>(to), len) < 0 ? errno : 0;
    ::close(fd);
    return err;
  }
};

}  // namespace
}  // namespace kmod_e2e

int main() {
  kmod_e2e::DeviceBackend backend;
  int failed = kmod_e2e::run_tunnel_checks(backend);
  std::printf("end-to-end: %d check(s) failed\n", failed);
  return failed ? 1 : 0;
}
