// SPDX-License-Identifier: GPL-2.0
/*
 * GOST 28147-89 for the data plane.  Every round is one addition, four
 * lookups in T0..T3 and three XORs; the 32 rounds are written out, and the
 * CFB and MAC loops take whole blocks as two words between partial ends.
 */
#include "kmod/gost.h"

/* The module's key for frame-key derivation, shared with the library. */
const u8 gost_frame_mix_key[GOST_KEY_SIZE] = {
	0x5c, 0x1e, 0x0a, 0x73, 0xb2, 0x9f, 0x4d, 0x86,
	0xe1, 0x3a, 0x7c, 0x05, 0xf8, 0xd2, 0x94, 0x6b,
	0x0e, 0x7a, 0xb3, 0xc5, 0x19, 0x6d, 0x28, 0xf4,
	0xa0, 0xc3, 0xe7, 0xb1, 0x5d, 0x9f, 0x6a, 0x82,
};

static inline u32 gost_rol32(u32 v, unsigned int n)
{
	return v << n | v >> (32 - n);
}

static void load_key(u32 k[8], const u8 key[GOST_KEY_SIZE])
{
	unsigned int i;

	for (i = 0; i < 8; i++)
		k[i] = gost_get_le32(key + 4 * i);
}

void gost_build_tables(struct gost_tables *t, const u8 sbox[GOST_SBOX_SIZE])
{
	unsigned int c, x;

	for (c = 0; c < 4; c++)
		for (x = 0; x < 256; x++) {
			u32 v = (sbox[4 * (x & 15) + c] & 0x0F) +
				(sbox[4 * (x >> 4) + c] & 0xF0);
			t->t[c][x] = gost_rol32(v << (8 * c), 11);
		}
}

#define F(x) (t->t[0][(x) & 255] ^ t->t[1][((x) >> 8) & 255] ^ \
	      t->t[2][((x) >> 16) & 255] ^ t->t[3][(x) >> 24])

/* Two rounds on the words (a, b) with round keys x then y. */
#define ROUND2(a, b, x, y)		\
	do {				\
		b ^= F(a + (x));	\
		a ^= F(b + (y));	\
	} while (0)

#define UP8(a, b, k)				\
	do {					\
		ROUND2(a, b, k[0], k[1]);	\
		ROUND2(a, b, k[2], k[3]);	\
		ROUND2(a, b, k[4], k[5]);	\
		ROUND2(a, b, k[6], k[7]);	\
	} while (0)

#define DOWN8(a, b, k)				\
	do {					\
		ROUND2(a, b, k[7], k[6]);	\
		ROUND2(a, b, k[5], k[4]);	\
		ROUND2(a, b, k[3], k[2]);	\
		ROUND2(a, b, k[1], k[0]);	\
	} while (0)

/*
 * The 32 rounds on (n1, n2): K0..K7, sixteen more with K0..K7 (E) or K7..K0
 * (D), then K7..K0; the result comes back exchanged as the standard wants.
 * Always inlined, so each caller gets one straight run of rounds.
 */
static inline __attribute__((always_inline)) void
rounds32(const u32 *k, const struct gost_tables *t, u32 *n1, u32 *n2, bool decrypt)
{
	u32 a = *n1, b = *n2;

	UP8(a, b, k);
	if (decrypt) {
		DOWN8(a, b, k);
		DOWN8(a, b, k);
	} else {
		UP8(a, b, k);
		UP8(a, b, k);
	}
	DOWN8(a, b, k);
	*n1 = b;
	*n2 = a;
}

static inline void encrypt_words(const u32 *k, const struct gost_tables *t,
				 u32 *n1, u32 *n2)
{
	rounds32(k, t, n1, n2, false);
}

static inline void decrypt_words(const u32 *k, const struct gost_tables *t,
				 u32 *n1, u32 *n2)
{
	rounds32(k, t, n1, n2, true);
}

/* M16 of the imito-insert: K0..K7 twice, written back without exchange. */
static inline void mac_words(const u32 *k, const struct gost_tables *t,
			     u32 *n1, u32 *n2)
{
	u32 a = *n1, b = *n2;

	UP8(a, b, k);
	UP8(a, b, k);
	*n1 = a;
	*n2 = b;
}

