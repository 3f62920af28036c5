// SPDX-License-Identifier: GPL-2.0
/* The core of the platform in user space: memory, copies, spin locks, log. */
#define _GNU_SOURCE
#include <pthread.h>
#include <stddef.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kmod/platform.h"
#include "kmod/user/controls_user.h"

static pthread_mutex_t user_lock = PTHREAD_MUTEX_INITIALIZER;
static long allocs_left = -1;

static bool alloc_allowed(void)
{
	bool ok;

	pthread_mutex_lock(&user_lock);
	ok = allocs_left != 0;
	if (allocs_left > 0)
		allocs_left--;
	pthread_mutex_unlock(&user_lock);
	return ok;
}

void user_fail_alloc_after(long n)
{
	pthread_mutex_lock(&user_lock);
	allocs_left = n;
	pthread_mutex_unlock(&user_lock);
}

/*
 * Every block carries its size and sits on a list of live blocks, so tests
 * can look for a pattern in live memory and in memory as it is freed.
 */
struct block {
	struct block *prev, *next;
	size_t size;
	max_align_t align[];
};

static struct block live = { .prev = &live, .next = &live };
static const void *watched;
static size_t watched_len;
static size_t freed_with_pattern;

static void *block_alloc(unsigned long size, bool zero)
{
	struct block *b;

	if (!alloc_allowed())
		return NULL;
	b = zero ? calloc(1, sizeof(*b) + size) : malloc(sizeof(*b) + size);
	if (!b)
		return NULL;
	b->size = size;
	pthread_mutex_lock(&user_lock);
	b->next = &live;
	b->prev = live.prev;
	live.prev->next = b;
	live.prev = b;
	pthread_mutex_unlock(&user_lock);
	return b->align;
}

static bool holds(const struct block *b, const void *pattern, size_t len)
{
	return len && b->size >= len && memmem(b->align, b->size, pattern, len);
}

void *vmalloc(unsigned long size)
{
	return block_alloc(size, false);
}

void *vzalloc(unsigned long size)
{
	return block_alloc(size, true);
}

void vfree(const void *addr)
{
	struct block *b;

	if (!addr)
		return;
	b = (struct block *)((char *)addr - offsetof(struct block, align));
	pthread_mutex_lock(&user_lock);
	b->prev->next = b->next;
	b->next->prev = b->prev;
	if (holds(b, watched, watched_len))
		freed_with_pattern++;
	pthread_mutex_unlock(&user_lock);
	free(b);
}

void user_watch_frees(const void *pattern, size_t len)
{
	pthread_mutex_lock(&user_lock);
	watched = pattern;
	watched_len = len;
	freed_with_pattern = 0;
	pthread_mutex_unlock(&user_lock);
}

/* A counter that other threads change under the platform's lock. */
static size_t read_locked(const size_t *counter)
{
	size_t n;

	pthread_mutex_lock(&user_lock);
	n = *counter;
	pthread_mutex_unlock(&user_lock);
	return n;
}

size_t user_freed_with_pattern(void)
{
	return read_locked(&freed_with_pattern);
}

size_t user_live_with_pattern(const void *pattern, size_t len)
{
	size_t n = 0;

	pthread_mutex_lock(&user_lock);
	for (struct block *b = live.next; b != &live; b = b->next)
		n += holds(b, pattern, len);
	pthread_mutex_unlock(&user_lock);
	return n;
}

void memzero_explicit(void *s, size_t count)
{
	explicit_bzero(s, count);
}

/* Caller memory: one range may be marked as not mapped. */
static const char *unreadable_begin;
static size_t unreadable_len;

void user_set_unreadable(const void *addr, size_t len)
{
	pthread_mutex_lock(&user_lock);
	unreadable_begin = addr;
	unreadable_len = len;
	pthread_mutex_unlock(&user_lock);
}

