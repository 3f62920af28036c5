// SPDX-License-Identifier: GPL-2.0
/*
 * Up to sixteen frames in AVX-512 registers (VBMI): word k of all sixteen
 * lanes in one 512-bit register, so a step runs two chains, the CFB's and
 * the MAC's.  The S-box is two 4-bit lookups per byte, each one vpermb into
 * a 64-byte table held in a register (the byte's position picks its row),
 * and the rotation one vprold per round.  vpermb takes a whole table of 64
 * entries in one micro-op, where the two-table vpermi2b on 256-bit
 * registers takes two: with 512-bit operands only two ports run vector
 * work, so micro-ops per round are what limit the pace.
 * Built for 64-bit x86 only, with the AVX-512 flags for this file alone.
 */
#include "kmod/gost_lanes_impl.h"

/* sparse cannot read the compiler's intrinsic headers: it checks the rest. */
#ifndef __CHECKER__

/* The compiler's intrinsics, without its allocation helpers (they need libc). */
#define _MM_MALLOC_H_INCLUDED
#include <immintrin.h>

#define AVX_INLINE static inline __attribute__((always_inline))

/* The chains between steps. */
struct avx_state {
	__m512i r1, r2;		/* CFB register */
	__m512i s1, s2;		/* MAC state */
	__m512i q1, q2;		/* MAC input not yet taken (decryption) */
	__m512i len, mac_blocks;
};

struct avx_work {
	__m512i key[8];		/* frame keys: word j of every lane */
	struct avx_state st;
	u32 words[8][GOST_LANES_MAX];	/* transposing room for key setup */
};

static_assert(sizeof(struct avx_work) <= sizeof(struct gost_lanes_work), "work area");
static_assert(GOST_LANES_MAX == 16, "one 512-bit register holds a word of every lane");

struct avx_tables {
	__m512i lo, hi;			/* nibble tables, see sbox_nibbles */
	__m512i nibble, row;		/* 0x0f in each byte; 16 * byte position */
};

/*
 * One round on sixteen words: b ^= rol11(S(a + k)).  Each word is also kept
 * rotated back by 11 (br): the two nibble lookups join it in one vpternlogd,
 * and one vprold gives the word itself, a micro-op fewer than rotating each
 * lookup.
 */
AVX_INLINE void round16(__m512i *br, __m512i *b, __m512i a, __m512i k,
			const struct avx_tables *tb)
{
	__m512i x = _mm512_add_epi32(a, k);
	__m512i hi = _mm512_srli_epi32(x, 4);
	/* (x & nibble) | row in one vpternlogd */
	__m512i lo = _mm512_ternarylogic_epi32(x, tb->nibble, tb->row, 0xea);

	hi = _mm512_ternarylogic_epi32(hi, tb->nibble, tb->row, 0xea);
	lo = _mm512_permutexvar_epi8(lo, tb->lo);
	hi = _mm512_permutexvar_epi8(hi, tb->hi);
	*br = _mm512_ternarylogic_epi32(*br, lo, hi, 0x96);
	*b = _mm512_rol_epi32(*br, 11);
}

/* A chain's words rotated back, as round16 keeps them. */
#define VROT(c)								\
	do {								\
		c##1r = _mm512_ror_epi32(c##1, 11);			\
		c##2r = _mm512_ror_epi32(c##2, 11);			\
	} while (0)

/* Word d of chain c ^= S(word s + key) rotated. */
#define VR(c, d, s, k) round16(&c##d##r, &c##d, c##s, k, tb)

/* Two rounds on one chain with key array k. */
#define VP(c, k, x, y) do { VR(c, 2, 1, (k)[x]); VR(c, 1, 2, (k)[y]); } while (0)

/*
 * A step's rounds: E's 32 on the CFB chain, the MAC's 16 spread one per two
 * of E's, so every stretch of rounds has both chains to overlap.  SE(x, y,
 * z, d, s): E rounds with keys x and y, MAC round key z feeding word s into
 * d.
 */
#define SE(x, y, z, d, s)						\
	do {								\
		VR(e, 2, 1, k[x]);					\
		VR(m, d, s, k[z]);					\
		VR(e, 1, 2, k[y]);					\
	} while (0)
#define STEP_ROUNDS()							\
	do {								\
		SE(0, 1, 0, 2, 1); SE(2, 3, 1, 1, 2);			\
		SE(4, 5, 2, 2, 1); SE(6, 7, 3, 1, 2);			\
		SE(0, 1, 4, 2, 1); SE(2, 3, 5, 1, 2);			\
		SE(4, 5, 6, 2, 1); SE(6, 7, 7, 1, 2);			\
		SE(0, 1, 0, 2, 1); SE(2, 3, 1, 1, 2);			\
		SE(4, 5, 2, 2, 1); SE(6, 7, 3, 1, 2);			\
		SE(7, 6, 4, 2, 1); SE(5, 4, 5, 1, 2);			\
		SE(3, 2, 6, 2, 1); SE(1, 0, 7, 1, 2);			\
	} while (0)

