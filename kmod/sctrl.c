// SPDX-License-Identifier: GPL-2.0
/* Session table, traffic counters and event frames. */
#include "kmod/sctrl.h"
#include "kmod/stbuff.h"

struct traffic_stats stats;

/* Circular list of sessions, newest first; null when empty. */
static struct sctrl_session *table;
static spinlock_t table_lock;

int sctrl_init(void)
{
	spin_lock_init(&table_lock);
	table = NULL;
	return 0;
}

void sctrl_exit(void)
{
}

static bool in_table(const struct sctrl_session *s)
{
	const struct sctrl_session *it = table;

	if (!it)
		return false;
	do {
		if (it == s)
			return true;
		it = it->next;
	} while (it != table);
	return false;
}

struct sctrl_session *sctrl_create_session(struct tty_struct *tty)
{
	struct sctrl_session *s = vzalloc(sizeof(*s));

	if (!s)
		return NULL;
	s->tty = tty;
	s->params.sid = -1;

	spin_lock_bh(&table_lock);
	if (table) {
		s->next = table;
		s->prev = table->prev;
		table->prev->next = s;
		table->prev = s;
	} else {
		s->next = s;
		s->prev = s;
	}
	table = s;
	spin_unlock_bh(&table_lock);
	return s;
}

int sctrl_delete_session(struct sctrl_session *s)
{
	spin_lock_bh(&table_lock);
	if (!s || !in_table(s)) {
		spin_unlock_bh(&table_lock);
		return 0;
	}
	if (s->next == s) {
		table = NULL;
	} else {
		s->prev->next = s->next;
		s->next->prev = s->prev;
		if (table == s)
			table = s->next;
	}
	spin_unlock_bh(&table_lock);

	/* Keys, both direction contexts and the frame pointers go with it. */
	memzero_explicit(s, sizeof(*s));
	vfree(s);
	return 0;
}

/*
 * One step of a walk.  A session deleted since the previous step ends the
 * walk instead of leading into freed memory.
 */
struct sctrl_session *sctrl_find_session(struct sctrl_session *after)
{
	struct sctrl_session *next = NULL;

	spin_lock_bh(&table_lock);
	if (!after)
		next = table;
	else if (in_table(after) && after->next != table)
		next = after->next;
	spin_unlock_bh(&table_lock);
	return next;
}

typedef bool (*sctrl_match)(const struct sctrl_session *s, const void *key);

static struct sctrl_session *find_first(sctrl_match match, const void *key)
{
	struct sctrl_session *s, *found = NULL;

	spin_lock_bh(&table_lock);
	s = table;
	if (s) {
		do {
			if (match(s, key)) {
				found = s;
				break;
			}
			s = s->next;
		} while (s != table);
	}
	spin_unlock_bh(&table_lock);
	return found;
}

static bool match_sid(const struct sctrl_session *s, const void *key)
{
	return s->params.sid == *(const s32 *)key;
}

struct sctrl_session *sctrl_find_session_sid(s32 sid)
{
	return find_first(match_sid, &sid);
}

static bool match_tty(const struct sctrl_session *s, const void *key)
{
	return s->tty == key;
}

struct sctrl_session *sctrl_find_session_tty(struct tty_struct *tty)
{
	return find_first(match_tty, tty);
}

struct peer {
	u32 addr;
	u32 local_addr;
	u16 port;
	u16 local_port;
};

static bool match_peer(const struct sctrl_session *s, const void *key)
{
	const struct peer *p = key;

	return s->params.peer_addr == p->addr && s->params.peer_port == p->port &&
	       s->params.local_addr == p->local_addr && s->params.local_port == p->local_port;
}

struct sctrl_session *sctrl_find_session_address(u32 peer_addr, u16 peer_port, u32 local_addr,
						 u16 local_port)
{
	struct peer p = { .addr = peer_addr, .port = peer_port, .local_addr = local_addr,
			  .local_port = local_port };

	return find_first(match_peer, &p);
}

void reset_stats(struct traffic_stats *st)
{
	memset(st, 0, sizeof(*st));
}

/* PPP control protocols (0xC0xx) and frames dropped on the way are not counted. */
static bool counted(const u8 *frame, s32 len)
{
	return len > 0 && !(len > 2 && frame[2] == 0xC0);
}

void sctrl_count_received(struct sctrl_session *s)
{
	if (!counted(s->in.data, s->in.len))
		return;
	s->stats.frames_received++;
	s->stats.bytes_received += (u32)s->in.len;
	stats.frames_received++;
	stats.bytes_received += (u32)s->in.len;
}

void sctrl_count_sent(struct sctrl_session *s)
{
	if (!counted(s->out.data, s->out.len))
		return;
	s->stats.frames_sent++;
	s->stats.bytes_sent += (u32)s->out.len;
	stats.frames_sent++;
	stats.bytes_sent += (u32)s->out.len;
}

/* A full ring loses the event. */
static void put_event(s32 sid, const void *event, s32 len)
{
	stbuff_logger_put(sid, event, len);
}

void trigger_event_decerror(s32 sid, u32 count)
{
	struct sctrl_event_decerror ev = {
		.header = SCTRL_EVENT_HEADER,
		.type = SCTRL_EVENT_DECERROR,
		.count = count,
	};

	put_event(sid, &ev, sizeof(ev));
}

static inline u16 get_be16(const u8 *p)
{
	return (u16)(p[0] << 8 | p[1]);
}

static inline u32 get_be32(const u8 *p)
{
	return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3];
}

#define PPP_PROTO_IPV4 0x0021
#define IPPROTO_TCP_NUM 6
#define IPPROTO_UDP_NUM 17
#define TRAFFIC_MIN_FRAME 32
#define TRAFFIC_MIN_TCP_FRAME 44

/*
 * The IPv4 header is taken as 20 bytes long: with options, the ports are
 * whatever sits at header offsets 20-23, as the daemon expects.
 */
void trigger_event_traffic(const u8 *frame, s32 len, s32 sid, int received)
{
	const u8 *ip = frame + 4;
	struct sctrl_event_traffic ev = {
		.header = SCTRL_EVENT_HEADER,
		.type = SCTRL_EVENT_TRAFFIC,
	};

	if (len < TRAFFIC_MIN_FRAME || get_be16(frame + 2) != PPP_PROTO_IPV4)
		return;
	ev.direction = received ? 1 : 2;
	ev.protocol = ip[9];
	ev.total_len = get_be16(ip + 2);
	ev.saddr = get_be32(ip + 12);
	ev.daddr = get_be32(ip + 16);
	if (ev.protocol == IPPROTO_UDP_NUM ||
	    (ev.protocol == IPPROTO_TCP_NUM && len >= TRAFFIC_MIN_TCP_FRAME)) {
		ev.sport = get_be16(ip + 20);
		ev.dport = get_be16(ip + 22);
	}
	put_event(sid, &ev, sizeof(ev));
}
