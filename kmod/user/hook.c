// SPDX-License-Identifier: GPL-2.0
/* The output hooks: tests hand packets to whatever hook is registered. */
#include <errno.h>
#include <string.h>

#include "kmod/platform.h"
#include "kmod/user/devices_user.h"
#include "kmod/user/skb.h"

/* One hook per family; a call in progress finishes before unregistering returns. */
static struct parvex_hook *registered[2];
static atomic_t running[2];

/* The devices a packet leaves by: only whether it is loopback matters. */
struct net_device {
	bool loopback;
};

static const struct net_device loopback_dev = { .loopback = true };
static const struct net_device ethernet_dev = { .loopback = false };

/* Registrations left to succeed before one fails; -1: none fails. */
static atomic_t registrations_left = { -1 };

void user_fail_hook_register_after(int n)
{
	atomic_set(&registrations_left, n);
}

void user_fail_hook_register(void)
{
	user_fail_hook_register_after(0);
}

static bool registration_fails(void)
{
	int left = atomic_read(&registrations_left);

	while (left >= 0) {
		if (__atomic_compare_exchange_n(&registrations_left.counter, &left, left - 1,
						false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
			return left == 0;
	}
	return false;
}

static bool family_valid(int family)
{
	return family == PARVEX_HOOK_IPV4 || family == PARVEX_HOOK_IPV6;
}

int parvex_hook_register(struct parvex_hook *hook)
{
	struct parvex_hook *none = NULL;

	if (registration_fails())
		return -ENOMEM;
	if (!family_valid(hook->family) || !hook->fn)
		return -EINVAL;
	if (!__atomic_compare_exchange_n(&registered[hook->family], &none, hook, false,
					 __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
		return -EBUSY;
	return 0;
}

void parvex_hook_unregister(struct parvex_hook *hook)
{
	if (!family_valid(hook->family))
		return;
	__atomic_compare_exchange_n(&registered[hook->family], &hook, NULL, false,
				    __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
	while (atomic_read(&running[hook->family]))
		;
}

int user_output_hook_registered(int family)
{
	return family_valid(family) && __atomic_load_n(&registered[family], __ATOMIC_SEQ_CST);
}

static unsigned int verdict(int family, struct sk_buff *skb, const struct net_device *out)
{
	struct parvex_hook *hook;
	unsigned int v = NF_ACCEPT;

	atomic_inc(&running[family]);
	hook = __atomic_load_n(&registered[family], __ATOMIC_SEQ_CST);
	if (hook)
		v = hook->fn(skb, out);
	atomic_dec(&running[family]);
	return v;
}

unsigned int user_output_ipv4(const void *packet, size_t len)
{
	struct sk_buff skb = { .ipv4 = true, .len = (int)len, .data = packet, .size = len };

	if (len < 20)
		return NF_ACCEPT;	/* the stack never hands on such a packet */
	return verdict(PARVEX_HOOK_IPV4, &skb, &ethernet_dev);
}

unsigned int user_output_ipv6(int loopback)
{
	struct sk_buff skb = { .ipv4 = false };

	return verdict(PARVEX_HOOK_IPV6, &skb, loopback ? &loopback_dev : &ethernet_dev);
}

__be32 parvex_skb_ipv4_daddr(const struct sk_buff *skb)
{
	u32 daddr;

	memcpy(&daddr, skb->data + 16, sizeof(daddr));
	return daddr;
}

bool parvex_dev_is_loopback(const struct net_device *dev)
{
	return dev && dev->loopback;
}
