// SPDX-License-Identifier: GPL-2.0
#include "kmod/sync.h"

static struct semaphore control_mutex;
static struct semaphore outstream_mutex;
static struct semaphore instream_mutex;

void sync_init(void)
{
	sema_init(&control_mutex, 1);
	sema_init(&outstream_mutex, 1);
	sema_init(&instream_mutex, 1);
}

void lock_control(void)
{
	down(&control_mutex);
}

void unlock_control(void)
{
	up(&control_mutex);
}

void lock_outstream(void)
{
	down(&outstream_mutex);
}

void unlock_outstream(void)
{
	up(&outstream_mutex);
}

void lock_instream(void)
{
	down(&instream_mutex);
}

void unlock_instream(void)
{
	up(&instream_mutex);
}

void lock_transfer(void)
{
	lock_outstream();
	lock_instream();
}

void unlock_transfer(void)
{
	unlock_instream();
	unlock_outstream();
}
