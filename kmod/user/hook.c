// SPDX-License-Identifier: GPL-2.0
/* The IPv4 output hook: tests hand packets to whatever hook is registered. */
#include <errno.h>
#include <string.h>

#include "kmod/platform.h"
#include "kmod/user/devices_user.h"
#include "kmod/user/skb.h"

static struct nf_hook_ops *registered;
static atomic_t register_fails;

void user_fail_hook_register(void)
{
	atomic_set(&register_fails, 1);
}

int nf_register_hook(struct nf_hook_ops *reg)
{
	if (atomic_xchg(&register_fails, 0))
		return -ENOMEM;
	if (__atomic_load_n(&registered, __ATOMIC_SEQ_CST))
		return -EBUSY;
	__atomic_store_n(&registered, reg, __ATOMIC_SEQ_CST);
	return 0;
}

void nf_unregister_hook(struct nf_hook_ops *reg)
{
	__atomic_compare_exchange_n(&registered, &reg, NULL, false, __ATOMIC_SEQ_CST,
				    __ATOMIC_SEQ_CST);
}

int user_output_hook_registered(void)
{
	return __atomic_load_n(&registered, __ATOMIC_SEQ_CST) != NULL;
}

static unsigned int verdict(struct sk_buff *skb)
{
	struct nf_hook_ops *reg = __atomic_load_n(&registered, __ATOMIC_SEQ_CST);

	if (!reg)
		return NF_ACCEPT;
	return reg->hook(reg->hooknum, skb, NULL, NULL, NULL);
}

unsigned int user_output_ipv4(const void *packet, size_t len)
{
	struct sk_buff skb = { .ipv4 = true, .len = (int)len, .data = packet, .size = len };

	return verdict(&skb);
}

unsigned int user_output_other(void)
{
	struct sk_buff skb = { .ipv4 = false };

	return verdict(&skb);
}

bool skb_is_ipv4(const struct sk_buff *skb)
{
	return skb->ipv4 && skb->size >= 20;
}

u32 skb_ipv4_daddr(const struct sk_buff *skb)
{
	u32 daddr;

	memcpy(&daddr, skb->data + 16, sizeof(daddr));
	return daddr;
}
