// The whole tunnel inside the test guest: this program plays the connection
// daemon on /dev/ttysim0 (N_HDLC attached, so each read is one frame) and the
// access server on a loopback UDP socket, with the libgcrypt peer checking
// the module's protection. A tun device stands for the network the host
// sends to, so the filter's verdict on packets that leave can be seen.
#include <linux/if.h>
#include <linux/if_tun.h>
#include <netinet/ip.h>
#include <netinet/ip6.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <map>

#include "kmod/peer/gcrypt_gost.h"
#include "kmod/peer/peer.h"
#include "kmod/records.h"
#include "tests/kernel/guest/ktest.h"

using namespace ktest;
using kmod_peer::OpenError;
using kmod_peer::Peer;

namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // host order, as the records carry it

crypt_setup test_keys() {
  crypt_setup k{};
  for (int i = 0; i < 32; ++i) k.key[i] = static_cast<uint8_t>(0x11 * i + 3);
  for (int i = 0; i < 8; ++i) {
    k.send_iv[i] = static_cast<uint8_t>(0xA0 + i);
    k.recv_iv[i] = static_cast<uint8_t>(0x50 + i);
  }
  std::memcpy(k.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  return k;
}

session_setup setup_for(int32_t sid, uint16_t server_port, uint16_t local_port, uint32_t events) {
  session_setup s{};
  s.sid = sid;
  s.peer_addr = kLoopback;
  s.local_addr = kLoopback;
  s.peer_port = server_port;
  s.local_port = local_port;
  s.traffic_events = events;
  return s;
}

// A tun device standing for the outside network: 10.9.0.0/24 and fd00:9::/64.
class Tun {
 public:
  Tun() {
    fd_ = open("/dev/net/tun", O_RDWR | O_NONBLOCK);
    if (fd_ < 0) return;
    ifreq ifr{};
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strcpy(ifr.ifr_name, "ktun0");
    if (ioctl(fd_, TUNSETIFF, &ifr) < 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    ok_ = std::system("ip link set ktun0 up && ip addr add 10.9.0.2/24 dev ktun0 && "
                      "ip -6 addr add fd00:9::2/64 dev ktun0") == 0;
  }
  ~Tun() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0 && ok_; }
  // Throws away whatever the device has queued (router solicitations...).
  void drain() {
    uint8_t b[2048];
    while (::read(fd_, b, sizeof b) > 0) {
    }
  }
  // Whether a packet of the given IP version to a UDP port arrived.
  bool seen(int version, uint16_t port, int ms = 1000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    uint8_t b[2048];
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::read(fd_, b, sizeof b);
      if (n < 28 || b[0] >> 4 != version) continue;
      size_t udp = version == 4 ? (b[0] & 15u) * 4 : 40;
      uint8_t proto = version == 4 ? b[9] : b[6];
      if (proto == IPPROTO_UDP && static_cast<size_t>(n) >= udp + 4 &&
          (b[udp + 2] << 8 | b[udp + 3]) == port)
        return true;
    }
    return false;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

// Loads rules through the descriptor with the caller's address width.
int load_rules(Line &line, const filter_rule *rules, uint32_t size) {
  filter_list_desc64 desc{};
  desc.rules = reinterpret_cast<uintptr_t>(rules);
  desc.size = size;
  return line.ioctl_(TTYSIM_SET_FILTER_LIST64, &desc);
}

// 0 or -errno of one UDP datagram to addr (IPv4 or IPv6 text) and port.
int send_to(const char *addr, uint16_t port) {
  const char payload[] = "filter probe";
  sockaddr_storage ss{};
  socklen_t len;
  int family;
  if (std::strchr(addr, ':')) {
    auto *a = reinterpret_cast<sockaddr_in6 *>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    inet_pton(AF_INET6, addr, &a->sin6_addr);
    len = sizeof *a;
    family = AF_INET6;
  } else {
    auto *a = reinterpret_cast<sockaddr_in *>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    inet_pton(AF_INET, addr, &a->sin_addr);
    len = sizeof *a;
    family = AF_INET;
  }
  int fd = socket(family, SOCK_DGRAM, 0);
  ssize_t n = sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr *>(&ss), len);
  int ret = n < 0 ? -errno : 0;
  close(fd);
  return ret;
}

struct Fixture {
  Kmsg log;
  Udp server;
  uint16_t local = free_port();
  crypt_setup keys = test_keys();
  Peer peer{keys};

  Bytes from_module(int *ttl = nullptr, int ms = 5000) {
    Bytes d;
    if (!server.receive(d, ms, ttl)) d.clear();
    return d;
  }
};

void frames_both_ways(Fixture &fx) {
  Line line(0);
  if (!check(line.ok(), "line 0 opens raw with N_HDLC attached")) return;

  check(line.ioctl_(0x40047308u) == -ENOTTY, "an unknown command is not this device's");
  check(line.ioctl_(TTYSIM_SETUP_KEYS, &fx.keys) == -EFAULT && fx.log.wait_for("file not open"),
        "keys without a session: -EFAULT and \"file not open\"");
  traffic_stats st{};
  check(line.ioctl_(TTYSIM_GET_STATS, &st) == 0, "statistics of a line without session");

  session_setup s = setup_for(7, fx.server.port(), fx.local, 1);
  if (!check(line.ioctl_(TTYSIM_CREATE_SESSION, &s) == 0, "session created")) return;
  check(line.ioctl_(TTYSIM_CREATE_SESSION, &s) == 0 &&
            fx.log.wait_for("session sid =7 already exists"),
        "a second create keeps the session and says so");

  // EAP goes plain before keying, both ways.
  Bytes eap = ppp_frame(0xC227, {1, 1, 0, 5, 1});
  check(line.write(eap) == static_cast<ssize_t>(eap.size()), "EAP frame written");
  uint16_t from = 0;
  Bytes d;
  check(fx.server.receive(d, 5000, nullptr, &from) && d == Peer::plain(eap),
        "EAP reaches the server plain: " + hex(d));
  check(from == fx.local, "datagrams leave from the session's local port");
  fx.server.send(Peer::plain(eap), fx.local);
  Bytes up = line.read();
  check(up == eap, "plain EAP from the server goes up as one frame: " + hex(up));

  check(line.ioctl_(TTYSIM_SETUP_KEYS, &fx.keys) == 0, "keys installed");
  check(line.write(eap) == static_cast<ssize_t>(eap.size()) && fx.from_module() == Peer::plain(eap),
        "EAP stays plain after keying");

  // N_HDLC keeps at most 60 unread frames, so the frames go in batches.
  const uint32_t batches = 4, n = 12;
  size_t bytes_sent = 2 * eap.size(), bytes_received = eap.size();
  bool all_sent = true, all_events = true, all_back = true;
  for (uint32_t b = 0; b < batches; ++b) {
    std::vector<Bytes> sent;
    for (uint32_t i = 0; i < n; ++i) {
      sent.push_back(ipv4_frame(60 + 40 * b + i, 64, b * n + i));
      all_sent &= line.write(sent.back()) == static_cast<ssize_t>(sent.back().size());
      bytes_sent += sent.back().size();
    }
    for (uint32_t i = 0; i < n; ++i) {
      int ttl = 0;
      auto opened = fx.peer.open(fx.from_module(&ttl));
      uint64_t counter = b * n + i + 1;
      all_sent &= check(opened.error == OpenError::none && opened.is_protected &&
                            opened.counter == counter && opened.frame == sent[i] && ttl == 63,
                        "protected frame " + std::to_string(counter) + " opens at the server, outer TTL " +
                            std::to_string(ttl));
    }
    Upward ev;
    ev.read(line, 0, n);
    all_events &= ev.events.size() == n;
    for (uint32_t i = 0; i < n && i < ev.events.size(); ++i) {
      const Bytes &e = ev.events[i];
      all_events &= e.size() == 32 && word(e, 4) == 2 && word(e, 8) == 2 && word(e, 12) == 17 &&
                    word(e, 16) == 56 + 40 * b + i && word(e, 20) == 0x0A000001 &&
                    word(e, 24) == 0x0A000002 && (e[28] | e[29] << 8) == 12345 &&
                    (e[30] | e[31] << 8) == 53;
    }
    std::vector<Bytes> answers;
    for (uint32_t i = 0; i < n; ++i) {
      answers.push_back(ipv4_frame(100 + i, 30, 1000 + i));
      fx.server.send(fx.peer.protect(answers.back()), fx.local);
      bytes_received += answers.back().size();
    }
    Upward back;
    back.read(line, n, n);
    all_back &= back.frames == answers && back.events.size() == n;
    for (const Bytes &e : back.events) all_events &= word(e, 8) == 1;
  }
  check(all_sent, "every frame written was accepted and left protected");
  check(all_events, "a traffic event per IPv4 frame, sent and received, with its fields");
  check(all_back, "protected frames from the server go up decrypted, in order, one per read");

  // EAP counts; only protocols starting 0xC0 do not.
  st = {};
  check(line.ioctl_(TTYSIM_GET_STATS, &st) == 0, "statistics read");
  const uint64_t frames = batches * n;
  check(st.frames_sent == 2 + frames && st.bytes_sent == bytes_sent,
        "sent: " + std::to_string(st.frames_sent) + " frames, " + std::to_string(st.bytes_sent) +
            " bytes");
  check(st.frames_received == 1 + frames && st.bytes_received == bytes_received,
        "received: " + std::to_string(st.frames_received) + " frames, " +
            std::to_string(st.bytes_received) + " bytes");

  // Inbound IPCP reaches the daemon as 0xC001.
  fx.server.send(fx.peer.protect(ppp_frame(0x8021, {1, 2, 0, 4})), fx.local);
  check(line.read() == ppp_frame(0xC001, {1, 2, 0, 4}), "inbound IPCP goes up as 0xC001");

  // Tampered datagrams: not delivered, counted, reported with a running count.
  for (uint32_t k = 1; k <= 2; ++k) {
    Bytes bad = fx.peer.protect(ipv4_frame(40));
    bad[5] ^= 1;
    fx.server.send(bad, fx.local);
    Bytes e = line.read();
    check(e.size() == 12 && is_event(e) && word(e, 4) == 1 && word(e, 8) == k,
          "decryption error event " + std::to_string(k) + ": " + hex(e));
  }
  check(fx.log.wait_for("frame dropped ", 2), "each failure logs \"frame dropped \"");
  fx.server.send(fx.peer.protect(ipv4_frame(24)), fx.local);
  check(line.read() == ipv4_frame(24), "the next genuine frame still passes");

  // The largest frame the line takes fills a whole datagram once protected.
  Bytes biggest = ipv4_frame(2031, 64, 77);
  check(line.write(biggest) == 2031, "a 2031-byte frame is written");
  d = fx.from_module();
  check(d.size() == 2048 && fx.peer.open(d).frame == biggest, "and leaves as 2048 protected bytes");
  line.read(200);  // its traffic event
  line.write(ipv4_frame(2032));
  check(fx.log.wait_for("packet too large: 2032"), "a 2032-byte frame is refused and logged");
  line.write(Bytes{0xFF, 0x03, 0x00});
  check(fx.log.wait_for("packet too short: 3"), "a 3-byte frame is refused and logged");
  check(fx.from_module(nullptr, 300).empty(), "neither refused frame leaves");

  // Datagram lengths the transport refuses, and one from a stranger.
  fx.server.send({}, fx.local);
  fx.server.send(Bytes(2049, 0), fx.local);
  check(fx.log.wait_for("packet has invalid length 0 bytes") &&
            fx.log.wait_for("packet has invalid length 2049 bytes"),
        "empty and 2049-byte datagrams are logged as invalid");
  Bytes big = ipv4_frame(2031, 64, 78);
  fx.server.send(fx.peer.protect(big), fx.local);
  Upward whole;
  whole.read(line, 1, 1);
  check(whole.frames.size() == 1 && whole.frames[0] == big,
        "a 2048-byte datagram goes up whole as a 2031-byte frame");
  Udp stranger;
  stranger.send(Peer::plain(ipv4_frame(40)), fx.local);
  check(fx.log.wait_for("instream packet processing error - session not found "),
        "a datagram from another port matches no session");

  // The outer TTL follows the inner one; other frames use the default.
  Bytes traced = ipv4_frame(40, 2, 9);
  check(line.write(ipv4_frame(40, 1)) == 40 && line.write(traced) == 40, "TTL probes written");
  int ttl = 0;
  d = fx.from_module(&ttl);
  check(fx.peer.open(d).frame == traced && ttl == 1,
        "inner TTL 1 is not sent; inner TTL 2 leaves with 1 (" + std::to_string(ttl) + ")");
  check(line.write(ppp_frame(0xC021)) == 8, "LCP frame written");
  ttl = 0;
  d = fx.from_module(&ttl);
  check(ttl == 64, "a non-IPv4 frame leaves with the default TTL, not the last one set (" +
                       std::to_string(ttl) + ")");
  while (!line.read(200).empty()) {
  }

  check(line.ioctl_(TTYSIM_DELETE_SESSION) == 0, "session deleted");
  check(line.ioctl_(TTYSIM_DELETE_SESSION) == 0, "deleting again is harmless");
  line.write(ipv4_frame(40));
  check(fx.log.wait_for("outstream packet processing error - session not found "),
        "a frame on a line without session is dropped by the sending thread");
}

void filter(Fixture &fx) {
  Tun tun;
  if (!check(tun.ok(), "tun device for the outside network")) return;
  Line line(1);
  session_setup s = setup_for(8, fx.server.port(), fx.local, 0);
  if (!check(line.ok() && line.ioctl_(TTYSIM_CREATE_SESSION, &s) == 0, "session on line 1")) return;
  tun.drain();

  check(send_to("10.9.0.1", 7001) == 0 && tun.seen(4, 7001), "filter off: IPv4 leaves");
  check(send_to("fd00:9::1", 7002) == 0 && tun.seen(6, 7002), "filter off: IPv6 leaves");

  const filter_rule rules[2] = {{htonl(0x7F000000), htonl(0xFF000000)},
                                {htonl(0x0A090000), htonl(0xFFFFFF00)}};
  // Only the loopback rule: the size is not a multiple of the rule size.
  check(load_rules(line, rules, 12) == 0, "the caller's own descriptor loads one rule");
  check(line.ioctl_(TTYSIM_FILTER_ON) == 0, "filter on");
  check(send_to("10.9.0.1", 7003) == -EPERM && !tun.seen(4, 7003, 300),
        "filter on: IPv4 outside the rules is dropped");
  {
    Udp echo;
    check(echo.send({1, 2, 3}, echo.port()) == 0, "filter on: IPv4 inside the rules passes");
  }
  check(send_to("fd00:9::1", 7004) == -EPERM && !tun.seen(6, 7004, 300),
        "filter on: IPv6 leaving the host is dropped");
  check(send_to("::1", 7005) == 0, "filter on: IPv6 on loopback passes");

  // A failed load keeps the rules in force.
  check(load_rules(line, reinterpret_cast<const filter_rule *>(8), 16) == -EFAULT,
        "an unreadable list is refused");
  check(send_to("10.9.0.1", 7006) == -EPERM && !tun.seen(4, 7006, 300),
        "after the failed load the filter still drops");

  // The 32-bit daemon's record serves any caller whose rules lie below 4 GiB.
  void *low = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (check(low != MAP_FAILED && reinterpret_cast<uintptr_t>(low) >> 16 >> 16 == 0,
            "rules placed below 4 GiB")) {
    std::memcpy(low, rules, sizeof rules);
    filter_list_desc desc{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(low)), sizeof rules};
    check(line.ioctl_(TTYSIM_SET_FILTER_LIST, &desc) == 0, "both rules loaded through the 8-byte record");
    munmap(low, 4096);
  }
  check(send_to("10.9.0.1", 7007) == 0 && tun.seen(4, 7007), "a replaced list is in force at once");

  check(line.ioctl_(TTYSIM_FILTER_OFF) == 0, "filter off");
  check(send_to("10.9.0.1", 7008) == 0 && tun.seen(4, 7008), "filter off again: IPv4 leaves");
  check(send_to("fd00:9::1", 7009) == 0 && tun.seen(6, 7009), "filter off again: IPv6 leaves");

  check(line.ioctl_(TTYSIM_FILTER_ON) == 0, "filter on again");
  line.close();
  check(send_to("10.9.0.1", 7010) == 0 && tun.seen(4, 7010), "closing the line lifts its filter");
}