void gost_encrypt_block(const u32 key[8], const struct gost_tables *t, u8 block[8])
{
	u32 n1 = gost_get_le32(block), n2 = gost_get_le32(block + 4);

	encrypt_words(key, t, &n1, &n2);
	gost_put_le32(block, n1);
	gost_put_le32(block + 4, n2);
}

void gost_decrypt_block(const u32 key[8], const struct gost_tables *t, u8 block[8])
{
	u32 n1 = gost_get_le32(block), n2 = gost_get_le32(block + 4);

	decrypt_words(key, t, &n1, &n2);
	gost_put_le32(block, n1);
	gost_put_le32(block + 4, n2);
}

/*
 * CFB over len bytes: bytewise up to a block boundary, then whole blocks
 * with the register in two words, then bytewise again.
 */
static void cfb(const u8 *in, u8 *out, size_t len, const u32 key[8], u8 reg[8],
		const struct gost_tables *t, unsigned int *pos, bool decrypt)
{
	unsigned int p = *pos & 7;

	for (; len && p; len--, p = (p + 1) & 7) {
		u8 x = *in++;
		u8 y = x ^ reg[p];

		*out++ = y;
		reg[p] = decrypt ? x : y;
	}
	if (len >= GOST_BLOCK_SIZE) {
		u32 r1 = gost_get_le32(reg), r2 = gost_get_le32(reg + 4);

		for (; len >= GOST_BLOCK_SIZE; len -= GOST_BLOCK_SIZE) {
			u32 x1 = gost_get_le32(in), x2 = gost_get_le32(in + 4);

			encrypt_words(key, t, &r1, &r2);
			r1 ^= x1;
			r2 ^= x2;
			gost_put_le32(out, r1);
			gost_put_le32(out + 4, r2);
			if (decrypt) {
				r1 = x1;
				r2 = x2;
			}
			in += GOST_BLOCK_SIZE;
			out += GOST_BLOCK_SIZE;
		}
		gost_put_le32(reg, r1);
		gost_put_le32(reg + 4, r2);
	}
	for (; len; len--, p = (p + 1) & 7) {
		u8 x, y;

		if (!p)
			gost_encrypt_block(key, t, reg);
		x = *in++;
		y = x ^ reg[p];
		*out++ = y;
		reg[p] = decrypt ? x : y;
	}
	*pos = p;
}

void velmora_gost_encrypt(const u8 *in, u8 *out, size_t len, const u32 key[8],
			  u8 reg[8], const struct gost_tables *t, unsigned int *pos)
{
	cfb(in, out, len, key, reg, t, pos, false);
}

void velmora_gost_decrypt(const u8 *in, u8 *out, size_t len, const u32 key[8],
			  u8 reg[8], const struct gost_tables *t, unsigned int *pos)
{
	cfb(in, out, len, key, reg, t, pos, true);
}

void velmora_gost_fapsi_masked_encrypt(const u8 *in, u8 *out, size_t len,
				       const u32 masked[8], const u32 mask[8],
				       u8 reg[8], const struct gost_tables *t,
				       unsigned int *pos)
{
	u32 key[8];
	unsigned int i;

	for (i = 0; i < 8; i++)
		key[i] = masked[i] - mask[i];
	cfb(in, out, len, key, reg, t, pos, false);
	memzero_explicit(key, sizeof(key));
}

void ImitCalcStart(unsigned int *pos, u8 s[8])
{
	memset(s, 0, 8);
	*pos = 16;
}

static void mac_reg(const u32 key[8], const struct gost_tables *t, u8 s[8])
{
	u32 n1 = gost_get_le32(s), n2 = gost_get_le32(s + 4);

	mac_words(key, t, &n1, &n2);
	gost_put_le32(s, n1);
	gost_put_le32(s + 4, n2);
}

