// The packet filter: per-session rules, the verdict over all sessions, and
// what a failed list leaves behind.
#include "kmod/filter.h"

#include "kmod/live_module.h"

namespace kmod_live {
namespace {

// An IPv4 header to dst (dotted quad).
Bytes to(const char *dst) {
  Bytes ip(20, 0);
  ip[0] = 0x45;
  in_addr a{};
  inet_pton(AF_INET, dst, &a);
  std::memcpy(&ip[16], &a, 4);
  return ip;
}

bool passes(const char *dst) {
  Bytes ip = to(dst);
  return user_output_ipv4(ip.data(), ip.size()) == NF_ACCEPT;
}

filter_rule rule(const char *addr, const char *mask) {
  filter_rule r{};
  inet_pton(AF_INET, addr, &r.addr);
  inet_pton(AF_INET, mask, &r.mask);
  return r;
}

class Filter : public LiveModule {
 protected:
  int load(Line &line, const RuleList &rules, uint32_t size) {
    filter_list_desc desc = rules.desc(size);
    return line.ioctl(TTYSIM_SET_FILTER_LIST, &desc);
  }
  // A session on line with size bytes of rules loaded and its filter on.
  void filter_on(Line &line, int32_t sid, const RuleList &rules, uint32_t size = 8) {
    ASSERT_EQ(line.create(sid, 5000, 0), 0);
    ASSERT_EQ(load(line, rules, size), 0);
    ASSERT_EQ(line.ioctl(TTYSIM_FILTER_ON), 0);
  }
};

TEST_F(Filter, NoFilterOnPassesEverything) {
  Line line(0);
  ASSERT_EQ(line.create(1, 5000, 0), 0);
  RuleList rules({rule("10.0.0.0", "255.0.0.0")});
  ASSERT_EQ(load(line, rules, 8), 0);
  EXPECT_TRUE(passes("192.168.1.1"));
  EXPECT_TRUE(passes("10.1.2.3"));
}

TEST_F(Filter, OneNetwork) {
  Line line(0);
  RuleList rules({rule("10.0.0.0", "255.0.0.0")});
  filter_on(line, 1, rules);
  EXPECT_TRUE(passes("10.1.2.3"));
  EXPECT_FALSE(passes("192.168.1.1"));
  EXPECT_EQ(hook_func(nullptr, nullptr), static_cast<unsigned>(NF_ACCEPT));
  ASSERT_EQ(line.ioctl(TTYSIM_FILTER_OFF), 0);
  EXPECT_TRUE(passes("192.168.1.1"));
}

TEST_F(Filter, TwoSessionsWithDifferentNetworks) {
  Line a(0), b(1);
  RuleList ten({rule("10.0.0.0", "255.0.0.0")}), private16({rule("172.16.0.0", "255.240.0.0")});
  filter_on(a, 1, ten);
  filter_on(b, 2, private16);
  EXPECT_TRUE(passes("10.9.9.9"));
  EXPECT_TRUE(passes("172.31.255.1"));
  EXPECT_FALSE(passes("172.32.0.1"));
  EXPECT_FALSE(passes("8.8.8.8"));
  b.close();  // its rules go with it
  EXPECT_FALSE(passes("172.31.255.1"));
  EXPECT_TRUE(passes("10.9.9.9"));
}

TEST_F(Filter, EmptyListBesideAFilterThatIsOff) {
  Line on(0), off(1);
  ASSERT_EQ(on.create(1, 5000, 0), 0);
  ASSERT_EQ(off.create(2, 5001, 0), 0);
  RuleList all({rule("0.0.0.0", "0.0.0.0")});
  ASSERT_EQ(load(off, all, 8), 0);
  ASSERT_EQ(on.ioctl(TTYSIM_FILTER_ON), 0);
  EXPECT_FALSE(passes("10.1.2.3"));
  EXPECT_FALSE(passes("127.0.0.1"));
}

TEST_F(Filter, ReplacingTheListWhileOn) {
  Line line(0);
  RuleList first({rule("10.0.0.0", "255.0.0.0")}), second({rule("192.168.0.0", "255.255.0.0")});
  filter_on(line, 1, first);
  ASSERT_EQ(load(line, second, 8), 0);
  EXPECT_TRUE(passes("192.168.1.1"));
  EXPECT_FALSE(passes("10.1.2.3"));
}

// A list that cannot be read leaves the previous rules in force, filter on
// or off, and the filter as it was.
TEST_F(Filter, FailedCopyKeepsThePreviousRules) {
  Line line(0);
  RuleList rules({rule("10.0.0.0", "255.0.0.0")}), other({rule("192.168.0.0", "255.255.0.0")});
  filter_on(line, 1, rules);
  user_set_unreadable(other.data(), 8);
  EXPECT_EQ(load(line, other, 8), -14);
  user_set_unreadable(nullptr, 0);
  EXPECT_EQ(log_count("filter list unreadable - previous rules kept "), 1u);
  EXPECT_FALSE(passes("192.168.1.1"));
  EXPECT_TRUE(passes("10.1.2.3"));
  ASSERT_EQ(line.ioctl(TTYSIM_FILTER_OFF), 0);
  user_set_unreadable(other.data(), 8);
  EXPECT_EQ(load(line, other, 8), -14);
  user_set_unreadable(nullptr, 0);
  EXPECT_TRUE(passes("192.168.1.1"));  // still off
  ASSERT_EQ(line.ioctl(TTYSIM_FILTER_ON), 0);
  EXPECT_FALSE(passes("192.168.1.1"));
  EXPECT_TRUE(passes("10.1.2.3"));  // with the rules it had
}

// Without memory for the rules in force, nothing IPv4 passes.
TEST_F(Filter, NoMemoryForTheRulesBlocksEverything) {
  Line line(0);
  ASSERT_EQ(line.create(1, 5000, 0), 0);
  RuleList rules({rule("10.0.0.0", "255.0.0.0")});
  ASSERT_EQ(load(line, rules, 8), 0);
  user_fail_alloc_after(0);
  EXPECT_EQ(line.ioctl(TTYSIM_FILTER_ON), -ENOMEM);
  user_fail_alloc_after(-1);
  EXPECT_FALSE(passes("10.1.2.3"));
  EXPECT_FALSE(passes("192.168.1.1"));
  // A list replaced meanwhile fails too and leaves the block in force.
  RuleList other({rule("192.168.0.0", "255.255.0.0")});
  user_fail_alloc_after(1);
  EXPECT_EQ(load(line, other, 8), -14);
  user_fail_alloc_after(-1);
  EXPECT_FALSE(passes("192.168.1.1"));
  ASSERT_EQ(line.ioctl(TTYSIM_FILTER_ON), 0);
  EXPECT_TRUE(passes("10.1.2.3"));
  ASSERT_EQ(line.ioctl(TTYSIM_FILTER_OFF), 0);
  EXPECT_TRUE(passes("192.168.1.1"));
}

// The tunnel carries IPv4 only: with any filter on, IPv6 leaves by loopback only.
TEST_F(Filter, IPv6IsDroppedWhileAnyFilterIsOn) {
  EXPECT_TRUE(user_output_hook_registered(PARVEX_HOOK_IPV6));
  Line a(0), b(1);
  RuleList all({rule("0.0.0.0", "0.0.0.0")});
  ASSERT_EQ(b.create(2, 5001, 0), 0);
  EXPECT_EQ(user_output_ipv6(false), static_cast<unsigned>(NF_ACCEPT));
  filter_on(a, 1, all);
  EXPECT_TRUE(passes("8.8.8.8"));
  EXPECT_EQ(user_output_ipv6(false), static_cast<unsigned>(NF_DROP));
  EXPECT_EQ(user_output_ipv6(true), static_cast<unsigned>(NF_ACCEPT));
  ASSERT_EQ(b.ioctl(TTYSIM_FILTER_OFF), 0);  // another session's switch changes nothing
  EXPECT_EQ(user_output_ipv6(false), static_cast<unsigned>(NF_DROP));
  ASSERT_EQ(a.ioctl(TTYSIM_FILTER_OFF), 0);
  EXPECT_EQ(user_output_ipv6(false), static_cast<unsigned>(NF_ACCEPT));
  ASSERT_EQ(a.ioctl(TTYSIM_FILTER_ON), 0);
  a.close();  // a closed session's filter is off
  EXPECT_EQ(user_output_ipv6(false), static_cast<unsigned>(NF_ACCEPT));
}

// The 64-bit descriptor carries any address of the caller, heap memory too.
TEST_F(Filter, WideDescriptorLoadsRulesFromAnywhere) {
  Line line(0);
  ASSERT_EQ(line.create(1, 5000, 0), 0);
  std::vector<filter_rule> rules = {rule("10.0.0.0", "255.0.0.0"), rule("192.168.0.0", "255.255.0.0")};
  filter_list_desc64 desc{reinterpret_cast<uintptr_t>(rules.data()), 16, 0};
  ASSERT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST64, &desc), 0);
  ASSERT_EQ(line.ioctl(TTYSIM_FILTER_ON), 0);
  EXPECT_TRUE(passes("10.1.2.3"));
  EXPECT_TRUE(passes("192.168.7.7"));
  EXPECT_FALSE(passes("172.16.0.1"));

