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

#include "kmod/e2e/frames.h"
#include "kmod/module.h"
#include "kmod/records.h"
#include "kmod/user/devices_user.h"
#include "kmod/user/controls_user.h"

namespace kmod_live {

using kmod_e2e::Bytes;
using kmod_e2e::free_port;
using kmod_e2e::ipv4_frame;
using kmod_e2e::kLoopback;
using kmod_e2e::ppp_frame;
using kmod_e2e::UdpPeer;

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