// Two sessions to one server address and port on different local ports.
void shared_server(Fixture &fx) {
  Line a(2), b(3);
  uint16_t other_local = free_port();
  session_setup sa = setup_for(21, fx.server.port(), fx.local, 0);
  session_setup sb = setup_for(22, fx.server.port(), other_local, 0);
  if (!check(a.ok() && b.ok() && a.ioctl_(TTYSIM_CREATE_SESSION, &sa) == 0 &&
                 b.ioctl_(TTYSIM_CREATE_SESSION, &sb) == 0,
             "two sessions to one server on different local ports"))
    return;
  Bytes fa = ipv4_frame(40, 64, 1), fb = ipv4_frame(40, 64, 2);
  fx.server.send(Peer::plain(fa), fx.local);
  fx.server.send(Peer::plain(fb), other_local);
  check(a.read() == fa && b.read() == fb, "each gets the datagrams sent to its own local port");

  // A third session shares the first one's socket.
  Line c(4);
  Udp other_server;
  session_setup sc = setup_for(23, other_server.port(), fx.local, 0);
  check(c.ok() && c.ioctl_(TTYSIM_CREATE_SESSION, &sc) == 0, "a session on an address in use");
  check(c.write(fb) == 40 && a.write(fa) == 40, "both write");
  Bytes d;
  uint16_t from = 0;
  check(other_server.receive(d, 5000, nullptr, &from) && d == Peer::plain(fb) && from == fx.local,
        "the sharer sends from the shared port");
  check(fx.server.receive(d) && d == Peer::plain(fa), "the first still sends");
  a.close();
  other_server.send(Peer::plain(fa), fx.local);
  check(c.read() == fa, "closing the first leaves the shared socket working");
  c.close();
  b.close();
  Udp again(fx.local);
  check(again.bound(), "the last session's close releases the port");
}

