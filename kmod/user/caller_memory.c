// SPDX-License-Identifier: GPL-2.0
/* Caller memory that a 32-bit address field of an ioctl record can point at. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <sys/mman.h>

#include "kmod/user/devices_user.h"

#ifndef MAP_32BIT
#define MAP_32BIT 0	/* a 32-bit build has nothing but such addresses */
#endif

void *user_low_alloc(size_t size)
{
	void *p = mmap(NULL, size, PROT_READ | PROT_WRITE,
		       MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);

	return p == MAP_FAILED ? NULL : p;
}

void user_low_free(void *p, size_t size)
{
	munmap(p, size);
}
