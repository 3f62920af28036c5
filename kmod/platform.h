/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The one header through which the parvex units reach their platform.
 *
 * The units use the kernel's own names (vmalloc, spin_lock, copy_from_user,
 * pr_err, ...) so that they build unchanged inside the kernel, where this
 * header maps onto <linux/...>.  Outside the kernel, kmod/user/ implements
 * the same calls on top of libc; the units themselves never see libc.
 */
#ifndef PARVEX_PLATFORM_H
#define PARVEX_PLATFORM_H

/* Freestanding headers only: they come with the compiler, not with libc. */
#include <stddef.h>
#include <stdint.h>
#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;

#define __user

#ifndef __cplusplus
#ifndef static_assert
#define static_assert _Static_assert
#endif
#endif

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)
#define container_of(ptr, type, member) \
	((type *)((char *)(ptr) - offsetof(type, member)))

/* Error numbers the module returns (negated), as the kernel numbers them. */
#ifndef EFAULT
#define EFAULT 14
#endif
#ifndef EEXIST
#define EEXIST 17
#endif
#ifndef ENODEV
#define ENODEV 19
#endif
#ifndef ENOIOCTLCMD
#define ENOIOCTLCMD 515
#endif

/* Memory. */
#ifndef __cplusplus
void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t n);
void *memset(void *dst, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
#endif

/* Virtually contiguous allocation; null on failure. */
void *vmalloc(unsigned long size);
/* vmalloc that hands out zeroed memory. */
void *vzalloc(unsigned long size);
/* Frees a block from vmalloc/vzalloc; null is allowed. */
void vfree(const void *addr);

/* Overwrites secrets; the compiler may not drop it as a dead store. */
void memzero_explicit(void *s, size_t count);

/*
 * Copies between the module and the calling process.  Both return the number
 * of bytes that could NOT be copied: 0 means the whole record arrived.
 */
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);
unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);

/* Spin locks: short critical sections, never sleep while holding one. */
typedef struct {
	volatile int locked;
} spinlock_t;

void spin_lock_init(spinlock_t *lock);
void spin_lock(spinlock_t *lock);
void spin_unlock(spinlock_t *lock);
/* The variants for locks also taken on the network receive/output path. */
void spin_lock_bh(spinlock_t *lock);
void spin_unlock_bh(spinlock_t *lock);

/* The kernel log at error level; each call is one log entry. */
__attribute__((format(printf, 1, 2))) void pr_err(const char *fmt, ...);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_PLATFORM_H */
