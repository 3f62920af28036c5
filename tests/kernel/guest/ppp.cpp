// The kernel's own PPP on a line, as the connection daemon runs it: the
// synchronous PPP discipline (N_SYNC_PPP) attached to /dev/ttysim12 and a
// ppp interface over it. Packets the host sends through that interface reach
// the line's write with bottom halves disabled and the discipline's spin lock
// held, from several threads at once; frames from the server go up into the
// PPP discipline, whose receive path takes a sleeping lock.
#include <linux/ppp-ioctl.h>
#include <linux/ppp_defs.h>
#include <net/if.h>

#include <atomic>
#include <cstdlib>

#include "kmod/records.h"
#include "tests/kernel/guest/ktest.h"

using namespace ktest;

namespace {

constexpr int kNSyncPpp = 14;

uint16_t ip_checksum(const uint8_t *p, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < n; i += 2) sum += p[i] << 8 | p[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// A PPP frame with an IPv4/UDP packet 10.77.0.2:4000 -> 10.77.0.1:port.
Bytes inbound_frame(uint16_t port, const std::string &payload) {
  Bytes ip(28 + payload.size(), 0);
  ip[0] = 0x45;
  ip[2] = static_cast<uint8_t>(ip.size() >> 8), ip[3] = static_cast<uint8_t>(ip.size());
  ip[8] = 64, ip[9] = 17;
  const uint8_t src[4] = {10, 77, 0, 2}, dst[4] = {10, 77, 0, 1};
  std::memcpy(&ip[12], src, 4), std::memcpy(&ip[16], dst, 4);
  uint16_t c = ip_checksum(ip.data(), 20);
  ip[10] = static_cast<uint8_t>(c >> 8), ip[11] = static_cast<uint8_t>(c);
  ip[20] = 4000 >> 8, ip[21] = 4000 & 0xFF;
  ip[22] = static_cast<uint8_t>(port >> 8), ip[23] = static_cast<uint8_t>(port);
  size_t ulen = 8 + payload.size();
  ip[24] = static_cast<uint8_t>(ulen >> 8), ip[25] = static_cast<uint8_t>(ulen);
  std::memcpy(&ip[28], payload.data(), payload.size());  // UDP checksum 0: none
  Bytes f = {0x00, 0xFF, 0x03, 0x00, 0x21};              // plain datagram type, PPP header
  f.insert(f.end(), ip.begin(), ip.end());
  return f;
}

}  // namespace

int main() {
  Udp server;
  Line line(12);  // N_HDLC first; replaced by the PPP discipline below
  session_setup s{};
  s.sid = 61;
  s.peer_addr = s.local_addr = 0x7F000001;
  s.peer_port = server.port();
  s.local_port = free_port();
  if (!check(line.ok() && line.ioctl_(TTYSIM_CREATE_SESSION, &s) == 0, "PPP: session on line 12"))
    return 1;
  int disc = kNSyncPpp;
  if (!check(ioctl(line.fd(), TIOCSETD, &disc) == 0, "PPP: synchronous PPP discipline attached"))
    return 1;
  int chan = -1, unit = -1;
  int chan_fd = open("/dev/ppp", O_RDWR), unit_fd = open("/dev/ppp", O_RDWR);
  bool ok = ioctl(line.fd(), PPPIOCGCHAN, &chan) == 0 && chan_fd >= 0 && unit_fd >= 0 &&
            ioctl(chan_fd, PPPIOCATTCHAN, &chan) == 0 && ioctl(unit_fd, PPPIOCNEWUNIT, &unit) == 0 &&
            ioctl(chan_fd, PPPIOCCONNECT, &unit) == 0;
  if (!check(ok, "PPP: channel " + std::to_string(chan) + " connected to ppp" + std::to_string(unit)))
    return 1;
  std::string dev = "ppp" + std::to_string(unit);
  ok = std::system(("ip link set " + dev + " up && ip addr add 10.77.0.1 peer 10.77.0.2 dev " + dev)
                       .c_str()) == 0;
  if (!check(ok, "PPP: " + dev + " up, 10.77.0.1 -> 10.77.0.2")) return 1;

  // Out: three threads send through the interface at once.
  const int threads = 3, per_thread = 40;
  std::atomic<int> refused{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < threads; ++t)
    senders.emplace_back([&, t] {
      int fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(5000 + t));
      inet_pton(AF_INET, "10.77.0.2", &to.sin_addr);
      for (int k = 0; k < per_thread; ++k) {
        uint32_t tag = static_cast<uint32_t>(t << 16 | k);
        if (sendto(fd, &tag, sizeof tag, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0)
          ++refused;
        if (k % 8 == 7) usleep(2000);  // the ppp queue is short; let it drain
      }
      close(fd);
    });
  for (auto &t : senders) t.join();
  int got = 0;
  bool well_formed = true;
  Bytes d;
  while (got < threads * per_thread && server.receive(d, 3000)) {
    ++got;
    // type 0, FF 03 00 21, IPv4 header (20 bytes), UDP header, the 4-byte tag
    well_formed &= d.size() == 5 + 20 + 8 + 4 && d[0] == 0 && d[1] == 0xFF && d[2] == 0x03 &&
                   d[3] == 0x00 && d[4] == 0x21 && d[5] == 0x45 && d[21] == 10 && d[22] == 77 &&
                   d[24] == 2;
  }
  check(refused == 0, "PPP: the host sent every packet through " + dev);
  check(got == threads * per_thread && well_formed,
        "PPP: each packet left the line as one PPP frame in one datagram (" + std::to_string(got) + ")");

  // In: frames from the server reach the host's stack through the PPP discipline.
  Udp app(6666, INADDR_ANY);
  int delivered = 0;
  for (int k = 0; k < 20; ++k) server.send(inbound_frame(6666, "inbound " + std::to_string(k)), s.local_port);
  while (delivered < 20 && app.receive(d, 3000)) ++delivered;
  check(delivered == 20, "PPP: frames from the server arrive at a socket of the host (" +
                             std::to_string(delivered) + ")");

  close(unit_fd);
  close(chan_fd);
  line.close();
  return failures ? 1 : 0;
}
