// SPDX-License-Identifier: GPL-2.0
/*
 * UDP transport.  The socket list changes only on the control path with the
 * control and transfer locks held; the receive notification touches nothing
 * but the datagram and the inbound ring.
 */
#include "kmod/udpt.h"
#include "kmod/sctrl.h"
#include "kmod/stbuff.h"

/*
 * Room in the socket for all the inbound ring admits, so that a burst the
 * ring would take is not lost in the socket first (a 2 KiB datagram takes up
 * to 4 KiB of the socket's accounting).
 */
#define UDPT_RCVBUF (STBUFF_SLOTS * 4096)

static struct udpt_sock *udpt_data;

int udpt_init(void)
{
	udpt_data = NULL;
	return 0;
}

static void udpt_link(struct udpt_sock *rec)
{
	rec->prev = NULL;
	rec->next = udpt_data;
	if (udpt_data)
		udpt_data->prev = rec;
	udpt_data = rec;
}

static void udpt_unlink(struct udpt_sock *rec)
{
	if (rec->prev)
		rec->prev->next = rec->next;
	else
		udpt_data = rec->next;
	if (rec->next)
		rec->next->prev = rec->prev;
}

static void udpt_release(struct udpt_sock *rec)
{
	udpt_unlink(rec);
	if (rec->sock) {
		parvex_sock_shutdown(rec->sock);
		sock_release(rec->sock);
	}
	vfree(rec);
}

void udpt_exit(void)
{
	while (udpt_data)
		udpt_release(udpt_data);
}

struct udpt_sock *udpt_find_sock(u32 local_addr, u16 local_port)
{
	struct udpt_sock *rec;

	for (rec = udpt_data; rec; rec = rec->next)
		if (rec->local_addr == local_addr && rec->local_port == local_port)
			return rec;
	return NULL;
}

static struct socket *udpt_open_socket(struct udpt_sock *rec)
{
	struct socket *sock;

	if (parvex_sock_create_udp(&sock) < 0) {
		pr_err("sock_create failed\n");
		return NULL;
	}
	parvex_sock_set_reuseaddr(sock);
	parvex_sock_set_atomic_alloc(sock);
	parvex_sock_set_rcvbuf(sock, UDPT_RCVBUF);
	/* Unbound, the system picks the source port with the first datagram. */
	if (parvex_sock_bind_any(sock, rec->local_port) < 0)
		pr_err("sock bind failed\n");
	/* In place before the first notification, which may come at once. */
	rec->sock = sock;
	parvex_sock_set_data_ready(sock, udpt_cb_data_ready, rec);
	return sock;
}

int udpt_create(struct sctrl_session *s)
{
	struct udpt_sock *rec;

	if (!s)
		return -EFAULT;
	rec = udpt_find_sock(s->params.local_addr, s->params.local_port);
	if (!rec) {
		rec = vzalloc(sizeof(*rec));
		if (!rec)
			return -EFAULT;
		rec->local_addr = s->params.local_addr;
		rec->local_port = s->params.local_port;
		if (!udpt_open_socket(rec)) {
			vfree(rec);
			return -EFAULT;
		}
		udpt_link(rec);
	}
	rec->users++;
	s->sock = rec->sock;
	reset_stats(&s->stats);
	return 0;
}

/*
 * Only a session that holds the socket gives a reference back: one whose
 * set-up failed must not release the socket of others on its address.
 */
int udpt_close(struct sctrl_session *s)
{
	struct udpt_sock *rec;

	if (!s || !s->sock)
		return 0;
	rec = udpt_find_sock(s->params.local_addr, s->params.local_port);
	s->sock = NULL;
	if (!rec || --rec->users > 0)
		return 0;
	udpt_release(rec);
	return 0;
}

struct udpt_datagram {
	const struct udpt_sock *rec;
	const struct sk_buff *skb;
	s32 len;
};

static int udpt_fill_slot(struct stbuff_slot *slot, void *data)
{
	const struct udpt_datagram *d = data;

	if (parvex_udp_skb_copy(d->skb, 0, slot->data, d->len)) {
		pr_err("skb_copy_bits error \n");
		return -EFAULT;
	}
	slot->local_addr = d->rec->local_addr;
	slot->local_port = d->rec->local_port;
	slot->peer_addr = be32_to_cpu(parvex_udp_skb_saddr(d->skb));
	slot->peer_port = be16_to_cpu(parvex_udp_skb_sport(d->skb));
	slot->len = d->len;
	return 0;
}

/* A full ring drops the datagram without a word. */
void udpt_cb_data_ready(void *data)
{
	struct udpt_sock *rec = data;
	struct udpt_datagram d = { .rec = rec };
	struct sk_buff *skb = parvex_sock_recv_datagram(rec->sock);

	if (!skb)
		return;
	d.skb = skb;
	d.len = parvex_udp_skb_len(skb);
	if (d.len < 1 || d.len > STBUFF_DATA_SIZE)
		pr_err("packet has invalid length %d bytes\n", d.len);
	else
		stbuff_instream_put(d.len, udpt_fill_slot, &d);
	parvex_skb_free_datagram(rec->sock, skb);
}

void udpt_outstream_put(struct sctrl_session *s)
{
	struct sctrl_outframe *f;
	int ret;

	if (!s || s->out.len <= 0)
		return;
	if (!s->sock) {
		pr_err("error while sending packet - no socket exists\n");
		return;
	}
	f = &s->out;
	/* The socket is shared: a frame without a TTL of its own gets the default back. */
	parvex_sock_set_unicast_ttl(s->sock, f->ttl >= 0 ? f->ttl : -1);
	ret = parvex_sock_send2(s->sock, cpu_to_be32(s->params.peer_addr), cpu_to_be16(s->params.peer_port),
			 f->header, (size_t)f->header_len, f->data, (size_t)f->len);
	if (ret < 0)
		pr_err("send packet error %d \n", -ret);
}
