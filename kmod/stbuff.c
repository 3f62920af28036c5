// SPDX-License-Identifier: GPL-2.0
/*
 * Frame rings and the two worker threads.  Producers copy a frame into the
 * slot at the write index and commit it; the ring's one consumer thread works
 * the slots in order and gives each back only after it is done with it, so a
 * slot is never refilled while in use.
 */
#include "kmod/stbuff.h"
#include "kmod/crypter.h"
#include "kmod/sctrl.h"
#include "kmod/sync.h"
#include "kmod/ttysim.h"

#define STBUFF_NICE (-10)

struct stbuff_queue {
	/* The ring; producers see it through slots, null once the ring is closed. */
	struct stbuff_slot *ring;
	struct stbuff_slot *slots;
	u32 write_index;	/* producer side, under producer_lock */
	u32 read_index;		/* consumer thread only */
	atomic_t occupied;
	atomic_t stop;
	atomic_t pending;
	struct task_struct *thread;
	/* The thread woken by a commit: the inbound thread also drains events. */
	struct stbuff_queue *worker;
	/*
	 * Serialises producers from begin to finish or cancel: several processes
	 * write lines, both threads raise events, receive paths run on any CPU.
	 */
	spinlock_t producer_lock;
	/* Frames the ring had no room for since load, under producer_lock. */
	unsigned int *refused;
};

/*
 * What each ring turned away for want of room: datagrams lost before the
 * crypter, writes the line refused, events lost.  Read-only parameters, so
 * that they show beside the module (the session records' counters have a
 * fixed layout and no place for them).
 */
static unsigned int inbound_ring_drops;
static unsigned int outbound_ring_drops;
static unsigned int event_ring_drops;
module_param(inbound_ring_drops, uint, 0444);
module_param(outbound_ring_drops, uint, 0444);
module_param(event_ring_drops, uint, 0444);

static struct stbuff_queue instream_queue = { .worker = &instream_queue,
					      .refused = &inbound_ring_drops };
static struct stbuff_queue outstream_queue = { .worker = &outstream_queue,
					       .refused = &outbound_ring_drops };
static struct stbuff_queue logger_queue = { .worker = &instream_queue,
					    .refused = &event_ring_drops };

static unsigned int queue_refused(struct stbuff_queue *q)
{
	unsigned int n;

	spin_lock_bh(&q->producer_lock);
	n = *q->refused;
	spin_unlock_bh(&q->producer_lock);
	return n;
}

void stbuff_get_drops(struct stbuff_drops *d)
{
	d->inbound = queue_refused(&instream_queue);
	d->outbound = queue_refused(&outstream_queue);
	d->events = queue_refused(&logger_queue);
}

u32 st_update_buffer_pointer(u32 index)
{
	return index + 1 < STBUFF_SLOTS ? index + 1 : 0;
}

static int queue_alloc(struct stbuff_queue *q)
{
	q->ring = vzalloc(sizeof(*q->ring) * STBUFF_SLOTS);
	if (!q->ring)
		return -1;
	q->slots = q->ring;
	q->write_index = 0;
	q->read_index = 0;
	atomic_set(&q->occupied, 0);
	atomic_set(&q->stop, 0);
	atomic_set(&q->pending, 0);
	return 0;
}

/* Empty and closed, so that a failed start tears down whatever it got to. */
static void queue_init(struct stbuff_queue *q)
{
	spin_lock_init(&q->producer_lock);
	*q->refused = 0;
	q->ring = NULL;
	q->slots = NULL;
	q->thread = NULL;
}

/*
 * Closed under the producer lock, a ring takes no more frames, so no producer
 * wakes a thread any more; its slots stay for a consumer still at work.
 */
static void queue_close(struct stbuff_queue *q)
{
	spin_lock_bh(&q->producer_lock);
	q->slots = NULL;
	spin_unlock_bh(&q->producer_lock);
}

/* Once no thread works the ring any more. */
static void queue_free(struct stbuff_queue *q)
{
	/* Frames still queued are wiped with the ring. */
	if (q->ring)
		memzero_explicit(q->ring, sizeof(*q->ring) * STBUFF_SLOTS);
	vfree(q->ring);
	q->ring = NULL;
}