// Lines written from several CPUs at once: nothing lost, nothing mixed.
void concurrent_writers(Fixture &fx) {
  const int lines = 4, per_line = 150;
  std::vector<std::unique_ptr<Line>> l;
  std::vector<uint16_t> ports;
  bool ok = true;
  for (int i = 0; i < lines; ++i) {
    l.push_back(std::make_unique<Line>(5 + i));
    ports.push_back(free_port());
    session_setup s = setup_for(30 + i, fx.server.port(), ports.back(), 0);
    ok &= l.back()->ok() && l.back()->ioctl_(TTYSIM_CREATE_SESSION, &s) == 0;
  }
  if (!check(ok, "four sessions for concurrent writers")) return;
  std::atomic<int> written{0};
  std::vector<std::thread> writers;
  for (int i = 0; i < lines; ++i)
    writers.emplace_back([&, i] {
      for (int k = 0; k < per_line; ++k)
        if (l[i]->write(ipv4_frame(100 + (k % 50), 64, static_cast<uint32_t>(i << 16 | k))) > 0)
          ++written;
    });
  std::map<uint16_t, std::vector<uint32_t>> got;
  int received = 0;
  Bytes d;
  uint16_t from;
  while (received < lines * per_line && fx.server.receive(d, 3000, nullptr, &from)) {
    ++received;
    if (d.size() >= 33) got[from].push_back(word(d, 29));
  }
  for (auto &t : writers) t.join();
  check(written == lines * per_line, "every write returned its full count");
  bool in_order = got.size() == lines;
  for (int i = 0; i < lines; ++i) {
    auto &tags = got[ports[i]];
    in_order &= tags.size() == per_line;
    for (size_t k = 0; k < tags.size(); ++k) in_order &= tags[k] == (static_cast<uint32_t>(i) << 16 | k);
  }
  check(received == lines * per_line && in_order,
        "all " + std::to_string(received) + " frames left, each line's in order");
}

