// SPDX-License-Identifier: GPL-2.0
/*
 * Output hooks on netfilter: the last point of the output path
 * (NF_INET_POST_ROUTING) of the initial network namespace, at the lowest
 * priority number, so the units' function runs ahead of every other hook
 * there.
 */
#include "kmod/platform.h"

#include <linux/ip.h>
#include <linux/limits.h>
#include <linux/netdevice.h>
#include <linux/netfilter_ipv4.h>
#include <linux/slab.h>
#include <net/net_namespace.h>

static unsigned int parvex_nf_hook(void *priv, struct sk_buff *skb,
				   const struct nf_hook_state *state)
{
	struct parvex_hook *hook = priv;

	return hook->fn(skb, state->out);
}

int parvex_hook_register(struct parvex_hook *hook)
{
	struct nf_hook_ops *ops = kzalloc(sizeof(*ops), GFP_KERNEL);
	int err;

	if (!ops)
		return -ENOMEM;
	ops->hook = parvex_nf_hook;
	ops->priv = hook;
	ops->pf = hook->family == PARVEX_HOOK_IPV6 ? NFPROTO_IPV6 : NFPROTO_IPV4;
	ops->hooknum = NF_INET_POST_ROUTING;
	ops->priority = INT_MIN;
	err = nf_register_net_hook(&init_net, ops);
	if (err) {
		kfree(ops);
		return err;
	}
	hook->platform = ops;
	return 0;
}

/*
 * Netfilter frees the old hook table after a grace period but does not wait
 * for it; the wait here is what lets the caller free what the hook reads.
 */
void parvex_hook_unregister(struct parvex_hook *hook)
{
	struct nf_hook_ops *ops = hook->platform;

	if (!ops)
		return;
	nf_unregister_net_hook(&init_net, ops);
	synchronize_net();
	kfree(ops);
	hook->platform = NULL;
}

__be32 parvex_skb_ipv4_daddr(const struct sk_buff *skb)
{
	return ip_hdr(skb)->daddr;
}

bool parvex_dev_is_loopback(const struct net_device *dev)
{
	return dev && (dev->flags & IFF_LOOPBACK);
}