/* How many bytes from p on can be touched, up to n. */
static unsigned long accessible(const void *p, unsigned long n)
{
	const char *c = p;
	unsigned long ok = n;

	if (!p)
		return 0;
	pthread_mutex_lock(&user_lock);
	if (unreadable_len && c + n > unreadable_begin &&
	    c < unreadable_begin + unreadable_len)
		ok = c < unreadable_begin ? (unsigned long)(unreadable_begin - c) : 0;
	pthread_mutex_unlock(&user_lock);
	return ok;
}

unsigned long copy_from_user(void *to, const void __user *from, unsigned long n)
{
	unsigned long ok = accessible(from, n);

	if (ok)
		memcpy(to, from, ok);
	memset((char *)to + ok, 0, n - ok);	/* as the kernel does */
	return n - ok;
}

unsigned long copy_to_user(void __user *to, const void *from, unsigned long n)
{
	unsigned long ok = accessible(to, n);

	if (ok)
		memcpy(to, from, ok);
	return n - ok;
}

void spin_lock_init(spinlock_t *lock)
{
	__atomic_store_n(&lock->locked, 0, __ATOMIC_RELEASE);
}

void spin_lock(spinlock_t *lock)
{
	while (__atomic_exchange_n(&lock->locked, 1, __ATOMIC_ACQUIRE))
		while (__atomic_load_n(&lock->locked, __ATOMIC_RELAXED))
			__builtin_ia32_pause();
}

void spin_unlock(spinlock_t *lock)
{
	__atomic_store_n(&lock->locked, 0, __ATOMIC_RELEASE);
}

void spin_lock_bh(spinlock_t *lock)
{
	spin_lock(lock);
}

void spin_unlock_bh(spinlock_t *lock)
{
	spin_unlock(lock);
}

/* The log: a growing list of formatted entries. */
static char **log_entries;
static size_t log_used, log_size;

void pr_err(const char *fmt, ...)
{
	va_list ap;
	char *entry;
	size_t len;

	va_start(ap, fmt);
	if (vasprintf(&entry, fmt, ap) < 0)
		entry = NULL;
	va_end(ap);
	if (!entry)
		return;
	/* The kernel ends the entry at the newline and does not keep it. */
	len = strlen(entry);
	if (len && entry[len - 1] == '\n')
		entry[len - 1] = '\0';
	pthread_mutex_lock(&user_lock);
	if (log_used == log_size) {
		size_t size = log_size ? 2 * log_size : 64;
		char **grown = realloc(log_entries, size * sizeof(*grown));

		if (!grown) {
			pthread_mutex_unlock(&user_lock);
			free(entry);
			return;
		}
		log_entries = grown;
		log_size = size;
	}
	log_entries[log_used++] = entry;
	pthread_mutex_unlock(&user_lock);
}

size_t user_log_count(void)
{
	return read_locked(&log_used);
}

size_t user_log_entry(size_t i, char *buf, size_t size)
{
	size_t len = 0;

	pthread_mutex_lock(&user_lock);
	if (i < log_used) {
		len = strlen(log_entries[i]);
		if (size)
			snprintf(buf, size, "%s", log_entries[i]);
	} else if (size) {
		buf[0] = '\0';
	}
	pthread_mutex_unlock(&user_lock);
	return len;
}

void user_log_clear(void)
{
	pthread_mutex_lock(&user_lock);
	while (log_used)
		free(log_entries[--log_used]);
	pthread_mutex_unlock(&user_lock);
}

/*
 * RCU: readers share one lock, synchronize_rcu takes it exclusively once, so
 * every read section begun before it has ended when it returns.  Readers are
 * preferred (the default), so nested read sections never wait for a writer.
 */
static pthread_rwlock_t rcu_lock = PTHREAD_RWLOCK_INITIALIZER;

void rcu_read_lock(void)
{
	pthread_rwlock_rdlock(&rcu_lock);
}

void rcu_read_unlock(void)
{
	pthread_rwlock_unlock(&rcu_lock);
}

void synchronize_rcu(void)
{
	pthread_rwlock_wrlock(&rcu_lock);
	pthread_rwlock_unlock(&rcu_lock);
}