#define UP GOST_LANES_UP
#define DOWN GOST_LANES_DOWN

/* E or D of one block per lane, every lane under the key vectors k. */
AVX_INLINE void vcrypt(__m512i *n1, __m512i *n2, const __m512i *k, const struct avx_tables *tb,
		       bool decrypt)
{
	__m512i e1 = *n1, e2 = *n2, e1r, e2r;

	VROT(e);
	UP(VP, e, k,);
	if (decrypt) {
		DOWN(VP, e, k,);
		DOWN(VP, e, k,);
	} else {
		UP(VP, e, k,);
		UP(VP, e, k,);
	}
	DOWN(VP, e, k,);
	*n1 = e2;
	*n2 = e1;
}

/* Blocks (two words each) of sixteen lanes as their first and second words. */
AVX_INLINE void vsplit(const u64 q[16], __m512i *x1, __m512i *x2)
{
	const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14,
					       16, 18, 20, 22, 24, 26, 28, 30);
	const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15,
					      17, 19, 21, 23, 25, 27, 29, 31);
	__m512i a = _mm512_loadu_si512(q), b = _mm512_loadu_si512(q + 8);

	*x1 = _mm512_permutex2var_epi32(a, even, b);
	*x2 = _mm512_permutex2var_epi32(a, odd, b);
}

/* And back: lane l's block to q[l]. */
AVX_INLINE void vjoin(__m512i o1, __m512i o2, u64 q[16])
{
	const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19,
						4, 20, 5, 21, 6, 22, 7, 23);
	const __m512i second = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27,
						 12, 28, 13, 29, 14, 30, 15, 31);

	_mm512_storeu_si512(q, _mm512_permutex2var_epi32(o1, first, o2));
	_mm512_storeu_si512(q + 8, _mm512_permutex2var_epi32(o1, second, o2));
}

/*
 * Input block i of every lane.  The block copies are the compiler's own
 * (the user-space build is freestanding, where memcpy stays a call).
 */
AVX_INLINE void vload(const struct gost_lane *ln, u32 i, __m512i *x1, __m512i *x2)
{
	u64 q[16];
	unsigned int l;

	for (l = 0; l < 16; l++)
		__builtin_memcpy(&q[l], gost_lane_src(&ln[l], i), 8);
	vsplit(q, x1, x2);
}

/*
 * The first n (< 8) bytes of a block, without a call: a call in the steps
 * would have every live vector register saved on the stack around it.
 */
AVX_INLINE void put_tail(u8 *dst, const u8 *src, u32 n)
{
	if (n & 4) {
		__builtin_memcpy(dst, src, 4);
		dst += 4;
		src += 4;
	}
	if (n & 2) {
		__builtin_memcpy(dst, src, 2);
		dst += 2;
		src += 2;
	}
	if (n & 1)
		*dst = *src;
}

/* Output block i of every lane: whole, or the bytes of a partial last one. */
AVX_INLINE void vstore(const struct gost_lane *ln, u32 i, __m512i o1, __m512i o2)
{
	u64 q[16];
	unsigned int l;

	vjoin(o1, o2, q);
	for (l = 0; l < 16; l++) {
		if (likely(i < ln[l].nfull))
			__builtin_memcpy(ln[l].data + 8 * i, &q[l], 8);
		else if (i < ln[l].cfb_blocks)
			put_tail(ln[l].data + 8 * i, (const u8 *)&q[l], ln[l].len - 8 * i);
	}
}

/*
 * Frame keys: the counters under the mix key, the W lookups of each lane's
 * context, then four blocks per lane under the context's key.  Keys pass
 * through the work area (wiped after the batch), not the stack: the mix
 * key where the frame keys go later, the contexts' keys in words.
 */
static void lane_keys(const struct gost_lane *ln, __m512i key[8], u32 words[8][16],
		      const struct avx_tables *tb)
{
	__m512i n1, n2;
	unsigned int l, j;

	for (j = 0; j < 8; j++)
		key[j] = _mm512_set1_epi32((int)gost_get_le32(gost_frame_mix_key + 4 * j));
	for (l = 0; l < 16; l++)
		gost_lanes_counter_words(ln[l].counter, &words[0][l], &words[1][l]);
	n1 = _mm512_loadu_si512(words[0]);
	n2 = _mm512_loadu_si512(words[1]);
	vcrypt(&n1, &n2, key, tb, false);
	_mm512_storeu_si512(words[0], n1);
	_mm512_storeu_si512(words[1], n2);
	for (l = 0; l < 16; l++) {
		const struct gost_ctx *ctx = ln[l].ctx;
		u8 x[8];

		gost_put_le32(x, words[0][l]);
		gost_put_le32(x + 4, words[1][l]);
		for (j = 0; j < 8; j++)
			words[j][l] = ctx->w[j][x[j]];
		memzero_explicit(x, sizeof(x));
	}
	for (j = 0; j < 8; j++)
		key[j] = _mm512_loadu_si512(words[j]);
	for (l = 0; l < 16; l++)
		for (j = 0; j < 8; j++)
			words[j][l] = ln[l].ctx->key[j];
	for (j = 0; j < 8; j += 2)
		vcrypt(&key[j], &key[j + 1], (const __m512i *)words, tb, true);
}

