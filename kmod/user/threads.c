// SPDX-License-Identifier: GPL-2.0
/* Kernel threads, their sleep and wake-up, and semaphores, on POSIX threads. */
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <linux/futex.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "kmod/platform.h"
#include "kmod/user/devices_user.h"

struct task_struct {
	pthread_t thread;
	int state;		/* a futex word: sleepers wait on it, wakers flip it */
	bool started;
	bool should_stop;	/* set by kthread_stop */
	pid_t tid;
	int (*fn)(void *data);
	void *data;
	int ret;
	char name[16];
};

static __thread struct task_struct *current_task;
static atomic_t threads_alive;
static atomic_t thread_creations_left = { -1 };

void user_fail_thread_after(int n)
{
	atomic_set(&thread_creations_left, n);
}

int user_threads_alive(void)
{
	return atomic_read(&threads_alive);
}

static bool creation_allowed(void)
{
	int left = atomic_read(&thread_creations_left);

	while (left > 0) {
		if (__atomic_compare_exchange_n(&thread_creations_left.counter, &left, left - 1,
						false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
			return true;
	}
	return left != 0;
}

static void *task_main(void *arg)
{
	struct task_struct *t = arg;

	current_task = t;
	__atomic_store_n(&t->tid, gettid(), __ATOMIC_SEQ_CST);
	pthread_setname_np(pthread_self(), t->name);
	/* Created sleeping (kthread_create), it waits for its first wake-up. */
	schedule();
	/* Stopped before it ever ran, the function is not called (as in the kernel). */
	if (!__atomic_load_n(&t->should_stop, __ATOMIC_SEQ_CST))
		t->ret = t->fn(t->data);
	atomic_dec(&threads_alive);
	return NULL;
}

struct task_struct *kthread_create(int (*fn)(void *data), void *data, const char *name)
{
	struct task_struct *t;

	if (!creation_allowed())
		return ERR_PTR(-ENOMEM);
	t = calloc(1, sizeof(*t));
	if (!t)
		return ERR_PTR(-ENOMEM);
	t->fn = fn;
	t->data = data;
	t->state = TASK_INTERRUPTIBLE;
	strncpy(t->name, name, sizeof(t->name) - 1);
	atomic_inc(&threads_alive);
	if (pthread_create(&t->thread, NULL, task_main, t)) {
		atomic_dec(&threads_alive);
		free(t);
		return ERR_PTR(-EAGAIN);
	}
	t->started = true;
	return t;
}

bool kthread_should_stop(void)
{
	struct task_struct *t = current_task;

	return t && __atomic_load_n(&t->should_stop, __ATOMIC_SEQ_CST);
}

int kthread_stop(struct task_struct *t)
{
	int ret;

	__atomic_store_n(&t->should_stop, true, __ATOMIC_SEQ_CST);
	wake_up_process(t);
	if (t->started)
		pthread_join(t->thread, NULL);
	ret = t->ret;
	free(t);
	return ret;
}

struct task_struct *get_current(void)
{
	return current_task;
}

void set_user_nice(struct task_struct *t, long nice)
{
	pid_t tid = 0;

	/* Raising the priority needs privileges; without them the thread keeps its nice. */
	while (t && !(tid = __atomic_load_n(&t->tid, __ATOMIC_SEQ_CST)))
		sched_yield();
	setpriority(PRIO_PROCESS, tid, (int)nice);
}

void set_current_state(long state)
{
	struct task_struct *t = current_task;

	if (t)
		__atomic_store_n(&t->state, (int)state, __ATOMIC_SEQ_CST);
}

/* Sleeps until the state is no longer the one set; a wake-up in between makes the wait return at once. */
void schedule(void)
{
	struct task_struct *t = current_task;
	int state;

	if (!t) {
		sched_yield();
		return;
	}
	while ((state = __atomic_load_n(&t->state, __ATOMIC_SEQ_CST)) != TASK_RUNNING)
		syscall(SYS_futex, &t->state, FUTEX_WAIT_PRIVATE, state, NULL, NULL, 0);
}

/*
 * A running thread needs no wake-up: it sets itself sleeping before it looks
 * for work, and of that store and the waker's (ordered before this call) one
 * always sees the other.  Otherwise one system call wakes the sleeper.
 */
int wake_up_process(struct task_struct *t)
{
	if (__atomic_load_n(&t->state, __ATOMIC_SEQ_CST) == TASK_RUNNING ||
	    __atomic_exchange_n(&t->state, TASK_RUNNING, __ATOMIC_SEQ_CST) == TASK_RUNNING)
		return 0;
	syscall(SYS_futex, &t->state, FUTEX_WAKE_PRIVATE, 1, NULL, NULL, 0);
	return 1;
}

/* A semaphore: count, and the condition its sleepers wait on. */
struct user_semaphore {
	pthread_mutex_t lock;
	pthread_cond_t posted;
	int count;
};

static_assert(sizeof(struct user_semaphore) <= sizeof(struct semaphore), "semaphore storage");

void sema_init(struct semaphore *sem, int val)
{
	struct user_semaphore *s = (struct user_semaphore *)sem->opaque;

	pthread_mutex_init(&s->lock, NULL);
	pthread_cond_init(&s->posted, NULL);
	s->count = val;
}

void down(struct semaphore *sem)
{
	struct user_semaphore *s = (struct user_semaphore *)sem->opaque;

	pthread_mutex_lock(&s->lock);
	while (s->count <= 0)
		pthread_cond_wait(&s->posted, &s->lock);
	s->count--;
	pthread_mutex_unlock(&s->lock);
}

void up(struct semaphore *sem)
{
	struct user_semaphore *s = (struct user_semaphore *)sem->opaque;

	pthread_mutex_lock(&s->lock);
	s->count++;
	pthread_cond_signal(&s->posted);
	pthread_mutex_unlock(&s->lock);
}
