// SPDX-License-Identifier: GPL-2.0
/*
 * Packet filter.  The sessions' rules change only on the control path (the
 * control lock held); each change publishes a fresh, immutable copy of the
 * rules of every session whose filter is on.  The output hooks read that
 * copy under RCU and touch no session and no lock, so packets on many CPUs
 * never wait for each other, and a copy stays in force until the next one
 * has replaced it.
 */
#include "kmod/filter.h"
#include "kmod/sctrl.h"

/* The rules in force: null when no session's filter is on. */
struct filter_set {
	u32 count;
	struct filter_rule rules[];
};

static struct filter_set __rcu *filter_state;
/* The same pointer for the control path, which alone replaces it. */
static struct filter_set *filter_published;
/* In force when a copy cannot be made: nothing IPv4 passes. */
static struct filter_set filter_block_all;

static unsigned int ipv6_hook_func(struct sk_buff *skb, const struct net_device *out);

static struct parvex_hook ipv4_hook = {
	.fn = hook_func,
	.family = PARVEX_HOOK_IPV4,
};

static struct parvex_hook ipv6_hook = {
	.fn = ipv6_hook_func,
	.family = PARVEX_HOOK_IPV6,
};

static void filter_publish_set(struct filter_set *set)
{
	struct filter_set *old = filter_published;

	filter_published = set;
	rcu_assign_pointer(filter_state, set);
	if (!old || old == set)
		return;
	synchronize_rcu();
	if (old != &filter_block_all)
		vfree(old);
}

int filter_init(void)
{
	int ret;

	filter_published = NULL;
	rcu_assign_pointer(filter_state, NULL);
	ret = parvex_hook_register(&ipv4_hook);
	if (ret)
		return ret;
	ret = parvex_hook_register(&ipv6_hook);
	if (ret)
		parvex_hook_unregister(&ipv4_hook);
	return ret;
}

void filter_exit(void)
{
	parvex_hook_unregister(&ipv6_hook);
	parvex_hook_unregister(&ipv4_hook);
	filter_publish_set(NULL);
}

/*
 * Publishes the rules of every session whose filter is on.  Without memory
 * for the copy, everything IPv4 is blocked rather than anything let through,
 * and the caller is told.
 */
static int filter_publish(void)
{
	struct sctrl_session *s;
	struct filter_set *set;
	bool any = false;
	u32 count = 0;

	for (s = sctrl_find_session(NULL); s; s = sctrl_find_session(s))
		if (s->filter_enabled) {
			any = true;
			count += s->filter_count;
		}
	if (!any) {
		filter_publish_set(NULL);
		return 0;
	}
	set = vmalloc(sizeof(*set) + (unsigned long)count * sizeof(set->rules[0]));
	if (!set) {
		filter_publish_set(&filter_block_all);
		return -ENOMEM;
	}
	set->count = 0;
	for (s = sctrl_find_session(NULL); s; s = sctrl_find_session(s))
		if (s->filter_enabled && s->filter_count) {
			memcpy(set->rules + set->count, s->filter_rules,
			       s->filter_count * sizeof(set->rules[0]));
			set->count += s->filter_count;
		}
	filter_publish_set(set);
	return 0;
}

int filter_create(struct sctrl_session *s)
{
	s->filter_enabled = 0;
	s->filter_count = 0;
	s->filter_rules = NULL;
	return 0;
}

void filter_close(struct sctrl_session *s)
{
	bool was_on = s->filter_enabled;

	s->filter_enabled = 0;
	if (was_on)
		filter_publish();
	vfree(s->filter_rules);
	s->filter_rules = NULL;
	s->filter_count = 0;
}

int filter_on(struct sctrl_session *s)
{
	s->filter_enabled = 1;
	return filter_publish();
}

int filter_off(struct sctrl_session *s)
{
	s->filter_enabled = 0;
	return filter_publish();
}

/*
 * The old rules stay in force while the new ones are copied, and after a
 * failed copy too: a fault never opens what the daemon closed.
 */
int filter_set_list(struct sctrl_session *s, const void __user *rules, u32 size)
{
	struct filter_rule *list, *old;
	u32 old_count;

	if (!size || size > FILTER_MAX_LIST)
		return -1;
	list = vmalloc(size);
	if (!list)
		return -1;
	if (copy_from_user(list, rules, size)) {
		vfree(list);
		pr_err("filter list unreadable - previous rules kept \n");
		return -1;
	}
	old = s->filter_rules;
	old_count = s->filter_count;
	s->filter_rules = list;
	s->filter_count = size / sizeof(*list);
	if (s->filter_enabled && filter_publish()) {
		/* Blocking everything now; the session keeps its old rules. */
		s->filter_rules = old;
		s->filter_count = old_count;
		vfree(list);
		return -1;
	}
	vfree(old);
	return 0;
}

static bool filter_matches(const struct filter_set *set, u32 daddr)
{
	for (u32 i = 0; i < set->count; i++)
		if (!((daddr ^ set->rules[i].addr) & set->rules[i].mask))
			return true;
	return false;
}

unsigned int hook_func(struct sk_buff *skb, const struct net_device *out)
{
	const struct filter_set *set;
	unsigned int verdict = NF_ACCEPT;

	(void)out;
	if (!skb)
		return NF_ACCEPT;
	rcu_read_lock();
	set = rcu_dereference(filter_state);
	/* Rules hold network-order words as the daemon wrote them. */
	if (set && !filter_matches(set, (__force u32)parvex_skb_ipv4_daddr(skb)))
		verdict = NF_DROP;
	rcu_read_unlock();
	return verdict;
}

/* The tunnel carries IPv4 only: with a filter on, IPv6 leaves by loopback or not at all. */
static unsigned int ipv6_hook_func(struct sk_buff *skb, const struct net_device *out)
{
	bool filtering;

	(void)skb;
	rcu_read_lock();
	filtering = rcu_dereference(filter_state) != NULL;
	rcu_read_unlock();
	return filtering && !parvex_dev_is_loopback(out) ? NF_DROP : NF_ACCEPT;
}
