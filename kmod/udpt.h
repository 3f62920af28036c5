/* SPDX-License-Identifier: GPL-2.0 */
/* UDP transport of the tunnel's datagrams. */
#ifndef PARVEX_UDPT_H
#define PARVEX_UDPT_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sctrl_session;
struct socket;

/* One socket, shared by the sessions with the same local address and port. */
struct udpt_sock {
	struct udpt_sock *next;
	struct udpt_sock *prev;
	struct socket *sock;
	u32 local_addr;
	u16 local_port;
	s32 users;
};

int udpt_init(void);
/* Releases every socket left. */
void udpt_exit(void);
/* Gives the session its shared socket, creating it on first use; 0 or -EFAULT. */
int udpt_create(struct sctrl_session *s);
/* Drops the session's reference; the last one releases the socket. */
int udpt_close(struct sctrl_session *s);
/* Queues one received datagram of the udpt_sock data on the inbound ring (network receive path). */
void udpt_cb_data_ready(void *data);
struct udpt_sock *udpt_find_sock(u32 local_addr, u16 local_port);

/* Sends the session's wire header and outbound frame as one datagram. */
void udpt_outstream_put(struct sctrl_session *s);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_UDPT_H */
