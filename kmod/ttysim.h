/* SPDX-License-Identifier: GPL-2.0 */
/* The control device "ttysim". */
#ifndef PARVEX_TTYSIM_H
#define PARVEX_TTYSIM_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sctrl_session;

/* Delivers the session's inbound frame up its line. */
void ttysim_instream_put(struct sctrl_session *s);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_TTYSIM_H */
