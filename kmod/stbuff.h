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
#define STBUFF_SLOTS 1024
/*
 * The last slots of the inbound and outbound rings are kept for short
 * datagrams and PPP control frames, so those pass a ring full of traffic.
 */
#define STBUFF_RESERVED 5
#define STBUFF_SHORT_DATAGRAM 64
#define STBUFF_CONTROL_PROTOCOL 0xC0

/* One frame, datagram or event with its routing data. */
struct stbuff_slot {
	s32 sid;
	u32 peer_addr;
	u16 peer_port;
	u16 local_port;		/* the receiving socket's, as the session names it */
	u32 local_addr;
	struct tty_struct *tty;
	s32 len;
	u8 header;
	u8 data[STBUFF_DATA_SIZE];
};

/* Event ring: a copy of the event for session sid; 0, or -1 when the ring is full. */
int stbuff_logger_put(s32 sid, const void *event, s32 len);

/* Allocates the rings and starts both threads; 0, or -1 with nothing left behind. */
int stbuff_init(void);
/* Stops both threads (frames still queued are not processed), frees the rings. */
void stbuff_exit(void);

/*
 * Inbound ring, filled from the socket's receive path (softirq): when the
 * ring admits a payload of len bytes, fill(slot, data) writes the slot under
 * the producer lock (it must not sleep), and a nonzero return leaves the ring
 * as it was.  0, -1 when the ring refuses it, or fill's result.
 */
int stbuff_instream_put(s32 len, int (*fill)(struct stbuff_slot *slot, void *data), void *data);

/* Queues a frame written on tty; len, or -1 when the ring refuses it. */
s32 stbuff_outstream_put(const u8 *frame, s32 len, struct tty_struct *tty);

/* Frames each ring refused for want of room since load. */
struct stbuff_drops {
	u32 inbound;	/* datagrams lost before the crypter */
	u32 outbound;	/* writes the line refused */
	u32 events;	/* events lost */
};
void stbuff_get_drops(struct stbuff_drops *d);

/* The next slot index after index. */
u32 st_update_buffer_pointer(u32 index);

/* Bodies of the threads "parvex_in" and "parvex_out". */
int stbuff_instream_run(void *data);
int stbuff_outstream_run(void *data);

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_STBUFF_H */