// A server behind a next hop that does not answer: its datagrams wait for the
// neighbour while the sending thread goes on for the other sessions.
void silent_next_hop(Fixture &fx) {
  int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK);
  ifreq ifr{};
  ifr.ifr_flags = IFF_TAP | IFF_NO_PI;
  std::strcpy(ifr.ifr_name, "ktap0");
  if (!check(fd >= 0 && ioctl(fd, TUNSETIFF, &ifr) == 0 &&
                 std::system("ip link set ktap0 up && ip addr add 10.8.0.1/24 dev ktap0 && "
                             // room for more than a socket's send buffer, as a slow
                             // link's queue has
                             "echo 8388608 >/proc/sys/net/ipv4/neigh/ktap0/unres_qlen_bytes") == 0,
             "tap device whose neighbours never answer"))
    return;
  Line stuck(13), live(14);
  session_setup s = setup_for(71, 4444, free_port(), 0);
  s.peer_addr = 0x0A080002;  // 10.8.0.2, on the tap's network
  session_setup l = setup_for(72, fx.server.port(), free_port(), 0);
  if (!check(stuck.ioctl_(TTYSIM_CREATE_SESSION, &s) == 0 && live.ioctl_(TTYSIM_CREATE_SESSION, &l) == 0,
             "sessions to a silent and to a live server"))
    return;
  // More than the neighbour queue and the socket's send buffer hold.
  int written = 0;
  for (int i = 0; i < 400; ++i) written += stuck.write(ipv4_frame(1500, 64, i)) == 1500;
  Bytes f = ipv4_frame(40, 64, 0xABCD);
  auto start = std::chrono::steady_clock::now();
  live.write(f);
  Bytes d;
  bool got = fx.server.receive(d, 10000);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  check(written == 400 && got && d == Peer::plain(f) && ms < 1500,
        "the live session's frame leaves at once (" + std::to_string(ms) + " ms)");
  stuck.close();
  live.close();
  close(fd);
}

