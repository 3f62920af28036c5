// SPDX-License-Identifier: GPL-2.0
/* The core of the platform in user space: memory, copies, spin locks, log. */
#define _GNU_SOURCE
#include <pthread.h>
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

void *vmalloc(unsigned long size)
{
	return alloc_allowed() ? malloc(size ? size : 1) : NULL;
}

void *vzalloc(unsigned long size)
{
	return alloc_allowed() ? calloc(1, size ? size : 1) : NULL;
}

void vfree(const void *addr)
{
	free((void *)addr);
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

	va_start(ap, fmt);
	if (vasprintf(&entry, fmt, ap) < 0)
		entry = NULL;
	va_end(ap);
	if (!entry)
		return;
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
	size_t n;

	pthread_mutex_lock(&user_lock);
	n = log_used;
	pthread_mutex_unlock(&user_lock);
	return n;
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
