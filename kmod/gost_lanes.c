// SPDX-License-Identifier: GPL-2.0
/*
 * Frame lanes: the batch entry points, the choice of kernel, and the split
 * of a batch into groups of one S-box (the vector kernel holds one S-box in
 * its registers; frames of one session always share it).
 */
#include "kmod/gost_lanes_impl.h"

/*
 * Steps of one vector run between the SIMD bracket's ends: a 1,400-byte
 * frame takes 177, and sixteen lanes of them keep preemption off for some
 * 25 microseconds.  Longer frames continue in a fresh bracket.
 */
#define GOST_LANES_SIMD_STEPS 192

struct lanes_scratch {
	struct gost_lanes_work work;
	struct gost_lanes_group group;
	u8 nib[GOST_LANES_MAX][128];	/* each frame's S-box */
	u8 group_of[GOST_LANES_MAX];
	u32 key[8];
};

static const char *const variant_names[GOST_LANES_VARIANTS] = {
	[GOST_LANES_SCALAR] = "scalar",
	[GOST_LANES_SCALAR4] = "scalar4",
	[GOST_LANES_AVX512] = "avx512vbmi",
};

/* Written at load (or by a test between batches), read by every batch. */
static int chosen = -1;

size_t gost_lanes_scratch_size(void)
{
	/* Room to align the caller's memory for the vector kernel. */
	return sizeof(struct lanes_scratch) + 63;
}

static struct lanes_scratch *scratch_of(struct gost_lanes_scratch *s)
{
	return (struct lanes_scratch *)(((uintptr_t)s + 63) & ~(uintptr_t)63);
}

bool gost_lanes_available(enum gost_lanes_variant v)
{
	switch (v) {
	case GOST_LANES_SCALAR:
	case GOST_LANES_SCALAR4:
		return true;
	case GOST_LANES_AVX512:
#ifdef GOST_LANES_HAVE_AVX512
		return parvex_cpu_has_avx512vbmi();
#else
		return false;
#endif
	default:
		return false;
	}
}

static enum gost_lanes_variant best(void)
{
	return gost_lanes_available(GOST_LANES_AVX512) ? GOST_LANES_AVX512 : GOST_LANES_SCALAR4;
}

static enum gost_lanes_variant variant_now(void)
{
	int v = READ_ONCE(chosen);

	return v < 0 ? best() : (enum gost_lanes_variant)v;
}

void gost_lanes_init(void)
{
	enum gost_lanes_variant v = best();

	WRITE_ONCE(chosen, (int)v);
	pr_info("parvex: frame lanes: %s\n", variant_names[v]);
}

int gost_lanes_force(enum gost_lanes_variant v)
{
	if (!gost_lanes_available(v))
		return -ENODEV;
	WRITE_ONCE(chosen, (int)v);
	return 0;
}

const char *gost_lanes_kind(void)
{
	return variant_names[variant_now()];
}

/* One frame alone: the per-frame path. */
static void frame_one(const struct gost_lane *l, const u8 *trailer, u32 key[8], bool decrypt)
{
	const struct gost_ctx *ctx = l->ctx;

	gost_frame_key(ctx, l->counter, key);
	if (decrypt)
		gost_decrypt_imit(l->data, l->len, trailer, key, ctx->iv, &ctx->t, l->mac);
	else
		gost_encrypt_imit(l->data, l->len, trailer, key, ctx->iv, &ctx->t, l->mac);
}

static inline u32 nib_ror32(u32 v, unsigned int n)
{
	return v >> n | v << (32 - n);
}

/*
 * The S-box as the vector kernel looks it up, recovered from T0..T3: byte c
 * of a word maps through nib[16c + low nibble] | nib[64 + 16c + high nibble].
 */
static void sbox_nibbles(const struct gost_tables *t, u8 nib[128])
{
	unsigned int c, x;

	for (c = 0; c < 4; c++)
		for (x = 0; x < 16; x++) {
			nib[16 * c + x] = (nib_ror32(t->t[c][x], 11) >> (8 * c)) & 0x0f;
			nib[64 + 16 * c + x] = (nib_ror32(t->t[c][x << 4], 11) >> (8 * c)) & 0xf0;
		}
}

static void plan_lane(struct gost_lane *l, const struct gost_lane_frame *f)
{
	u32 k = f->len % 8;

	l->ctx = f->ctx;
	l->counter = f->counter;
	l->data = f->data;
	l->mac = (u8 *)f->mac;
	l->len = f->len;
	l->nfull = f->len / 8;
	l->cfb_blocks = l->nfull + !!k;
	l->mac_blocks = l->cfb_blocks + 1;
	memset(l->stage, 0, sizeof(l->stage));
	if (k)
		memcpy(l->stage, f->data + 8 * l->nfull, k);
	memcpy(l->stage + k, f->trailer, 8);
}

