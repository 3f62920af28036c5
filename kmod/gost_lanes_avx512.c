// SPDX-License-Identifier: GPL-2.0
/*
 * Up to sixteen frames in AVX-512 registers (VBMI and VL, on 256-bit
 * registers): word k of eight lanes in one register, two registers (halves)
 * for sixteen lanes.  The S-box is two 4-bit lookups per byte (vpermi2b
 * into 64-byte tables held in registers, the byte's position picking its
 * row) and the rotation one vprold.  Each step runs four chains (CFB and MAC
 * of both halves) so their latencies overlap; the shorter half stops first.
 * Built for 64-bit x86 only, with the AVX-512 flags for this file alone.
 */
#include "kmod/gost_lanes_impl.h"

/* sparse cannot read the compiler's intrinsic headers: it checks the rest. */
#ifndef __CHECKER__

/* The compiler's intrinsics, without its allocation helpers (they need libc). */
#define _MM_MALLOC_H_INCLUDED
#include <immintrin.h>

#define AVX_INLINE static inline __attribute__((always_inline))

/* One half's chains between steps. */
struct avx_half {
	__m256i r1, r2;		/* CFB register */
	__m256i s1, s2;		/* MAC state */
	__m256i q1, q2;		/* MAC input not yet taken (decryption) */
	__m256i len, mac_blocks;
};

struct avx_work {
	__m256i key[2][8];	/* frame keys: word j of each half's lanes */
	struct avx_half half[2];
	u32 words[2][8][8];	/* transposing room for key setup */
};

static_assert(sizeof(struct avx_work) <= sizeof(struct gost_lanes_work), "work area");

struct avx_tables {
	__m256i lo0, lo1, hi0, hi1;	/* nibble tables, bytes 0-31 and 32-63 */
	__m256i nibble, row;		/* 0x0f in each byte; 16 * byte position */
};

/*
 * One round on eight words: b ^ rol11(S(a + k)).  The two nibble lookups
 * are rotated apart and joined with b in one vpternlogd, one step shorter
 * than joining them first: the rounds' latency sets the pace.
 */
AVX_INLINE __m256i round8(__m256i b, __m256i a, __m256i k, const struct avx_tables *tb)
{
	__m256i x = _mm256_add_epi32(a, k);
	/* (x & nibble) | row in one vpternlogd */
	__m256i lo = _mm256_ternarylogic_epi32(x, tb->nibble, tb->row, 0xea);
	__m256i hi = _mm256_ternarylogic_epi32(_mm256_srli_epi32(x, 4), tb->nibble, tb->row, 0xea);

	lo = _mm256_permutex2var_epi8(tb->lo0, lo, tb->lo1);
	hi = _mm256_permutex2var_epi8(tb->hi0, hi, tb->hi1);
	return _mm256_ternarylogic_epi32(b, _mm256_rol_epi32(lo, 11), _mm256_rol_epi32(hi, 11), 0x96);
}

/* Word d of chain c ^= S(word s + key) rotated. */
#define VR(c, d, s, k) (c##d = round8(c##d, c##s, k, tb))

/* Two rounds on one chain with key array k. */
#define VP(c, k, x, y) do { VR(c, 2, 1, (k)[x]); VR(c, 1, 2, (k)[y]); } while (0)

/*
 * A step's rounds: E's 32 on the CFB chain, the MAC's 16 spread one per two
 * of E's, so every stretch of rounds has the same chains to overlap.  SE(x,
 * y, m, d, s): E rounds with keys x and y, MAC round key m feeding word s
 * into d.
 */
#define SE1(x, y, m, d, s)						\
	do {								\
		VR(ea, 2, 1, ka[x]);					\
		VR(ma, d, s, ka[m]);					\
		VR(ea, 1, 2, ka[y]);					\
	} while (0)
