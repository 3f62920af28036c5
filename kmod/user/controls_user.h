/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Controls of the user-space platform for tests: the captured kernel log,
 * allocation failures and unreadable caller memory.
 */
#ifndef PARVEX_USER_CONTROLS_USER_H
#define PARVEX_USER_CONTROLS_USER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Every pr_err call since the last clear, one entry each, oldest first. */
size_t user_log_count(void);
/* Copies entry i (formatted) into buf; returns its full length. */
size_t user_log_entry(size_t i, char *buf, size_t size);
void user_log_clear(void);

/* The next n allocations succeed, the one after fails; -1 never fails. */
void user_fail_alloc_after(long n);

/*
 * Blocks from vmalloc/vzalloc holding len bytes of pattern: those freed since
 * the pattern was set (null stops watching), and those live now.  The
 * caller keeps pattern alive while it is watched.
 */
void user_watch_frees(const void *pattern, size_t len);
size_t user_freed_with_pattern(void);
size_t user_live_with_pattern(const void *pattern, size_t len);

/*
 * Bytes of the calling process from addr on, len of them, cannot be copied
 * (as an unmapped page would be); len 0 lifts it.
 */
void user_set_unreadable(const void *addr, size_t len);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_USER_CONTROLS_USER_H */
