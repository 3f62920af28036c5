// The rings: admission limits, the slot protocol, index wrap-around.
#include "kmod/stbuff.h"

#include <dirent.h>
#include <sys/resource.h>

#include <fstream>
#include <map>

#include "kmod/live_module.h"
#include "kmod/sync.h"

namespace kmod_live {
namespace {

using Rings = LiveModule;

const std::string kInNoSession = "instream packet processing error - session not found ";
const std::string kOutNoSession = "outstream packet processing error - session not found ";

int fill_len(stbuff_slot *slot, void *len) {
  slot->len = *static_cast<int32_t *>(len);
  return 0;
}

bool put_inbound(int32_t len) { return stbuff_instream_put(len, fill_len, &len) == 0; }

// The datagram of an unkeyed session: type byte 0, then the frame.
Bytes plain(const Bytes &frame) {
  Bytes d(frame.size() + 1, 0);
  std::copy(frame.begin(), frame.end(), d.begin() + 1);
  return d;
}

// Nice value of each thread of this process, by thread name.
std::map<std::string, int> thread_nices() {
  std::map<std::string, int> nices;
  DIR *dir = opendir("/proc/self/task");
  while (dirent *e = dir ? readdir(dir) : nullptr) {
    if (e->d_name[0] == '.') continue;
    std::string comm;
    std::getline(std::ifstream(std::string("/proc/self/task/") + e->d_name + "/comm"), comm);
    nices[comm] = getpriority(PRIO_PROCESS, std::stoi(e->d_name));
  }
  if (dir) closedir(dir);
  return nices;
}

// Whether a thread of this process may raise its priority (a privilege).
bool may_raise_priority() {
  bool raised = false;
  std::thread probe([&] { raised = setpriority(PRIO_PROCESS, gettid(), -1) == 0; });
  probe.join();
  return raised;
}

// Named so; at nice -10 where the process may raise a priority.
TEST_F(Rings, WorkerThreadsAreNamedAndRaised) {
  const bool raised = may_raise_priority();
  std::map<std::string, int> nices;
  ASSERT_TRUE(eventually([&] {
    nices = thread_nices();
    return nices.count("parvex_in") && nices.count("parvex_out") &&
           (!raised || (nices["parvex_in"] == -10 && nices["parvex_out"] == -10));
  }));
}

TEST(RingIndex, WrapsAfterTheLastSlot) {
  EXPECT_EQ(st_update_buffer_pointer(0), 1u);
  EXPECT_EQ(st_update_buffer_pointer(1022), 1023u);
  EXPECT_EQ(st_update_buffer_pointer(1023), 0u);
}

// With the inbound lock held, "parvex_in" stops on its first slot, which it
// gives back only afterwards: the count of occupied slots stays where put.
TEST_F(Rings, InboundAdmission) {
  lock_instream();
  for (int i = 0; i < 1019; ++i) ASSERT_TRUE(put_inbound(100)) << i;
  EXPECT_FALSE(put_inbound(64));
  EXPECT_FALSE(put_inbound(2048));
  EXPECT_TRUE(put_inbound(63));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(put_inbound(1)) << i;
  EXPECT_FALSE(put_inbound(63));
  EXPECT_FALSE(put_inbound(1));
  unlock_instream();
  EXPECT_TRUE(eventually([] { return log_count(kInNoSession) == 1024; }));
  EXPECT_TRUE(put_inbound(100));
  EXPECT_TRUE(eventually([] { return log_count(kInNoSession) == 1025; }));
  stbuff_drops drops;
  stbuff_get_drops(&drops);
  EXPECT_EQ(drops.inbound, 4u);
  EXPECT_EQ(drops.outbound, 0u);
  EXPECT_EQ(drops.events, 0u);
}

// A fill that fails leaves the ring as it was, its slot wiped.
TEST_F(Rings, CancelLeavesTheRingAsItWas) {
  lock_instream();
  static stbuff_slot *seen[2];
  auto refuse = [](stbuff_slot *slot, void *n) {
    seen[*static_cast<int *>(n)] = slot;
    std::memset(slot->data, 0xAB, 16);
    return -7;
  };
  int first = 0, second = 1;
  EXPECT_EQ(stbuff_instream_put(100, refuse, &first), -7);
  EXPECT_EQ(stbuff_instream_put(100, refuse, &second), -7);
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0]->data[0], 0);
  for (int i = 0; i < 1019; ++i) ASSERT_TRUE(put_inbound(100));
  EXPECT_FALSE(put_inbound(100));
  unlock_instream();
  EXPECT_TRUE(eventually([] { return log_count(kInNoSession) == 1019; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(log_count(kInNoSession), 1019u);
}

TEST_F(Rings, OutboundAdmission) {
  Line line(0);
  Bytes ip = ipv4_frame(100), lcp = ppp_frame(0xC021), ipcp = ppp_frame(0x8021);
  lock_outstream();
  for (int i = 0; i < 1019; ++i) ASSERT_EQ(line.write(ip), 100) << i;
  EXPECT_EQ(line.write(ip), -1);
  EXPECT_EQ(line.write(ipcp), -1);
  EXPECT_EQ(line.write(lcp), static_cast<int>(lcp.size()));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(line.write(lcp), static_cast<int>(lcp.size()));
  EXPECT_EQ(line.write(lcp), -1);
  unlock_outstream();
  EXPECT_TRUE(eventually([] { return log_count(kOutNoSession) == 1024; }));
  stbuff_drops drops;
  stbuff_get_drops(&drops);
  EXPECT_EQ(drops.outbound, 3u);
  EXPECT_EQ(drops.inbound, 0u);
}

TEST_F(Rings, EventRingAdmitsAllSlots) {
  lock_instream();
  const uint8_t event[12] = {0xFF, 0x03, 0xC0, 0x02};
  int taken = 0;
  while (stbuff_logger_put(-5, event, 12) == 0)  // no such session: consumed silently
    ASSERT_LE(++taken, 1024);
  EXPECT_EQ(taken, 1024);
  EXPECT_EQ(stbuff_logger_put(-5, event, STBUFF_DATA_SIZE + 1), -1);
  stbuff_drops drops;
  stbuff_get_drops(&drops);
  EXPECT_EQ(drops.events, 1u);  // the full ring; the oversized event is refused before it
  unlock_instream();
  EXPECT_TRUE(eventually([&] { return stbuff_logger_put(-5, event, 12) == 0; }));
}

// More frames than slots, each direction, arrive once and in order.
TEST_F(Rings, WrapAroundKeepsOrder) {
  UdpPeer peer;
  uint16_t local = free_port();
  Line line(0);
  ASSERT_EQ(line.create(1, peer.port(), local), 0);
  for (uint32_t i = 0; i < 1300; ++i) {
    ASSERT_EQ(line.write(ipv4_frame(40, 64, i)), 40);
    Bytes got;
    ASSERT_TRUE(peer.receive(got)) << i;
    ASSERT_EQ(got, plain(ipv4_frame(40, 64, i)));
  }
  for (uint32_t i = 0; i < 1300; ++i) {
    Bytes f = ipv4_frame(40, 64, i);
    peer.send(plain(f), local);
    ASSERT_EQ(line.read(), f) << i;
  }
}

}  // namespace
}  // namespace kmod_live
