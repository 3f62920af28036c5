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

/* ------------------------------------------------------------------------
 * Data plane: worker threads, sleeping locks, atomics, UDP sockets, the
 * control device's lines and the IPv4 output hook.  Where the kernel call
 * would drag in structures the units never touch (sk_buff, msghdr), the
 * platform offers the one operation the units need instead.
 * ------------------------------------------------------------------------ */

#define IS_ERR_VALUE(x) ((unsigned long)(void *)(x) >= (unsigned long)-4095)
static inline void *ERR_PTR(long error) { return (void *)error; }
static inline long PTR_ERR(const void *ptr) { return (long)ptr; }
static inline bool IS_ERR(const void *ptr) { return IS_ERR_VALUE(ptr); }

/* A 32-bit address of the calling process as a pointer. */
static inline void __user *compat_ptr(u32 uptr)
{
	return (void __user *)(uintptr_t)uptr;
}

static inline u32 cpu_to_be32(u32 x) { return __builtin_bswap32(x); }
static inline u32 be32_to_cpu(u32 x) { return __builtin_bswap32(x); }
static inline u16 cpu_to_be16(u16 x) { return __builtin_bswap16(x); }
static inline u16 be16_to_cpu(u16 x) { return __builtin_bswap16(x); }

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

/* Binary sleeping locks: semaphores with an initial count of 1. */
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

/*
 * A stopped thread that runs fn(data) once woken; ERR_PTR on failure.  The
 * creator holds a reference to it (in the kernel: kthread_create followed by
 * get_task_struct), so the task stays valid after fn returns.
 */
struct task_struct *kthread_create(int (*fn)(void *data), void *data, const char *name);
/* Drops the creator's reference, once the thread's function has returned. */
void put_task_struct(struct task_struct *t);
struct task_struct *get_current(void);
void set_user_nice(struct task_struct *t, long nice);
/* A set state of TASK_INTERRUPTIBLE makes schedule() sleep until woken. */
void set_current_state(long state);
void schedule(void);
int wake_up_process(struct task_struct *t);
void yield(void);

/* UDP sockets of the kernel's own. */
struct socket;
struct sk_buff;

/* An IPv4 datagram socket; 0 or a negative error. */
int sock_create_udp(struct socket **res);
void sock_set_reuseaddr(struct socket *sock);
/* The socket's own allocations must not sleep (the receive path's context). */
void sock_set_atomic_alloc(struct socket *sock);
/* Binds to any local address and port (host order); 0 or a negative error. */
int sock_bind_any(struct socket *sock, u16 port);
/*
 * The data-ready notification, called in the network receive path with the
 * number of bytes queued; user data travels with the socket.
 */
void sock_set_data_ready(struct socket *sock, void (*cb)(struct socket *sock, int bytes));
/* One queued datagram without waiting, or null. */
struct sk_buff *sock_recv_datagram(struct socket *sock);
void skb_free_datagram(struct socket *sock, struct sk_buff *skb);
/* Datagram length with its 8-byte UDP header. */
int udp_skb_len(const struct sk_buff *skb);
/* Source address and port, network order. */
u32 udp_skb_saddr(const struct sk_buff *skb);
u16 udp_skb_sport(const struct sk_buff *skb);
/* Copies len bytes from offset (counted from the UDP header); 0 or negative. */
int skb_copy_bits(const struct sk_buff *skb, int offset, void *to, int len);
/* One datagram of a then b to addr:port (network order); bytes sent or -errno. */
int sock_send2(struct socket *sock, u32 addr, u16 port, const void *a, size_t alen,
	       const void *b, size_t blen);
void sock_set_unicast_ttl(struct socket *sock, int ttl);
/* Shuts both directions; the socket stays until sock_release. */
void kernel_sock_shutdown(struct socket *sock);
void sock_release(struct socket *sock);

/* tty driver and lines. */
struct file;
struct tty_struct;

#define TTY_DRIVER_TYPE_SYSTEM 0x0001
#define SYSTEM_TYPE_TTY 0x0001
#define TTY_DRIVER_REAL_RAW 0x0004
#define TTY_DRIVER_DYNAMIC_DEV 0x0008
#ifndef B38400
#define B38400 0000017
#endif
#ifndef CS8
#define CS8 0000060
#endif
#ifndef CREAD
#define CREAD 0000200
#endif

struct ktermios {
	u32 c_iflag;
	u32 c_oflag;
	u32 c_cflag;
	u32 c_lflag;
};

extern const struct ktermios tty_std_termios;

struct tty_operations {
	int (*open)(struct tty_struct *tty, struct file *filp);
	void (*close)(struct tty_struct *tty, struct file *filp);
	int (*write)(struct tty_struct *tty, const unsigned char *buf, int count);
	int (*ioctl)(struct tty_struct *tty, struct file *file, unsigned int cmd,
		     unsigned long arg);
};

struct tty_driver {
	const char *driver_name;
	const char *name;
	int major;
	int minor_start;
	int num;
	short type;
	short subtype;
	struct ktermios init_termios;
	unsigned long flags;
	const struct tty_operations *ops;
	void *platform;
};

/* A driver of lines lines, or null. */
struct tty_driver *alloc_tty_driver(int lines);
void put_tty_driver(struct tty_driver *driver);
void tty_set_operations(struct tty_driver *driver, const struct tty_operations *op);
int tty_register_driver(struct tty_driver *driver);
int tty_unregister_driver(struct tty_driver *driver);
/* Hands one whole frame to the line discipline's receive routine. */
void tty_ldisc_receive(struct tty_struct *tty, const u8 *data, int count);
/*
 * Wakes whoever waits to read or write, clears packet mode, and tells a
 * linked peer line (as a pty has) that this side closed.
 */
void tty_hangup_waiters(struct tty_struct *tty);

/* Module load parameters and licence. */
#define module_param(name, type, perm) \
	static const void *const __param_##name __attribute__((used)) = &(name)
#define MODULE_LICENSE(license) \
	static const char __module_license[] __attribute__((used)) = license

/* The IPv4 output hook. */
#define NF_DROP 0
#define NF_ACCEPT 1
#define NFPROTO_IPV4 2
#define NF_INET_POST_ROUTING 4
#define NF_IP_PRI_FIRST (-2147483647 - 1)

struct net_device;
typedef int (*nf_okfn_t)(struct sk_buff *skb);
typedef unsigned int nf_hookfn(unsigned int hooknum, struct sk_buff *skb,
			       const struct net_device *in, const struct net_device *out,
			       nf_okfn_t okfn);

struct nf_hook_ops {
	nf_hookfn *hook;
	int pf;
	unsigned int hooknum;
	int priority;
};

int nf_register_hook(struct nf_hook_ops *reg);
void nf_unregister_hook(struct nf_hook_ops *reg);
bool skb_is_ipv4(const struct sk_buff *skb);
/* Destination of an IPv4 packet, network order. */
u32 skb_ipv4_daddr(const struct sk_buff *skb);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_PLATFORM_H */
