// EncryptFrame and DecryptFrame (frame key, MAC and CFB of one frame), and
// batches of frames through each kernel of the frame lanes, against
// libgcrypt's GOST 28147-89 CFB encryption alone of the same bytes, measured
// in one run so the figures compare. Each timing is the best of a
// few rounds taken in turn, to keep out noise from the other processes on
// the machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "kmod/crypter.h"
#include "kmod/gost_lanes.h"
#include "kmod/peer/gcrypt_gost.h"
#include "kmod/peer/peer.h"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds per call of each fn: batches of about 20 ms, the three taken in
// turn for a number of rounds, the best batch of each counted, so that a
// burst of load on the shared machine hits all of them alike.
std::vector<double> seconds_per_call(const std::vector<std::function<void()>> &fns) {
  std::vector<size_t> calls(fns.size(), 1);
  for (size_t f = 0; f < fns.size(); ++f)
    for (;;) {
      auto t0 = Clock::now();
      for (size_t i = 0; i < calls[f]; ++i) fns[f]();
      if (std::chrono::duration<double>(Clock::now() - t0).count() > 0.02) break;
      calls[f] *= 2;
    }
  std::vector<double> best(fns.size(), 1e9);
  for (int round = 0; round < 25; ++round)
    for (size_t f = 0; f < fns.size(); ++f) {
      auto t0 = Clock::now();
      for (size_t i = 0; i < calls[f]; ++i) fns[f]();
      best[f] = std::min(best[f], std::chrono::duration<double>(Clock::now() - t0).count() / calls[f]);
    }
  return best;
}

struct Figures {
  double mb_s, frames_s;
};

Figures figures(double seconds, size_t len) { return {len / seconds / 1e6, 1 / seconds}; }

}  // namespace

