/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The kernel half of the platform (Linux 6.1): the names the units use come
 * straight from the kernel's own headers; the parvex_ helpers that
 * kmod/platform.h declares are implemented in the .c files of kmod/kernel/.
 * Included through kmod/platform.h only.
 */
#ifndef PARVEX_KERNEL_PLATFORM_KERNEL_H
#define PARVEX_KERNEL_PLATFORM_KERNEL_H

#include <linux/types.h>
#include <linux/stddef.h>
#include <linux/build_bug.h>
#include <linux/compiler.h>
#include <linux/kernel.h>
#include <linux/err.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <linux/vmalloc.h>
#include <linux/uaccess.h>
#include <linux/compat.h>
#include <linux/printk.h>
#include <linux/spinlock.h>
#include <linux/atomic.h>
#include <linux/semaphore.h>
#include <linux/sched.h>
#include <linux/kthread.h>
#include <linux/rcupdate.h>
#include <linux/net.h>
#include <linux/netfilter.h>
#include <linux/termios.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <asm/byteorder.h>

/*
 * The units' log lines at error level, each one whole kernel log record. A
 * text without a trailing newline would stay open for continuation and reach
 * readers of /dev/kmsg and syslog only with the next message; one newline the
 * text already has is kept as the end of the record, not doubled.
 */
__printf(1, 2) void parvex_log_err(const char *fmt, ...);
#undef pr_err
#define pr_err(fmt, ...) parvex_log_err(fmt, ##__VA_ARGS__)

#endif /* PARVEX_KERNEL_PLATFORM_KERNEL_H */
