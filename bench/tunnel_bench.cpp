// Tunnel throughput on loopback through the user-space build, each direction,
// 1,400-byte frames, as a ratio to libgcrypt's GOST 28147-89 CFB of the same
// bytes on one core measured in the same run.
//
// Out: frames written on a line as fast as the outbound ring admits them,
// counted as datagrams at a UDP responder. In: protected datagrams from the
// responder, with a bounded number in flight, read decrypted from the line.
// The responder is built on libgcrypt (kmod/peer), not on the module's
// engine; it prepares and checks its datagrams outside the timed part. Each
// figure is the best of a few rounds, the reference measured between them.
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "kmod/gost_lanes.h"
#include "kmod/live_module.h"
#include "kmod/peer/gcrypt_gost.h"
#include "kmod/peer/peer.h"
#include "kmod/stbuff.h"

namespace {

using kmod_live::Bytes;
using Clock = std::chrono::steady_clock;

constexpr size_t kFrame = 1400;
constexpr int kFrames = 20000;
constexpr int kRounds = 3;

crypt_setup bench_keys() {
  crypt_setup k{};
  for (int i = 0; i < 32; ++i) k.key[i] = static_cast<uint8_t>(7 * i + 1);
  for (int i = 0; i < 8; ++i) k.send_iv[i] = static_cast<uint8_t>(i), k.recv_iv[i] = static_cast<uint8_t>(~i);
  std::memcpy(k.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  return k;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// libgcrypt CFB of one frame: seconds per frame, best of batches of ~20 ms.
double reference_seconds(const crypt_setup &k) {
  kmod_peer::Cipher cfb(GCRY_CIPHER_MODE_CFB, k.key, kmod_peer::sbox_oid(kmod_peer::kSBoxCryptoProA));
  Bytes buf = kmod_live::ipv4_frame(kFrame);
  double best = 1e9;
  for (int round = 0; round < 10; ++round) {
    const int calls = 400;
    auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) {
      cfb.set_iv(k.send_iv);
      cfb.encrypt(buf.data(), buf.size());
    }
    best = std::min(best, seconds_since(t0) / calls);
  }
  return best;
}

// Datagrams in batches of up to 64 per system call, the responder's end.
class Responder {
 public:
  // Room for a whole run's datagrams, so a responder held up by the
  // scheduler loses none.
  explicit Responder(const kmod_live::UdpPeer &peer) : fd_(peer.fd()) {
    int size = 64 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size));
  }

  // Receives up to want datagrams straight into store (2 KiB each),
  // stopping after silence_ms without one; their lengths into lens.
  int receive(std::vector<uint8_t> &store, std::vector<int> &lens, int want, int silence_ms) {
    constexpr int kBatch = 64;
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    int got = 0;
    while (got < want) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, silence_ms) != 1) break;
      int n = std::min(kBatch, want - got);
      for (int i = 0; i < n; ++i) {
        iov[i] = {&store[static_cast<size_t>(got + i) * 2048], 2048};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
      }
      n = recvmmsg(fd_, msgs, static_cast<unsigned>(n), MSG_DONTWAIT, nullptr);
      for (int i = 0; i < n; ++i) lens[static_cast<size_t>(got + i)] = static_cast<int>(msgs[i].msg_len);
      got += std::max(n, 0);
    }
    return got;
  }

  // Sends d[from, to) to the port in batches.
  void send(const std::vector<Bytes> &d, size_t from, size_t to, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(kmod_live::kLoopback);
    sa.sin_port = htons(port);
    constexpr size_t kBatch = 32;
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    while (from < to) {
      size_t n = std::min(kBatch, to - from);
      for (size_t i = 0; i < n; ++i) {
        iov[i] = {const_cast<uint8_t *>(d[from + i].data()), d[from + i].size()};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_name = &sa;
        msgs[i].msg_hdr.msg_namelen = sizeof(sa);
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
      }
      int sent = sendmmsg(fd_, msgs, static_cast<unsigned>(n), 0);
      if (sent <= 0) break;
      from += static_cast<size_t>(sent);
    }
  }

 private:
  int fd_;
};

struct Direction {
  double best = 1e9;  // seconds for kFrames, at the best rate seen
  int lost = 0, bad = 0;
};

// Line to responder: while the ring refuses, the writer waits a little
// rather than spin on the processor the sending thread needs.
void run_out(kmod_live::Line &line, Responder &responder, const Bytes &frame, const crypt_setup &keys, bool check,
             Direction &out) {
  std::vector<uint8_t> store(static_cast<size_t>(kFrames) * 2048);
  std::vector<int> lens(kFrames);
  auto t0 = Clock::now();
  std::thread writer([&] {
    for (int i = 0; i < kFrames; ++i)
      while (line.write(frame) < 0) std::this_thread::sleep_for(std::chrono::microseconds(20));
  });
  int received = responder.receive(store, lens, kFrames, 1000);
  double secs = seconds_since(t0);
  writer.join();
  if (received) out.best = std::min(out.best, secs * kFrames / received);
  out.lost += kFrames - received;
  kmod_peer::Peer peer(keys);
  for (int i = 0; i < (check ? received : 0); ++i) {
    const uint8_t *d = &store[static_cast<size_t>(i) * 2048];
    auto opened = peer.open({d, static_cast<size_t>(lens[static_cast<size_t>(i)])});
    out.bad += opened.error != kmod_peer::OpenError::none || opened.frame != frame;
  }
}

