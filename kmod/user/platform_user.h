/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The user-space half of the platform: the kernel's names, as the units use
 * them, on the compiler's freestanding headers only (the units never see
 * libc).  Implemented in the .c files of kmod/user/.  Included through kmod/platform.h.
 */
#ifndef PARVEX_USER_PLATFORM_USER_H
#define PARVEX_USER_PLATFORM_USER_H

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

typedef uint16_t __be16;
typedef uint32_t __be32;

#define __user
#define __rcu
#define __force

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
#ifndef EIO
#define EIO 5
#endif
#ifndef ENOMEM
#define ENOMEM 12
#endif
#ifndef EFAULT
#define EFAULT 14
#endif
#ifndef EEXIST
#define EEXIST 17
#endif
#ifndef ENODEV
#define ENODEV 19
#endif
#ifndef EINVAL
#define EINVAL 22
#endif
#ifndef ENOTTY
#define ENOTTY 25
#endif
#ifndef ENOIOCTLCMD
#define ENOIOCTLCMD 515
#endif

#define IS_ERR_VALUE(x) ((unsigned long)(void *)(x) >= (unsigned long)-4095)
static inline void *ERR_PTR(long error) { return (void *)error; }
static inline long PTR_ERR(const void *ptr) { return (long)ptr; }
static inline bool IS_ERR(const void *ptr) { return IS_ERR_VALUE(ptr); }
static inline bool IS_ERR_OR_NULL(const void *ptr) { return !ptr || IS_ERR_VALUE(ptr); }

/* Bytes. */
#ifndef __cplusplus
void *memcpy(void *dst, const void *src, size_t n);
void *memmove(void *dst, const void *src, size_t n);
void *memset(void *dst, int c, size_t n);
int memcmp(const void *a, const void *b, size_t n);
/*
 * The units build freestanding, where a copy of a few bytes stays a library
 * call; the kernel's own string header makes these the compiler's builtins.
 */
#define memcpy(dst, src, n) __builtin_memcpy(dst, src, n)
#define memset(dst, c, n) __builtin_memset(dst, c, n)
#define memcmp(a, b, n) __builtin_memcmp(a, b, n)
#endif
void memzero_explicit(void *s, size_t count);

static inline u32 cpu_to_be32(u32 x) { return __builtin_bswap32(x); }
static inline u32 be32_to_cpu(u32 x) { return __builtin_bswap32(x); }
static inline u16 cpu_to_be16(u16 x) { return __builtin_bswap16(x); }
static inline u16 be16_to_cpu(u16 x) { return __builtin_bswap16(x); }

/* Memory. */
void *vmalloc(unsigned long size);
void *vzalloc(unsigned long size);
void vfree(const void *addr);

/* The calling process. */
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);
unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);

static inline void __user *compat_ptr(u32 uptr)
{
	return (void __user *)(uintptr_t)uptr;
}

/* The log. */
__attribute__((format(printf, 1, 2))) void pr_err(const char *fmt, ...);
/* Information lines are not kept: tests look at errors only. */
__attribute__((format(printf, 1, 2))) static inline void pr_info(const char *fmt, ...)
{
	(void)fmt;
}

/* Words other threads read or write meanwhile. */
#define READ_ONCE(x) __atomic_load_n(&(x), __ATOMIC_RELAXED)
#define WRITE_ONCE(x, v) __atomic_store_n(&(x), (v), __ATOMIC_RELAXED)

/* Spin locks. */
typedef struct {
	volatile int locked;
} spinlock_t;

void spin_lock_init(spinlock_t *lock);
void spin_lock(spinlock_t *lock);
void spin_unlock(spinlock_t *lock);
void spin_lock_bh(spinlock_t *lock);
void spin_unlock_bh(spinlock_t *lock);

/* Atomic counters; every operation is a full barrier. */
typedef struct {
	int counter;
} atomic_t;

static inline int atomic_read(const atomic_t *v)
{
	return __atomic_load_n(&v->counter, __ATOMIC_SEQ_CST);
}

static inline void atomic_set(atomic_t *v, int i)
{
	__atomic_store_n(&v->counter, i, __ATOMIC_SEQ_CST);
}

static inline void atomic_inc(atomic_t *v)
{
	__atomic_add_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}

static inline void atomic_dec(atomic_t *v)
{
	__atomic_sub_fetch(&v->counter, 1, __ATOMIC_SEQ_CST);
}

static inline int atomic_xchg(atomic_t *v, int i)
{
	return __atomic_exchange_n(&v->counter, i, __ATOMIC_SEQ_CST);
}

/* Semaphores. */
struct semaphore {
	unsigned char opaque[128] __attribute__((aligned(16)));
};

void sema_init(struct semaphore *sem, int val);
void down(struct semaphore *sem);
void up(struct semaphore *sem);

/* Kernel threads. */
struct task_struct;

#define TASK_RUNNING 0
#define TASK_INTERRUPTIBLE 1

struct task_struct *kthread_create(int (*fn)(void *data), void *data, const char *name);
bool kthread_should_stop(void);
int kthread_stop(struct task_struct *t);
struct task_struct *get_current(void);
void set_user_nice(struct task_struct *t, long nice);
void set_current_state(long state);
void schedule(void);
int wake_up_process(struct task_struct *t);
/* User-space threads are preempted anyway. */
static inline int cond_resched(void) { return 0; }

/*
 * RCU: read sections share a lock that synchronize_rcu takes exclusively,
 * which is enough for tests (and visible to the thread sanitizer).  Read
 * sections nest.
 */
void rcu_read_lock(void);
void rcu_read_unlock(void);
void synchronize_rcu(void);
#define rcu_dereference(p) __atomic_load_n(&(p), __ATOMIC_ACQUIRE)
#define rcu_assign_pointer(p, v) __atomic_store_n(&(p), (v), __ATOMIC_RELEASE)

/* Sockets and lines. */
struct socket;
void sock_release(struct socket *sock);

#ifndef B38400
#define B38400 0000017
#endif
#ifndef CS8
#define CS8 0000060
#endif
#ifndef CREAD
#define CREAD 0000200
#endif

/* Netfilter verdicts. */
#define NF_DROP 0
#define NF_ACCEPT 1

/* Module: the parameter and licence are kept, init and exit become callable. */
#define MODULE_LICENSE(license) \
	static const char __module_license[] __attribute__((used)) = license
#define module_param(name, type, perm) \
	static const void *const __param_##name __attribute__((used)) = &(name)
#define module_init(fn) \
	int init_module(void) { return fn(); }
#define module_exit(fn) \
	void cleanup_module(void) { fn(); }

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_USER_PLATFORM_USER_H */
