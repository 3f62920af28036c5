// SPDX-License-Identifier: GPL-2.0
/*
 * Four frames interleaved in plain C: in each step every lane runs its CFB
 * block (32 rounds) and its MAC block (16 rounds), eight independent chains
 * whose table lookups overlap, where one frame alone waits on each round.
 * Runs anywhere: older x86, the 32-bit build, a guest without AVX-512.
 */
#include "kmod/gost_lanes_impl.h"

struct scalar4_work {
	u32 key[4][8];		/* the lanes' frame keys */
};

static_assert(sizeof(struct scalar4_work) <= sizeof(struct gost_lanes_work), "work area");

#define F(x) (t->t[0][(x) & 255] ^ t->t[1][((x) >> 8) & 255] ^ \
	      t->t[2][((x) >> 16) & 255] ^ t->t[3][(x) >> 24])

/* One round on chain c of all four lanes: word d ^= F(word s + key j). */
#define RND4(c, d, s, j)						\
	do {								\
		c##d##_0 ^= F(c##s##_0 + k0[j]);			\
		c##d##_1 ^= F(c##s##_1 + k1[j]);			\
		c##d##_2 ^= F(c##s##_2 + k2[j]);			\
		c##d##_3 ^= F(c##s##_3 + k3[j]);			\
	} while (0)

/* Rounds with keys x then y on one chain, or on the MAC and CFB chains. */
#define PAIR(c, x, y) do { RND4(c, 2, 1, x); RND4(c, 1, 2, y); } while (0)
#define PAIR_ME(x, y)							\
	do {								\
		RND4(m, 2, 1, x); RND4(e, 2, 1, x);			\
		RND4(m, 1, 2, y); RND4(e, 1, 2, y);			\
	} while (0)

#define UP GOST_LANES_UP
#define DOWN GOST_LANES_DOWN

#define SWAP4(c)							\
	do {								\
		u32 x_;							\
		x_ = c##1_0; c##1_0 = c##2_0; c##2_0 = x_;		\
		x_ = c##1_1; c##1_1 = c##2_1; c##2_1 = x_;		\
		x_ = c##1_2; c##1_2 = c##2_2; c##2_2 = x_;		\
		x_ = c##1_3; c##1_3 = c##2_3; c##2_3 = x_;		\
	} while (0)

#define FROM4(c, a1, a2)						\
	do {								\
		c##1_0 = (a1)[0]; c##1_1 = (a1)[1]; c##1_2 = (a1)[2]; c##1_3 = (a1)[3]; \
		c##2_0 = (a2)[0]; c##2_1 = (a2)[1]; c##2_2 = (a2)[2]; c##2_3 = (a2)[3]; \
	} while (0)
#define TO4(c, a1, a2)							\
	do {								\
		(a1)[0] = c##1_0; (a1)[1] = c##1_1; (a1)[2] = c##1_2; (a1)[3] = c##1_3; \
		(a2)[0] = c##2_0; (a2)[1] = c##2_1; (a2)[2] = c##2_2; (a2)[3] = c##2_3; \
	} while (0)

#define CHAIN_VARS(c) u32 c##1_0, c##1_1, c##1_2, c##1_3, c##2_0, c##2_1, c##2_2, c##2_3

/* E (decrypt false) or D on four blocks, each lane its own key. */
static void crypt4(const u32 *k0, const u32 *k1, const u32 *k2, const u32 *k3,
		   const struct gost_tables *t, u32 n1[4], u32 n2[4], bool decrypt)
{
	CHAIN_VARS(e);

	FROM4(e, n1, n2);
	UP(PAIR, e,);
	if (decrypt) {
		DOWN(PAIR, e,);
		DOWN(PAIR, e,);
	} else {
		UP(PAIR, e,);
		UP(PAIR, e,);
	}
	DOWN(PAIR, e,);
	SWAP4(e);
	TO4(e, n1, n2);
}

/*
 * Frame keys of four lanes: the counters under the mix key together, the W
 * lookups, then each lane's four blocks under its context's key together.
 */
static void frame_keys(const struct gost_lane *lane, const struct gost_tables *t,
		       struct scalar4_work *w)
{
	u32 mix[8], c1[4], c2[4], n1[4], n2[4];
	unsigned int l, i;