/*
 * One frame into q if fewer than limit slots are taken: fill(slot, data)
 * writes it, and a nonzero return leaves the ring as it was.  0, -1 when the
 * ring refuses the frame, or fill's result.  The wake-up stays inside the
 * producer lock: once a ring is closed under that lock, no late producer can
 * still be on its way to a thread being stopped.
 */
static int queue_put(struct stbuff_queue *q, int limit,
		     int (*fill)(struct stbuff_slot *slot, void *data), void *data)
{
	struct stbuff_slot *slot;
	int ret = -1;

	spin_lock_bh(&q->producer_lock);
	if (q->slots && atomic_read(&q->occupied) >= limit) {
		(*q->refused)++;
	} else if (q->slots) {
		slot = &q->slots[q->write_index];
		ret = fill(slot, data);
		if (ret) {
			memzero_explicit(slot, sizeof(*slot));
		} else {
			q->write_index = st_update_buffer_pointer(q->write_index);
			atomic_inc(&q->occupied);
			atomic_set(&q->worker->pending, 1);
			wake_up_process(q->worker->thread);
		}
	}
	spin_unlock_bh(&q->producer_lock);
	return ret;
}

static void queue_release(struct stbuff_queue *q)
{
	atomic_dec(&q->occupied);
}

int stbuff_instream_put(s32 len, int (*fill)(struct stbuff_slot *slot, void *data), void *data)
{
	return queue_put(&instream_queue, len < STBUFF_SHORT_DATAGRAM ?
			 STBUFF_SLOTS : STBUFF_SLOTS - STBUFF_RESERVED, fill, data);
}

struct stbuff_copy {
	const u8 *bytes;
	s32 len;
	s32 sid;
	struct tty_struct *tty;
};

static int fill_copy(struct stbuff_slot *slot, void *data)
{
	const struct stbuff_copy *c = data;

	memcpy(slot->data, c->bytes, (size_t)c->len);
	slot->len = c->len;
	slot->sid = c->sid;
	slot->tty = c->tty;
	return 0;
}

int stbuff_logger_put(s32 sid, const void *event, s32 len)
{
	struct stbuff_copy c = { .bytes = event, .len = len, .sid = sid };

	if (len < 0 || len > STBUFF_DATA_SIZE)
		return -1;
	return queue_put(&logger_queue, STBUFF_SLOTS, fill_copy, &c);
}

s32 stbuff_outstream_put(const u8 *frame, s32 len, struct tty_struct *tty)
{
	struct stbuff_copy c = { .bytes = frame, .len = len, .tty = tty };

	if (len < 3 || len > STBUFF_DATA_SIZE)
		return -1;
	if (queue_put(&outstream_queue, frame[2] >= STBUFF_CONTROL_PROTOCOL ?
		      STBUFF_SLOTS : STBUFF_SLOTS - STBUFF_RESERVED, fill_copy, &c))
		return -1;
	return len;
}

/*
 * A worker thread's pass: the slots it took, in ring order, and the batch
 * handed to the crypter.  Allocated at start, so nothing large sits on the
 * thread's stack.
 */
struct stbuff_worker {
	unsigned int taken;
	struct stbuff_slot *slot[GOST_LANES_MAX];
	struct crypter_batch *batch;
};

static struct stbuff_worker instream_worker;
static struct stbuff_worker outstream_worker;

/*
 * Up to GOST_LANES_MAX committed slots, never waiting for more: a lone frame
 * goes alone.  0 when the ring is empty or stopping.
 */
static unsigned int queue_take_batch(struct stbuff_queue *q, struct stbuff_queue *worker,
				     struct stbuff_worker *w)
{
	int ready;

	w->taken = 0;
	if (atomic_read(&worker->stop))
		return 0;
	ready = atomic_read(&q->occupied);
	while (w->taken < GOST_LANES_MAX && (int)w->taken < ready) {
		w->slot[w->taken++] = &q->ring[q->read_index];
		q->read_index = st_update_buffer_pointer(q->read_index);
	}
	return w->taken;
}

/*
 * Decrypted frames and keys' traces do not stay behind in the ring: the
 * routing fields, and the data as far as a frame and its protection reach.
 */
