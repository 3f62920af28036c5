/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Controls of the user-space platform for the data-plane tests: the caller's
 * side of the control device's lines, packets through the output hook, and
 * failures of thread creation, driver registration and hook registration.
 */
#ifndef PARVEX_USER_DEVICES_USER_H
#define PARVEX_USER_DEVICES_USER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct tty_struct;
struct parvex_tty_config;

/* Threads started by kthread_create whose function has not returned. */
int user_threads_alive(void);
/* The next n thread creations succeed, the one after fails; -1 never fails. */
void user_fail_thread_after(int n);

/* Makes the next parvex_sock_create_udp fail once. */
void user_fail_socket_create(void);

/* The registered tty driver's configuration, or null. */
const struct parvex_tty_config *user_tty_driver(void);
/* Makes the next parvex_tty_register fail once (as allocation, as registration). */
void user_fail_tty_alloc(void);
void user_fail_tty_register(void);

/* Opens line index of the registered driver; null when there is none or open fails. */
struct tty_struct *user_tty_open(int index);
/* Runs the driver's open without a line, as a broken caller might. */
int user_tty_open_without_line(void);
int user_tty_write(struct tty_struct *tty, const void *frame, int count);
int user_tty_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg);
/* One whole delivered frame into buf: its length, or -1 after timeout_ms. */
int user_tty_read(struct tty_struct *tty, void *buf, int size, int timeout_ms);
/* Times the line's waiters were woken for a hang-up. */
int user_tty_hangups(struct tty_struct *tty);
/* Closes the line; delivered frames not read are discarded. */
void user_tty_close(struct tty_struct *tty);

/* The verdict of the IPv4 output hook for a packet (header first); accepted without one. */
unsigned int user_output_ipv4(const void *packet, size_t len);
/* The verdict of the IPv6 output hook for a packet leaving by loopback or not. */
unsigned int user_output_ipv6(int loopback);
/* Whether an output hook of that family (PARVEX_HOOK_IPV4, _IPV6) is registered. */
int user_output_hook_registered(int family);
/* Makes the next parvex_hook_register fail once. */
void user_fail_hook_register(void);
/* The next n hook registrations succeed, the one after fails; -1 never fails. */
void user_fail_hook_register_after(int n);

/*
 * Memory of the calling process below 4 GiB, so that a 32-bit record field
 * can carry its address; freed with user_low_free.
 */
void *user_low_alloc(size_t size);
void user_low_free(void *p, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_USER_DEVICES_USER_H */
