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
	struct stbuff_slot *slots;
	u32 write_index;	/* producer side, under producer_lock */
	u32 read_index;		/* consumer thread only */
	atomic_t occupied;
	atomic_t alive;
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
};

static struct stbuff_queue instream_queue = { .worker = &instream_queue };
static struct stbuff_queue outstream_queue = { .worker = &outstream_queue };
static struct stbuff_queue logger_queue = { .worker = &instream_queue };

u32 st_update_buffer_pointer(u32 index)
{
	return index + 1 < STBUFF_SLOTS ? index + 1 : 0;
}

static int queue_alloc(struct stbuff_queue *q)
{
	q->slots = vzalloc(sizeof(*q->slots) * STBUFF_SLOTS);
	if (!q->slots)
		return -1;
	q->write_index = 0;
	q->read_index = 0;
	atomic_set(&q->occupied, 0);
	atomic_set(&q->alive, 0);
	atomic_set(&q->stop, 0);
	atomic_set(&q->pending, 0);
	spin_lock_init(&q->producer_lock);
	return 0;
}

static void queue_free(struct stbuff_queue *q)
{
	struct stbuff_slot *slots = q->slots;

	spin_lock_bh(&q->producer_lock);
	q->slots = NULL;
	spin_unlock_bh(&q->producer_lock);
	vfree(slots);
}

/* The slot at the write index if limit slots are not all taken; holds the producer lock. */
static struct stbuff_slot *queue_begin(struct stbuff_queue *q, int limit)
{
	spin_lock_bh(&q->producer_lock);
	if (!q->slots || atomic_read(&q->occupied) >= limit) {
		spin_unlock_bh(&q->producer_lock);
		return NULL;
	}
	return &q->slots[q->write_index];
}

/*
 * The wake-up stays inside the producer lock: once a ring is freed under that
 * lock, no late producer can still be on its way to a thread being put.
 */
static void queue_finish(struct stbuff_queue *q)
{
	q->write_index = st_update_buffer_pointer(q->write_index);
	atomic_inc(&q->occupied);
	atomic_set(&q->worker->pending, 1);
	wake_up_process(q->worker->thread);
	spin_unlock_bh(&q->producer_lock);
}

static void queue_cancel(struct stbuff_queue *q)
{
	spin_unlock_bh(&q->producer_lock);
}

/* The consumer's next slot, or null when the ring is empty or stopping. */
static struct stbuff_slot *queue_take(struct stbuff_queue *q, struct stbuff_queue *worker)
{
	struct stbuff_slot *slot;

	if (atomic_read(&worker->stop) || atomic_read(&q->occupied) <= 0)
		return NULL;
	slot = &q->slots[q->read_index];
	q->read_index = st_update_buffer_pointer(q->read_index);
	return slot;
}

static void queue_release(struct stbuff_queue *q)
{
	atomic_dec(&q->occupied);
}

struct stbuff_slot *stbuff_instream_put_begin(s32 len)
{
	return queue_begin(&instream_queue, len < STBUFF_SHORT_DATAGRAM ?
			   STBUFF_SLOTS : STBUFF_SLOTS - STBUFF_RESERVED);
}

void stbuff_instream_put_finish(void)
{
	queue_finish(&instream_queue);
}

void stbuff_instream_put_cancel(void)
{
	queue_cancel(&instream_queue);
}

struct stbuff_slot *stbuff_logger_put_begin(void)
{
	return queue_begin(&logger_queue, STBUFF_SLOTS);
}

void stbuff_logger_put_finish(void)
{
	queue_finish(&logger_queue);
}

void stbuff_logger_put_cancel(void)
{
	queue_cancel(&logger_queue);
}

s32 stbuff_outstream_put(const u8 *frame, s32 len, struct tty_struct *tty)
{
	struct stbuff_slot *slot;

	if (len < 3 || len > STBUFF_DATA_SIZE)
		return -1;
	slot = queue_begin(&outstream_queue, frame[2] >= STBUFF_CONTROL_PROTOCOL ?
			   STBUFF_SLOTS : STBUFF_SLOTS - STBUFF_RESERVED);
	if (!slot)
		return -1;
	memcpy(slot->data, frame, (size_t)len);
	slot->len = len;
	slot->tty = tty;
	queue_finish(&outstream_queue);
	return len;
}

static void instream_process(struct stbuff_slot *slot)
{
	struct sctrl_session *s = sctrl_find_session_address(slot->peer_addr, slot->peer_port);

	if (!s) {
		pr_err("instream packet processing error - session not found ");
		return;
	}
	s->in.data = slot->data;
	s->in.len = slot->len;
	crypter_instream_put(s);
	if (s->params.traffic_events)
		trigger_event_traffic(s->in.data, s->in.len, s->params.sid, SCTRL_DIR_RECEIVED);
	sctrl_count_received(s);
}

