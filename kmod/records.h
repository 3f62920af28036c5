/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Records exchanged with the connection daemon through the ioctl commands of
 * the control device.  Their layouts are fixed by the 32-bit daemon: every
 * integer is little-endian, addresses and ports are in host order.
 * All fields sit at their natural alignment, so no packing is needed.
 */
#ifndef PARVEX_RECORDS_H
#define PARVEX_RECORDS_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TTYSIM_CREATE_SESSION 0x40047301u
#define TTYSIM_DELETE_SESSION 0x40047302u
#define TTYSIM_SETUP_KEYS 0x40047303u
#define TTYSIM_GET_STATS 0x40047304u
#define TTYSIM_FILTER_ON 0x40047305u
#define TTYSIM_FILTER_OFF 0x40047306u
#define TTYSIM_SET_FILTER_LIST 0x40047307u

/* Read by TTYSIM_CREATE_SESSION. */
struct session_setup {
	s32 sid;
	u32 peer_addr;
	u32 local_addr;
	u16 peer_port;
	u16 local_port;
	u8 unused1[4];
	u32 traffic_events;
	u8 unused2[20];
};

/* Read by TTYSIM_SETUP_KEYS. */
struct crypt_setup {
	u8 key[32];
	u8 send_iv[8];
	u8 recv_iv[8];
	u8 key_mask[32];
	u8 sbox[64];
};

/* Read by TTYSIM_SET_FILTER_LIST; rules is an address in the 32-bit caller. */
struct filter_list_desc {
	u32 rules;
	u32 size;
};

/* One destination rule; both fields in network order. */
struct filter_rule {
	u32 addr;
	u32 mask;
};

/* Written by TTYSIM_GET_STATS; also the module-wide counters. */
struct traffic_stats {
	u64 bytes_received;
	u64 bytes_sent;
	u64 frames_received;
	u64 frames_sent;
};

static_assert(sizeof(struct session_setup) == 44, "session_setup layout");
static_assert(offsetof(struct session_setup, peer_addr) == 4, "session_setup layout");
static_assert(offsetof(struct session_setup, local_addr) == 8, "session_setup layout");
static_assert(offsetof(struct session_setup, peer_port) == 12, "session_setup layout");
static_assert(offsetof(struct session_setup, local_port) == 14, "session_setup layout");
static_assert(offsetof(struct session_setup, traffic_events) == 20, "session_setup layout");
static_assert(sizeof(struct crypt_setup) == 144, "crypt_setup layout");
static_assert(offsetof(struct crypt_setup, send_iv) == 32, "crypt_setup layout");
static_assert(offsetof(struct crypt_setup, recv_iv) == 40, "crypt_setup layout");
static_assert(offsetof(struct crypt_setup, key_mask) == 48, "crypt_setup layout");
static_assert(offsetof(struct crypt_setup, sbox) == 80, "crypt_setup layout");
static_assert(offsetof(struct traffic_stats, frames_sent) == 24, "traffic_stats layout");
static_assert(sizeof(struct filter_list_desc) == 8, "filter_list_desc layout");
static_assert(sizeof(struct filter_rule) == 8, "filter_rule layout");
static_assert(sizeof(struct traffic_stats) == 32, "traffic_stats layout");

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_RECORDS_H */
