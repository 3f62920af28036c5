/* SPDX-License-Identifier: GPL-2.0 */
/* Frame rings between the producers and the two worker threads. */
#ifndef PARVEX_STBUFF_H
#define PARVEX_STBUFF_H

#include "kmod/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

struct tty_struct;

#define STBUFF_DATA_SIZE 2048

/* One frame, datagram or event with its routing data. */
struct stbuff_slot {
	s32 sid;
	u32 peer_addr;
	u16 peer_port;
	struct tty_struct *tty;
	s32 len;
	u8 header;
	u8 data[STBUFF_DATA_SIZE];
};

/* Event ring: the slot to fill, or null when the ring is full. */
struct stbuff_slot *stbuff_logger_put_begin(void);
void stbuff_logger_put_finish(void);
void stbuff_logger_put_cancel(void);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_STBUFF_H */
