/* SPDX-License-Identifier: GPL-2.0 */
/* The user-space platform's packet: a received datagram or an outgoing packet. */
#ifndef PARVEX_USER_SKB_H
#define PARVEX_USER_SKB_H

#include "kmod/platform.h"

struct sk_buff {
	struct sk_buff *next;
	bool ipv4;
	int len;	/* UDP: the payload length as received */
	u32 saddr;	/* network order */
	u16 sport;	/* network order */
	const u8 *data;	/* UDP: the payload; output: the IPv4 header */
	size_t size;	/* bytes at data */
};

#endif /* PARVEX_USER_SKB_H */
