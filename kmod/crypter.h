/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Frame protection: PPP frames become tunnel datagrams and back.
 *
 * Datagram: type byte (0 plain, 1 protected), the frame (CFB-encrypted when
 * protected), then for protected frames the counter (8 bytes, most
 * significant first) and the MAC over plain frame and counter (8 bytes).
 */
#ifndef PARVEX_CRYPTER_H
#define PARVEX_CRYPTER_H

#include "kmod/platform.h"
#include "kmod/gost_lanes.h"
#include "kmod/sctrl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CRYPTER_TYPE_PLAIN 0
#define CRYPTER_TYPE_PROTECTED 1
/* Counter and MAC after a protected frame. */
#define CRYPTER_TRAILER 16
/* Type byte plus trailer. */
#define CRYPTER_OVERHEAD 17
#define CRYPTER_MAX_DATAGRAM 2048
#define CRYPTER_MAX_FRAME (CRYPTER_MAX_DATAGRAM - CRYPTER_OVERHEAD)

int crypter_init(void);
void crypter_exit(void);
int crypter_create(struct sctrl_session *s);
int crypter_overhead(void);
struct crypter_keys;
/*
 * Reads a crypt_setup from the calling process and builds both directions'
 * key material from it, touching no session: the keys, or ERR_PTR(-EFAULT)
 * for an unreadable record, -EINVAL for key material no table comes of,
 * -ENOMEM.  Process context; may take a few milliseconds.
 */
struct crypter_keys *crypter_keys_prepare(const void __user *arg);
/*
 * Puts prepared keys in force (counters and replay windows stay).  Given an
 * error from crypter_keys_prepare, the keys in force stay, the failure is
 * counted and logged, and the error returned.
 */
int crypter_keys_install(struct sctrl_session *s, const struct crypter_keys *keys);
/* Wipes and frees prepared keys; errors and null are allowed. */
void crypter_keys_free(struct crypter_keys *keys);
/* Prepare and install in one: 0 or a negative error. */
int crypter_session_setup(struct sctrl_session *s, const void __user *arg);
/* Sends the session's outbound frame through udpt_outstream_put. */
void crypter_outstream_put(struct sctrl_session *s);
/* Checks the session's inbound datagram and delivers it through ttysim_instream_put. */
void crypter_instream_put(struct sctrl_session *s);

/* One frame of a batch, as its ring slot holds it. */
struct crypter_frame {
	struct sctrl_session *s;
	u8 *data;
	s32 len;
	u8 *header;	/* outbound: the wire type byte */
	s32 ttl;	/* outbound: what update_ttl gave */
};

/*
 * A worker thread's batch: up to GOST_LANES_MAX frames and the working memory
 * of the lanes, allocated once when the thread starts.
 */
struct crypter_batch {
	unsigned int n;
	struct crypter_frame f[GOST_LANES_MAX];
	struct gost_lane_frame lane[GOST_LANES_MAX];
	/* Per frame: its lane plus one, or 0 when it takes none. */
	u8 lane_of[GOST_LANES_MAX];
	struct gost_lanes_scratch *scratch;
};

/* Process context; null when memory is short. */
struct crypter_batch *crypter_batch_alloc(void);
/* Wipes and frees; null allowed. */
void crypter_batch_free(struct crypter_batch *b);
/*
 * The batch's frames as crypter_outstream_put would send them one by one, in
 * order, with one pass of the lanes for all that are protected (a frame
 * without a session is logged as there).  The sending lock is held.
 */
void crypter_outstream_batch(struct crypter_batch *b);
/*
 * The batch's datagrams as crypter_instream_put would check and deliver them
 * one by one: the replay window is checked and moved in batch order after the
 * lanes, so a counter twice in one batch passes once.  Afterwards each frame's
 * data and len are what was delivered (len 0: nothing).  The receiving lock
 * is held.
 */
void crypter_instream_batch(struct crypter_batch *b);

/* Frames refused on the way in since load (read under the receiving lock). */
u32 crypter_decrypt_drops(void);

/* Protects buf[0..n) in place; buf has CRYPTER_TRAILER bytes of room after it. */
s32 EncryptFrame(struct gost_ctx *ctx, u8 *buf, s32 n);
/* Checks and decrypts in place; the plain length, or 0 when refused. */
s32 DecryptFrame(struct gost_ctx *ctx, u8 *buf, s32 len);
/* The outer TTL for the frame; 0 means the frame is not sent. */
s32 update_ttl(struct sctrl_outframe *f);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_CRYPTER_H */