  // Failures as with the 32-bit one: the rules in force stay.
  std::vector<filter_rule> other = {rule("172.16.0.0", "255.240.0.0")};
  filter_list_desc64 bad{reinterpret_cast<uintptr_t>(other.data()), 8, 0};
  user_set_unreadable(other.data(), 8);
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST64, &bad), -14);
  user_set_unreadable(&bad, sizeof(bad));
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST64, &bad), -14);
  user_set_unreadable(nullptr, 0);
  bad.size = 0;
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST64, &bad), -14);
  bad.size = FILTER_MAX_LIST + 8;
  EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST64, &bad), -14);
  if (sizeof(void *) < 8) {  // an address a 32-bit kernel cannot reach is not cut short
    bad = filter_list_desc64{(uint64_t{1} << 32) | reinterpret_cast<uintptr_t>(other.data()), 8, 0};
    EXPECT_EQ(line.ioctl(TTYSIM_SET_FILTER_LIST64, &bad), -14);
  }
  EXPECT_FALSE(passes("172.16.0.1"));
  EXPECT_TRUE(passes("10.1.2.3"));

  // The 32-bit descriptor still works beside it, for memory below 4 GiB.
  RuleList low({rule("172.16.0.0", "255.240.0.0")});
  ASSERT_EQ(load(line, low, 8), 0);
  EXPECT_TRUE(passes("172.16.0.1"));
  EXPECT_FALSE(passes("10.1.2.3"));
}