#define SE2(x, y, m, d, s)						\
	do {								\
		VR(ea, 2, 1, ka[x]); VR(eb, 2, 1, kb[x]);		\
		VR(ma, d, s, ka[m]); VR(mb, d, s, kb[m]);		\
		VR(ea, 1, 2, ka[y]); VR(eb, 1, 2, kb[y]);		\
	} while (0)
#define STEP_ROUNDS(S)							\
	do {								\
		S(0, 1, 0, 2, 1); S(2, 3, 1, 1, 2);			\
		S(4, 5, 2, 2, 1); S(6, 7, 3, 1, 2);			\
		S(0, 1, 4, 2, 1); S(2, 3, 5, 1, 2);			\
		S(4, 5, 6, 2, 1); S(6, 7, 7, 1, 2);			\
		S(0, 1, 0, 2, 1); S(2, 3, 1, 1, 2);			\
		S(4, 5, 2, 2, 1); S(6, 7, 3, 1, 2);			\
		S(7, 6, 4, 2, 1); S(5, 4, 5, 1, 2);			\
		S(3, 2, 6, 2, 1); S(1, 0, 7, 1, 2);			\
	} while (0)

#define UP GOST_LANES_UP
#define DOWN GOST_LANES_DOWN

AVX_INLINE void vswap(__m256i *a, __m256i *b)
{
	__m256i x = *a;

	*a = *b;
	*b = x;
}

/* E or D of one block per lane, every lane under the key vectors k. */
AVX_INLINE void vcrypt(__m256i *n1, __m256i *n2, const __m256i *k, const struct avx_tables *tb,
		       bool decrypt)
{
	__m256i e1 = *n1, e2 = *n2;

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

/* Input block i of eight lanes as their first and second words. */
AVX_INLINE void vload(const struct gost_lane *ln, u32 i, __m256i *x1, __m256i *x2)
{
	const __m256i even = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
	const __m256i odd = _mm256_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15);
	u64 q[8];
	__m256i a, b;
	unsigned int l;

	for (l = 0; l < 8; l++)
		memcpy(&q[l], gost_lane_src(&ln[l], i), 8);
	a = _mm256_set_epi64x((long long)q[3], (long long)q[2], (long long)q[1], (long long)q[0]);
	b = _mm256_set_epi64x((long long)q[7], (long long)q[6], (long long)q[5], (long long)q[4]);
	*x1 = _mm256_permutex2var_epi32(a, even, b);
	*x2 = _mm256_permutex2var_epi32(a, odd, b);
}

/* Eight blocks back out of words: lane l's block lands in q[at[l]]. */
static const u8 at[8] = { 0, 1, 4, 5, 2, 3, 6, 7 };

AVX_INLINE void vblocks(__m256i o1, __m256i o2, u64 q[8])
{
	_mm256_storeu_si256((__m256i *)q, _mm256_unpacklo_epi32(o1, o2));
	_mm256_storeu_si256((__m256i *)q + 1, _mm256_unpackhi_epi32(o1, o2));
}

AVX_INLINE void vstore(const struct gost_lane *ln, u32 i, __m256i o1, __m256i o2)
{
	u64 q[8];
	unsigned int l;

	vblocks(o1, o2, q);
	for (l = 0; l < 8; l++)
		gost_lane_put(&ln[l], i, (const u8 *)&q[at[l]]);
}

/*
 * Frame keys of one half: the counters under the mix key, the W lookups of
 * each lane's context, then four blocks per lane under the context's key.
 */
