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
 *
 * Option "keys-ready FILE[:FILE...]": the network phase waits (up to 10 s)
 * until every file exists. The daemon installs the keys once LCP is open
 * and the tunnel's far end must have its keys too before the first
 * protected frame reaches it; otherwise that frame goes up there as it came,
 * garbled, and IPCP loses a round. The files say "keys in" for each end.
 */
#include <stddef.h>
#include <string.h>
#include <unistd.h>

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

static char *keys_ready;

static option_t options[] = {
	{ .name = "keys-ready", .type = o_string, .addr = &keys_ready,
	  .description = "Files whose existence means the tunnel's keys are in, colon-separated" },
	{ .name = NULL }
};

static int all_exist(const char *list)
{
	char path[256];

	while (*list) {
		size_t n = strcspn(list, ":");
		if (n >= sizeof(path))
			return 0;
		memcpy(path, list, n);
		path[n] = 0;
		if (n && access(path, F_OK) != 0)
			return 0;
		list += n + (list[n] == ':');
	}
	return 1;
}

static void wait_for_keys(void *arg, int phase)
{
	static int waited;

	(void)arg;
	/* The phase comes back when IPCP goes down: wait the first time only. */
	if (phase != PHASE_NETWORK || !keys_ready || waited)
		return;
	waited = 1;
	for (int i = 0; i < 1000 && !all_exist(keys_ready); i++)
		usleep(10000);
	if (all_exist(keys_ready))
		info("ipcp_restore: keys in, network phase goes on");
	else
		warn("ipcp_restore: keys not in after 10 s, network phase goes on");
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
	add_notifier(&phasechange, wait_for_keys, NULL);
	add_options(options);
	info("ipcp_restore: 0xC001 read as IPCP, 0xC002 events dropped");
}
