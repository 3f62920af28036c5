/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The contract between the parvex units and the platform they run on.
 *
 * The units (the .c files of kmod/) include this header and nothing else of the system.
 * It has two halves, picked by __KERNEL__:
 *
 *   kmod/kernel/platform_kernel.h  the real kernel (Linux 6.1): <linux/...>
 *                                  headers, plus the parvex_ helpers below,
 *                                  implemented in kmod/kernel/.
 *   kmod/user/platform_user.h      user space, for the tests: the same names
 *                                  declared on top of the compiler's
 *                                  freestanding headers, implemented on libc
 *                                  and POSIX threads in kmod/user/.
 *
 * Kernel names: those the units use with the kernel's own 6.1 meaning and
 * signature.  The half provides them (in the kernel most are macros, so they
 * are not redeclared here).  Context: "any" includes softirq and code under a
 * spin lock; "process" means a context that may sleep.
 *
 *   Types         u8 u16 u32 u64 s8 s16 s32 s64, size_t, bool, NULL, offsetof,
 *                 static_assert, __user, __rcu, __force, __be16 __be32 (network
 *                 order), ARRAY_SIZE, likely, unlikely, container_of.
 *   Errors        the kernel's numbers: EFAULT EINVAL ENOMEM EEXIST ENODEV
 *                 ENOTTY EIO ENOIOCTLCMD; ERR_PTR PTR_ERR IS_ERR
 *                 IS_ERR_OR_NULL.
 *   Bytes         memcpy memmove memset memcmp (any); memzero_explicit (any;
 *                 never dropped as a dead store); cpu_to_be32 be32_to_cpu
 *                 cpu_to_be16 be16_to_cpu.
 *   Memory        vmalloc vzalloc (process, may sleep; null on failure);
 *                 vfree (process; null allowed).
 *   Caller        copy_from_user copy_to_user (process, may sleep: only in
 *                 the caller's ioctl; they return the bytes NOT copied, and
 *                 copy_from_user zeroes what it could not copy);
 *                 compat_ptr(u32) (a 32-bit caller address as a pointer).
 *   Log           pr_err(fmt, ...) (any; one kernel log entry at error level
 *                 per call, the text exactly as formatted); pr_info (any; the
 *                 same at information level, not kept in user space).
 *   Shared words  READ_ONCE(x), WRITE_ONCE(x, v) (any; one untorn access).
 *   Spin locks    spinlock_t, spin_lock_init, spin_lock/spin_unlock (any),
 *                 spin_lock_bh/spin_unlock_bh (process code taking a lock the
 *                 softirq paths take too).  Nothing may sleep under them.
 *   Atomics       atomic_t, atomic_read atomic_set atomic_inc atomic_dec
 *                 atomic_xchg (any; each a full barrier where it returns a
 *                 value, as in the kernel).
 *   Semaphores    struct semaphore, sema_init, down (process, sleeps), up
 *                 (any).
 *   Threads       struct task_struct (opaque), kthread_create(fn, data, name)
 *                 (process; a stopped thread or ERR_PTR), wake_up_process
 *                 (any, also under spin locks), kthread_should_stop (in the
 *                 thread), kthread_stop (process; wakes the thread, waits
 *                 until its function has returned, then drops it: after it
 *                 returns no module code runs in that thread), get_current,
 *                 set_user_nice, set_current_state(TASK_INTERRUPTIBLE /
 *                 TASK_RUNNING), schedule (in the thread; sleeps until woken
 *                 when the state set was TASK_INTERRUPTIBLE), cond_resched
 *                 (in the thread, no lock held: a point where others may run
 *                 and RCU grace periods pass).  Threads are not frozen.
 *   RCU           rcu_read_lock/rcu_read_unlock (any; no sleeping in
 *                 between), rcu_dereference(p) (inside a read section),
 *                 rcu_assign_pointer(p, v) (publishes v after its contents),
 *                 synchronize_rcu (process, sleeps: returns once every read
 *                 section that might still see the old pointer has ended).
 *   Sockets       struct socket, struct sk_buff (opaque), sock_release
 *                 (process).
 *   Lines         struct tty_struct, struct file (opaque); termios flags
 *                 B38400 CS8 CREAD.
 *   Netfilter     NF_ACCEPT NF_DROP; struct net_device (opaque).
 *   Module        MODULE_LICENSE, module_param(name, uint, perm),
 *                 module_init(fn), module_exit(fn).
 *
 * Platform helpers, declared below: operations the platform offers under the
 * project's prefix, where the kernel's own calls would drag in structures
 * the units never touch or differ between kernel versions.
 */