static void half_keys(const struct gost_lane *ln, __m256i key[8], u32 words[8][8],
		      const struct avx_tables *tb)
{
	__m256i mix[8], ck[8], n1, n2;
	unsigned int l, j;

	for (j = 0; j < 8; j++)
		mix[j] = _mm256_set1_epi32((int)gost_get_le32(gost_frame_mix_key + 4 * j));
	for (l = 0; l < 8; l++)
		gost_lanes_counter_words(ln[l].counter, &words[0][l], &words[1][l]);
	n1 = _mm256_loadu_si256((const __m256i *)words[0]);
	n2 = _mm256_loadu_si256((const __m256i *)words[1]);
	vcrypt(&n1, &n2, mix, tb, false);
	_mm256_storeu_si256((__m256i *)words[0], n1);
	_mm256_storeu_si256((__m256i *)words[1], n2);
	for (l = 0; l < 8; l++) {
		const struct gost_ctx *ctx = ln[l].ctx;
		u8 x[8];

		gost_put_le32(x, words[0][l]);
		gost_put_le32(x + 4, words[1][l]);
		for (j = 0; j < 8; j++)
			words[j][l] = ctx->w[j][x[j]];
		memzero_explicit(x, sizeof(x));
	}
	for (j = 0; j < 8; j++)
		key[j] = _mm256_loadu_si256((const __m256i *)words[j]);
	for (l = 0; l < 8; l++)
		for (j = 0; j < 8; j++)
			words[j][l] = ln[l].ctx->key[j];
	for (j = 0; j < 8; j++)
		ck[j] = _mm256_loadu_si256((const __m256i *)words[j]);
	for (j = 0; j < 8; j += 2)
		vcrypt(&key[j], &key[j + 1], ck, tb, true);
}

static void half_start(const struct gost_lane *ln, struct avx_half *h)
{
	u32 v[4][8];
	unsigned int l;

	for (l = 0; l < 8; l++) {
		v[0][l] = gost_get_le32(ln[l].ctx->iv);
		v[1][l] = gost_get_le32(ln[l].ctx->iv + 4);
		v[2][l] = ln[l].len;
		v[3][l] = ln[l].mac_blocks;
	}
	h->r1 = _mm256_loadu_si256((const __m256i *)v[0]);
	h->r2 = _mm256_loadu_si256((const __m256i *)v[1]);
	h->len = _mm256_loadu_si256((const __m256i *)v[2]);
	h->mac_blocks = _mm256_loadu_si256((const __m256i *)v[3]);
	h->s1 = h->s2 = h->q1 = h->q2 = _mm256_setzero_si256();
}

/* Before the rounds: the step's input, and the chains' starting words. */
AVX_INLINE void pre(const struct gost_lane *ln, struct avx_half *h, u32 i, bool dec,
		    __m256i *x1, __m256i *x2, __m256i *e1, __m256i *e2, __m256i *m1, __m256i *m2)
{
	vload(ln, i, x1, x2);
	if (!dec) {
		h->q1 = *x1;
		h->q2 = *x2;
	}
	*e1 = h->r1;
	*e2 = h->r2;
	*m1 = _mm256_xor_si256(h->s1, h->q1);
	*m2 = _mm256_xor_si256(h->s2, h->q2);
}

/* Plain-data bytes of block i as word masks (zero shifts in past 31). */
AVX_INLINE __m256i plain_mask(__m256i len, u32 i, int word)
{
	__m256i rem = _mm256_sub_epi32(len, _mm256_set1_epi32((int)(8 * i + 4 * word)));

	rem = _mm256_min_epi32(_mm256_max_epi32(rem, _mm256_setzero_si256()), _mm256_set1_epi32(4));
	return _mm256_srlv_epi32(_mm256_set1_epi32(-1),
				 _mm256_sub_epi32(_mm256_set1_epi32(32), _mm256_slli_epi32(rem, 3)));
}

/* After the rounds: the MAC kept where it ran, the output, the next register. */
AVX_INLINE void post(const struct gost_lane *ln, struct avx_half *h, u32 i, bool dec,
		     __m256i x1, __m256i x2, __m256i e1, __m256i e2, __m256i m1, __m256i m2)
{
	__mmask8 mac_on = _mm256_cmpgt_epu32_mask(h->mac_blocks, _mm256_set1_epi32((int)(i - dec)));
	__m256i o1 = _mm256_xor_si256(e1, x1), o2 = _mm256_xor_si256(e2, x2);

	h->s1 = _mm256_mask_mov_epi32(h->s1, mac_on, m1);
	h->s2 = _mm256_mask_mov_epi32(h->s2, mac_on, m2);
	vstore(ln, i, o1, o2);
	if (dec) {
		h->q1 = _mm256_xor_si256(x1, _mm256_and_si256(e1, plain_mask(h->len, i, 0)));
		h->q2 = _mm256_xor_si256(x2, _mm256_and_si256(e2, plain_mask(h->len, i, 1)));
		h->r1 = x1;
		h->r2 = x2;
	} else {
		h->r1 = o1;
		h->r2 = o2;
	}
}

