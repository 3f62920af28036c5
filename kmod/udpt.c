// SPDX-License-Identifier: GPL-2.0
/*
 * UDP transport.  The socket list changes only on the control path with the
 * control and transfer locks held; the receive notification touches nothing
 * but the datagram and the inbound ring.
 */
#include "kmod/udpt.h"
#include "kmod/sctrl.h"
#include "kmod/stbuff.h"

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
		pr_err("sock_create failed");
		return NULL;
	}
	parvex_sock_set_reuseaddr(sock);
	parvex_sock_set_atomic_alloc(sock);
	/* Unbound, the system picks the source port with the first datagram. */
	if (parvex_sock_bind_any(sock, rec->local_port) < 0)
		pr_err("sock bind failed");
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

void udpt_cb_data_ready(void *data)
{
	struct udpt_sock *rec = data;
	struct sk_buff *skb = parvex_sock_recv_datagram(rec->sock);
	struct stbuff_slot *slot;
	s32 len;

	if (!skb)
		return;
	len = parvex_udp_skb_len(skb);
	if (len < 1 || len > STBUFF_DATA_SIZE) {
		pr_err("packet has invalid length %d bytes", len);
		goto out;
	}
	slot = stbuff_instream_put_begin(len);
	if (!slot)
		goto out;	/* ring full: dropped without a word */
	if (parvex_udp_skb_copy(skb, 0, slot->data, len)) {
		pr_err("skb_copy_bits error ");
		stbuff_instream_put_cancel();
		goto out;
	}
	slot->local_addr = rec->local_addr;
	slot->local_port = rec->local_port;
	slot->peer_addr = be32_to_cpu(parvex_udp_skb_saddr(skb));
	slot->peer_port = be16_to_cpu(parvex_udp_skb_sport(skb));
	slot->len = len;
	stbuff_instream_put_finish();
out:
	parvex_skb_free_datagram(rec->sock, skb);
}

void udpt_outstream_put(struct sctrl_session *s)
{
	struct sctrl_outframe *f;
	int ret;

	if (!s || s->out.len <= 0)
		return;
	if (!s->sock) {
		pr_err("error while sending packet - no socket exists");
		return;
	}
	f = &s->out;
	/* The socket is shared: a frame without a TTL of its own gets the default back. */
	parvex_sock_set_unicast_ttl(s->sock, f->ttl >= 0 ? f->ttl : -1);
	ret = parvex_sock_send2(s->sock, cpu_to_be32(s->params.peer_addr), cpu_to_be16(s->params.peer_port),
			 f->header, (size_t)f->header_len, f->data, (size_t)f->len);
	if (ret < 0)
		pr_err("send packet error %d ", -ret);
}
