/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Batches of frames protected together.  A frame's CFB and MAC are serial
 * chains, but frames are independent, so up to GOST_LANES_MAX of them run
 * side by side: frame keys, MACs and CFB for all lanes at once.  Every
 * result is byte-identical to gost_frame_key followed by gost_encrypt_imit
 * or gost_decrypt_imit on each frame alone.
 *
 * The engine picks its kernel once (gost_lanes_init): AVX-512 VBMI+VL where
 * the CPU has them, else a four-lane scalar interleave; a batch of one
 * always takes the single-frame path.  SIMD bracketing and the cap on how
 * long preemption stays off happen inside the calls.
 */
#ifndef PARVEX_GOST_LANES_H
#define PARVEX_GOST_LANES_H

#include "kmod/gost.h"

#ifdef __cplusplus
extern "C" {
#endif

#define GOST_LANES_MAX 16

/* One frame of a batch. */
struct gost_lane_frame {
	const struct gost_ctx *ctx;	/* key material (counter and replay fields unread) */
	u64 counter;			/* the frame's counter: its frame key */
	u8 *data;			/* processed in place */
	u32 len;
	const u8 *trailer;		/* 8 bytes MACed after the plain data */
	u8 mac[8];			/* out: MAC of the plain data and the trailer */
};

/*
 * Working memory of one caller (a worker thread), allocated once by its
 * owner with gost_lanes_scratch_size() bytes, any alignment; never shared by
 * two batches at a time.  Keeps big state off the kernel stack.
 */
struct gost_lanes_scratch;
size_t gost_lanes_scratch_size(void);

/*
 * Chooses the kernel for this CPU and logs the choice once.  Called at load,
 * before any batch; a batch run without it takes the same choice silently.
 */
void gost_lanes_init(void);

/*
 * Protects (encrypt) or opens (decrypt) f[0..n), 1 <= n <= GOST_LANES_MAX,
 * in place, each frame's MAC into its mac.  Any mix of lengths, contexts and
 * S-boxes.  Decrypt leaves the MAC check to the caller.  Any context that
 * may use the FPU; never sleeps.
 */
void gost_lanes_encrypt(struct gost_lane_frame *f, unsigned int n, struct gost_lanes_scratch *s);
void gost_lanes_decrypt(struct gost_lane_frame *f, unsigned int n, struct gost_lanes_scratch *s);

/* The kernel chosen: "avx512vbmi", "scalar4" or "scalar". */
const char *gost_lanes_kind(void);

/* The kernels, for tests and benchmarks that run each one. */
enum gost_lanes_variant {
	GOST_LANES_SCALAR,	/* one frame at a time */
	GOST_LANES_SCALAR4,	/* four frames interleaved, portable C */
	GOST_LANES_AVX512,	/* up to sixteen frames in AVX-512 VBMI+VL registers */
	GOST_LANES_VARIANTS
};

/* Whether this build and CPU can run the variant. */
bool gost_lanes_available(enum gost_lanes_variant v);
/*
 * Test only: makes later batches use v (0), or -ENODEV where it cannot run.
 * Not to be called while batches run.
 */
int gost_lanes_force(enum gost_lanes_variant v);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_GOST_LANES_H */