static void lanes_start(const struct gost_lane *ln, struct avx_state *st)
{
	u32 v[4][16];
	unsigned int l;

	for (l = 0; l < 16; l++) {
		v[0][l] = gost_get_le32(ln[l].ctx->iv);
		v[1][l] = gost_get_le32(ln[l].ctx->iv + 4);
		v[2][l] = ln[l].len;
		v[3][l] = ln[l].mac_blocks;
	}
	st->r1 = _mm512_loadu_si512(v[0]);
	st->r2 = _mm512_loadu_si512(v[1]);
	st->len = _mm512_loadu_si512(v[2]);
	st->mac_blocks = _mm512_loadu_si512(v[3]);
	st->s1 = st->s2 = st->q1 = st->q2 = _mm512_setzero_si512();
}

/* Plain-data bytes of block i as word masks (zero shifts in past 31). */
AVX_INLINE __m512i plain_mask(__m512i len, u32 i, int word)
{
	__m512i rem = _mm512_sub_epi32(len, _mm512_set1_epi32((int)(8 * i + 4 * word)));

	rem = _mm512_min_epi32(_mm512_max_epi32(rem, _mm512_setzero_si512()), _mm512_set1_epi32(4));
	return _mm512_srlv_epi32(_mm512_set1_epi32(-1),
				 _mm512_sub_epi32(_mm512_set1_epi32(32), _mm512_slli_epi32(rem, 3)));
}

/*
 * One step of every lane: x holds its input, and on return the next step's,
 * loaded before the rounds so the loads are done long before they are
 * needed (decryption's next CFB input is this one's input).
 */
AVX_INLINE void step(const struct gost_lane *ln, struct avx_state *st, const __m512i *k, u32 i,
		     bool dec, const struct avx_tables *tb, __m512i *x)
{
	__m512i x1 = x[0], x2 = x[1], e1, e2, m1, m2, o1, o2, e1r, e2r, m1r, m2r;
	__mmask16 mac_on;

	vload(ln, i + 1, &x[0], &x[1]);
	if (!dec) {
		st->q1 = x1;
		st->q2 = x2;
	}
	e1 = st->r1;
	e2 = st->r2;
	m1 = _mm512_xor_si512(st->s1, st->q1);
	m2 = _mm512_xor_si512(st->s2, st->q2);
	VROT(e);
	VROT(m);
	STEP_ROUNDS();

	/* E's result comes out with its words swapped. */
	mac_on = _mm512_cmpgt_epu32_mask(st->mac_blocks, _mm512_set1_epi32((int)(i - dec)));
	o1 = _mm512_xor_si512(e2, x1);
	o2 = _mm512_xor_si512(e1, x2);
	st->s1 = _mm512_mask_mov_epi32(st->s1, mac_on, m1);
	st->s2 = _mm512_mask_mov_epi32(st->s2, mac_on, m2);
	vstore(ln, i, o1, o2);
	if (dec) {
		st->q1 = _mm512_xor_si512(x1, _mm512_and_si512(e2, plain_mask(st->len, i, 0)));
		st->q2 = _mm512_xor_si512(x2, _mm512_and_si512(e1, plain_mask(st->len, i, 1)));
		st->r1 = x1;
		st->r2 = x2;
	} else {
		st->r1 = o1;
		st->r2 = o2;
	}
}

AVX_INLINE void run(struct gost_lanes_group *g, u32 from, u32 to, struct avx_work *w, bool dec)
{
	const struct gost_lane *ln = g->lane;
	struct avx_tables tables, *tb = &tables;
	struct avx_state *st = &w->st;
	__m512i x[2];
	u32 i;

	tables.lo = _mm512_loadu_si512(g->nib);
	tables.hi = _mm512_loadu_si512(g->nib + 64);
	tables.nibble = _mm512_set1_epi8(0x0f);
	tables.row = _mm512_set1_epi32(0x30201000);

	if (from == 0) {
		lane_keys(ln, w->key, w->words, tb);
		lanes_start(ln, st);
	}
	if (from < to)
		vload(ln, from, &x[0], &x[1]);
	for (i = from; i < to; i++)
		step(ln, st, w->key, i, dec, tb, x);

	if (to == gost_lane_steps(&ln[0], dec)) {
		u64 q[16];
		unsigned int l;

		vjoin(st->s1, st->s2, q);
		for (l = 0; l < 16; l++)
			if (ln[l].mac)
				memcpy(ln[l].mac, &q[l], 8);
		memzero_explicit(q, sizeof(q));
	}
}

void gost_lanes_avx512(struct gost_lanes_group *g, u32 from, u32 to, struct gost_lanes_work *work)
{
	struct avx_work *w = (struct avx_work *)work;

	/* Two copies, so the direction costs no test inside the steps. */
	if (g->decrypt)
		run(g, from, to, w, true);
	else
		run(g, from, to, w, false);
}

#endif /* __CHECKER__ */
