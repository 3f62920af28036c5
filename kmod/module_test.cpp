// Load and unload: every step that can fail unwinds what was built before it.
#include "kmod/module.h"

#include "kmod/gost_lanes.h"
#include "kmod/stbuff.h"
#include "kmod/sync.h"
#include "kmod/ttysim.h"
#include "kmod/live_module.h"

namespace kmod_live {
namespace {

void expect_nothing_left() {
  EXPECT_EQ(user_tty_driver(), nullptr);
  EXPECT_EQ(user_threads_alive(), 0);
  EXPECT_FALSE(user_output_hook_registered(PARVEX_HOOK_IPV4));
  EXPECT_FALSE(user_output_hook_registered(PARVEX_HOOK_IPV6));
}

class Load : public ::testing::Test {
 protected:
  void SetUp() override { user_log_clear(); }
  void TearDown() override {
    user_fail_alloc_after(-1);
    user_fail_thread_after(-1);
    // Whatever failed, the module loads and unloads cleanly afterwards.
    ASSERT_EQ(init_module(), 0);
    EXPECT_NE(user_tty_driver(), nullptr);
    EXPECT_EQ(user_threads_alive(), 2);
    EXPECT_TRUE(user_output_hook_registered(PARVEX_HOOK_IPV4));
    EXPECT_TRUE(user_output_hook_registered(PARVEX_HOOK_IPV6));
    cleanup_module();
    expect_nothing_left();
    user_log_clear();
  }
};

TEST_F(Load, DriverAllocationFails) {
  user_fail_tty_alloc();
  EXPECT_EQ(init_module(), -1);
  EXPECT_EQ(log_count("Couldn't allocate ttysim driver"), 1u);
  expect_nothing_left();
}

TEST_F(Load, DriverRegistrationFails) {
  user_fail_tty_register();
  EXPECT_EQ(init_module(), -1);
  EXPECT_EQ(log_count("Couldn't register ttysim driver"), 1u);
  expect_nothing_left();
}

// The rings are the only blocks allocated at load: event, inbound, outbound.
TEST_F(Load, RingAllocationFails) {
  for (long n = 0; n < 3; ++n) {
    user_fail_alloc_after(n);
    EXPECT_EQ(init_module(), -1) << n;
    user_fail_alloc_after(-1);
    expect_nothing_left();
  }
}

TEST_F(Load, ThreadCreationFails) {
  for (int n = 0; n < 2; ++n) {
    user_fail_thread_after(n);
    EXPECT_EQ(init_module(), -1) << n;
    user_fail_thread_after(-1);
    expect_nothing_left();
  }
}

TEST_F(Load, HookRegistrationFails) {
  for (int n = 0; n < 2; ++n) {  // the IPv4 hook, then the IPv6 one
    user_fail_hook_register_after(n);
    EXPECT_LT(init_module(), 0) << n;
    user_fail_hook_register_after(-1);
    expect_nothing_left();
  }
}

TEST_F(Load, UnloadWithFramesQueuedEndsBothThreads) {
  static const char marker[] = "queued-plaintext-2718281828";
  user_watch_frees(marker, sizeof(marker) - 1);
  ASSERT_EQ(init_module(), 0);
  {
    Line line(0);
    lock_outstream();
    Bytes frame = ipv4_frame(64);
    std::memcpy(&frame[32], marker, sizeof(marker) - 1);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(line.write(frame), 64);
    lock_instream();
    auto fill = [](stbuff_slot *slot, void *) {
      slot->len = 64;
      return 0;
    };
    for (int i = 0; i < 50; ++i) ASSERT_EQ(stbuff_instream_put(64, fill, nullptr), 0);
    line.close();
    std::thread unload(cleanup_module);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    unlock_instream();
    unlock_outstream();
    unload.join();
  }
  expect_nothing_left();
  // The frames left queued were wiped with the ring.
  EXPECT_EQ(user_freed_with_pattern(), 0u);
  user_watch_frees(nullptr, 0);
  // Each thread finished at most the batch it had taken.
  EXPECT_LE(log_count("outstream packet processing error - session not found "), size_t{GOST_LANES_MAX});
  EXPECT_LE(log_count("instream packet processing error - session not found "), size_t{GOST_LANES_MAX});
}

// A writer that goes on through the unload: its last commit wakes the
// sending thread while the unload is taking that thread down.
TEST_F(Load, UnloadWhileFramesAreWritten) {
  Bytes lcp = ppp_frame(0xC021);
  auto *line = reinterpret_cast<tty_struct *>(&lcp);  // a line without session
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(init_module(), 0);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      while (!stop) ttysim_write(line, lcp.data(), static_cast<int>(lcp.size()));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    cleanup_module();
    stop = true;
    writer.join();
    expect_nothing_left();
  }
}

}  // namespace
}  // namespace kmod_live