#ifndef PARVEX_PLATFORM_H
#define PARVEX_PLATFORM_H

#ifdef __KERNEL__
#include "kmod/kernel/platform_kernel.h"
#else
#include "kmod/user/platform_user.h"
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct socket;
struct sk_buff;
struct tty_struct;
struct file;
struct net_device;

/* ------------------------------------------------------------------------
 * The CPU's vector registers.
 * ------------------------------------------------------------------------ */

/*
 * Whether the CPU and the system's saved state offer AVX-512 F, BW, VL and
 * VBMI; always false where the build cannot use them (32-bit x86).  Any.
 */
bool parvex_cpu_has_avx512vbmi(void);
/* Whether vector registers may be used here (not in an interrupt that cut into them).  Any. */
bool parvex_simd_usable(void);
/*
 * Bracket vector-register use where parvex_simd_usable(): preemption is off
 * in between, so keep each bracket to some tens of microseconds.  Never
 * nested.
 */
void parvex_simd_begin(void);
void parvex_simd_end(void);

/* ------------------------------------------------------------------------
 * UDP sockets of the module's own (IPv4, in the initial network namespace).
 * ------------------------------------------------------------------------ */

/* A new unbound IPv4 datagram socket in *res; 0 or a negative error.  Process. */
int parvex_sock_create_udp(struct socket **res);
/* Lets several sockets bind the same local address and port.  Process. */
void parvex_sock_set_reuseaddr(struct socket *sock);
/* The socket's own allocations never sleep (they happen on the receive path).  Process. */
void parvex_sock_set_atomic_alloc(struct socket *sock);
/*
 * Room for bytes of datagrams queued on the socket, past the system-wide
 * limit where the platform may.  Process.
 */
void parvex_sock_set_rcvbuf(struct socket *sock, int bytes);
/* Binds to any local address and port (host order); 0 or a negative error.  Process. */
int parvex_sock_bind_any(struct socket *sock, u16 port);
/*
 * From now on cb(data) runs whenever a datagram is queued on the socket: in
 * the network receive path (softirq), possibly on several CPUs at once, so it
 * must not sleep.  Process.
 */
void parvex_sock_set_data_ready(struct socket *sock, void (*cb)(void *data), void *data);
/* One queued datagram without waiting, or null.  Any (the callback above calls it). */
struct sk_buff *parvex_sock_recv_datagram(struct socket *sock);
/* Gives back a datagram from parvex_sock_recv_datagram.  Any. */
void parvex_skb_free_datagram(struct socket *sock, struct sk_buff *skb);
/* Payload length of a received datagram, its UDP header not counted.  Any. */
int parvex_udp_skb_len(const struct sk_buff *skb);
/* Source address and port of a received datagram, network order.  Any. */
__be32 parvex_udp_skb_saddr(const struct sk_buff *skb);
__be16 parvex_udp_skb_sport(const struct sk_buff *skb);
/* Copies len payload bytes from offset (0 = first payload byte); 0 or negative.  Any. */
int parvex_udp_skb_copy(const struct sk_buff *skb, int offset, void *to, int len);
/*
 * One datagram made of a[0..alen) then b[0..blen) to addr:port (network
 * order): the bytes sent, or a negative error; never part of a datagram.
 * Process (the sending thread), may sleep.
 */
int parvex_sock_send2(struct socket *sock, __be32 addr, __be16 port, const void *a, size_t alen,
		      const void *b, size_t blen);
