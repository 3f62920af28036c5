// SPDX-License-Identifier: GPL-2.0
/*
 * Frame lanes: the batch entry points and the choice of kernel.
 */
#include "kmod/gost_lanes.h"

struct gost_lanes_scratch {
	u32 key[8];
};

size_t gost_lanes_scratch_size(void)
{
	return sizeof(struct gost_lanes_scratch);
}

void gost_lanes_init(void)
{
}

const char *gost_lanes_kind(void)
{
	return "scalar";
}

bool gost_lanes_available(enum gost_lanes_variant v)
{
	return v == GOST_LANES_SCALAR;
}

int gost_lanes_force(enum gost_lanes_variant v)
{
	return gost_lanes_available(v) ? 0 : -ENODEV;
}

/* One frame alone: today's per-frame path. */
static void frame_one(struct gost_lane_frame *f, u32 key[8], bool decrypt)
{
	const struct gost_ctx *ctx = f->ctx;

	gost_frame_key(ctx, f->counter, key);
	if (decrypt)
		gost_decrypt_imit(f->data, f->len, f->trailer, key, ctx->iv, &ctx->t, f->mac);
	else
		gost_encrypt_imit(f->data, f->len, f->trailer, key, ctx->iv, &ctx->t, f->mac);
}

static void batch(struct gost_lane_frame *f, unsigned int n, struct gost_lanes_scratch *s,
		  bool decrypt)
{
	unsigned int i;

	for (i = 0; i < n; i++)
		frame_one(&f[i], s->key, decrypt);
	memzero_explicit(s->key, sizeof(s->key));
}

void gost_lanes_encrypt(struct gost_lane_frame *f, unsigned int n, struct gost_lanes_scratch *s)
{
	batch(f, n, s, false);
}

void gost_lanes_decrypt(struct gost_lane_frame *f, unsigned int n, struct gost_lanes_scratch *s)
{
	batch(f, n, s, true);
}
