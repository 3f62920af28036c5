// The end-to-end backend for the module built for user space, loaded in
// this process: lines through the user-space tty platform, the output path
// through its hooks.
#pragma once

#include <vector>

#include "kmod/e2e/backend.h"
#include "kmod/platform.h"
#include "kmod/user/devices_user.h"

namespace kmod_e2e {

class UserBackend : public Backend {
 public:
  int open_line(int index) override {
    tty_struct *tty = user_tty_open(index);
    if (!tty) return -1;
    lines_.push_back(tty);
    return static_cast<int>(lines_.size() - 1);
  }
  void close_line(int line) override {
    if (lines_.at(line)) user_tty_close(lines_[line]);
    lines_[line] = nullptr;
  }
  int ioctl(int line, unsigned int cmd, const void *arg) override {
    return user_tty_ioctl(lines_.at(line), cmd, reinterpret_cast<unsigned long>(arg));
  }
  int write(int line, const Bytes &frame) override {
    return user_tty_write(lines_.at(line), frame.data(), static_cast<int>(frame.size()));
  }
  Bytes read(int line, int timeout_ms) override {
    uint8_t buf[4096];
    int n = user_tty_read(lines_.at(line), buf, sizeof(buf), timeout_ms);
    return n < 0 ? Bytes{} : Bytes(buf, buf + n);
  }
  bool ipv4_leaves(const char *dst) override {
    Bytes ip(20, 0);
    ip[0] = 0x45;
    inet_pton(AF_INET, dst, &ip[16]);
    return user_output_ipv4(ip.data(), ip.size()) == NF_ACCEPT;
  }
  int ipv6_leaves(bool loopback) override { return user_output_ipv6(loopback) == NF_ACCEPT; }

 private:
  std::vector<tty_struct *> lines_;
};

}  // namespace kmod_e2e
