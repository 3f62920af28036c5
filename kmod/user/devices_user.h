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
struct tty_driver;

/* Threads started by kthread_create whose function has not returned. */
int user_threads_alive(void);
/* The next n thread creations succeed, the one after fails; -1 never fails. */
void user_fail_thread_after(int n);

/* Makes the next sock_create_udp fail once. */
void user_fail_socket_create(void);

/* The registered tty driver, or null. */
const struct tty_driver *user_tty_driver(void);
/* Makes the next alloc_tty_driver (tty_register_driver) fail once. */
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

/* The verdict of the output hook for an IPv4 packet (header first). */
unsigned int user_output_ipv4(const void *packet, size_t len);
/* The verdict for a packet of another protocol. */
unsigned int user_output_other(void);
/* Whether an output hook is registered. */
int user_output_hook_registered(void);
/* Makes the next nf_register_hook fail once. */
void user_fail_hook_register(void);

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
