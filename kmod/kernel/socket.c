// SPDX-License-Identifier: GPL-2.0
/*
 * The module's UDP sockets: kernel sockets in the initial network namespace.
 * Each carries a small record in sk_user_data with the receive callback the
 * units installed; it is made with the socket, so installing the callback
 * cannot fail, and freed when the socket is shut down.
 */
#include "kmod/platform.h"

#include <linux/in.h>
#include <linux/ip.h>
#include <linux/slab.h>
#include <linux/udp.h>
#include <net/inet_sock.h>
#include <net/net_namespace.h>
#include <net/sock.h>
#include <net/udp.h>

struct parvex_sock_user {
	void (*cb)(void *data);
	void *data;
	void (*saved_data_ready)(struct sock *sk);
};

int parvex_sock_create_udp(struct socket **res)
{
	struct parvex_sock_user *user = kzalloc(sizeof(*user), GFP_KERNEL);
	struct socket *sock;
	int err;

	if (!user)
		return -ENOMEM;
	err = sock_create_kern(&init_net, AF_INET, SOCK_DGRAM, IPPROTO_UDP, &sock);
	if (err < 0) {
		kfree(user);
		return err;
	}
	write_lock_bh(&sock->sk->sk_callback_lock);
	user->saved_data_ready = sock->sk->sk_data_ready;
	rcu_assign_sk_user_data(sock->sk, user);
	write_unlock_bh(&sock->sk->sk_callback_lock);
	*res = sock;
	return 0;
}

void parvex_sock_set_reuseaddr(struct socket *sock)
{
	sock_set_reuseaddr(sock->sk);
}

void parvex_sock_set_rcvbuf(struct socket *sock, int bytes)
{
	sock_set_rcvbuf(sock->sk, bytes);	/* what SO_RCVBUFFORCE does */
}

void parvex_sock_set_atomic_alloc(struct socket *sock)
{
	lock_sock(sock->sk);
	sock->sk->sk_allocation = GFP_ATOMIC;
	release_sock(sock->sk);
}

int parvex_sock_bind_any(struct socket *sock, u16 port)
{
	struct sockaddr_in addr = {
		.sin_family = AF_INET,
		.sin_port = htons(port),
		.sin_addr.s_addr = htonl(INADDR_ANY),
	};

	return kernel_bind(sock, (struct sockaddr *)&addr, sizeof(addr));
}

/*
 * UDP calls this once per queued datagram, in softirq context and under
 * rcu_read_lock; the callback lock keeps the record while the units' callback
 * runs.
 */
static void parvex_data_ready(struct sock *sk)
{
	struct parvex_sock_user *user;

	rcu_read_lock();
	read_lock_bh(&sk->sk_callback_lock);
	user = rcu_dereference_sk_user_data(sk);
	if (user && user->cb)
		user->cb(user->data);
	read_unlock_bh(&sk->sk_callback_lock);
	rcu_read_unlock();
}

void parvex_sock_set_data_ready(struct socket *sock, void (*cb)(void *data), void *data)
{
	struct sock *sk = sock->sk;
	struct parvex_sock_user *user;

	write_lock_bh(&sk->sk_callback_lock);
	user = rcu_dereference_protected(__sk_user_data(sk), lockdep_is_held(&sk->sk_callback_lock));
	if (user) {
		user->cb = cb;
		user->data = data;
		sk->sk_data_ready = parvex_data_ready;
	}
	write_unlock_bh(&sk->sk_callback_lock);
}

struct sk_buff *parvex_sock_recv_datagram(struct socket *sock)
{
	struct sock *sk = sock->sk;
	struct sk_buff *skb;
	int err;

	skb = skb_recv_udp(sk, MSG_DONTWAIT, &err);
	if (!skb)
		return NULL;
	/* What the device did not check, udp_recvmsg would: a corrupt datagram goes. */
	if (!udp_skb_csum_unnecessary(skb) && __udp_lib_checksum_complete(skb)) {
		atomic_inc(&sk->sk_drops);
		kfree_skb(skb);
		return NULL;
	}
	return skb;
}

void parvex_skb_free_datagram(struct socket *sock, struct sk_buff *skb)
{
	skb_consume_udp(sock->sk, skb, 0);
}

/* UDP queues a datagram with its header pulled: the data is the payload. */
int parvex_udp_skb_len(const struct sk_buff *skb)
{
	return skb->len;
}

__be32 parvex_udp_skb_saddr(const struct sk_buff *skb)
{
	return ip_hdr(skb)->saddr;
}

__be16 parvex_udp_skb_sport(const struct sk_buff *skb)
{
	return udp_hdr(skb)->source;
}

int parvex_udp_skb_copy(const struct sk_buff *skb, int offset, void *to, int len)
{
	return skb_copy_bits(skb, offset, to, len);
}

/*
 * Never waits for socket memory: one thread sends for every session, and a
 * server whose next hop does not answer (datagrams held while the neighbour
 * is resolved, up to a socket's worth) would otherwise stall all of them for
 * seconds. A datagram that does not fit fails with -EAGAIN instead, as any
 * loss on the way would have lost it.
 */
int parvex_sock_send2(struct socket *sock, __be32 addr, __be16 port, const void *a, size_t alen,
		      const void *b, size_t blen)
{
	struct sockaddr_in to = {
		.sin_family = AF_INET,
		.sin_port = port,
		.sin_addr.s_addr = addr,
	};
	struct kvec iov[2] = {
		{ .iov_base = (void *)a, .iov_len = alen },
		{ .iov_base = (void *)b, .iov_len = blen },
	};
	struct msghdr msg = {
		.msg_name = &to,
		.msg_namelen = sizeof(to),
		.msg_flags = MSG_DONTWAIT,
	};

	return kernel_sendmsg(sock, &msg, iov, ARRAY_SIZE(iov), alen + blen);
}

/* What IP_TTL does: 1..255, or -1 for the route's default. */
void parvex_sock_set_unicast_ttl(struct socket *sock, int ttl)
{
	if (ttl != -1 && (ttl < 1 || ttl > 255))
		return;
	lock_sock(sock->sk);
	WRITE_ONCE(inet_sk(sock->sk)->uc_ttl, ttl);
	release_sock(sock->sk);
}

/*
 * After the callback is detached under the write lock, a grace period lets a
 * receive path that already picked up parvex_data_ready finish with it (UDP
 * delivers under rcu_read_lock), so neither the record nor the module's code
 * is used afterwards.
 */
void parvex_sock_shutdown(struct socket *sock)
{
	struct sock *sk = sock->sk;
	struct parvex_sock_user *user;

	kernel_sock_shutdown(sock, SHUT_RDWR);
	write_lock_bh(&sk->sk_callback_lock);
	user = rcu_dereference_protected(__sk_user_data(sk), lockdep_is_held(&sk->sk_callback_lock));
	if (user)
		sk->sk_data_ready = user->saved_data_ready;
	rcu_assign_sk_user_data(sk, NULL);
	write_unlock_bh(&sk->sk_callback_lock);
	synchronize_rcu();
	kfree(user);
}
