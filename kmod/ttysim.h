/* SPDX-License-Identifier: GPL-2.0 */
/* The control device "ttysim". */
#ifndef PARVEX_TTYSIM_H
#define PARVEX_TTYSIM_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sctrl_session;
struct tty_struct;
struct file;

#define TTYSIM_LINES 16
/* Shortest frame: PPP address, control and a two-byte protocol. */
#define TTYSIM_MIN_FRAME 4

/* Registers the 16-line driver and clears the module-wide counters; 0 or -1. */
int ttysim_init(void);
void ttysim_exit(void);

int ttysim_open(struct tty_struct *tty, struct file *filp);
void ttysim_close(struct tty_struct *tty, struct file *filp);
/* Queues one frame for sending: count, or -1. */
int ttysim_write(struct tty_struct *tty, const unsigned char *buf, int count);
int ttysim_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg);

/* Delivers the session's inbound frame up its line. */
void ttysim_instream_put(struct sctrl_session *s);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_TTYSIM_H */
