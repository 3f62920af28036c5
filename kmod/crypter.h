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