void ImitCalc(const u8 *data, size_t len, const u32 key[8], u8 s[8],
	      const struct gost_tables *t, unsigned int *pos)
{
	unsigned int q = *pos;

	for (; len && q != 8 && q != 16; len--) {
		s[q & 7] ^= *data++;
		q = (q & 7) + 1;
	}
	if (len >= GOST_BLOCK_SIZE) {
		u32 s1 = gost_get_le32(s), s2 = gost_get_le32(s + 4);

		for (; len >= GOST_BLOCK_SIZE; len -= GOST_BLOCK_SIZE) {
			if (q == 8)
				mac_words(key, t, &s1, &s2);
			s1 ^= gost_get_le32(data);
			s2 ^= gost_get_le32(data + 4);
			data += GOST_BLOCK_SIZE;
			q = 8;
		}
		gost_put_le32(s, s1);
		gost_put_le32(s + 4, s2);
	}
	for (; len; len--) {
		if (q == 8)
			mac_reg(key, t, s);
		q &= 7;
		s[q++] ^= *data++;
	}
	*pos = q;
}

void ImitCalcEnd(const u32 key[8], u8 s[8], const struct gost_tables *t)
{
	mac_reg(key, t, s);
}

void velmora_gost_imit(const u8 *data, size_t len, const u32 key[8],
		       const struct gost_tables *t, u8 s[8])
{
	unsigned int q = 16;

	ImitCalc(data, len, key, s, t, &q);
	ImitCalcEnd(key, s, t);
}

/*
 * The frame path.  Whole blocks run the CFB chain and the MAC chain in one
 * loop body; the last partial block and the trailer go through a padded
 * block of MAC input, so no byte loop is needed.
 */

/* The MAC blocks that follow the whole data blocks: tail, trailer, zeros. */
static unsigned int mac_tail(u8 last[16], const u8 *tail, size_t k,
			     const u8 trailer[8])
{
	memset(last, 0, 16);
	if (k)
		memcpy(last, tail, k);
	memcpy(last + k, trailer, 8);
	return k ? 2 : 1;
}

static void mac_finish(const u32 key[8], const struct gost_tables *t,
		       u32 s1, u32 s2, const u8 *last, unsigned int blocks,
		       u8 mac[8])
{
	unsigned int i;

	for (i = 0; i < blocks; i++) {
		s1 ^= gost_get_le32(last + 8 * i);
		s2 ^= gost_get_le32(last + 8 * i + 4);
		mac_words(key, t, &s1, &s2);
	}
	gost_put_le32(mac, s1);
	gost_put_le32(mac + 4, s2);
}

/*
 * One MAC step (16 rounds on (m1, m2)) beside the first 16 of the 32
 * encryption rounds on (e1, e2); the second half of E runs alone.
 */
#define INTERLEAVED(e1, e2, m1, m2)					\
	do {								\
		int half;						\
		for (half = 0; half < 2; half++) {			\
			m2 ^= F(m1 + k[0]); e2 ^= F(e1 + k[0]);		\
			m1 ^= F(m2 + k[1]); e1 ^= F(e2 + k[1]);		\
			m2 ^= F(m1 + k[2]); e2 ^= F(e1 + k[2]);		\
			m1 ^= F(m2 + k[3]); e1 ^= F(e2 + k[3]);		\
			m2 ^= F(m1 + k[4]); e2 ^= F(e1 + k[4]);		\
			m1 ^= F(m2 + k[5]); e1 ^= F(e2 + k[5]);		\
			m2 ^= F(m1 + k[6]); e2 ^= F(e1 + k[6]);		\
			m1 ^= F(m2 + k[7]); e1 ^= F(e2 + k[7]);		\
		}							\
		UP8(e1, e2, k);						\
		DOWN8(e1, e2, k);					\
		{ u32 x = e1; e1 = e2; e2 = x; }			\
	} while (0)

void gost_encrypt_imit(u8 *data, size_t len, const u8 trailer[8],
		       const u32 key[8], const u8 iv[8], const struct gost_tables *t,
		       u8 mac[8])
{
	const u32 *k = key;
	u32 r1 = gost_get_le32(iv), r2 = gost_get_le32(iv + 4);
	u32 s1 = 0, s2 = 0;
	size_t k_tail = len % GOST_BLOCK_SIZE;
	u8 last[16];
	unsigned int blocks;

	for (; len >= GOST_BLOCK_SIZE; len -= GOST_BLOCK_SIZE, data += GOST_BLOCK_SIZE) {
		u32 x1 = gost_get_le32(data), x2 = gost_get_le32(data + 4);

		s1 ^= x1;
		s2 ^= x2;
		INTERLEAVED(r1, r2, s1, s2);
		r1 ^= x1;
		r2 ^= x2;
		gost_put_le32(data, r1);
		gost_put_le32(data + 4, r2);
	}
	blocks = mac_tail(last, data, k_tail, trailer);
	if (k_tail) {
		u8 gamma[8];
		size_t i;

		encrypt_words(key, t, &r1, &r2);
		gost_put_le32(gamma, r1);
		gost_put_le32(gamma + 4, r2);
		for (i = 0; i < k_tail; i++)
			data[i] ^= gamma[i];
		memzero_explicit(gamma, sizeof(gamma));
	}
	mac_finish(key, t, s1, s2, last, blocks, mac);
	memzero_explicit(last, sizeof(last));
}

