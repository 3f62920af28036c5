// SPDX-License-Identifier: GPL-2.0
/* Frame protection between the rings and the UDP transport. */
#include "kmod/crypter.h"
#include "kmod/ttysim.h"
#include "kmod/udpt.h"

#define PPP_ADDRESS 0xFF
#define PPP_CONTROL 0x03
#define PPP_PROTO_EAP 0xC227
#define PPP_PROTO_IPV4 0x0021
#define PPP_PROTO_EVENT 0xC002
/* Shorter frames carry no IPv4 header worth a TTL. */
#define TTL_MIN_FRAME 24
#define TTL_OFFSET 12

/*
 * Protected or injected frames refused since load, all sessions together:
 * each session counts its own, but those go with the session.  A read-only
 * parameter beside the rings' drop counts; changed only by the receiving
 * thread under the receiving lock.
 */
static unsigned int decrypt_drops;
module_param(decrypt_drops, uint, 0444);

u32 crypter_decrypt_drops(void)
{
	return decrypt_drops;
}

int crypter_init(void)
{
	decrypt_drops = 0;
	gost_lanes_init();
	return 0;
}

void crypter_exit(void)
{
}

int crypter_create(struct sctrl_session *s)
{
	if (!s)
		return -EFAULT;
	s->keyed = 0;
	s->decerrors = 0;
	return 0;
}

int crypter_overhead(void)
{
	return CRYPTER_OVERHEAD;
}

/* Key material of both directions, built apart before it replaces the old. */
struct crypter_keys {
	struct crypt_setup record;
	struct gost_ctx send;
	struct gost_ctx recv;
};

void crypter_keys_free(struct crypter_keys *keys)
{
	if (IS_ERR_OR_NULL(keys))
		return;
	memzero_explicit(keys, sizeof(*keys));
	vfree(keys);
}

struct crypter_keys *crypter_keys_prepare(const void __user *arg)
{
	struct crypter_keys *keys = vzalloc(sizeof(*keys));
	struct crypt_setup *cs;

	if (!keys)
		return ERR_PTR(-ENOMEM);
	cs = &keys->record;
	if (copy_from_user(cs, arg, sizeof(*cs))) {
		crypter_keys_free(keys);
		return ERR_PTR(-EFAULT);
	}
	if (InitEncryptKey(&keys->send, cs->key, cs->key_mask, cs->send_iv, cs->sbox) ||
	    InitEncryptKey(&keys->recv, cs->key, cs->key_mask, cs->recv_iv, cs->sbox)) {
		crypter_keys_free(keys);
		return ERR_PTR(-EINVAL);
	}
	return keys;
}

/* Replaces a context's key material; its counter and replay window stay. */
static void install_ctx(struct gost_ctx *ctx, const struct gost_ctx *from)
{
	const size_t at = offsetof(struct gost_ctx, iv);

	memcpy((u8 *)ctx + at, (const u8 *)from + at, sizeof(*ctx) - at);
}

int crypter_keys_install(struct sctrl_session *s, const struct crypter_keys *keys)
{
	if (!s)
		return -EFAULT;
	if (IS_ERR(keys)) {
		/*
		 * Whatever keys were in force stay so: once keyed, a session never
		 * falls back to sending in clear.
		 */
		s->key_failures++;
		if (PTR_ERR(keys) == -EINVAL)
			pr_err("key setup refused - no frame key table for this key record \n");
		else
			pr_err("key setup failed - key record unreadable \n");
		return (int)PTR_ERR(keys);
	}
	s->crypt = keys->record;
	install_ctx(&s->send_ctx, &keys->send);
	install_ctx(&s->recv_ctx, &keys->recv);
	s->keyed = 1;
	return 0;
}

int crypter_session_setup(struct sctrl_session *s, const void __user *arg)
{
	struct crypter_keys *keys;
	int ret;

	if (!s)
		return -EFAULT;
	keys = crypter_keys_prepare(arg);
	ret = crypter_keys_install(s, keys);
	crypter_keys_free(keys);
	return ret;
}

static inline u16 frame_protocol(const u8 *frame, s32 len)
{
	return len >= 4 ? (u16)(frame[2] << 8 | frame[3]) : 0;
}