static void slot_wipe(struct stbuff_slot *slot)
{
	size_t used = slot->len > 0 ? (size_t)slot->len + CRYPTER_TRAILER : 0;

	if (used > STBUFF_DATA_SIZE)
		used = STBUFF_DATA_SIZE;
	memzero_explicit(slot, offsetof(struct stbuff_slot, data) + used);
}

static void queue_release_batch(struct stbuff_queue *q, struct stbuff_worker *w)
{
	unsigned int i;

	for (i = 0; i < w->taken; i++) {
		slot_wipe(w->slot[i]);
		queue_release(q);
	}
	w->taken = 0;
}

/*
 * Lookups within one pass may reuse the previous slot's session: the
 * direction lock is held throughout, and sessions are created and deleted
 * only with both direction locks held.
 */
static void instream_collect(struct stbuff_worker *w)
{
	struct crypter_batch *b = w->batch;
	struct sctrl_session *s = NULL;
	const struct stbuff_slot *prev = NULL;
	unsigned int i;

	b->n = 0;
	for (i = 0; i < w->taken; i++) {
		struct stbuff_slot *slot = w->slot[i];

		if (!prev || slot->peer_addr != prev->peer_addr || slot->peer_port != prev->peer_port ||
		    slot->local_addr != prev->local_addr || slot->local_port != prev->local_port)
			s = sctrl_find_session_address(slot->peer_addr, slot->peer_port,
						       slot->local_addr, slot->local_port);
		prev = slot;
		if (!s) {
			pr_err("instream packet processing error - session not found \n");
			continue;
		}
		b->f[b->n++] = (struct crypter_frame){ .s = s, .data = slot->data, .len = slot->len };
	}
}

static void instream_process(struct stbuff_worker *w)
{
	struct crypter_batch *b = w->batch;
	unsigned int i;

	instream_collect(w);
	crypter_instream_batch(b);
	for (i = 0; i < b->n; i++) {
		struct sctrl_session *s = b->f[i].s;

		s->in = (struct sctrl_inframe){ b->f[i].data, b->f[i].len };
		if (s->params.traffic_events)
			trigger_event_traffic(s->in.data, s->in.len, s->params.sid, SCTRL_DIR_RECEIVED);
		sctrl_count_received(s);
	}
}

static void logger_process(struct stbuff_worker *w)
{
	unsigned int i;

	for (i = 0; i < w->taken; i++) {
		struct stbuff_slot *slot = w->slot[i];
		struct sctrl_session *s = sctrl_find_session_sid(slot->sid);

		if (!s)
			continue;
		s->in.data = slot->data;
		s->in.len = slot->len;
		ttysim_instream_put(s);
	}
}

static void outstream_process(struct stbuff_worker *w)
{
	struct crypter_batch *b = w->batch;
	struct sctrl_session *s = NULL;
	const struct stbuff_slot *prev = NULL;
	unsigned int i;

	b->n = 0;
	for (i = 0; i < w->taken; i++) {
		struct stbuff_slot *slot = w->slot[i];

		if (!prev || slot->tty != prev->tty)
			s = sctrl_find_session_tty(slot->tty);
		prev = slot;
		if (!s) {
			pr_err("outstream packet processing error - session not found \n");
			continue;
		}
		s->out = (struct sctrl_outframe){ slot->data, slot->len, &slot->header, 1, -1 };
		if (s->params.traffic_events)
			trigger_event_traffic(s->out.data, s->out.len, s->params.sid, SCTRL_DIR_SENT);
		sctrl_count_sent(s);
		s->out.ttl = update_ttl(&s->out);
		if (s->out.ttl)
			b->f[b->n++] = (struct crypter_frame){ .s = s, .data = slot->data, .len = slot->len,
							       .header = &slot->header, .ttl = s->out.ttl };
	}
	crypter_outstream_batch(b);
}

/* Works q's committed slots in order, a batch at a time under the lock. */
static void queue_drain(struct stbuff_queue *q, struct stbuff_queue *worker, struct stbuff_worker *w,
			void (*lock)(void), void (*unlock)(void),
			void (*process)(struct stbuff_worker *w))
{
	while (queue_take_batch(q, worker, w)) {
		lock();
		process(w);
		queue_release_batch(q, w);
		unlock();
		/* A full ring is long work: let others run, and grace periods pass. */
		cond_resched();
	}
}