static void logger_process(struct stbuff_slot *slot)
{
	struct sctrl_session *s = sctrl_find_session_sid(slot->sid);

	if (!s)
		return;
	s->in.data = slot->data;
	s->in.len = slot->len;
	ttysim_instream_put(s);
}

static void outstream_process(struct stbuff_slot *slot)
{
	struct sctrl_session *s = sctrl_find_session_tty(slot->tty);

	if (!s) {
		pr_err("outstream packet processing error - session not found ");
		return;
	}
	s->out.data = slot->data;
	s->out.len = slot->len;
	s->out.header = &slot->header;
	s->out.header_len = 1;
	if (s->params.traffic_events)
		trigger_event_traffic(s->out.data, s->out.len, s->params.sid, SCTRL_DIR_SENT);
	sctrl_count_sent(s);
	s->out.ttl = update_ttl(&s->out);
	if (s->out.ttl)
		crypter_outstream_put(s);
}

/* Works q's committed slots in order, each under lock. */
static void queue_drain(struct stbuff_queue *q, struct stbuff_queue *worker,
			void (*lock)(void), void (*unlock)(void),
			void (*process)(struct stbuff_slot *slot))
{
	struct stbuff_slot *slot;

	while ((slot = queue_take(q, worker))) {
		lock();
		process(slot);
		unlock();
		queue_release(q);
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
	queue_drain(&instream_queue, &instream_queue, lock_instream, unlock_instream,
		    instream_process);
	queue_drain(&logger_queue, &instream_queue, lock_instream, unlock_instream,
		    logger_process);
}

static bool outstream_pending(void)
{
	return atomic_read(&outstream_queue.pending);
}

static void outstream_drain(void)
{
	atomic_set(&outstream_queue.pending, 0);
	queue_drain(&outstream_queue, &outstream_queue, lock_outstream, unlock_outstream,
		    outstream_process);
}

/*
 * The state is set to sleeping before the flags are read: a commit between
 * the test and schedule() sets the thread running again, so it is not lost.
 */
static int thread_loop(struct stbuff_queue *q, bool (*pending)(void), void (*drain)(void))
{
	/* Kernel threads are left alone by the freezer unless they ask otherwise. */
	set_user_nice(get_current(), STBUFF_NICE);
	for (;;) {
		set_current_state(TASK_INTERRUPTIBLE);
		if (atomic_read(&q->stop))
			break;
		if (!pending()) {
			schedule();
			continue;
		}
		set_current_state(TASK_RUNNING);
		drain();
	}
	set_current_state(TASK_RUNNING);
	atomic_dec(&q->alive);
	return 0;
}

int stbuff_instream_run(void *data)
{
	(void)data;
	return thread_loop(&instream_queue, instream_pending, instream_drain);
}

int stbuff_outstream_run(void *data)
{
	(void)data;
	return thread_loop(&outstream_queue, outstream_pending, outstream_drain);
}

/* The alive count is raised before the thread runs, so a stop right away still waits for it. */
static int thread_start(struct stbuff_queue *q, int (*run)(void *data), const char *name)
{
	struct task_struct *t = kthread_create(run, NULL, name);

	if (IS_ERR(t))
		return -1;
	q->thread = t;
	atomic_inc(&q->alive);
	wake_up_process(t);
	return 0;
}

static void thread_signal_stop(struct stbuff_queue *q)
{
	atomic_set(&q->stop, 1);
	wake_up_process(q->thread);
}

static void thread_wait_stopped(struct stbuff_queue *q)
{
	while (atomic_read(&q->alive))
		yield();
}

static void thread_stop(struct stbuff_queue *q)
{
	thread_signal_stop(q);
	thread_wait_stopped(q);
}

/* Only once no thread can commit an event any more, which wakes "parvex_in". */
static void thread_put(struct stbuff_queue *q)
{
	put_task_struct(q->thread);
	q->thread = NULL;
}

int stbuff_init(void)
{
	if (queue_alloc(&logger_queue))
		return -1;
	if (queue_alloc(&instream_queue))
		goto free_logger;
	if (thread_start(&instream_queue, stbuff_instream_run, "parvex_in"))
		goto free_instream;
	if (queue_alloc(&outstream_queue))
		goto stop_instream;
	if (thread_start(&outstream_queue, stbuff_outstream_run, "parvex_out"))
		goto free_outstream;
	return 0;

free_outstream:
	queue_free(&outstream_queue);
stop_instream:
	thread_stop(&instream_queue);
	thread_put(&instream_queue);
free_instream:
	queue_free(&instream_queue);
free_logger:
	queue_free(&logger_queue);
	return -1;
}

void stbuff_exit(void)
{
	/* Both stop first, so neither goes on draining while the other is awaited. */
	thread_signal_stop(&instream_queue);
	thread_signal_stop(&outstream_queue);
	thread_wait_stopped(&instream_queue);
	queue_free(&instream_queue);
	thread_wait_stopped(&outstream_queue);
	queue_free(&outstream_queue);
	thread_put(&instream_queue);
	thread_put(&outstream_queue);
	queue_free(&logger_queue);
}
