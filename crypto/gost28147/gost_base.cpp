#include "crypto/gost28147/gost_base.h"

#include "crypto/random/random.h"

namespace CryptoGostImpl {

std::uint8_t GostBase::tab1[256], GostBase::tab2[256], GostBase::tab3[256], GostBase::tab4[256];
int GostBase::sbox_set = 0;

// No source stands behind it: the generator arms re-masking itself.
static void init_prng() {}

GostBase::GostBase(const std::shared_ptr<GostKey> &key) : key_(key) {
  if (const ExpandedSBox *own = key_->sbox()) {
    t0_ = own->t[0];
    t1_ = own->t[1];
    t2_ = own->t[2];
    t3_ = own->t[3];
    return;
  }
  if (!sbox_set) contract_violation("sbox_set");
  t0_ = tab1;
  t1_ = tab2;
  t2_ = tab3;
  t3_ = tab4;
}

void GostBase::expand_tab(const std::uint8_t *sbox, int column, std::uint8_t *out) {
  for (int v = 0; v < 256; ++v)
    out[v] = std::uint8_t((sbox[4 * (v >> 4) + column] & 0xF0) | (sbox[4 * (v & 0x0F) + column] & 0x0F));
}

void GostBase::expand(const std::uint8_t *sbox, ExpandedSBox &out) {
  for (int c = 0; c < 4; ++c) expand_tab(sbox, c, out.t[c]);
}

void GostBase::set_sbox(const std::uint8_t *sbox) {
  expand_tab(sbox, 0, tab1);
  expand_tab(sbox, 1, tab2);
  expand_tab(sbox, 2, tab3);
  expand_tab(sbox, 3, tab4);
  sbox_set = 1;
  init_prng();
}

}  // namespace CryptoGostImpl