// A degenerate S-box cannot hang key installation; other lines keep working.
void degenerate_keys(Fixture &fx) {
  Line a(9), b(10);
  session_setup sa = setup_for(41, fx.server.port(), free_port(), 0);
  session_setup sb = setup_for(42, fx.server.port(), free_port(), 0);
  if (!check(a.ioctl_(TTYSIM_CREATE_SESSION, &sa) == 0 && b.ioctl_(TTYSIM_CREATE_SESSION, &sb) == 0,
             "sessions for the key checks"))
    return;
  crypt_setup zero = fx.keys;
  std::memset(zero.sbox, 0, sizeof zero.sbox);
  std::atomic<int> result{1};
  std::thread t([&] { result = a.ioctl_(TTYSIM_SETUP_KEYS, &zero); });
  traffic_stats st{};
  check(b.ioctl_(TTYSIM_GET_STATS, &st) == 0, "another line answers meanwhile");
  check(eventually([&] { return result != 1; }, 20000), "keys with an all-zero S-box come back");
  t.join();
  check(result < 0, "and fail (" + std::to_string(result) + ")");

  // An IV whose first block encrypts to two equal 16-bit halves repeats the
  // same value in the first group on every pass.
  crypt_setup rep = fx.keys;
  uint8_t block[8] = {0x34, 0x12, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC};
  kmod_peer::Cipher ecb(GCRY_CIPHER_MODE_ECB, rep.key, kmod_peer::sbox_oid(kmod_peer::kSBoxCryptoProA));
  ecb.decrypt(block, 8);
  std::memcpy(rep.send_iv, block, 8);
  result = 1;
  std::thread t2([&] { result = a.ioctl_(TTYSIM_SETUP_KEYS, &rep); });
  check(eventually([&] { return result != 1; }, 20000), "keys with a repeating IV come back");
  t2.join();
  check(result < 0, "and fail (" + std::to_string(result) + ")");
  check(b.ioctl_(TTYSIM_SETUP_KEYS, &fx.keys) == 0, "good keys still install");
}

}  // namespace

int main() {
  kmod_peer::init_gcrypt();
  Fixture fx;
  check(fx.server.bound(), "server socket on 127.0.0.1");
  frames_both_ways(fx);
  filter(fx);
  shared_server(fx);
  concurrent_writers(fx);
  silent_next_hop(fx);
  degenerate_keys(fx);
  return failures ? 1 : 0;
}