	for (i = 0; i < 8; i++)
		mix[i] = gost_get_le32(gost_frame_mix_key + 4 * i);
	for (l = 0; l < 4; l++)
		gost_lanes_counter_words(lane[l].counter, &c1[l], &c2[l]);
	crypt4(mix, mix, mix, mix, t, c1, c2, false);
	for (l = 0; l < 4; l++) {
		const struct gost_ctx *ctx = lane[l].ctx;
		const u32 *k = ctx->key;
		u8 x[8];

		gost_put_le32(x, c1[l]);
		gost_put_le32(x + 4, c2[l]);
		/* The eight W words are four blocks under the context's key. */
		for (i = 0; i < 4; i++) {
			n1[i] = ctx->w[2 * i][x[2 * i]];
			n2[i] = ctx->w[2 * i + 1][x[2 * i + 1]];
		}
		crypt4(k, k, k, k, t, n1, n2, true);
		for (i = 0; i < 4; i++) {
			w->key[l][2 * i] = n1[i];
			w->key[l][2 * i + 1] = n2[i];
		}
		memzero_explicit(x, sizeof(x));
	}
	memzero_explicit(c1, sizeof(c1));
	memzero_explicit(c2, sizeof(c2));
	memzero_explicit(n1, sizeof(n1));
	memzero_explicit(n2, sizeof(n2));
}

/*
 * One step of four lanes: the MAC's 16 rounds on m beside the first half of
 * E on e (both K0..K7 twice), then E's second half alone.
 */
static void step4(const struct scalar4_work *w, const struct gost_tables *t,
		  u32 e1[4], u32 e2[4], u32 m1[4], u32 m2[4])
{
	const u32 *k0 = w->key[0], *k1 = w->key[1], *k2 = w->key[2], *k3 = w->key[3];
	CHAIN_VARS(e);
	CHAIN_VARS(m);

	FROM4(e, e1, e2);
	FROM4(m, m1, m2);
	UP(PAIR_ME,);
	UP(PAIR_ME,);
	TO4(m, m1, m2);
	UP(PAIR, e,);
	DOWN(PAIR, e,);
	SWAP4(e);
	TO4(e, e1, e2);
}

void gost_lanes_scalar4(struct gost_lanes_group *g, unsigned int first,
			struct gost_lanes_work *work)
{
	struct scalar4_work *w = (struct scalar4_work *)work;
	const struct gost_lane *lane = &g->lane[first];
	const bool dec = g->decrypt;
	u32 r1[4], r2[4], s1[4] = { 0 }, s2[4] = { 0 }, q1[4] = { 0 }, q2[4] = { 0 };
	u32 steps = gost_lane_steps(&lane[0], dec), i;
	unsigned int l;

	frame_keys(lane, g->t, w);
	for (l = 0; l < 4; l++) {
		r1[l] = gost_get_le32(lane[l].ctx->iv);
		r2[l] = gost_get_le32(lane[l].ctx->iv + 4);
	}
	for (i = 0; i < steps; i++) {
		u32 x1[4], x2[4], e1[4], e2[4], m1[4], m2[4];

		for (l = 0; l < 4; l++) {
			const u8 *p = gost_lane_src(&lane[l], i);

			x1[l] = gost_get_le32(p);
			x2[l] = gost_get_le32(p + 4);
			if (!dec) {
				q1[l] = x1[l];
				q2[l] = x2[l];
			}
			e1[l] = r1[l];
			e2[l] = r2[l];
			m1[l] = s1[l] ^ q1[l];
			m2[l] = s2[l] ^ q2[l];
		}
		step4(w, g->t, e1, e2, m1, m2);
		for (l = 0; l < 4; l++) {
			const struct gost_lane *ln = &lane[l];
			u8 out[8];

			/* Decryption's MAC of block i - 1 ran in this step. */
			if (i - dec < ln->mac_blocks) {
				s1[l] = m1[l];
				s2[l] = m2[l];
			}
			gost_put_le32(out, e1[l] ^ x1[l]);
			gost_put_le32(out + 4, e2[l] ^ x2[l]);
			gost_lane_put(ln, i, out);
			if (dec) {
				q1[l] = x1[l] ^ (e1[l] & gost_lanes_plain_mask(ln->len, i, 0));
				q2[l] = x2[l] ^ (e2[l] & gost_lanes_plain_mask(ln->len, i, 1));
				r1[l] = x1[l];
				r2[l] = x2[l];
			} else {
				r1[l] = e1[l] ^ x1[l];
				r2[l] = e2[l] ^ x2[l];
			}
		}
	}
	for (l = 0; l < 4; l++)
		if (lane[l].mac) {
			gost_put_le32(lane[l].mac, s1[l]);
			gost_put_le32(lane[l].mac + 4, s2[l]);
		}
	memzero_explicit(s1, sizeof(s1));
	memzero_explicit(s2, sizeof(s2));
	memzero_explicit(q1, sizeof(q1));
	memzero_explicit(q2, sizeof(q2));
	memzero_explicit(r1, sizeof(r1));
	memzero_explicit(r2, sizeof(r2));
}
