// The access server's side of the tunnel datagram format, for loopback tests
// of the module. It is built on libgcrypt's GOST 28147-89 (ECB, CFB and the
// imito-insert), not on the module's engine, so each checks the other.
//
// Datagram: type byte (0 plain, 1 protected); the PPP frame, CFB-encrypted
// under the frame key from the direction's IV when protected; then, when
// protected, the counter (8 bytes, most significant first) and the MAC of the
// plain frame followed by the counter bytes under the frame key.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kmod/records.h"

namespace kmod_peer {

using Bytes = std::vector<uint8_t>;
using SBox = std::array<uint8_t, 64>;

// Standard S-boxes libgcrypt knows, in the packed 64-byte form of crypt_setup.
extern const SBox kSBoxCryptoProA;  // 1.2.643.2.2.31.1
extern const SBox kSBoxTest;        // 1.2.643.2.2.30.0

// libgcrypt's object identifier for a packed S-box; throws
// std::invalid_argument for one it does not know.
const char *sbox_oid(const SBox &sbox);

enum class OpenError {
  none,
  empty,      // no type byte
  truncated,  // protected, but no frame byte before counter and MAC
  bad_mac,
  replayed,   // counter not above the last one accepted
};

struct Opened {
  OpenError error = OpenError::none;
  bool is_protected = false;
  uint64_t counter = 0;  // protected frames only
  Bytes frame;
};

class Peer {
 public:
  // Keyed from the crypt_setup the module got: the server receives with
  // send_iv and sends with recv_iv.
  explicit Peer(const crypt_setup &keys);
  ~Peer();
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;

  // Protects a frame with the next counter (1 for the first frame).
  Bytes protect(std::span<const uint8_t> frame);
  // Protects with the given counter; the next-counter sequence is untouched.
  Bytes protect_at(std::span<const uint8_t> frame, uint64_t counter) const;
  static Bytes plain(std::span<const uint8_t> frame);

  // Opens a datagram from the module; counters must increase.
  Opened open(std::span<const uint8_t> datagram);

  // The frame key of one direction for a counter (eight little-endian words).
  std::array<uint8_t, 32> frame_key(bool sending, uint64_t counter) const;

 private:
  struct Direction {
    std::array<uint8_t, 8> iv;
    std::array<std::array<uint8_t, 4>, 8 * 256> w;  // W_i[x] at 256 * i + x
  };
  Direction make_direction(const uint8_t iv[8]) const;

  crypt_setup keys_;
  const char *oid_;
  Direction send_, recv_;  // the server's own sending and receiving
  uint64_t sent_ = 0;
  uint64_t accepted_ = 0;
};

}  // namespace kmod_peer