// Responder to line, at most 512 datagrams in flight (the inbound ring
// admits 1,019).
void run_in(kmod_live::Line &line, Responder &responder, uint16_t local, const std::vector<Bytes> &datagrams,
            const Bytes &frame, Direction &in) {
  std::atomic<int> delivered{0};
  std::atomic<bool> done{false};
  auto t0 = Clock::now();
  std::thread sender([&] {
    size_t sent = 0;
    while (sent < datagrams.size() && !done) {
      size_t room = 512 - std::min<size_t>(512, sent - static_cast<size_t>(delivered.load()));
      if (room < 32) {  // waits rather than spin on a processor the module needs
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        continue;
      }
      size_t to = std::min(datagrams.size(), sent + room);
      responder.send(datagrams, sent, to, local);
      sent = to;
    }
  });
  int n = 0;
  double secs = 0;
  for (; n < kFrames; ++n) {
    Bytes f = line.read(1000);
    if (f.empty()) break;
    in.bad += f != frame;
    delivered.store(n + 1);
    secs = seconds_since(t0);
  }
  done = true;
  sender.join();
  // Lost datagrams stall the window for the read's patience: the rate
  // counts up to the last frame delivered.
  if (n) in.best = std::min(in.best, secs * kFrames / n);
  in.lost += kFrames - n;
  while (!line.read(50).empty()) {
  }
}

// Datagrams the system's UDP sockets dropped for want of buffer room.
long udp_rcvbuf_errors() {
  std::FILE *f = std::fopen("/proc/net/snmp", "r");
  char line[1024];
  long values[16] = {};
  int seen = 0;
  while (f && std::fgets(line, sizeof(line), f))
    if (!std::strncmp(line, "Udp: ", 5) && ++seen == 2)
      std::sscanf(line + 5, "%ld %ld %ld %ld %ld", &values[0], &values[1], &values[2], &values[3], &values[4]);
  if (f) std::fclose(f);
  return values[4];
}

}  // namespace

// tunnel_bench [out|in]: both directions unless one is named.
int main(int argc, char **argv) {
  using namespace kmod_live;
  const bool do_out = argc < 2 || !std::strcmp(argv[1], "out"), do_in = argc < 2 || !std::strcmp(argv[1], "in");
  const crypt_setup keys = bench_keys();
  if (init_module()) return 1;
  std::printf("lanes kernel: %s\n", gost_lanes_kind());
  const long socket_drops_before = udp_rcvbuf_errors();
  double ref = 1e9;
  Direction out, in;
  {
    UdpPeer server;
    Responder responder(server);
    const Bytes frame = ipv4_frame(kFrame);
    // The inbound datagrams, made once: each round has a session of its own,
    // its counters starting afresh.
    std::vector<Bytes> datagrams;
    if (do_in) {
      kmod_peer::Peer peer(keys);
      for (int i = 0; i < kFrames; ++i) datagrams.push_back(peer.protect(frame));
    }
    for (int round = 0; round < kRounds; ++round) {
      uint16_t local = free_port();
      Line line(0);
      if (line.create(1, server.port(), local) || line.ioctl(TTYSIM_SETUP_KEYS, &keys)) return 1;
      ref = std::min(ref, reference_seconds(keys));
      if (do_out) run_out(line, responder, frame, keys, round == 0, out);
      ref = std::min(ref, reference_seconds(keys));
      if (do_in) run_in(line, responder, local, datagrams, frame, in);
    }
  }
  stbuff_drops drops;
  stbuff_get_drops(&drops);
  cleanup_module();

  const double ref_mb = kFrame / ref / 1e6;
  std::printf("libgcrypt CFB, %zu-byte frames, one core: %8.1f MB/s\n", kFrame, ref_mb);
  auto report = [&](const char *what, const Direction &d) {
    double mb = kFrames * kFrame / d.best / 1e6;
    std::printf("%-36s %8.0f frames/s %8.1f MB/s  %5.2fx libgcrypt CFB   lost %d, wrong %d\n", what,
                kFrames / d.best, mb, mb / ref_mb, d.lost, d.bad);
  };
  if (do_out) report("out: line -> ring -> crypter -> UDP", out);
  if (do_in) report("in:  UDP -> ring -> crypter -> line", in);
  std::printf("dropped: %u at the inbound ring, %ld in UDP receive buffers (whole system)\n", drops.inbound,
              udp_rcvbuf_errors() - socket_drops_before);
  return 0;
}
