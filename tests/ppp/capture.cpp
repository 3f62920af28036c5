// Watches the tunnel's datagrams on the loopback device, as a capture would:
// every UDP datagram between the two ports of the test tunnel, taken once
// (as received). Runs until SIGTERM or SIGINT, then prints one summary line
//   datagrams N plain P protected Q plain-ipv4 X marker-hits M late L
// (late: protected datagrams that arrived more than 15 counters behind the
// newest of their direction, which the receiving line refuses)
// and, with a dump file given, writes the first protected datagram from the
// first port that opens with line 0's keys, beside the frame it carried.
//
// usage: ppp-capture PORT0 PORT1 MARKER_HEX [DUMP_FILE]
//   MARKER_HEX  bytes that must never appear in a datagram (plaintext probe)
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "kmod/peer/peer.h"
#include "tests/ppp/keys.h"

namespace {

volatile sig_atomic_t done = 0;
void on_signal(int) { done = 1; }

std::vector<uint8_t> from_hex(const std::string &h) {
  std::vector<uint8_t> b;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    b.push_back(static_cast<uint8_t>(std::strtoul(h.substr(i, 2).c_str(), nullptr, 16)));
  return b;
}

void dump(std::ofstream &out, const char *title, const std::vector<uint8_t> &b) {
  out << title << " (" << b.size() << " bytes)\n";
  char line[128];
  for (size_t at = 0; at < b.size(); at += 16) {
    int n = std::snprintf(line, sizeof line, "  %04zx ", at);
    for (size_t i = at; i < at + 16 && i < b.size(); ++i)
      n += std::snprintf(line + n, sizeof line - n, " %02x", b[i]);
    out << line << "\n";
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PORT0 PORT1 MARKER_HEX [DUMP_FILE]\n", argv[0]);
    return 2;
  }
  uint16_t port0 = static_cast<uint16_t>(std::atoi(argv[1])),
           port1 = static_cast<uint16_t>(std::atoi(argv[2]));
  std::vector<uint8_t> marker = from_hex(argv[3]);
  signal(SIGTERM, on_signal);
  signal(SIGINT, on_signal);

  int fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
  sockaddr_ll a{};
  a.sll_family = AF_PACKET;
  a.sll_protocol = htons(ETH_P_IP);
  a.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
  int big = 16 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    std::perror("capture socket");
    return 1;
  }
  std::printf("capturing\n");
  std::fflush(stdout);

  kmod_peer::Peer peer(ppp_test::tunnel_keys(0));
  bool dumped = argc < 5;
  unsigned long total = 0, plain = 0, prot = 0, plain_ipv4 = 0, hits = 0, late = 0;
  uint64_t newest[2] = {0, 0};  // highest counter seen, per direction
  std::vector<uint8_t> b(70000);
  while (!done) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    sockaddr_ll from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr *>(&from), &len);
    if (n < 28 || from.sll_pkttype == PACKET_OUTGOING || b[9] != IPPROTO_UDP) continue;
    size_t ihl = (b[0] & 15u) * 4;
    if (static_cast<size_t>(n) < ihl + 9) continue;
    uint16_t sport = static_cast<uint16_t>(b[ihl] << 8 | b[ihl + 1]);
    uint16_t dport = static_cast<uint16_t>(b[ihl + 2] << 8 | b[ihl + 3]);
    bool ours = (sport == port0 && dport == port1) || (sport == port1 && dport == port0);
    if (!ours) continue;
    std::vector<uint8_t> d(b.begin() + static_cast<long>(ihl + 8), b.begin() + n);
    ++total;
    if (!marker.empty() && std::search(d.begin(), d.end(), marker.begin(), marker.end()) != d.end()) ++hits;
    if (d[0] == 1) {
      ++prot;
      if (d.size() >= 17) {
        uint64_t counter = 0;
        for (size_t i = d.size() - 16; i < d.size() - 8; ++i) counter = counter << 8 | d[i];
        uint64_t &top = newest[sport == port0 ? 0 : 1];
        if (counter + 15 < top) ++late;
        top = std::max(top, counter);
      }
      if (!dumped && sport == port0 && d.size() > 60) {
        auto opened = peer.open(d);
        if (opened.error == kmod_peer::OpenError::none && opened.frame.size() > 4 && opened.frame[2] == 0 &&
            opened.frame[3] == 0x21) {
          std::ofstream out(argv[4]);
          dump(out, "datagram as captured on lo (type 1, encrypted frame, counter, MAC)", d);
          dump(out, "the PPP frame it carried (opened with the receiving end's keys)", opened.frame);
          dumped = true;
        }
      }
    } else {
      ++plain;
      if (d.size() >= 5 && d[3] == 0x00 && d[4] == 0x21) ++plain_ipv4;
    }
  }
  std::printf("datagrams %lu plain %lu protected %lu plain-ipv4 %lu marker-hits %lu late %lu\n", total, plain,
              prot, plain_ipv4, hits, late);
  return 0;
}