/* Outer TTL of later datagrams: 1..255, or -1 for the system's default.  Process. */
void parvex_sock_set_unicast_ttl(struct socket *sock, int ttl);
/*
 * Shuts both directions and detaches the data-ready callback: once it returns
 * the callback is not running and is not called again.  The socket itself
 * stays until sock_release.  Process.
 */
void parvex_sock_shutdown(struct socket *sock);

/* ------------------------------------------------------------------------
 * The control device: a tty driver of raw lines.
 * ------------------------------------------------------------------------ */

struct parvex_tty_ops {
	/* Process, may sleep.  0 or a negative error. */
	int (*open)(struct tty_struct *tty, struct file *filp);
	/* Process, may sleep. */
	void (*close)(struct tty_struct *tty, struct file *filp);
	/*
	 * One whole frame to send.  Called with bottom halves disabled and spin
	 * locks held (the PPP transmit path), from several lines on different
	 * CPUs at once: must not sleep; returns count or a negative error, never
	 * a short count.
	 */
	int (*write)(struct tty_struct *tty, const unsigned char *buf, int count);
	/*
	 * Process, may sleep.  arg is an address in the calling process; a
	 * 32-bit caller on a 64-bit kernel arrives here too, its arg already
	 * converted (the records have the same layout for both).
	 */
	int (*ioctl)(struct tty_struct *tty, unsigned int cmd, unsigned long arg);
};

struct parvex_tty_config {
	const char *driver_name;
	const char *name;	/* device nodes are name0, name1, ... */
	int lines;
	/* Initial terminal settings of every line. */
	u32 c_iflag;
	u32 c_oflag;
	u32 c_cflag;
	u32 c_lflag;
	const struct parvex_tty_ops *ops;
};

struct parvex_tty_driver;

/*
 * Registers a driver of raw lines with a major number the system assigns and
 * every line's device ready to open.  The driver, or ERR_PTR(-ENOMEM) when it
 * cannot be allocated, or ERR_PTR of another error when registering fails.
 * Process.
 */
struct parvex_tty_driver *parvex_tty_register(const struct parvex_tty_config *config);
/* Removes the lines and the driver.  Process. */
void parvex_tty_unregister(struct parvex_tty_driver *driver);
/*
 * Hands one whole frame to the line discipline's receive routine in one
 * call.  Process only (the sleeping lock of the PPP discipline): the worker
 * threads call it, never the socket callback.
 */
void parvex_tty_deliver(struct tty_struct *tty, const u8 *data, int count);
/*
 * Wakes whoever waits to read or write on the line, as a hang-up does.
 * Process.
 */
void parvex_tty_hangup_waiters(struct tty_struct *tty);

/* ------------------------------------------------------------------------
 * Output hooks: every packet the host sends, after routing.
 * ------------------------------------------------------------------------ */

#define PARVEX_HOOK_IPV4 0
#define PARVEX_HOOK_IPV6 1

/*
 * Called for each outgoing packet of the hook's family, in softirq context or
 * with bottom halves disabled, on any CPU at once: must not sleep.  out is the
 * device the packet leaves by (may be null).  Returns NF_ACCEPT or NF_DROP.
 */
typedef unsigned int parvex_hookfn(struct sk_buff *skb, const struct net_device *out);

struct parvex_hook {
	parvex_hookfn *fn;
	int family;		/* PARVEX_HOOK_IPV4 or PARVEX_HOOK_IPV6 */
	void *platform;		/* the platform's own; the units leave it alone */
};

/*
 * Registers the hook at the last point of the output path, ahead of every
 * other hook there; 0 or a negative error.  Process.
 */
int parvex_hook_register(struct parvex_hook *hook);
/* Once it returns, the hook's function is not running and not called again.  Process. */
void parvex_hook_unregister(struct parvex_hook *hook);
/* Destination of a packet given to an IPv4 hook, network order.  Any. */
__be32 parvex_skb_ipv4_daddr(const struct sk_buff *skb);
/* Whether a device is a loopback device (null: no).  Any. */
bool parvex_dev_is_loopback(const struct net_device *dev);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_PLATFORM_H */
