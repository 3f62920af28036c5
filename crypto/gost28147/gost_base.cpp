#include "crypto/gost28147/gost_base.h"

#include <bit>

namespace CryptoGostImpl {

int GostBase::sbox_set = 0;

namespace {

RoundTables process_round_tables;

// Four chains side by side: lane l runs n2 ^= f(n1 + k), n1 ^= f(n2 + k').
struct Lanes4 {
  std::uint32_t n1[4], n2[4];

  inline void rounds(const RoundTables &t, const std::uint32_t keys[4][8], int j, int j2) {
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l) n2[l] ^= round_f(t, n1[l] + keys[l][j]);
#pragma GCC unroll 4
    for (int l = 0; l < 4; ++l) n1[l] ^= round_f(t, n2[l] + keys[l][j2]);
  }
};

}  // namespace

void encrypt4_plain(const RoundTables &t, const std::uint32_t keys[4][8], std::uint64_t blocks[4]) {
  Lanes4 s;
  for (int l = 0; l < 4; ++l) {
    s.n1[l] = std::uint32_t(blocks[l]);
    s.n2[l] = std::uint32_t(blocks[l] >> 32);
  }
  for (int pass = 0; pass < 3; ++pass) {
#pragma GCC unroll 4
    for (int j = 0; j < 8; j += 2) s.rounds(t, keys, j, j + 1);
  }
#pragma GCC unroll 4
  for (int j = 7; j > 0; j -= 2) s.rounds(t, keys, j, j - 1);
  for (int l = 0; l < 4; ++l) blocks[l] = std::uint64_t(s.n1[l]) << 32 | s.n2[l];
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