/*
 * Sixteen rounds on three chains at once: a MAC step on (m1, m2) and half
 * of E on each of (x1, x2) and (y1, y2); keys run K0..K7 twice for the MAC
 * and for the first half of E (FIRST), then K0..K7, K7..K0 for the second.
 */
#define ROUND_X3(mk, ek)						\
	do {								\
		m2 ^= F(m1 + k[mk]);					\
		x2 ^= F(x1 + k[ek]);					\
		y2 ^= F(y1 + k[ek]);					\
	} while (0)
#define ROUND_X3B(mk, ek)						\
	do {								\
		m1 ^= F(m2 + k[mk]);					\
		x1 ^= F(x2 + k[ek]);					\
		y1 ^= F(y2 + k[ek]);					\
	} while (0)
#define HALF_X3(e0, e1, e2, e3, e4, e5, e6, e7)				\
	do {								\
		ROUND_X3(0, e0); ROUND_X3B(1, e1);			\
		ROUND_X3(2, e2); ROUND_X3B(3, e3);			\
		ROUND_X3(4, e4); ROUND_X3B(5, e5);			\
		ROUND_X3(6, e6); ROUND_X3B(7, e7);			\
	} while (0)
#define FIRST_X3()							\
	do {								\
		HALF_X3(0, 1, 2, 3, 4, 5, 6, 7);			\
		HALF_X3(0, 1, 2, 3, 4, 5, 6, 7);			\
	} while (0)
#define SECOND_X3()							\
	do {								\
		HALF_X3(0, 1, 2, 3, 4, 5, 6, 7);			\
		HALF_X3(7, 6, 5, 4, 3, 2, 1, 0);			\
		{ u32 e = x1; x1 = x2; x2 = e; }			\
		{ u32 e = y1; y1 = y2; y2 = e; }			\
	} while (0)

/*
 * Decryption's register for block i + 1 is cipher block i, known up front,
 * so the gammas of two blocks are computed together beside the MAC of the
 * two blocks before them: the MAC chain alone sets the pace.
 */
