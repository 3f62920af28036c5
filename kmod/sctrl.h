/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Session table, traffic counters and the event frames the module sends up
 * to the connection daemon.
 */
#ifndef PARVEX_SCTRL_H
#define PARVEX_SCTRL_H

#include "kmod/platform.h"
#include "kmod/records.h"
#include "kmod/gost.h"

#ifdef __cplusplus
extern "C" {
#endif

struct tty_struct;	/* a line of the control device */
struct socket;		/* a UDP socket of the transport */

/* The frame the sending thread is handling. */
struct sctrl_outframe {
	u8 *data;
	s32 len;
	u8 *header;	/* the wire header: one frame-type byte */
	s32 header_len;
	s32 ttl;	/* outer TTL; -1 for the socket's default */
};

/* The frame the receiving thread is handling. */
struct sctrl_inframe {
	u8 *data;
	s32 len;
};

/* One tunnel: allocated zeroed, wiped before it is freed. */
struct sctrl_session {
	struct sctrl_session *next;
	struct sctrl_session *prev;
	struct tty_struct *tty;
	struct crypt_setup crypt;
	struct gost_ctx send_ctx;
	struct gost_ctx recv_ctx;
	u8 keyed;		/* once set, stays set for the session's life */
	u32 decerrors;
	u32 key_failures;	/* key records refused or unreadable */
	/* Control path only: the hooks see a published copy. */
	u32 filter_count;
	u32 filter_enabled;
	struct filter_rule *filter_rules;
	struct socket *sock;
	struct session_setup params;
	struct traffic_stats stats;
	struct sctrl_outframe out;
	struct sctrl_inframe in;
};

/* PPP address, control and protocol 0xC002 that open every event frame. */
#define SCTRL_EVENT_HEADER { 0xFF, 0x03, 0xC0, 0x02 }
#define SCTRL_EVENT_DECERROR 1
#define SCTRL_EVENT_TRAFFIC 2
#define SCTRL_DIR_RECEIVED 1	/* trigger_event_traffic's flag and the event's */
#define SCTRL_DIR_SENT 0	/* flag; the event itself says 2 */

/* Fields after the header in host order. */
struct sctrl_event_decerror {
	u8 header[4];
	u32 type;
	u32 count;
};

struct sctrl_event_traffic {
	u8 header[4];
	u32 type;
	u32 direction;	/* 1 = received from the server, 2 = sent to it */
	u32 protocol;
	u32 total_len;
	u32 saddr;
	u32 daddr;
	u16 sport;
	u16 dport;
};

static_assert(sizeof(struct sctrl_event_decerror) == 12, "decryption error event layout");
static_assert(sizeof(struct sctrl_event_traffic) == 32, "traffic event layout");
static_assert(offsetof(struct sctrl_event_traffic, saddr) == 20, "traffic event layout");
static_assert(offsetof(struct sctrl_event_traffic, dport) == 30, "traffic event layout");

/* The module-wide counters. */
extern struct traffic_stats stats;

int sctrl_init(void);
void sctrl_exit(void);

struct sctrl_session *sctrl_create_session(struct tty_struct *tty);
int sctrl_delete_session(struct sctrl_session *s);

/* Lookups walk newest first and return the first match. */
struct sctrl_session *sctrl_find_session(struct sctrl_session *after);
struct sctrl_session *sctrl_find_session_sid(s32 sid);
struct sctrl_session *sctrl_find_session_tty(struct tty_struct *tty);
/* The session of a datagram: its source, and the local address and port it came in on. */
struct sctrl_session *sctrl_find_session_address(u32 peer_addr, u16 peer_port, u32 local_addr,
						 u16 local_port);

void reset_stats(struct traffic_stats *st);
/* Counts the session's inbound (outbound) frame as received (sent). */
void sctrl_count_received(struct sctrl_session *s);
void sctrl_count_sent(struct sctrl_session *s);

void trigger_event_decerror(s32 sid, u32 count);
void trigger_event_traffic(const u8 *frame, s32 len, s32 sid, int received);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_SCTRL_H */