TEST_F(Filter, SizeOfTwentyGivesTwoRules) {
  Line line(0);
  RuleList rules({rule("10.0.0.0", "255.0.0.0"), rule("172.16.0.0", "255.240.0.0"),
                  rule("192.168.0.0", "255.255.0.0")});
  filter_on(line, 1, rules, 20);
  EXPECT_TRUE(passes("10.1.1.1"));
  EXPECT_TRUE(passes("172.16.1.1"));
  EXPECT_FALSE(passes("192.168.1.1"));
}

TEST_F(Filter, OversizedListIsRefused) {
  Line line(0);
  ASSERT_EQ(line.create(1, 5000, 0), 0);
  RuleList rules({rule("10.0.0.0", "255.0.0.0")});
  EXPECT_EQ(load(line, rules, FILTER_MAX_LIST + 8), -14);
}

// While a list that is on is replaced, its old rules hold until the new
// ones are in: no packet slips out in between.
TEST_F(Filter, ReplacingTheListLeavesNoGap) {
  Line line(0);
  std::vector<filter_rule> many(FILTER_MAX_LIST / sizeof(filter_rule), rule("10.0.0.0", "255.0.0.0"));
  RuleList rules(many);
  filter_on(line, 1, rules, FILTER_MAX_LIST);
  std::atomic<bool> stop{false};
  std::atomic<int> leaked{0};
  std::thread traffic([&] {
    while (!stop) leaked += passes("192.168.1.1");
  });
  for (int i = 0; i < 100; ++i) ASSERT_EQ(load(line, rules, FILTER_MAX_LIST), 0);
  stop = true;
  traffic.join();
  EXPECT_EQ(leaked, 0);
}

// The hook on another thread walks the table while sessions come and go.
TEST_F(Filter, HookWalksWhileSessionsAreDeleted) {
  std::atomic<bool> stop{false};
  std::thread traffic([&] {
    while (!stop) passes("10.1.2.3");
  });
  RuleList rules({rule("10.0.0.0", "255.0.0.0")});
  for (int i = 0; i < 200; ++i) {
    Line line(i % 16);
    filter_on(line, i, rules);
  }
  stop = true;
  traffic.join();
}

}  // namespace
}  // namespace kmod_live
