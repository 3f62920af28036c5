#include "crypto/gost28147/gost_base.h"

#include <bit>

namespace CryptoGostImpl {

int GostBase::sbox_set = 0;

namespace {

RoundTables process_round_tables;

// Four chains side by side: lane l runs n2 ^= f(n1 + k), n1 ^= f(n2 + k').
// Keys(j, k) fills k[0..3] with the four lanes' key words of round j.
struct Lanes4 {
  std::uint32_t n1[4], n2[4];

  explicit Lanes4(const std::uint64_t blocks[4]) {
    for (int l = 0; l < 4; ++l) {
      n1[l] = std::uint32_t(blocks[l]);
      n2[l] = std::uint32_t(blocks[l] >> 32);
    }
  }
  void store(std::uint64_t blocks[4]) const {
    for (int l = 0; l < 4; ++l) blocks[l] = std::uint64_t(n1[l]) << 32 | n2[l];
  }

  template <class Keys>
  inline void pair(const RoundTables &t, const Keys &keys, int j, int j2) {
    std::uint32_t k[4];
    keys(j, k);
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l) n2[l] ^= round_f(t, n1[l] + k[l]);
    keys(j2, k);
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l) n1[l] ^= round_f(t, n2[l] + k[l]);
  }
  template <class Keys>
  inline void up(const RoundTables &t, const Keys &keys) {
#pragma GCC unroll 4
    for (int j = 0; j < 8; j += 2) pair(t, keys, j, j + 1);
  }
  template <class Keys>
  inline void down(const RoundTables &t, const Keys &keys) {
#pragma GCC unroll 4
    for (int j = 7; j > 0; j -= 2) pair(t, keys, j, j - 1);
  }
};

template <class Keys>
void encrypt_lanes(const RoundTables &t, const Keys &keys, std::uint64_t blocks[4]) {
  Lanes4 s(blocks);
  for (int pass = 0; pass < 3; ++pass) s.up(t, keys);
  s.down(t, keys);
  s.store(blocks);
}

// One masked key for every lane: each round's word is made once.
struct MaskedKeys {
  const std::uint32_t *masked, *mask;
  void operator()(int j, std::uint32_t k[4]) const {
    const std::uint32_t w = key_word(masked, mask, j);
    for (int l = 0; l < 4; ++l) k[l] = w;
  }
};

}  // namespace

void encrypt4_plain(const RoundTables &t, const std::uint32_t keys[4][8], std::uint64_t blocks[4]) {
  encrypt_lanes(t, [keys](int j, std::uint32_t k[4]) {
    for (int l = 0; l < 4; ++l) k[l] = keys[l][j];
  }, blocks);
}

void encrypt4(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask, std::uint64_t blocks[4]) {
  encrypt_lanes(t, MaskedKeys{masked, mask}, blocks);
}

void decrypt4(const RoundTables &t, const std::uint32_t *masked, const std::uint32_t *mask, std::uint64_t blocks[4]) {
  const MaskedKeys keys{masked, mask};
  Lanes4 s(blocks);
  s.up(t, keys);
  for (int pass = 0; pass < 3; ++pass) s.down(t, keys);
  s.store(blocks);
}

GostBase::GostBase(const std::shared_ptr<GostKey> &key)
    : key_(key), masked_(key->masked()), mask_(key->mask()), tables_(key->sbox()) {
  if (tables_) return;
  if (!sbox_set) contract_violation("sbox_set");
  tables_ = &process_round_tables;
}

void GostBase::expand_tab(const std::uint8_t *sbox, int column, std::uint8_t *out) {
  for (int v = 0; v < 256; ++v)
    out[v] = std::uint8_t((sbox[4 * (v >> 4) + column] & 0xF0) | (sbox[4 * (v & 0x0F) + column] & 0x0F));
}

void GostBase::expand(const std::uint8_t *sbox, RoundTables &out) {
  std::uint8_t column[256];
  for (int c = 0; c < 4; ++c) {
    expand_tab(sbox, c, column);
    for (int v = 0; v < 256; ++v) out.t[c][v] = std::rotl(std::uint32_t(column[v]) << (8 * c), 11);
  }
}

const RoundTables &GostBase::process_tables() { return process_round_tables; }

void GostBase::set_sbox(const std::uint8_t *sbox) {
  expand(sbox, process_round_tables);
  sbox_set = 1;
}

}  // namespace CryptoGostImpl