/* Idle lanes run along on zeros under a real context and write nothing. */
static void plan_idle(struct gost_lane *l, const struct gost_ctx *ctx)
{
	memset(l, 0, sizeof(*l));
	l->ctx = ctx;
}

#ifdef GOST_LANES_HAVE_AVX512
static void run_vector(struct gost_lanes_group *g, struct gost_lanes_work *work)
{
	u32 steps = gost_lane_steps(&g->lane[0], g->decrypt), from, to;

	for (from = 0; from < steps; from = to) {
		to = steps - from > GOST_LANES_SIMD_STEPS ? from + GOST_LANES_SIMD_STEPS : steps;
		parvex_simd_begin();
		gost_lanes_avx512(g, from, to, work);
		parvex_simd_end();
	}
}
#endif

static void run_group(struct lanes_scratch *s, enum gost_lanes_variant v)
{
	struct gost_lanes_group *g = &s->group;
	unsigned int i;

	if (g->n == 1) {
		frame_one(&g->lane[0], g->lane[0].stage + g->lane[0].len % 8, s->key, g->decrypt);
		return;
	}
#ifdef GOST_LANES_HAVE_AVX512
	if (v == GOST_LANES_AVX512 && parvex_simd_usable()) {
		run_vector(g, &s->work);
		return;
	}
#else
	(void)v;	/* only the scalar kernels here */
#endif
	/* Four lanes at a time; a lone frame left over goes the per-frame way. */
	for (i = 0; i < g->n; i += 4) {
		unsigned int m = g->n - i < 4 ? g->n - i : 4;

		if (m == 1)
			frame_one(&g->lane[i], g->lane[i].stage + g->lane[i].len % 8, s->key,
				  g->decrypt);
		else
			gost_lanes_scalar4(g, i, &s->work);
	}
}

/* Frames of one S-box, the longest first so a vector half ends early. */
static void fill_group(struct lanes_scratch *s, const struct gost_lane_frame *f, unsigned int n,
		       unsigned int group, bool decrypt)
{
	struct gost_lanes_group *g = &s->group;
	unsigned int i, j, m = 0;

	g->decrypt = decrypt;
	for (i = 0; i < n; i++) {
		if (s->group_of[i] != group)
			continue;
		if (!m) {
			g->t = &f[i].ctx->t;
			memcpy(g->nib, s->nib[i], sizeof(g->nib));
		}
		plan_lane(&g->lane[m], &f[i]);
		for (j = m++; j && g->lane[j - 1].mac_blocks < g->lane[j].mac_blocks; j--) {
			struct gost_lane l = g->lane[j];

			g->lane[j] = g->lane[j - 1];
			g->lane[j - 1] = l;
		}
	}
	g->n = m;
	for (i = m; i < GOST_LANES_MAX; i++)
		plan_idle(&g->lane[i], g->lane[0].ctx);
}

static void batch(struct gost_lane_frame *f, unsigned int n, struct gost_lanes_scratch *raw,
		  bool decrypt)
{
	struct lanes_scratch *s = scratch_of(raw);
	enum gost_lanes_variant v = variant_now();
	unsigned int i, j, groups = 0;

	if (v == GOST_LANES_SCALAR || n == 1) {
		for (i = 0; i < n; i++) {
			struct gost_lane l = {
				.ctx = f[i].ctx, .counter = f[i].counter, .data = f[i].data,
				.mac = f[i].mac, .len = f[i].len,
			};

			frame_one(&l, f[i].trailer, s->key, decrypt);
		}
		memzero_explicit(s->key, sizeof(s->key));
		return;
	}

	for (i = 0; i < n; i++) {
		for (j = 0; j < i && f[j].ctx != f[i].ctx; j++)
			;
		if (j < i)
			memcpy(s->nib[i], s->nib[j], sizeof(s->nib[i]));
		else
			sbox_nibbles(&f[i].ctx->t, s->nib[i]);
		for (j = 0; j < i && memcmp(s->nib[j], s->nib[i], sizeof(s->nib[i])); j++)
			;
		s->group_of[i] = j < i ? s->group_of[j] : groups++;
	}
	for (i = 0; i < groups; i++) {
		fill_group(s, f, n, i, decrypt);
		run_group(s, v);
	}
	memzero_explicit(&s->work, sizeof(s->work));
	memzero_explicit(&s->group, sizeof(s->group));
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
