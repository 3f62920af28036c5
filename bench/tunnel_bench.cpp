// Tunnel throughput on loopback: 1,400-byte frames written on a line as fast
// as the outbound ring admits them and counted at a UDP peer, and protected
// frames from the peer read decrypted from the line; each against
// EncryptFrame / DecryptFrame alone on one core, measured in the same run.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "kmod/crypter.h"
#include "kmod/live_module.h"
#include "kmod/peer/peer.h"

namespace {

using kmod_live::Bytes;
using Clock = std::chrono::steady_clock;

constexpr size_t kFrame = 1400;
constexpr int kFrames = 20000;

crypt_setup bench_keys() {
  crypt_setup k{};
  for (int i = 0; i < 32; ++i) k.key[i] = static_cast<uint8_t>(7 * i + 1);
  for (int i = 0; i < 8; ++i) k.send_iv[i] = static_cast<uint8_t>(i), k.recv_iv[i] = static_cast<uint8_t>(~i);
  std::memcpy(k.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  return k;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char *what, int frames, double secs, double base_secs) {
  double fps = frames / secs;
  std::printf("%-34s %9.0f frames/s %7.1f MB/s", what, fps, fps * kFrame / 1e6);
  if (base_secs > 0) std::printf("   cost vs crypter alone: %+.0f%%", (secs / base_secs - 1) * 100);
  std::printf("\n");
}

struct Crypter {
  double encrypt, decrypt;  // seconds for kFrames
};

Crypter crypter_alone(const crypt_setup &k) {
  static gost_ctx send, recv;
  InitEncryptKey(&send, k.key, k.key_mask, k.send_iv, k.sbox);
  InitEncryptKey(&recv, k.key, k.key_mask, k.send_iv, k.sbox);
  // Encryption works in one slot-sized buffer, as the sending thread does.
  Bytes frame = kmod_live::ipv4_frame(kFrame), slot(kFrame + CRYPTER_TRAILER);
  std::vector<Bytes> bufs(kFrames, slot);
  for (auto &b : bufs) std::memcpy(b.data(), frame.data(), kFrame);
  auto t0 = Clock::now();
  for (int i = 0; i < kFrames; ++i) {
    std::memcpy(slot.data(), frame.data(), kFrame);
    EncryptFrame(&send, slot.data(), kFrame);
  }
  double enc = seconds_since(t0);
  InitEncryptKey(&send, k.key, k.key_mask, k.send_iv, k.sbox);
  for (auto &b : bufs) EncryptFrame(&send, b.data(), kFrame);
  t0 = Clock::now();
  int ok = 0;
  for (auto &b : bufs) ok += DecryptFrame(&recv, b.data(), kFrame + CRYPTER_TRAILER) == kFrame;
  double dec = seconds_since(t0);
  if (ok != kFrames) std::printf("crypter alone: %d of %d frames opened\n", ok, kFrames);
  return {enc, dec};
}

}  // namespace

int main() {
  using namespace kmod_live;
  crypt_setup keys = bench_keys();
  Crypter base = crypter_alone(keys);
  report("EncryptFrame alone", kFrames, base.encrypt, 0);
  report("DecryptFrame alone", kFrames, base.decrypt, 0);

  if (init_module()) return 1;
  int lost_out = 0, lost_in = 0;
  {
    UdpPeer server;
    uint16_t local = free_port();
    Line line(0);
    if (line.create(1, server.port(), local) || line.ioctl(TTYSIM_SETUP_KEYS, &keys)) return 1;

    // Line to peer: the writer retries while the ring refuses.
    Bytes frame = ipv4_frame(kFrame);
    int received = 0;
    auto t0 = Clock::now();
    std::thread writer([&] {
      for (int i = 0; i < kFrames; ++i) line.write_admitted(frame);
    });
    Bytes d;
    while (received < kFrames && server.receive(d, 1000)) ++received;
    double out = seconds_since(t0);
    writer.join();
    lost_out = kFrames - received;
    report("line -> ring -> crypter -> UDP", received, out, base.encrypt);

    // Peer to line, with no more datagrams in flight than the socket's
    // receive buffer holds (the ring would admit more).
    kmod_peer::Peer peer(keys);
    std::vector<Bytes> datagrams;
    for (int i = 0; i < kFrames; ++i) datagrams.push_back(peer.protect(ipv4_frame(kFrame)));
    int delivered = 0, sent = 0;
    t0 = Clock::now();
    while (delivered < kFrames) {
      while (sent < kFrames && sent - delivered < 64) server.send(datagrams[sent++], local);
      if (line.read(1000).empty()) break;
      ++delivered;
    }
    double in = seconds_since(t0);
    lost_in = kFrames - delivered;
    report("UDP -> ring -> crypter -> line", delivered, in, base.decrypt);
  }
  cleanup_module();
  std::printf("frames lost: %d outbound, %d inbound\n", lost_out, lost_in);
  return 0;
}