static void put_be64(u8 *p, u64 v)
{
	unsigned int i;

	for (i = 0; i < 8; i++)
		p[i] = (u8)(v >> (56 - 8 * i));
}

static u64 get_be64(const u8 *p)
{
	u64 v = 0;
	unsigned int i;

	for (i = 0; i < 8; i++)
		v = v << 8 | p[i];
	return v;
}

s32 EncryptFrame(struct gost_ctx *ctx, u8 *buf, s32 n)
{
	u32 key[8];

	ctx->counter++;
	GenKey(ctx, key);
	put_be64(buf + n, ctx->counter);
	gost_encrypt_imit(buf, n, buf + n, key, ctx->iv, &ctx->t, buf + n + 8);
	memzero_explicit(key, sizeof(key));
	return n + CRYPTER_TRAILER;
}

/*
 * Replay window: the highest counter accepted and a bitmap of the
 * GOST_REPLAY_WINDOW counters behind it.  Counter 0 is never sent.
 */
static bool replay_fresh(const struct gost_ctx *ctx, u64 r)
{
	u64 behind;

	if (r > ctx->counter)
		return true;
	behind = ctx->counter - r;
	if (behind == 0 || behind > GOST_REPLAY_WINDOW)
		return false;
	return !(ctx->replay_seen & (1u << (behind - 1)));
}

static void replay_accept(struct gost_ctx *ctx, u64 r)
{
	const u32 window = (1u << GOST_REPLAY_WINDOW) - 1;
	u64 ahead;

	if (r <= ctx->counter) {
		ctx->replay_seen |= 1u << (ctx->counter - r - 1);
		return;
	}
	ahead = r - ctx->counter;
	if (ahead > GOST_REPLAY_WINDOW)
		ctx->replay_seen = 0;
	else
		ctx->replay_seen = (ctx->replay_seen << ahead | 1u << (ahead - 1)) & window;
	ctx->counter = r;
}

static bool mac_equal(const u8 *a, const u8 *b)
{
	u8 diff = 0;
	unsigned int i;

	for (i = 0; i < 8; i++)
		diff |= a[i] ^ b[i];
	return !diff;
}

s32 DecryptFrame(struct gost_ctx *ctx, u8 *buf, s32 len)
{
	s32 n;
	u32 key[8];
	u8 mac[8];
	u64 r;
	bool ok;

	if (len <= CRYPTER_TRAILER)	/* compared first: len - 16 may overflow */
		return 0;
	n = len - CRYPTER_TRAILER;
	r = get_be64(buf + n);
	if (!replay_fresh(ctx, r))
		return 0;
	gost_frame_key(ctx, r, key);
	gost_decrypt_imit(buf, n, buf + n, key, ctx->iv, &ctx->t, mac);
	ok = mac_equal(mac, buf + n + 8);
	memzero_explicit(key, sizeof(key));
	memzero_explicit(mac, sizeof(mac));
	if (!ok)
		return 0;
	replay_accept(ctx, r);
	return n;
}

void crypter_outstream_put(struct sctrl_session *s)
{
	struct sctrl_outframe *f;
	u8 type = CRYPTER_TYPE_PLAIN;

	if (!s) {
		pr_err("Crypter outstream put error - session not found \n");
		return;
	}
	f = &s->out;
	if (f->len <= 0 || f->len > CRYPTER_MAX_FRAME)
		return;	/* the line refuses such writes; never overrun the slot */
	if (s->keyed && frame_protocol(f->data, f->len) != PPP_PROTO_EAP) {
		f->len = EncryptFrame(&s->send_ctx, f->data, f->len);
		type = CRYPTER_TYPE_PROTECTED;
	}
	*f->header = type;
	f->header_len = 1;
	udpt_outstream_put(s);
}

/*
 * Once keyed, the module sends nothing plain but EAP.  A plain frame from the
 * network is then let up only when the PPP stack above can read it as
 * nothing but a control protocol: address and control present, an
 * uncompressed protocol number from 0x8000 up (LCP, IPCP, EAP, ...), and not
 * the module's own event frames.  Everything else was injected:
 * IPv4 in any spelling the stack accepts (address and control left out,
 * protocol field compressed), other network protocols, forged events.
 */
