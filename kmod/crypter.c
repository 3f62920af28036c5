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

int crypter_init(void)
{
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

s32 update_ttl(struct sctrl_outframe *f)
{
	f->ttl = -1;
	if (f->len < TTL_MIN_FRAME || frame_protocol(f->data, f->len) != PPP_PROTO_IPV4)
		return f->ttl;
	f->ttl = f->data[TTL_OFFSET] ? f->data[TTL_OFFSET] - 1 : 0;
	return f->ttl;
}
