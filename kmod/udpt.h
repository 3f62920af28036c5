/* SPDX-License-Identifier: GPL-2.0 */
/* UDP transport of the tunnel's datagrams. */
#ifndef PARVEX_UDPT_H
#define PARVEX_UDPT_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sctrl_session;

/* Sends the session's wire header and outbound frame as one datagram. */
void udpt_outstream_put(struct sctrl_session *s);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_UDPT_H */
