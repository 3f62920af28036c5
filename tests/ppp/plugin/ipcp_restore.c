/*
 * pppd plugin: the daemon's side of the line's protocol rewrites.
 *
 * The module hands inbound IPCP up as protocol 0xC001 and puts its own event
 * frames (protocol 0xC002) on the same line. Stock pppd would answer both
 * with an LCP Protocol-Reject, and IPCP would never open.
 *
 * pppd 2.4.9 has no hook that may change or drop a received frame, but
 * snoop_recv_hook is called from get_input() with the receive buffer itself,
 * after the frame was read and before its protocol is parsed. Rewriting the
 * buffer there is enough:
 *  - 0xC001 becomes 0x8021, so IPCP's own input routine takes the frame;
 *  - 0xC002 becomes LCP with a zero code, identifier and length: LCP's input
 *    discards a packet whose length field is below its header size without a
 *    reply, so the event never reaches the protocol machinery.
 * A pty relay between pppd and the line would do the same from outside, at
 * the price of one more copy of every frame and a second discipline.
 */
#include <stddef.h>

#include "pppd.h"

char pppd_version[] = VERSION;

static unsigned long events_dropped;
static unsigned long ipcp_restored;

static void rewrite(unsigned char *p, int len)
{
	/* Address, control, protocol: pppd puts FF 03 in front of each frame. */
	if (len < 4 || p[2] != 0xC0)
		return;
	if (p[3] == 0x01) {
		p[2] = 0x80;
		p[3] = 0x21;
		ipcp_restored++;
	} else if (p[3] == 0x02) {
		p[2] = 0xC0;
		p[3] = 0x21;
		for (int i = 4; i < len && i < 8; i++)
			p[i] = 0;
		events_dropped++;
	}
}

static void report(void *arg, int value)
{
	(void)arg;
	(void)value;
	info("ipcp_restore: %lu IPCP frames restored, %lu event frames dropped", ipcp_restored,
	     events_dropped);
}

void plugin_init(void)
{
	snoop_recv_hook = rewrite;
	add_notifier(&exitnotify, report, NULL);
	info("ipcp_restore: 0xC001 read as IPCP, 0xC002 events dropped");
}
