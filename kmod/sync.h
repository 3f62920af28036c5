/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The module's sleeping locks.  Order: control, then outbound, then inbound;
 * no path takes them in another order.
 */
#ifndef PARVEX_SYNC_H
#define PARVEX_SYNC_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

void sync_init(void);

/* Session creation, deletion and reconfiguration. */
void lock_control(void);
void unlock_control(void);
/* Sessions as the sending thread sees them. */
void lock_outstream(void);
void unlock_outstream(void);
/* Sessions as the receiving thread sees them. */
void lock_instream(void);
void unlock_instream(void);
/* Both direction locks, outbound first; released in reverse. */
void lock_transfer(void);
void unlock_transfer(void);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_SYNC_H */