static bool instream_pending(void)
{
	return atomic_read(&instream_queue.pending) || atomic_read(&logger_queue.pending);
}

static void instream_drain(void)
{
	atomic_set(&instream_queue.pending, 0);
	atomic_set(&logger_queue.pending, 0);
	queue_drain(&instream_queue, &instream_queue, &instream_worker, lock_instream,
		    unlock_instream, instream_process);
	queue_drain(&logger_queue, &instream_queue, &instream_worker, lock_instream,
		    unlock_instream, logger_process);
}

static bool outstream_pending(void)
{
	return atomic_read(&outstream_queue.pending);
}

static void outstream_drain(void)
{
	atomic_set(&outstream_queue.pending, 0);
	queue_drain(&outstream_queue, &outstream_queue, &outstream_worker, lock_outstream,
		    unlock_outstream, outstream_process);
}

/*
 * The state is set to sleeping before the flags are read: a commit between
 * the test and schedule() sets the thread running again, so it is not lost.
 * The thread ends only when stopped, so kthread_stop always finds it.
 * Kernel threads are left alone by the freezer unless they ask otherwise.
 */
static int thread_loop(bool (*pending)(void), void (*drain)(void))
{
	set_user_nice(get_current(), STBUFF_NICE);
	for (;;) {
		set_current_state(TASK_INTERRUPTIBLE);
		if (kthread_should_stop())
			break;
		if (!pending()) {
			schedule();
			continue;
		}
		set_current_state(TASK_RUNNING);
		drain();
	}
	set_current_state(TASK_RUNNING);
	return 0;
}

int stbuff_instream_run(void *data)
{
	(void)data;
	return thread_loop(instream_pending, instream_drain);
}

int stbuff_outstream_run(void *data)
{
	(void)data;
	return thread_loop(outstream_pending, outstream_drain);
}

static int thread_start(struct stbuff_queue *q, int (*run)(void *data), const char *name)
{
	struct task_struct *t = kthread_create(run, NULL, name);

	if (IS_ERR(t))
		return -1;
	q->thread = t;
	wake_up_process(t);
	return 0;
}

/* Waits until the thread's function has returned; the task is gone after it. */
static void thread_stop(struct stbuff_queue *q)
{
	if (!q->thread)
		return;
	kthread_stop(q->thread);
	q->thread = NULL;
}

/*
 * Every ring is closed to producers first, so nothing wakes a thread being
 * stopped; then both stop draining, so neither goes on working while the
 * other is awaited; the rings go once both threads are gone.
 */
static void stbuff_teardown(void)
{
	queue_close(&logger_queue);
	queue_close(&instream_queue);
	queue_close(&outstream_queue);
	atomic_set(&instream_queue.stop, 1);
	atomic_set(&outstream_queue.stop, 1);
	thread_stop(&instream_queue);
	thread_stop(&outstream_queue);
	queue_free(&outstream_queue);
	queue_free(&instream_queue);
	queue_free(&logger_queue);
	crypter_batch_free(outstream_worker.batch);
	crypter_batch_free(instream_worker.batch);
	outstream_worker.batch = NULL;
	instream_worker.batch = NULL;
}

int stbuff_init(void)
{
	queue_init(&logger_queue);
	queue_init(&instream_queue);
	queue_init(&outstream_queue);
	instream_worker.batch = crypter_batch_alloc();
	outstream_worker.batch = crypter_batch_alloc();
	if (!instream_worker.batch || !outstream_worker.batch ||
	    queue_alloc(&logger_queue) || queue_alloc(&instream_queue) ||
	    queue_alloc(&outstream_queue) ||
	    thread_start(&instream_queue, stbuff_instream_run, "parvex_in") ||
	    thread_start(&outstream_queue, stbuff_outstream_run, "parvex_out")) {
		stbuff_teardown();
		return -1;
	}
	return 0;
}

void stbuff_exit(void)
{
	stbuff_teardown();
}
