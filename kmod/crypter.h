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
/* Installs keys from a crypt_setup in the calling process; 0 or -EFAULT. */
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