void gost_decrypt_imit(u8 *data, size_t len, const u8 trailer[8],
		       const u32 key[8], const u8 iv[8], const struct gost_tables *t,
		       u8 mac[8])
{
	const u32 *k = key;
	const size_t blocks = len / GOST_BLOCK_SIZE, k_tail = len % GOST_BLOCK_SIZE;
	u32 g1, g2, h1, h2;	/* gammas of blocks i and i + 1 */
	u32 s1 = 0, s2 = 0;
	u8 last[16];
	unsigned int tail_blocks;
	size_t i;

	g1 = gost_get_le32(iv);
	g2 = gost_get_le32(iv + 4);
	h1 = blocks ? gost_get_le32(data) : 0;
	h2 = blocks ? gost_get_le32(data + 4) : 0;
	encrypt_words(key, t, &g1, &g2);
	encrypt_words(key, t, &h1, &h2);

	for (i = 0; i + 1 < blocks; i += 2) {
		u8 *p = data + GOST_BLOCK_SIZE * i;
		u32 c1 = gost_get_le32(p), c2 = gost_get_le32(p + 4);
		u32 d1 = gost_get_le32(p + 8), d2 = gost_get_le32(p + 12);
		u32 m1 = s1 ^ c1 ^ g1, m2 = s2 ^ c2 ^ g2;
		u32 x1 = d1, x2 = d2;		/* register of block i + 2 */
		u32 y1 = 0, y2 = 0;		/* register of block i + 3 */

		gost_put_le32(p, c1 ^ g1);
		gost_put_le32(p + 4, c2 ^ g2);
		gost_put_le32(p + 8, d1 ^ h1);
		gost_put_le32(p + 12, d2 ^ h2);
		if (i + 2 < blocks) {
			y1 = gost_get_le32(p + 16);
			y2 = gost_get_le32(p + 20);
		}
		FIRST_X3();
		m1 ^= d1 ^ h1;
		m2 ^= d2 ^ h2;
		SECOND_X3();
		s1 = m1;
		s2 = m2;
		g1 = x1;
		g2 = x2;
		h1 = y1;
		h2 = y2;
	}
	if (i < blocks) {	/* one whole block left; h is the tail's gamma */
		u8 *p = data + GOST_BLOCK_SIZE * i;
		u32 c1 = gost_get_le32(p), c2 = gost_get_le32(p + 4);

		gost_put_le32(p, c1 ^ g1);
		gost_put_le32(p + 4, c2 ^ g2);
		s1 ^= c1 ^ g1;
		s2 ^= c2 ^ g2;
		mac_words(key, t, &s1, &s2);
		g1 = h1;
		g2 = h2;
		i++;
	}
	data += GOST_BLOCK_SIZE * i;
	if (k_tail) {
		u8 gamma[8];
		size_t j;

		gost_put_le32(gamma, g1);
		gost_put_le32(gamma + 4, g2);
		for (j = 0; j < k_tail; j++)
			data[j] ^= gamma[j];
		memzero_explicit(gamma, sizeof(gamma));
	}
	tail_blocks = mac_tail(last, data, k_tail, trailer);
	mac_finish(key, t, s1, s2, last, tail_blocks, mac);
	memzero_explicit(last, sizeof(last));
}

u64 hton64(u64 v)
{
	return __builtin_bswap64(v);
}

static bool groups_distinct(const u8 buf[512])
{
	unsigned int g, i, j;

	for (g = 0; g < 16; g++)
		for (i = 0; i < 16; i++)
			for (j = i + 1; j < 16; j++)
				if (buf[32 * g + 2 * i] == buf[32 * g + 2 * j] &&
				    buf[32 * g + 2 * i + 1] == buf[32 * g + 2 * j + 1])
					return false;
	return true;
}

/* Value v of group g, 16 bits, low byte first in the buffer. */
static inline u32 group_value(const u8 buf[512], unsigned int g, unsigned int v)
{
	return buf[32 * g + 2 * v] | (u32)buf[32 * g + 2 * v + 1] << 8;
}

/* An S-box with one of its eight substitutions constant maps everything alike. */
static bool sbox_degenerate(const u8 sbox[GOST_SBOX_SIZE])
{
	unsigned int k, i;

	for (k = 0; k < 8; k++) {
		unsigned int shift = 4 * (k & 1), c = k / 2;
		u8 first = (sbox[c] >> shift) & 15;
		bool constant = true;

		for (i = 1; i < 16 && constant; i++)
			constant = ((sbox[4 * i + c] >> shift) & 15) == first;
		if (constant)
			return true;
	}
	return false;
}

/*
 * Each pass re-encrypts the buffer in CFB from the IV, so its first block is
 * E(IV) on odd passes and zero on even ones: when E(IV) holds one 16-bit
 * value twice, group 0 repeats a value on every pass and no pass can end the
 * search.  Any other IV ends it within a few passes all but certainly; the
 * bound only keeps a pathological one from holding the caller for ever.
 */
static bool iv_stalls(const struct gost_ctx *ctx, const u8 iv[8])
{
	u8 block[8];
	unsigned int i, j;
	bool stalls = false;

	memcpy(block, iv, sizeof(block));
	gost_encrypt_block(ctx->key, &ctx->t, block);
	for (i = 0; i < 4; i++)
		for (j = i + 1; j < 4; j++)
			if (block[2 * i] == block[2 * j] && block[2 * i + 1] == block[2 * j + 1])
				stalls = true;
	memzero_explicit(block, sizeof(block));
	return stalls;
}