static bool plain_frame_allowed_keyed(const u8 *frame, s32 len)
{
	return len >= 4 && frame[0] == PPP_ADDRESS && frame[1] == PPP_CONTROL &&
	       (frame[2] & 0x81) == 0x80 && frame_protocol(frame, len) != PPP_PROTO_EVENT;
}

static void drop_frame(struct sctrl_session *s)
{
	s->in.len = 0;
	s->decerrors++;
	decrypt_drops++;
	pr_err("frame dropped \n");
	trigger_event_decerror(s->params.sid, s->decerrors);
}

void crypter_instream_put(struct sctrl_session *s)
{
	struct sctrl_inframe *f;
	u8 type;

	if (!s) {
		pr_err("Crypter instream put error - session not found \n");
		return;
	}
	f = &s->in;
	if (f->len <= 0)
		return;
	type = f->data[0];
	f->data++;
	f->len--;
	if (s->keyed && type == CRYPTER_TYPE_PROTECTED) {
		f->len = DecryptFrame(&s->recv_ctx, f->data, f->len);
		if (!f->len) {
			drop_frame(s);
			return;
		}
	} else if (s->keyed && !plain_frame_allowed_keyed(f->data, f->len)) {
		drop_frame(s);
		return;
	}
	if (f->len > 0)
		ttysim_instream_put(s);
}

struct crypter_batch *crypter_batch_alloc(void)
{
	struct crypter_batch *b = vzalloc(sizeof(*b));

	if (!b)
		return NULL;
	b->scratch = vzalloc(gost_lanes_scratch_size());
	if (!b->scratch) {
		vfree(b);
		return NULL;
	}
	return b;
}

void crypter_batch_free(struct crypter_batch *b)
{
	if (!b)
		return;
	/* The lanes leave frame keys and key schedules behind in their scratch. */
	memzero_explicit(b->scratch, gost_lanes_scratch_size());
	vfree(b->scratch);
	memzero_explicit(b, sizeof(*b));
	vfree(b);
}

/* A frame's lane, counter and trailer; the lane number plus one goes to lane_of. */
static void batch_add_lane(struct crypter_batch *b, unsigned int *lanes, unsigned int i,
			   const struct gost_ctx *ctx, u64 counter, u8 *data, s32 n)
{
	struct gost_lane_frame *l = &b->lane[*lanes];

	l->ctx = ctx;
	l->counter = counter;
	l->data = data;
	l->len = (u32)n;
	l->trailer = data + n;
	b->lane_of[i] = (u8)++*lanes;
}

static void batch_wipe_lanes(struct crypter_batch *b, unsigned int lanes)
{
	memzero_explicit(b->lane, sizeof(b->lane[0]) * lanes);
}

/* The scalar path for one frame, which spares the lanes' set-up. */
static void outstream_one(struct crypter_frame *f)
{
	struct sctrl_session *s = f->s;

	if (s)
		s->out = (struct sctrl_outframe){ f->data, f->len, f->header, 1, f->ttl };
	crypter_outstream_put(s);
}

void crypter_outstream_batch(struct crypter_batch *b)
{
	unsigned int i, lanes = 0;

	if (b->n == 1) {
		outstream_one(&b->f[0]);
		return;
	}
	for (i = 0; i < b->n; i++) {
		struct crypter_frame *f = &b->f[i];
		struct gost_ctx *ctx;

		b->lane_of[i] = 0;
		if (!f->s || f->len <= 0 || f->len > CRYPTER_MAX_FRAME)
			continue;
		*f->header = CRYPTER_TYPE_PLAIN;
		if (!f->s->keyed || frame_protocol(f->data, f->len) == PPP_PROTO_EAP)
			continue;
		/* Counters go in ring order, as one frame at a time would take them. */
		ctx = &f->s->send_ctx;
		ctx->counter++;
		put_be64(f->data + f->len, ctx->counter);
		batch_add_lane(b, &lanes, i, ctx, ctx->counter, f->data, f->len);
		*f->header = CRYPTER_TYPE_PROTECTED;
	}
	if (lanes)
		gost_lanes_encrypt(b->lane, lanes, b->scratch);
	for (i = 0; i < b->n; i++) {
		struct crypter_frame *f = &b->f[i];

		if (!f->s) {
			pr_err("Crypter outstream put error - session not found \n");
			continue;
		}
		if (f->len <= 0 || f->len > CRYPTER_MAX_FRAME)
			continue;
		if (b->lane_of[i]) {
			memcpy(f->data + f->len + 8, b->lane[b->lane_of[i] - 1].mac, 8);
			f->len += CRYPTER_TRAILER;
		}
		f->s->out = (struct sctrl_outframe){ f->data, f->len, f->header, 1, f->ttl };
		udpt_outstream_put(f->s);
	}
	batch_wipe_lanes(b, lanes);
}

