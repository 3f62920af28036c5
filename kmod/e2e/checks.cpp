// The whole tunnel, as the connection daemon and the access server see it:
// frames both ways before and after keying, the filter, events, counters,
// a tampered datagram, and closing the line.
#include <sys/mman.h>

#include <cstdio>

#include "kmod/e2e/backend.h"
#include "kmod/peer/peer.h"
#include "kmod/records.h"

namespace kmod_e2e {
namespace {

using kmod_peer::OpenError;
using kmod_peer::Peer;

struct Checks {
  int failures = 0;
  bool operator()(bool ok, const std::string &what) {
    std::printf("%s - %s\n", ok ? "ok" : "not ok", what.c_str());
    std::fflush(stdout);
    failures += !ok;
    return ok;
  }
};

}  // namespace

crypt_setup test_keys() {
  crypt_setup k{};
  for (int i = 0; i < 32; ++i) k.key[i] = static_cast<uint8_t>(0x11 * i + 3);
  for (int i = 0; i < 8; ++i) k.send_iv[i] = static_cast<uint8_t>(0xA0 + i), k.recv_iv[i] = static_cast<uint8_t>(0x50 + i);
  std::memcpy(k.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  return k;
}

namespace {

bool is_event(const Bytes &f) { return f.size() >= 8 && f[2] == 0xC0 && f[3] == 0x02; }

uint32_t word(const Bytes &f, size_t at) {
  uint32_t v = 0;
  if (f.size() >= at + 4) std::memcpy(&v, &f[at], 4);
  return v;
}

// Frames and events read from a line, kept apart.
struct Upward {
  std::vector<Bytes> frames, events;
  void read(Backend &b, int line, size_t frames_wanted, size_t events_wanted) {
    while (frames.size() < frames_wanted || events.size() < events_wanted) {
      Bytes f = b.read(line, b.patience_ms());
      if (f.empty()) return;
      (is_event(f) ? events : frames).push_back(f);
    }
  }
};

// Rules in memory below 4 GiB, so the 32-bit descriptor can carry their address.
class LowRules {
 public:
  explicit LowRules(const std::vector<filter_rule> &rules) : size_(4096) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_32BIT
    flags |= MAP_32BIT;
#endif
    void *p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, flags, -1, 0);
    mem_ = p == MAP_FAILED ? nullptr : static_cast<filter_rule *>(p);
    if (mem_) std::memcpy(mem_, rules.data(), rules.size() * sizeof(filter_rule));
  }
  ~LowRules() {
    if (mem_) munmap(mem_, size_);
  }
  LowRules(const LowRules &) = delete;
  LowRules &operator=(const LowRules &) = delete;
  filter_list_desc desc(uint32_t size) const {
    return filter_list_desc{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(mem_)), size};
  }

 private:
  size_t size_;
  filter_rule *mem_;
};

}  // namespace

