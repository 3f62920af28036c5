// SPDX-License-Identifier: GPL-2.0
/*
 * tty driver registration and the lines of the registered driver.  A line
 * keeps what the line discipline received as whole frames, for the test
 * that plays the caller on it.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "kmod/platform.h"
#include "kmod/user/devices_user.h"

struct delivered {
	struct delivered *next;
	int len;
	u8 data[];
};

struct tty_struct {
	struct parvex_tty_driver *driver;
	int index;
	bool open;
	int hangups;
	pthread_mutex_t lock;	/* guards the delivered frames */
	int arrived;		/* eventfd: a frame came or the line hung up */
	bool waiting;		/* a reader found nothing and sleeps on arrived */
	struct delivered *head, *tail;
};

struct parvex_tty_driver {
	struct parvex_tty_config config;
	struct tty_struct tty[];
};

static struct parvex_tty_driver *registered;
static atomic_t alloc_fails, register_fails;
/* The file the caller opens a line with. */
static struct file *const caller_file = (struct file *)&caller_file;

void user_fail_tty_alloc(void)
{
	atomic_set(&alloc_fails, 1);
}

void user_fail_tty_register(void)
{
	atomic_set(&register_fails, 1);
}

static void free_driver(struct parvex_tty_driver *driver)
{
	for (int i = 0; i < driver->config.lines; i++) {
		pthread_mutex_destroy(&driver->tty[i].lock);
		close(driver->tty[i].arrived);
	}
	free(driver);
}

struct parvex_tty_driver *parvex_tty_register(const struct parvex_tty_config *config)
{
	struct parvex_tty_driver *driver;

	if (atomic_xchg(&alloc_fails, 0) || config->lines <= 0)
		return ERR_PTR(-ENOMEM);
	driver = calloc(1, sizeof(*driver) + (size_t)config->lines * sizeof(driver->tty[0]));
	if (!driver)
		return ERR_PTR(-ENOMEM);
	driver->config = *config;
	for (int i = 0; i < config->lines; i++) {
		driver->tty[i].driver = driver;
		driver->tty[i].index = i;
		pthread_mutex_init(&driver->tty[i].lock, NULL);
		driver->tty[i].arrived = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
	}
	if (atomic_xchg(&register_fails, 0) || registered) {
		free_driver(driver);
		return ERR_PTR(-EBUSY);
	}
	registered = driver;
	return driver;
}

void parvex_tty_unregister(struct parvex_tty_driver *driver)
{
	if (!driver || registered != driver)
		return;
	registered = NULL;
	free_driver(driver);
}

const struct parvex_tty_config *user_tty_driver(void)
{
	return registered ? &registered->config : NULL;
}

static void discard_delivered(struct tty_struct *tty)
{
	pthread_mutex_lock(&tty->lock);
	while (tty->head) {
		struct delivered *d = tty->head;

		tty->head = d->next;
		free(d);
	}
	tty->tail = NULL;
	pthread_mutex_unlock(&tty->lock);
}

struct tty_struct *user_tty_open(int index)
{
	struct tty_struct *tty;

	if (!registered || index < 0 || index >= registered->config.lines)
		return NULL;
	tty = &registered->tty[index];
	if (registered->config.ops->open(tty, caller_file) < 0)
		return NULL;
	tty->open = true;
	return tty;
}

int user_tty_open_without_line(void)
{
	return registered ? registered->config.ops->open(NULL, caller_file) : -ENODEV;
}

int user_tty_write(struct tty_struct *tty, const void *frame, int count)
{
	return tty->driver->config.ops->write(tty, frame, count);
}

int user_tty_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg)
{
	return tty->driver->config.ops->ioctl(tty, cmd, arg);
}

void user_tty_close(struct tty_struct *tty)
{
	tty->driver->config.ops->close(tty, caller_file);
	tty->open = false;
	discard_delivered(tty);
}

static void signal_arrival(struct tty_struct *tty)
{
	u64 one = 1;

	if (write(tty->arrived, &one, sizeof(one)) < 0)
		return;	/* the counter is saturated: readers are due anyway */
}

void parvex_tty_deliver(struct tty_struct *tty, const u8 *data, int count)
{
	struct delivered *d;
	bool wake;

	if (count < 0 || !(d = malloc(sizeof(*d) + (size_t)count)))
		return;
	d->next = NULL;
	d->len = count;
	memcpy(d->data, data, (size_t)count);
	pthread_mutex_lock(&tty->lock);
	if (tty->tail)
		tty->tail->next = d;
	else
		tty->head = d;
	tty->tail = d;
	wake = tty->waiting;
	tty->waiting = false;
	pthread_mutex_unlock(&tty->lock);
	if (wake)
		signal_arrival(tty);
}

/* The first delivered frame, taken off the line; or null, the reader then waiting. */
static struct delivered *take_delivered(struct tty_struct *tty)
{
	struct delivered *d;

	pthread_mutex_lock(&tty->lock);
	d = tty->head;
	if (d) {
		tty->head = d->next;
		if (!tty->head)
			tty->tail = NULL;
	}
	tty->waiting = !d;
	pthread_mutex_unlock(&tty->lock);
	return d;
}

int user_tty_read(struct tty_struct *tty, void *buf, int size, int timeout_ms)
{
	struct delivered *d;
	int len;

	while (!(d = take_delivered(tty))) {
		struct pollfd p = { .fd = tty->arrived, .events = POLLIN };
		u64 count;

		if (poll(&p, 1, timeout_ms) <= 0) {
			d = take_delivered(tty);
			if (!d)
				return -1;
			break;
		}
		if (read(tty->arrived, &count, sizeof(count)) < 0)
			continue;	/* another reader took the signal */
	}
	len = d->len < size ? d->len : size;
	memcpy(buf, d->data, (size_t)len);
	free(d);
	return len;
}

void parvex_tty_hangup_waiters(struct tty_struct *tty)
{
	/* No caller sleeps on a line here and lines have no pty peer: count the wake-up. */
	pthread_mutex_lock(&tty->lock);
	tty->hangups++;
	pthread_mutex_unlock(&tty->lock);
	signal_arrival(tty);
}

int user_tty_hangups(struct tty_struct *tty)
{
	int n;

	pthread_mutex_lock(&tty->lock);
	n = tty->hangups;
	pthread_mutex_unlock(&tty->lock);
	return n;
}
