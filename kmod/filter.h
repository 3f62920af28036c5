/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Packet filter: while any session's filter is on, an IPv4 packet leaves the
 * host only if its destination matches a rule of such a session.
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

/* Registers the output hook; 0 or the hook registration's error. */
int filter_init(void);
void filter_exit(void);

/* Filter off, no rules. */
int filter_create(struct sctrl_session *s);
/* Filter off, rules freed. */
void filter_close(struct sctrl_session *s);
int filter_on(struct sctrl_session *s);
int filter_off(struct sctrl_session *s);
/* Installs size / 8 rules from the calling process; 0, or -1 (filter then off and empty on a failed copy). */
int filter_set_list(struct sctrl_session *s, const void __user *rules, u32 size);

/*
 * Held around freeing a session: the hook walks the table one step at a
 * time, so this is what keeps a walk out of a session being freed.
 */
void filter_lock_walks(void);
void filter_unlock_walks(void);

/* The IPv4 output hook. */
unsigned int hook_func(struct sk_buff *skb, const struct net_device *out);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_FILTER_H */
