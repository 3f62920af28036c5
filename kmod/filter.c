// SPDX-License-Identifier: GPL-2.0
#include "kmod/filter.h"
#include "kmod/sctrl.h"

static spinlock_t walk_lock;

static struct parvex_hook ipv4_hook = {
	.fn = hook_func,
	.family = PARVEX_HOOK_IPV4,
};

int filter_init(void)
{
	spin_lock_init(&walk_lock);
	return parvex_hook_register(&ipv4_hook);
}

void filter_exit(void)
{
	parvex_hook_unregister(&ipv4_hook);
}

void filter_lock_walks(void)
{
	spin_lock_bh(&walk_lock);
}

void filter_unlock_walks(void)
{
	spin_unlock_bh(&walk_lock);
}

/* The session is in the table already, its lock set up and visible to the hook. */
int filter_create(struct sctrl_session *s)
{
	spin_lock_bh(&s->filter_lock);
	s->filter_enabled = 0;
	s->filter_count = 0;
	s->filter_rules = NULL;
	spin_unlock_bh(&s->filter_lock);
	return 0;
}

/* Detaches the rules under the filter lock and frees them outside it. */
static void filter_replace_rules(struct sctrl_session *s, struct filter_rule *rules, u32 count)
{
	struct filter_rule *old;

	spin_lock_bh(&s->filter_lock);
	old = s->filter_rules;
	s->filter_rules = rules;
	s->filter_count = count;
	spin_unlock_bh(&s->filter_lock);
	vfree(old);
}

/* The hook reads the switch under the filter lock too, so it never sees a torn update. */
static void filter_switch(struct sctrl_session *s, u32 enabled)
{
	spin_lock_bh(&s->filter_lock);
	s->filter_enabled = enabled;
	spin_unlock_bh(&s->filter_lock);
}

void filter_close(struct sctrl_session *s)
{
	filter_switch(s, 0);
	filter_replace_rules(s, NULL, 0);
}

int filter_on(struct sctrl_session *s)
{
	filter_switch(s, 1);
	return 0;
}

int filter_off(struct sctrl_session *s)
{
	filter_switch(s, 0);
	return 0;
}

/*
 * The old rules stay in force while the new ones are copied: switching the
 * filter off meanwhile would let packets leave unfiltered.  A failed copy
 * leaves the filter off and empty, and the caller is told.
 */
int filter_set_list(struct sctrl_session *s, const void __user *rules, u32 size)
{
	struct filter_rule *list;

	if (!size || size > FILTER_MAX_LIST)
		return -1;
	list = vmalloc(size);
	if (!list)
		return -1;
	if (copy_from_user(list, rules, size)) {
		vfree(list);
		filter_close(s);
		return -1;
	}
	filter_replace_rules(s, list, size / sizeof(*list));
	return 0;
}

static bool filter_matches(const struct sctrl_session *s, u32 daddr)
{
	for (u32 i = 0; i < s->filter_count; i++)
		if (!((daddr ^ s->filter_rules[i].addr) & s->filter_rules[i].mask))
			return true;
	return false;
}

unsigned int hook_func(struct sk_buff *skb, const struct net_device *out)
{
	unsigned int verdict = NF_ACCEPT;
	struct sctrl_session *s;
	u32 daddr;

	(void)out;
	if (!skb)
		return NF_ACCEPT;
	daddr = parvex_skb_ipv4_daddr(skb);
	filter_lock_walks();
	for (s = sctrl_find_session(NULL); s; s = sctrl_find_session(s)) {
		bool enabled, matched;

		spin_lock_bh(&s->filter_lock);
		enabled = s->filter_enabled;
		matched = enabled && filter_matches(s, daddr);
		spin_unlock_bh(&s->filter_lock);
		if (matched) {
			verdict = NF_ACCEPT;
			break;
		}
		if (enabled)
			verdict = NF_DROP;
	}
	filter_unlock_walks();
	return verdict;
}