int run_tunnel_checks(Backend &b) {
  Checks check;
  const int wait = b.patience_ms();
  UdpPeer server;
  const uint16_t local = free_port();
  const crypt_setup keys = test_keys();
  Peer peer(keys);
  auto from_module = [&](int *ttl = nullptr) {
    Bytes d;
    server.receive(d, wait, ttl);
    return d;
  };

  int line = b.open_line(0);
  if (!check(line >= 0, "line 0 opens")) return check.failures;
  session_setup setup{};
  setup.sid = 7;
  setup.peer_addr = kLoopback;
  setup.local_addr = kLoopback;
  setup.peer_port = server.port();
  setup.local_port = local;
  setup.traffic_events = 1;
  check(b.ioctl(line, TTYSIM_CREATE_SESSION, &setup) == 0, "session created");

  // EAP travels plain before keying, both ways.
  Bytes eap = ppp_frame(0xC227, {1, 1, 0, 5, 1});
  check(b.write(line, eap) == static_cast<int>(eap.size()), "EAP written before keying");
  check(from_module() == Peer::plain(eap), "EAP leaves plain before keying");
  server.send(Peer::plain(eap), local);
  check(b.read(line, wait) == eap, "plain EAP delivered before keying");

  check(b.ioctl(line, TTYSIM_SETUP_KEYS, &keys) == 0, "keys installed");
  std::vector<filter_rule> loopback_only = {{htonl(0x7F000000), htonl(0xFF000000)}};
  LowRules low(loopback_only);
  filter_list_desc desc = low.desc(8);
  check(b.ioctl(line, TTYSIM_SET_FILTER_LIST, &desc) == 0, "rule list loaded through the 32-bit descriptor");
  filter_list_desc64 wide{reinterpret_cast<uintptr_t>(loopback_only.data()), 8, 0};
  check(b.ioctl(line, TTYSIM_SET_FILTER_LIST64, &wide) == 0, "rule list loaded through the 64-bit descriptor");
  check(b.ioctl(line, TTYSIM_FILTER_ON) == 0, "filter on");
  check(b.ipv4_leaves("127.0.0.1"), "filter passes a packet to a listed network");
  check(!b.ipv4_leaves("192.0.2.1"), "filter drops a packet outside the tunnel");
  check(b.ipv6_leaves(true) == 1, "IPv6 by loopback passes while filtering");
  int v6 = b.ipv6_leaves(false);
  if (v6 >= 0) check(v6 == 0, "IPv6 by another device is dropped while filtering");

  // EAP stays plain after keying.
  check(b.write(line, eap) == static_cast<int>(eap.size()), "EAP written after keying");
  check(from_module() == Peer::plain(eap), "EAP leaves plain after keying");
  server.send(Peer::plain(eap), local);
  check(b.read(line, wait) == eap, "plain EAP delivered after keying");

  // The line's discipline keeps a limited number of unread frames: batches.
  const uint32_t n = 20;
  std::vector<Bytes> sent;
  size_t bytes = 0;
  bool all_open = true, all_ttl = true;
  for (uint32_t i = 0; i < n; ++i) {
    sent.push_back(ipv4_frame(60 + i, 64, i));
    check(b.write(line, sent.back()) == static_cast<int>(sent.back().size()), "IPv4 frame written");
    bytes += sent.back().size();
  }
  for (uint32_t i = 0; i < n; ++i) {
    int ttl = 0;
    auto opened = peer.open(from_module(&ttl));
    all_open = all_open && opened.error == OpenError::none && opened.is_protected &&
               opened.counter == i + 1 && opened.frame == sent[i];
    all_ttl = all_ttl && ttl == 63;
  }
  check(all_open, "IPv4 frames leave protected, in order, counted from 1");
  check(all_ttl, "outer TTL is the inner one less one");
  Upward up;
  up.read(b, line, 0, n);
  bool events_ok = up.events.size() == n;
  for (uint32_t i = 0; events_ok && i < n; ++i) {
    const Bytes &e = up.events[i];
    events_ok = e.size() == 32 && word(e, 4) == 2 && word(e, 8) == 2 && word(e, 12) == 17 &&
                word(e, 16) == 56 + i && word(e, 20) == 0x0A000001 && word(e, 24) == 0x0A000002 &&
                (e[28] | e[29] << 8) == 12345 && (e[30] | e[31] << 8) == 53;
  }
  check(events_ok, "a traffic event for each frame sent");

  std::vector<Bytes> answers;
  for (uint32_t i = 0; i < n; ++i) {
    answers.push_back(ipv4_frame(100 + i, 30, 1000 + i));
    server.send(peer.protect(answers.back()), local);
  }
  up = {};
  up.read(b, line, n, n);
  check(up.frames == answers, "protected frames from the server delivered, in order");
  check(up.events.size() == n && word(up.events[0], 8) == 1, "a traffic event for each frame received");

  traffic_stats st{};
  check(b.ioctl(line, TTYSIM_GET_STATS, &st) == 0, "statistics read");
  size_t answered = 2 * eap.size();
  for (const auto &a : answers) answered += a.size();
  check(st.frames_sent == n + 2 && st.bytes_sent == bytes + 2 * eap.size(), "sent frames and bytes counted");
  check(st.frames_received == n + 2 && st.bytes_received == answered, "received frames and bytes counted");

  // Inbound IPCP reaches the daemon as 0xC001.
  server.send(peer.protect(ppp_frame(0x8021, {1, 2, 0, 4})), local);
  check(b.read(line, wait) == ppp_frame(0xC001, {1, 2, 0, 4}), "inbound IPCP delivered as 0xC001");

  // A tampered datagram: not delivered, reported.
  Bytes bad = peer.protect(ipv4_frame(40));
  bad[5] ^= 1;
  server.send(bad, local);
  Bytes event = b.read(line, wait);
  check(event.size() == 12 && word(event, 4) == 1 && word(event, 8) == 1,
        "a tampered datagram is dropped with a decryption-error event");
  server.send(peer.protect(ipv4_frame(24)), local);
  check(b.read(line, wait) == ipv4_frame(24), "the next genuine datagram still passes");

  // A frame without a TTL of its own leaves with the default one.
  int default_ttl = 0, ttl = 0;
  {
    UdpPeer fresh;
    fresh.send({1}, server.port());
    Bytes d;
    server.receive(d, wait, &default_ttl);
  }
  b.write(line, ipv4_frame(40, 2));
  from_module(&ttl);
  check(ttl == 1, "inner TTL 2 leaves with outer TTL 1");
  b.write(line, ppp_frame(0xC021));
  from_module(&ttl);
  check(ttl == default_ttl, "a frame that is not IPv4 leaves with the default TTL");

  check(b.ioctl(line, TTYSIM_FILTER_OFF) == 0, "filter off");
  check(b.ipv4_leaves("192.0.2.1"), "with the filter off the packet passes");
  check(b.ipv6_leaves(true) == 1, "IPv6 by loopback passes with the filter off");

  b.close_line(line);
  // The session went with the line: the same line carries a new one, unkeyed.
  line = b.open_line(0);
  check(line >= 0, "line 0 opens again");
  setup.sid = 8;
  check(b.ioctl(line, TTYSIM_CREATE_SESSION, &setup) == 0, "a new session on the line");
  b.write(line, ipv4_frame(40));
  check(from_module() == Peer::plain(ipv4_frame(40)), "the new session is unkeyed");
  up = {};
  up.read(b, line, 0, 1);
  b.close_line(line);
  return check.failures;
}

}  // namespace kmod_e2e
