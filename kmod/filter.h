/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Packet filter: while any session's filter is on, an IPv4 packet leaves the
 * host only if its destination matches a rule of such a session, and IPv6
 * leaves only by loopback.
 */
#ifndef PARVEX_FILTER_H
#define PARVEX_FILTER_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sctrl_session;

/* Largest rule list accepted: far beyond any routing table a tunnel carries. */
#define FILTER_MAX_LIST (1024 * 1024)

/* Registers the IPv4 and IPv6 output hooks; 0 or the registration's error. */
int filter_init(void);
void filter_exit(void);

/*
 * All but the hooks run on the control path, the control lock held; they
 * may sleep (a change waits until no hook can still see the rules it
 * replaced).
 */

/* Filter off, no rules. */
int filter_create(struct sctrl_session *s);
/* Filter off, rules freed. */
void filter_close(struct sctrl_session *s);
/* 0, or -ENOMEM: no copy of the rules could be made, so all IPv4 is blocked. */
int filter_on(struct sctrl_session *s);
int filter_off(struct sctrl_session *s);
/*
 * Installs size / 8 rules from the calling process; 0, or -1 with the
 * session's previous rules still in force.
 */
int filter_set_list(struct sctrl_session *s, const void __user *rules, u32 size);

/* The IPv4 output hook. */
unsigned int hook_func(struct sk_buff *skb, const struct net_device *out);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_FILTER_H */
