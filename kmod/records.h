/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Records exchanged with the connection daemon through the ioctl commands of
 * the control device.  Their layouts are fixed by the 32-bit daemon: every
 * integer is little-endian, addresses and ports are in host order.
 * All fields sit at their natural alignment, so no packing is needed.
 * The header stands on its own: the daemon includes it as well as the module.
 */
#ifndef PARVEX_RECORDS_H
#define PARVEX_RECORDS_H

#ifdef __KERNEL__
#include <linux/types.h>
#include <linux/stddef.h>
#else
#include <stddef.h>
#include <stdint.h>
#endif

#ifdef __cplusplus
#define PARVEX_LAYOUT(cond, what) static_assert(cond, what)
#else
#define PARVEX_LAYOUT(cond, what) _Static_assert(cond, what)
#endif

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
/* The same for 64-bit callers, whose rules may lie above 4 GiB. */
#define TTYSIM_SET_FILTER_LIST64 0x40107308u

/* Read by TTYSIM_CREATE_SESSION. */
struct session_setup {
	int32_t sid;
	uint32_t peer_addr;
	uint32_t local_addr;
	uint16_t peer_port;
	uint16_t local_port;
	uint8_t unused1[4];
	uint32_t traffic_events;
	uint8_t unused2[20];
};

/* Read by TTYSIM_SETUP_KEYS. */
struct crypt_setup {
	uint8_t key[32];
	uint8_t send_iv[8];
	uint8_t recv_iv[8];
	uint8_t key_mask[32];
	uint8_t sbox[64];
};

/* Read by TTYSIM_SET_FILTER_LIST; rules is an address in the 32-bit caller. */
struct filter_list_desc {
	uint32_t rules;
	uint32_t size;
};

/*
 * Read by TTYSIM_SET_FILTER_LIST64: rules is an address in the caller of any
 * width, zero-extended from 32 bits by a 32-bit one.
 */
struct filter_list_desc64 {
	uint64_t rules;
	uint32_t size;
	uint32_t unused;
};

/* One destination rule; both fields in network order. */
struct filter_rule {
	uint32_t addr;
	uint32_t mask;
};

/* Written by TTYSIM_GET_STATS; also the module-wide counters. */
struct traffic_stats {
	uint64_t bytes_received;
	uint64_t bytes_sent;
	uint64_t frames_received;
	uint64_t frames_sent;
};

PARVEX_LAYOUT(sizeof(struct session_setup) == 44, "session_setup layout");
PARVEX_LAYOUT(offsetof(struct session_setup, peer_addr) == 4, "session_setup layout");
PARVEX_LAYOUT(offsetof(struct session_setup, local_addr) == 8, "session_setup layout");
PARVEX_LAYOUT(offsetof(struct session_setup, peer_port) == 12, "session_setup layout");
PARVEX_LAYOUT(offsetof(struct session_setup, local_port) == 14, "session_setup layout");
PARVEX_LAYOUT(offsetof(struct session_setup, traffic_events) == 20, "session_setup layout");
PARVEX_LAYOUT(sizeof(struct crypt_setup) == 144, "crypt_setup layout");
PARVEX_LAYOUT(offsetof(struct crypt_setup, send_iv) == 32, "crypt_setup layout");
PARVEX_LAYOUT(offsetof(struct crypt_setup, recv_iv) == 40, "crypt_setup layout");
PARVEX_LAYOUT(offsetof(struct crypt_setup, key_mask) == 48, "crypt_setup layout");
PARVEX_LAYOUT(offsetof(struct crypt_setup, sbox) == 80, "crypt_setup layout");
PARVEX_LAYOUT(offsetof(struct traffic_stats, frames_sent) == 24, "traffic_stats layout");
PARVEX_LAYOUT(sizeof(struct filter_list_desc) == 8, "filter_list_desc layout");
PARVEX_LAYOUT(sizeof(struct filter_list_desc64) == 16, "filter_list_desc64 layout");
PARVEX_LAYOUT(offsetof(struct filter_list_desc64, size) == 8, "filter_list_desc64 layout");
PARVEX_LAYOUT(sizeof(struct filter_rule) == 8, "filter_rule layout");
PARVEX_LAYOUT(sizeof(struct traffic_stats) == 32, "traffic_stats layout");

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_RECORDS_H */
