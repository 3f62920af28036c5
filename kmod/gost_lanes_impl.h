/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Inside the frame lanes: how a batch is laid out for the kernels.
 *
 * A frame of len bytes is a run of steps.  Step i takes input block i: the
 * data's whole blocks, then its stage (the partial last block, the trailer
 * and zeros).  In that stream the MAC input is data || trailer padded with
 * zeros, mac_blocks = cfb_blocks + 1 blocks, and each step runs one MAC
 * block beside one CFB block, so a lane needs no special end.
 * Encryption's MAC input at step i is the input block itself; decryption
 * learns the plain block only after its step, so its MAC runs one step
 * behind (one step more in all).
 */
#ifndef PARVEX_GOST_LANES_IMPL_H
#define PARVEX_GOST_LANES_IMPL_H

#include "kmod/gost_lanes.h"

/* The vector kernel is built for 64-bit x86 only. */
#ifdef __x86_64__
#define GOST_LANES_HAVE_AVX512
#endif

/* One frame's lane. */
struct gost_lane {
	const struct gost_ctx *ctx;
	u64 counter;
	u8 *data;
	u8 *mac;		/* null in an idle lane */
	u32 len;
	u32 nfull;		/* whole data blocks */
	u32 cfb_blocks;		/* data blocks, the last maybe partial */
	u32 mac_blocks;		/* blocks of data || trailer, zero-padded */
	u8 stage[16];		/* data after the whole blocks, trailer, zeros */
};

/* Frames of one S-box, longest first; lanes past n are idle. */
struct gost_lanes_group {
	unsigned int n;
	bool decrypt;
	const struct gost_tables *t;
	u8 nib[128];		/* S-box nibble tables, see gost_lanes_nibbles */
	struct gost_lane lane[GOST_LANES_MAX];
};

/* A kernel's state between calls. */
#define GOST_LANES_WORK_SIZE 1536
struct gost_lanes_work {
	u8 bytes[GOST_LANES_WORK_SIZE];
} __attribute__((aligned(64)));

static const u8 gost_lanes_zero[8];

/* Steps a lane needs. */
static inline u32 gost_lane_steps(const struct gost_lane *l, bool decrypt)
{
	return l->mac_blocks + decrypt;
}

/* Input block i of a lane: data, stage, then zeros for a finished lane. */
static inline const u8 *gost_lane_src(const struct gost_lane *l, u32 i)
{
	if (i < l->nfull)
		return l->data + 8 * i;
	if (i < l->mac_blocks)
		return l->stage + 8 * (i - l->nfull);
	return gost_lanes_zero;
}

/* Output block i of the CFB: whole, or the bytes of the partial last one. */
static inline void gost_lane_put(const struct gost_lane *l, u32 i, const u8 out[8])
{
	if (i < l->nfull)
		memcpy(l->data + 8 * i, out, 8);
	else if (i < l->cfb_blocks)
		memcpy(l->data + 8 * i, out, l->len - 8 * i);
}

/*
 * Bytes of block i that decryption turns into plain data, as a mask of the
 * block's words: after them come trailer and padding, which the MAC takes
 * as they stand.
 */
static inline u32 gost_lanes_plain_mask(u32 len, u32 i, unsigned int word)
{
	s64 rem = (s64)len - 8 * (s64)i - 4 * word;

	if (rem >= 4)
		return 0xffffffffu;
	if (rem <= 0)
		return 0;
	return (1u << (8 * rem)) - 1;
}

/* Frame-key input: the counter's bytes, most significant first, as two words. */
static inline void gost_lanes_counter_words(u64 counter, u32 *n1, u32 *n2)
{
	*n1 = __builtin_bswap32((u32)(counter >> 32));
	*n2 = __builtin_bswap32((u32)counter);
}

/*
 * Round keys in order: P(args, x, y) runs two rounds with keys x then y;
 * UP gives K0..K7, DOWN K7..K0.
 */
#define GOST_LANES_UP(P, ...)						\
	do {								\
		P(__VA_ARGS__ 0, 1); P(__VA_ARGS__ 2, 3);		\
		P(__VA_ARGS__ 4, 5); P(__VA_ARGS__ 6, 7);		\
	} while (0)
#define GOST_LANES_DOWN(P, ...)						\
	do {								\
		P(__VA_ARGS__ 7, 6); P(__VA_ARGS__ 5, 4);		\
		P(__VA_ARGS__ 3, 2); P(__VA_ARGS__ 1, 0);		\
	} while (0)

/*
 * The four-lane kernel on lanes first..first + 3 of the group (those past
 * its n idle); work is its scratch.
 */
void gost_lanes_scalar4(struct gost_lanes_group *g, unsigned int first,
			struct gost_lanes_work *work);

/*
 * The AVX-512 kernel: steps [from, to) of the whole group, its state kept in
 * work between calls (from 0 starts the group); the caller brackets each
 * call with parvex_simd_begin/end.
 */
void gost_lanes_avx512(struct gost_lanes_group *g, u32 from, u32 to, struct gost_lanes_work *work);

#endif /* PARVEX_GOST_LANES_IMPL_H */