int main() {
  std::mt19937 gen(7);
  crypt_setup keys;
  for (size_t i = 0; i < sizeof(keys); ++i) reinterpret_cast<uint8_t *>(&keys)[i] = static_cast<uint8_t>(gen());
  std::memcpy(keys.sbox, kmod_peer::kSBoxCryptoProA.data(), 64);
  const char *oid = kmod_peer::sbox_oid(kmod_peer::kSBoxCryptoProA);

  // The module's two directions; the receiving one checks what a sender
  // keyed with its IV protects.
  static gost_ctx send_ctx{}, recv_ctx{}, peer_ctx{};
  InitEncryptKey(&send_ctx, keys.key, keys.key_mask, keys.send_iv, keys.sbox);
  InitEncryptKey(&recv_ctx, keys.key, keys.key_mask, keys.recv_iv, keys.sbox);
  InitEncryptKey(&peer_ctx, keys.key, keys.key_mask, keys.recv_iv, keys.sbox);

  std::printf("%6s | %-28s | %-28s | %-28s | %s\n", "frame", "EncryptFrame MB/s  frames/s", "DecryptFrame MB/s  frames/s",
              "libgcrypt CFB MB/s  frames/s", "ratio enc  dec");
  for (size_t len : {64, 512, 1400, 2031}) {
    std::vector<uint8_t> frame(len), buf(2048);
    for (auto &b : frame) b = static_cast<uint8_t>(gen());

    auto encrypt = [&] {
      std::memcpy(buf.data(), frame.data(), len);
      EncryptFrame(&send_ctx, buf.data(), static_cast<s32>(len));
    };

    // A batch of genuine datagrams with rising counters, replayed into a
    // receiving context that is rewound between batches.
    const size_t batch = 256;
    std::vector<std::vector<uint8_t>> sealed(batch, std::vector<uint8_t>(len + 16));
    for (auto &d : sealed) {
      std::memcpy(d.data(), frame.data(), len);
      EncryptFrame(&peer_ctx, d.data(), static_cast<s32>(len));
    }
    const u64 first = peer_ctx.counter - batch;
    size_t next = 0;
    bool all_ok = true;
    auto decrypt = [&] {
      if (next == batch) {
        next = 0;
        recv_ctx.counter = first;
        recv_ctx.replay_seen = 0;
      }
      std::memcpy(buf.data(), sealed[next++].data(), len + 16);
      all_ok &= DecryptFrame(&recv_ctx, buf.data(), static_cast<s32>(len + 16)) == static_cast<s32>(len);
    };

    kmod_peer::Cipher cfb(GCRY_CIPHER_MODE_CFB, keys.key, oid);
    auto reference = [&] {
      std::memcpy(buf.data(), frame.data(), len);
      cfb.set_iv(keys.send_iv);
      cfb.encrypt(buf.data(), len);
    };
    auto t = seconds_per_call({encrypt, decrypt, reference});
    double enc = t[0], dec = t[1], ref = t[2];

    auto e = figures(enc, len), d = figures(dec, len), g = figures(ref, len);
    std::printf("%6zu | %12.1f %14.0f | %12.1f %14.0f | %13.1f %14.0f | %9.2f %5.2f%s\n", len, e.mb_s, e.frames_s, d.mb_s,
                d.frames_s, g.mb_s, g.frames_s, ref / enc, ref / dec, all_ok ? "" : "  (decryption FAILED)");
  }

  // Batches of 1,400-byte frames through the lanes, each kernel forced in
  // turn, against libgcrypt's CFB of the same frames one after another.
  const size_t len = 1400;
  static const char *const kernels[] = {"scalar", "scalar4", "avx512vbmi"};
  std::vector<uint8_t> scratch(gost_lanes_scratch_size());
  auto *s = reinterpret_cast<gost_lanes_scratch *>(scratch.data());
  std::printf("\nframe lanes, %zu-byte frames (frame key, MAC and CFB); ratio to libgcrypt CFB of the same bytes\n", len);
  std::printf("%-11s %5s | %-22s | %-22s | %-14s | %s\n", "kernel", "batch", "encrypt MB/s frames/s", "decrypt MB/s frames/s",
              "libgcrypt MB/s", "ratio enc  dec");
  for (int v = 0; v < GOST_LANES_VARIANTS; ++v) {
    if (gost_lanes_force(static_cast<gost_lanes_variant>(v)) != 0) {
      std::printf("%-11s  (not on this CPU)\n", kernels[v]);
      continue;
    }
    for (unsigned n : {16u, 8u, 4u, 1u}) {
      std::vector<std::vector<uint8_t>> bufs(n, std::vector<uint8_t>(len));
      std::vector<gost_lane_frame> frames(n);
      uint8_t trailer[8] = {0, 0, 0, 0, 0, 0, 0, 1};
      for (unsigned i = 0; i < n; ++i) {
        for (auto &b : bufs[i]) b = static_cast<uint8_t>(gen());
        frames[i] = {&send_ctx, 1000 + i, bufs[i].data(), static_cast<u32>(len), trailer, {}};
      }
      auto encrypt = [&] { gost_lanes_encrypt(frames.data(), n, s); };
      auto decrypt = [&] { gost_lanes_decrypt(frames.data(), n, s); };
      kmod_peer::Cipher cfb(GCRY_CIPHER_MODE_CFB, keys.key, oid);
      std::vector<uint8_t> out(len);
      auto reference = [&] {
        for (unsigned i = 0; i < n; ++i) {
          cfb.set_iv(keys.send_iv);
          std::memcpy(out.data(), bufs[i].data(), len);
          cfb.encrypt(out.data(), len);
        }
      };
      auto t = seconds_per_call({encrypt, decrypt, reference});
      auto e = figures(t[0], n * len), d = figures(t[1], n * len), g = figures(t[2], n * len);
      std::printf("%-11s %5u | %9.1f %12.0f | %9.1f %12.0f | %14.1f | %9.2f %5.2f\n", kernels[v], n, e.mb_s, e.frames_s * n,
                  d.mb_s, d.frames_s * n, g.mb_s, t[2] / t[0], t[2] / t[1]);
    }
  }
  gost_lanes_init();
  return 0;
}
