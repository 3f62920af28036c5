// SPDX-License-Identifier: GPL-2.0
/*
 * Kernel UDP sockets on real IPv4 sockets.  A receive loop in its own thread
 * stands in for the network receive path: it queues each datagram and calls
 * the data-ready notification, as the kernel does from its softirq.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "kmod/platform.h"
#include "kmod/user/devices_user.h"
#include "kmod/user/skb.h"

/* Big enough for any UDP payload, so oversized datagrams show their length. */
#define UDP_MAX_PAYLOAD 65536

struct socket {
	int fd;
	int stop_pipe[2];
	pthread_t receiver;
	bool receiving;
	void (*data_ready)(void *data);
	void *data_ready_arg;
	int ttl;		/* last unicast TTL set, to spare the system call */
	pthread_mutex_t lock;	/* guards the queue: the callback lock */
	struct sk_buff *head, *tail;
};

static atomic_t create_fails;

void user_fail_socket_create(void)
{
	atomic_set(&create_fails, 1);
}

int parvex_sock_create_udp(struct socket **res)
{
	struct socket *sock;

	if (atomic_xchg(&create_fails, 0))
		return -ENOBUFS;
	sock = calloc(1, sizeof(*sock));
	if (!sock)
		return -ENOMEM;
	sock->fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
	if (sock->fd < 0 || pipe2(sock->stop_pipe, O_CLOEXEC) < 0) {
		int err = -errno;

		if (sock->fd >= 0)
			close(sock->fd);
		free(sock);
		return err;
	}
	pthread_mutex_init(&sock->lock, NULL);
	sock->ttl = -1;
	*res = sock;
	return 0;
}

