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

/* The kernel's standard settings (tty_std_termios). */
const struct ktermios tty_std_termios = {
	.c_iflag = 0002000 | 0000400,	/* ICRNL | IXON */
	.c_oflag = 0000001 | 0000004,	/* OPOST | ONLCR */
	.c_cflag = B38400 | CS8 | CREAD | 0002000,	/* HUPCL */
	.c_lflag = 0000001 | 0000002 | 0000010 | 0000020 | 0000040 | 0001000 | 0004000 |
		   0100000,	/* ISIG ICANON ECHO ECHOE ECHOK ECHOCTL ECHOKE IEXTEN */
};

struct delivered {
	struct delivered *next;
	int len;
	u8 data[];
};

struct tty_struct {
	struct tty_driver *driver;
	int index;
	bool open;
	int hangups;
	pthread_mutex_t lock;	/* guards the delivered frames */
	int arrived;		/* eventfd: a frame came or the line hung up */
	bool waiting;		/* a reader found nothing and sleeps on arrived */
	struct delivered *head, *tail;
};

struct user_driver {
	int lines;
	struct tty_struct tty[];
};

static struct tty_driver *registered;
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

struct tty_driver *alloc_tty_driver(int lines)
{
	struct tty_driver *driver;
	struct user_driver *ud;

	if (atomic_xchg(&alloc_fails, 0) || lines <= 0)
		return NULL;
	driver = calloc(1, sizeof(*driver));
	ud = calloc(1, sizeof(*ud) + (size_t)lines * sizeof(ud->tty[0]));
	if (!driver || !ud) {
		free(driver);
		free(ud);
		return NULL;
	}
	ud->lines = lines;
	for (int i = 0; i < lines; i++) {
		ud->tty[i].driver = driver;
		ud->tty[i].index = i;
		pthread_mutex_init(&ud->tty[i].lock, NULL);
		ud->tty[i].arrived = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
	}
	driver->num = lines;
	driver->platform = ud;
	return driver;
}

void put_tty_driver(struct tty_driver *driver)
{
	struct user_driver *ud = driver->platform;

	for (int i = 0; i < ud->lines; i++) {
		pthread_mutex_destroy(&ud->tty[i].lock);
		close(ud->tty[i].arrived);
	}
	free(ud);
	free(driver);
}

void tty_set_operations(struct tty_driver *driver, const struct tty_operations *op)
{
	driver->ops = op;
}

int tty_register_driver(struct tty_driver *driver)
{
	if (atomic_xchg(&register_fails, 0))
		return -ENOMEM;
	if (registered)
		return -EBUSY;
	registered = driver;
	return 0;
}

int tty_unregister_driver(struct tty_driver *driver)
{
	if (registered != driver)
		return -EINVAL;
	registered = NULL;
	return 0;
}

const struct tty_driver *user_tty_driver(void)
{
	return registered;
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
	struct user_driver *ud;
	struct tty_struct *tty;

	if (!registered)
		return NULL;
	ud = registered->platform;
	if (index < 0 || index >= ud->lines)
		return NULL;
	tty = &ud->tty[index];
	if (registered->ops->open(tty, caller_file) < 0)
		return NULL;
	tty->open = true;
	return tty;
}

int user_tty_open_without_line(void)
{
	return registered ? registered->ops->open(NULL, caller_file) : -ENODEV;
}

int user_tty_write(struct tty_struct *tty, const void *frame, int count)
{
	return tty->driver->ops->write(tty, frame, count);
}

int user_tty_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg)
{
	return tty->driver->ops->ioctl(tty, caller_file, cmd, arg);
}

void user_tty_close(struct tty_struct *tty)
{
	tty->driver->ops->close(tty, caller_file);
	tty->open = false;
	discard_delivered(tty);
}

static void signal_arrival(struct tty_struct *tty)
{
	u64 one = 1;

	if (write(tty->arrived, &one, sizeof(one)) < 0)
		return;	/* the counter is saturated: readers are due anyway */
}

void tty_ldisc_receive(struct tty_struct *tty, const u8 *data, int count)
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

void tty_hangup_waiters(struct tty_struct *tty)
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