/* One step of both halves: four chains. */
AVX_INLINE void step2(const struct gost_lane *ln, struct avx_half *a, struct avx_half *b,
		      const __m256i *ka, const __m256i *kb, u32 i, bool dec,
		      const struct avx_tables *tb)
{
	__m256i xa1, xa2, ea1, ea2, ma1, ma2, xb1, xb2, eb1, eb2, mb1, mb2;

	pre(ln, a, i, dec, &xa1, &xa2, &ea1, &ea2, &ma1, &ma2);
	pre(ln + 8, b, i, dec, &xb1, &xb2, &eb1, &eb2, &mb1, &mb2);
	STEP_ROUNDS(SE2);
	post(ln, a, i, dec, xa1, xa2, ea2, ea1, ma1, ma2);
	post(ln + 8, b, i, dec, xb1, xb2, eb2, eb1, mb1, mb2);
}

/* One step of the first half alone. */
AVX_INLINE void step1(const struct gost_lane *ln, struct avx_half *a, const __m256i *ka, u32 i,
		      bool dec, const struct avx_tables *tb)
{
	__m256i xa1, xa2, ea1, ea2, ma1, ma2;

	pre(ln, a, i, dec, &xa1, &xa2, &ea1, &ea2, &ma1, &ma2);
	STEP_ROUNDS(SE1);
	post(ln, a, i, dec, xa1, xa2, ea2, ea1, ma1, ma2);
}

AVX_INLINE void run(struct gost_lanes_group *g, u32 from, u32 to, struct avx_work *w, bool dec)
{
	const struct gost_lane *ln = g->lane;
	const unsigned int halves = g->n > 8 ? 2 : 1;
	const u32 steps_b = halves > 1 ? gost_lane_steps(&ln[8], dec) : 0;
	struct avx_tables tables, *tb = &tables;
	struct avx_half a = w->half[0], b = w->half[1];
	u32 i;

	tables.lo0 = _mm256_loadu_si256((const __m256i *)g->nib);
	tables.lo1 = _mm256_loadu_si256((const __m256i *)(g->nib + 32));
	tables.hi0 = _mm256_loadu_si256((const __m256i *)(g->nib + 64));
	tables.hi1 = _mm256_loadu_si256((const __m256i *)(g->nib + 96));
	tables.nibble = _mm256_set1_epi8(0x0f);
	tables.row = _mm256_set1_epi32(0x30201000);

	if (from == 0) {
		half_keys(ln, w->key[0], w->words[0], tb);
		half_start(ln, &a);
		if (halves > 1) {
			half_keys(ln + 8, w->key[1], w->words[1], tb);
			half_start(ln + 8, &b);
		}
	}
	for (i = from; i < to && i < steps_b; i++)
		step2(ln, &a, &b, w->key[0], w->key[1], i, dec, tb);
	for (; i < to; i++)
		step1(ln, &a, w->key[0], i, dec, tb);

	if (to == gost_lane_steps(&ln[0], dec)) {
		u64 q[8];
		unsigned int h, l;

		for (h = 0; h < halves; h++) {
			vblocks(h ? b.s1 : a.s1, h ? b.s2 : a.s2, q);
			for (l = 0; l < 8; l++)
				if (ln[8 * h + l].mac)
					memcpy(ln[8 * h + l].mac, &q[at[l]], 8);
		}
		memzero_explicit(q, sizeof(q));
	}
	w->half[0] = a;
	w->half[1] = b;
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