int InitEncryptKey(struct gost_ctx *ctx, const u8 key[GOST_KEY_SIZE],
		   const u8 key_mask[GOST_KEY_SIZE], const u8 iv[8],
		   const u8 sbox[GOST_SBOX_SIZE])
{
	u8 buf[512];
	u8 reg[8];
	unsigned int i, x, p, pass;
	bool found = false;

	if (sbox_degenerate(sbox))
		return -EINVAL;
	gost_build_tables(&ctx->t, sbox);
	load_key(ctx->key, key);
	load_key(ctx->key_mask, key_mask);
	memcpy(ctx->iv, iv, sizeof(ctx->iv));
	if (iv_stalls(ctx, iv))
		return -EINVAL;

	memset(buf, 0, sizeof(buf));
	for (pass = 0; pass < GOST_KEY_MAX_PASSES && !found; pass++) {
		memcpy(reg, iv, sizeof(reg));
		p = 0;
		velmora_gost_encrypt(buf, buf, sizeof(buf), ctx->key, reg, &ctx->t, &p);
		found = groups_distinct(buf);
	}
	memzero_explicit(reg, sizeof(reg));
	if (!found) {
		memzero_explicit(buf, sizeof(buf));
		return -EINVAL;
	}

	/* W_i[x]: G_2i[x >> 4] then G_2i+1[x & 15], each high byte first. */
	for (i = 0; i < 8; i++)
		for (x = 0; x < 256; x++) {
			u32 hi = group_value(buf, 2 * i, x >> 4);
			u32 lo = group_value(buf, 2 * i + 1, x & 15);

			ctx->w[i][x] = hi >> 8 | (hi & 255) << 8 |
				       (lo >> 8) << 16 | (lo & 255) << 24;
		}
	memzero_explicit(buf, sizeof(buf));
	return 0;
}

/* Two rounds on four independent blocks, so their lookups overlap. */
#define ROUND2_X4(x, y)						\
	do {							\
		b0 ^= F(a0 + (x)); b1 ^= F(a1 + (x));		\
		b2 ^= F(a2 + (x)); b3 ^= F(a3 + (x));		\
		a0 ^= F(b0 + (y)); a1 ^= F(b1 + (y));		\
		a2 ^= F(b2 + (y)); a3 ^= F(b3 + (y));		\
	} while (0)

#define UP8_X4(k)							\
	do {								\
		ROUND2_X4(k[0], k[1]); ROUND2_X4(k[2], k[3]);		\
		ROUND2_X4(k[4], k[5]); ROUND2_X4(k[6], k[7]);		\
	} while (0)

#define DOWN8_X4(k)							\
	do {								\
		ROUND2_X4(k[7], k[6]); ROUND2_X4(k[5], k[4]);		\
		ROUND2_X4(k[3], k[2]); ROUND2_X4(k[1], k[0]);		\
	} while (0)

/* D on the four blocks of a 256-bit value (word pairs 0-1, 2-3, 4-5, 6-7). */
static void decrypt_words_x4(const u32 *k, const struct gost_tables *t, u32 v[8])
{
	u32 a0 = v[0], b0 = v[1], a1 = v[2], b1 = v[3];
	u32 a2 = v[4], b2 = v[5], a3 = v[6], b3 = v[7];

	UP8_X4(k);
	DOWN8_X4(k);
	DOWN8_X4(k);
	DOWN8_X4(k);
	v[0] = b0; v[1] = a0; v[2] = b1; v[3] = a1;
	v[4] = b2; v[5] = a2; v[6] = b3; v[7] = a3;
}

void gost_frame_key(const struct gost_ctx *ctx, u64 counter, u32 out[8])
{
	u32 mix[8];
	u32 x1, x2;
	unsigned int i;
	u8 x[8];

	/* X: the counter most significant byte first, encrypted under the mix key. */
	for (i = 0; i < 8; i++)
		x[i] = (u8)(counter >> (56 - 8 * i));
	load_key(mix, gost_frame_mix_key);
	x1 = gost_get_le32(x);
	x2 = gost_get_le32(x + 4);
	encrypt_words(mix, &ctx->t, &x1, &x2);
	gost_put_le32(x, x1);
	gost_put_le32(x + 4, x2);

	for (i = 0; i < 8; i++)
		out[i] = ctx->w[i][x[i]];
	decrypt_words_x4(ctx->key, &ctx->t, out);
	memzero_explicit(x, sizeof(x));
}

void GenKey(const struct gost_ctx *ctx, u32 out[8])
{
	gost_frame_key(ctx, ctx->counter, out);
}