static void instream_one(struct crypter_frame *f)
{
	struct sctrl_session *s = f->s;

	if (!s) {
		crypter_instream_put(s);
		return;
	}
	s->in = (struct sctrl_inframe){ f->data, f->len };
	crypter_instream_put(s);
	f->data = s->in.data;
	f->len = s->in.len;
}

/*
 * First pass: the type byte goes, and each protected datagram the window can
 * still take gets a lane.  A counter refused now stays refused: the window
 * only moves forward and fills.  Unprotected frames keep lane 0; refused ones
 * get their length 0 here and are dropped in the second pass.
 */
static unsigned int instream_sort(struct crypter_batch *b, bool *refused)
{
	unsigned int i, lanes = 0;

	for (i = 0; i < b->n; i++) {
		struct crypter_frame *f = &b->f[i];
		struct sctrl_session *s = f->s;
		s32 n;
		u8 type;
		u64 r;

		b->lane_of[i] = 0;
		refused[i] = false;
		if (!s || f->len <= 0)
			continue;
		type = f->data[0];
		f->data++;
		f->len--;
		if (!s->keyed)
			continue;
		if (type != CRYPTER_TYPE_PROTECTED) {
			refused[i] = !plain_frame_allowed_keyed(f->data, f->len);
			continue;
		}
		if (f->len <= CRYPTER_TRAILER) {
			refused[i] = true;
			continue;
		}
		n = f->len - CRYPTER_TRAILER;
		r = get_be64(f->data + n);
		if (!replay_fresh(&s->recv_ctx, r)) {
			refused[i] = true;
			continue;
		}
		batch_add_lane(b, &lanes, i, &s->recv_ctx, r, f->data, n);
	}
	return lanes;
}

void crypter_instream_batch(struct crypter_batch *b)
{
	bool refused[GOST_LANES_MAX];
	unsigned int i, lanes;

	if (b->n == 1) {
		instream_one(&b->f[0]);
		return;
	}
	lanes = instream_sort(b, refused);
	if (lanes)
		gost_lanes_decrypt(b->lane, lanes, b->scratch);
	for (i = 0; i < b->n; i++) {
		struct crypter_frame *f = &b->f[i];
		struct sctrl_session *s = f->s;

		if (!s) {
			pr_err("Crypter instream put error - session not found \n");
			continue;
		}
		if (b->lane_of[i]) {
			const struct gost_lane_frame *l = &b->lane[b->lane_of[i] - 1];

			/* In order: the second of two equal counters finds the first accepted. */
			if (mac_equal(l->mac, l->data + l->len + 8) &&
			    replay_fresh(&s->recv_ctx, l->counter)) {
				replay_accept(&s->recv_ctx, l->counter);
				f->len = (s32)l->len;
			} else {
				refused[i] = true;
			}
		}
		s->in = (struct sctrl_inframe){ f->data, f->len };
		if (refused[i])
			drop_frame(s);
		else if (f->len > 0)
			ttysim_instream_put(s);
		f->len = s->in.len;
	}
	batch_wipe_lanes(b, lanes);
}

s32 update_ttl(struct sctrl_outframe *f)
{
	f->ttl = -1;
	if (f->len < TTL_MIN_FRAME || frame_protocol(f->data, f->len) != PPP_PROTO_IPV4)
		return f->ttl;
	f->ttl = f->data[TTL_OFFSET] ? f->data[TTL_OFFSET] - 1 : 0;
	return f->ttl;
}
