// The control device: write limits, upward delivery and the ioctl command set
// with its results and log lines.
#include "kmod/ttysim.h"

#include <atomic>

#include "kmod/live_module.h"
#include "kmod/peer/peer.h"
#include "kmod/testing/keys.h"
#include "kmod/udpt.h"

namespace kmod_live {
namespace {

using Ttysim = LiveModule;

TEST_F(Ttysim, DriverIsRegisteredAsSixteenRawLines) {
  const parvex_tty_config *d = user_tty_driver();
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->driver_name, "ttysim");
  EXPECT_STREQ(d->name, "ttysim");
  EXPECT_EQ(d->lines, 16);
  EXPECT_EQ(d->c_cflag, 0xBFu);
  EXPECT_EQ(d->c_iflag | d->c_oflag | d->c_lflag, 0u);
  EXPECT_EQ(user_tty_open(16), nullptr);
  EXPECT_EQ(user_tty_open_without_line(), -19);
}

TEST_F(Ttysim, WriteLimits) {
  Line line(0);
  EXPECT_EQ(line.write(ipv4_frame(2031)), 2031);
  EXPECT_EQ(line.write(ipv4_frame(2032)), -1);
  EXPECT_EQ(line.write(ipv4_frame(4)), 4);
  EXPECT_EQ(line.write(ipv4_frame(3)), -1);
  // Without a session the sending thread consumes both accepted frames.
  EXPECT_TRUE(eventually([] { return log_count("outstream packet processing error - session not found ") == 2; }));
  EXPECT_EQ(log_count("packet too large: 2032"), 1u);
  EXPECT_EQ(log_count("packet too short: 3"), 1u);
}

TEST_F(Ttysim, CommandsWithoutSession) {
  Line line(1);
  crypt_setup keys{};
  RuleList rules({{0, 0}});
  filter_list_desc desc = rules.desc(8);
  EXPECT_EQ(line.ioctl(TTYSIM_SETUP_KEYS, &keys), -14);
  EXPECT_EQ(line.ioctl(TTYSIM_FILTER_ON), -14);
  EXPECT_EQ(line.ioctl(TTYSIM_FILTER_OFF), -14);
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST, &desc), -14);
  EXPECT_EQ(log_count("file not open"), 4u);
  user_log_clear();
  EXPECT_EQ(line.ioctl(TTYSIM_DELETE_SESSION), 0);
  EXPECT_TRUE(log_lines().empty());
  EXPECT_EQ(line.ioctl(0x40047308), -515);
  EXPECT_EQ(line.ioctl(0x40047300), -515);
}

TEST_F(Ttysim, StatisticsWithoutSessionAreTheModules) {
  UdpPeer peer;
  Line a(0), b(1);
  ASSERT_EQ(a.create(1, peer.port(), 0), 0);
  Bytes frame = ipv4_frame(100);
  ASSERT_EQ(a.write(frame), 100);
  Bytes got;
  ASSERT_TRUE(peer.receive(got));
  traffic_stats module = b.stats();
  EXPECT_EQ(module.frames_sent, 1u);
  EXPECT_EQ(module.bytes_sent, 100u);
  EXPECT_EQ(module.frames_received, 0u);
  a.close();
  EXPECT_EQ(b.stats().frames_sent, 1u);  // the module's counters outlive the session
}

TEST_F(Ttysim, StatisticsToUnwritableMemoryReportBytesLeft) {
  Line line(0);
  traffic_stats st{};
  user_set_unreadable(reinterpret_cast<uint8_t *>(&st) + 24, 8);
  EXPECT_EQ(line.ioctl(TTYSIM_GET_STATS, &st), 8);
  user_set_unreadable(nullptr, 0);
}

TEST_F(Ttysim, CreateTwiceKeepsTheFirstSession) {
  UdpPeer first, second;
  Line line(2);
  ASSERT_EQ(line.create(41, first.port(), 0), 0);
  EXPECT_EQ(line.create(42, second.port(), 0), 0);
  EXPECT_EQ(log_count("session sid =41 already exists"), 1u);
  ASSERT_EQ(line.write(ipv4_frame(40)), 40);
  Bytes got;
  EXPECT_TRUE(first.receive(got));
  EXPECT_FALSE(second.receive(got, 100));
}