void parvex_sock_set_reuseaddr(struct socket *sock)
{
	int on = 1;

	setsockopt(sock->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

void parvex_sock_set_rcvbuf(struct socket *sock, int bytes)
{
	/* Beyond the system's limit where privileged, up to it otherwise. */
	if (setsockopt(sock->fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)))
		setsockopt(sock->fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

void parvex_sock_set_atomic_alloc(struct socket *sock)
{
	(void)sock;	/* user-space allocations never run in atomic context */
}

int parvex_sock_bind_any(struct socket *sock, u16 port)
{
	struct sockaddr_in sa = { .sin_family = AF_INET, .sin_port = htons(port),
				  .sin_addr.s_addr = htonl(INADDR_ANY) };

	return bind(sock->fd, (struct sockaddr *)&sa, sizeof(sa)) ? -errno : 0;
}

static void enqueue(struct socket *sock, struct sk_buff *skb)
{
	pthread_mutex_lock(&sock->lock);
	if (sock->tail)
		sock->tail->next = skb;
	else
		sock->head = skb;
	sock->tail = skb;
	pthread_mutex_unlock(&sock->lock);
}

/* One datagram from the socket into a fresh packet, or null. */
static struct sk_buff *receive_one(struct socket *sock, u8 *buf)
{
	struct sockaddr_in from;
	socklen_t fromlen = sizeof(from);
	struct sk_buff *skb;
	ssize_t n;
	size_t kept;

	n = recvfrom(sock->fd, buf, UDP_MAX_PAYLOAD, MSG_DONTWAIT | MSG_TRUNC,
		     (struct sockaddr *)&from, &fromlen);
	if (n < 0)
		return NULL;
	kept = (size_t)n < UDP_MAX_PAYLOAD ? (size_t)n : UDP_MAX_PAYLOAD;
	skb = malloc(sizeof(*skb) + kept);
	if (!skb)
		return NULL;
	memcpy(skb + 1, buf, kept);
	*skb = (struct sk_buff){ .ipv4 = true, .len = (int)n, .saddr = from.sin_addr.s_addr,
				 .sport = from.sin_port, .data = (u8 *)(skb + 1), .size = kept };
	return skb;
}

static void *receive_loop(void *arg)
{
	struct socket *sock = arg;
	u8 *buf = malloc(UDP_MAX_PAYLOAD);

	while (buf) {
		struct pollfd fds[2] = { { .fd = sock->fd, .events = POLLIN },
					 { .fd = sock->stop_pipe[0], .events = POLLIN } };
		struct sk_buff *skb;

		if (poll(fds, 2, -1) < 0 && errno != EINTR)
			break;
		if (fds[1].revents)
			break;
		if (!(fds[0].revents & POLLIN))
			continue;
		/* Everything queued, one notification per datagram. */
		while ((skb = receive_one(sock, buf))) {
			enqueue(sock, skb);
			sock->data_ready(sock->data_ready_arg);
		}
	}
	free(buf);
	return NULL;
}

void parvex_sock_set_data_ready(struct socket *sock, void (*cb)(void *data), void *data)
{
	if (sock->receiving)
		return;
	sock->data_ready = cb;
	sock->data_ready_arg = data;
	sock->receiving = !pthread_create(&sock->receiver, NULL, receive_loop, sock);
}

struct sk_buff *parvex_sock_recv_datagram(struct socket *sock)
{
	struct sk_buff *skb;

	pthread_mutex_lock(&sock->lock);
	skb = sock->head;
	if (skb) {
		sock->head = skb->next;
		if (!sock->head)
			sock->tail = NULL;
	}
	pthread_mutex_unlock(&sock->lock);
	return skb;
}

void parvex_skb_free_datagram(struct socket *sock, struct sk_buff *skb)
{
	(void)sock;
	free(skb);
}

int parvex_udp_skb_len(const struct sk_buff *skb)
{
	return skb->len;
}

__be32 parvex_udp_skb_saddr(const struct sk_buff *skb)
{
	return skb->saddr;
}

__be16 parvex_udp_skb_sport(const struct sk_buff *skb)
{
	return skb->sport;
}

int parvex_udp_skb_copy(const struct sk_buff *skb, int offset, void *to, int len)
{
	if (offset < 0 || len < 0 || (size_t)offset + (size_t)len > skb->size)
		return -EFAULT;
	memcpy(to, skb->data + offset, (size_t)len);
	return 0;
}

int parvex_sock_send2(struct socket *sock, __be32 addr, __be16 port, const void *a, size_t alen,
	       const void *b, size_t blen)
{
	struct sockaddr_in to = { .sin_family = AF_INET, .sin_port = port,
				  .sin_addr.s_addr = addr };
	struct iovec iov[2] = { { (void *)a, alen }, { (void *)b, blen } };
	struct msghdr msg = { .msg_name = &to, .msg_namelen = sizeof(to), .msg_iov = iov,
			      .msg_iovlen = 2 };
	ssize_t n = sendmsg(sock->fd, &msg, 0);

	return n < 0 ? -errno : (int)n;
}

void parvex_sock_set_unicast_ttl(struct socket *sock, int ttl)
{
	if (ttl == sock->ttl)
		return;
	sock->ttl = ttl;
	setsockopt(sock->fd, IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl));
}

/* The receive loop ends; no notification runs after this returns. */
static void stop_receiving(struct socket *sock)
{
	if (sock->receiving) {
		ssize_t ignored = write(sock->stop_pipe[1], "", 1);

		(void)ignored;
		pthread_join(sock->receiver, NULL);
		sock->receiving = false;
	}
}

void parvex_sock_shutdown(struct socket *sock)
{
	shutdown(sock->fd, SHUT_RDWR);
	stop_receiving(sock);
}

void sock_release(struct socket *sock)
{
	struct sk_buff *skb;

	stop_receiving(sock);
	while ((skb = parvex_sock_recv_datagram(sock)))
		free(skb);
	close(sock->fd);
	close(sock->stop_pipe[0]);
	close(sock->stop_pipe[1]);
	pthread_mutex_destroy(&sock->lock);
	free(sock);
}