TEST_F(Ttysim, UnreadableRecordsFail) {
  Line line(0);
  session_setup setup{};
  user_set_unreadable(reinterpret_cast<uint8_t *>(&setup) + 40, 4);
  EXPECT_EQ(line.ioctl(TTYSIM_CREATE_SESSION, &setup), -14);
  user_set_unreadable(nullptr, 0);
  ASSERT_EQ(line.create(5, free_port(), 0), 0);

  crypt_setup keys{};
  user_set_unreadable(reinterpret_cast<uint8_t *>(&keys) + 143, 1);
  EXPECT_EQ(line.ioctl(TTYSIM_SETUP_KEYS, &keys), -14);
  filter_list_desc desc{};
  user_set_unreadable(&desc, 8);
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST, &desc), -14);
  user_set_unreadable(nullptr, 0);
  desc.size = 0;  // an empty list is refused too
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST, &desc), -14);
}

// Key records no frame-key table comes of fail at once with a log line, and
// the control path stays free for the other lines meanwhile.
TEST_F(Ttysim, KeyRecordsThatCannotBeInstalledFail) {
  Line a(0), b(1);
  ASSERT_EQ(a.create(1, free_port(), 0), 0);
  ASSERT_EQ(b.create(2, free_port(), 0), 0);
  crypt_setup stalling{}, zero_sbox{};
  Bytes key = kmod_testing::random_bytes(32);
  std::memcpy(stalling.key, key.data(), 32);
  std::memcpy(stalling.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  kmod_testing::make_stalling_iv(stalling, stalling.send_iv);
  std::memcpy(zero_sbox.key, key.data(), 32);

  std::atomic<int> answered{0};
  std::atomic<bool> done{false};
  std::thread other([&] {
    while (!done) {
      traffic_stats st{};
      if (b.ioctl(TTYSIM_GET_STATS, &st) == 0) ++answered;
    }
  });
  constexpr int kTries = 20;
  int refused = 0;
  for (int i = 0; i < kTries; ++i) {
    refused += a.ioctl(TTYSIM_SETUP_KEYS, &stalling) == -EINVAL;
    refused += a.ioctl(TTYSIM_SETUP_KEYS, &zero_sbox) == -EINVAL;
  }
  EXPECT_TRUE(eventually([&] { return answered > 0; }));
  done = true;
  other.join();
  EXPECT_EQ(refused, 2 * kTries);
  EXPECT_EQ(log_count("key setup refused - no frame key table for this key record "), 2u * kTries);
  // Nothing was keyed: frames still leave as before.
  UdpPeer peer;
  Line c(2);
  ASSERT_EQ(c.create(3, peer.port(), 0), 0);
  EXPECT_EQ(c.ioctl(TTYSIM_SETUP_KEYS, &stalling), -EINVAL);
  ASSERT_EQ(c.write(ipv4_frame(40)), 40);
  Bytes got;
  ASSERT_TRUE(peer.receive(got));
  EXPECT_EQ(got[0], 0);
}

TEST_F(Ttysim, SessionAllocationFailures) {
  Line line(0);
  user_fail_alloc_after(0);
  EXPECT_EQ(line.create(1, free_port(), 0), -17);
  EXPECT_EQ(log_count("error while creating session"), 1u);

  user_fail_alloc_after(1);  // the record, then the socket record fails
  EXPECT_EQ(line.create(2, free_port(), 0), -14);
  user_fail_alloc_after(-1);
  EXPECT_EQ(log_count("error while creating session - udp transporter initialization failed"), 1u);
  // The half-made session stays on the line until deleted.
  EXPECT_EQ(line.create(3, free_port(), 0), 0);
  EXPECT_EQ(log_count("session sid =2 already exists"), 1u);
  EXPECT_EQ(line.ioctl(TTYSIM_DELETE_SESSION), 0);
  EXPECT_EQ(line.create(3, free_port(), 0), 0);
}

TEST_F(Ttysim, HalfMadeSessionDoesNotReleaseASharedSocket) {
  UdpPeer peer;
  uint16_t port = free_port();
  Line half(0), good(1);
  user_fail_alloc_after(1);
  ASSERT_EQ(half.create(2, peer.port() + 1, port), -14);
  user_fail_alloc_after(-1);
  ASSERT_EQ(good.create(1, peer.port(), port), 0);
  half.close();
  ASSERT_NE(udpt_find_sock(kLoopback, port), nullptr);
  EXPECT_EQ(udpt_find_sock(kLoopback, port)->users, 1);
  ASSERT_EQ(good.write(ipv4_frame(40)), 40);
  Bytes got;
  EXPECT_TRUE(peer.receive(got));
}

TEST_F(Ttysim, CloseWakesTheLine) {
  Line line(3);
  tty_struct *tty = line.tty();
  line.close();
  EXPECT_EQ(user_tty_hangups(tty), 1);
}

}  // namespace
}  // namespace kmod_live
