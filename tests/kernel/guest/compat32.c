/*
 * A 32-bit daemon on the 64-bit kernel: every command goes through the
 * driver's compat path with the records the 32-bit daemon uses.
 */
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "kmod/records.h"

static int failures;

static void check(int ok, const char *what)
{
	printf("%s - 32-bit caller: %s\n", ok ? "ok" : "not ok", what);
	fflush(stdout);
	if (!ok)
		failures++;
}

/* The ioctl's result, or -errno. */
static int call(int fd, unsigned long cmd, void *arg)
{
	int r = ioctl(fd, cmd, arg);

	return r < 0 ? -errno : r;
}

/* 0 or -errno of one UDP datagram to addr:port (host order). */
static int send_to(uint32_t addr, uint16_t port)
{
	struct sockaddr_in a;
	int fd = socket(AF_INET, SOCK_DGRAM, 0), ret;

	memset(&a, 0, sizeof(a));
	a.sin_family = AF_INET;
	a.sin_port = htons(port);
	a.sin_addr.s_addr = htonl(addr);
	ret = sendto(fd, "x", 1, 0, (struct sockaddr *)&a, sizeof(a)) < 0 ? -errno : 0;
	close(fd);
	return ret;
}

int main(void)
{
	struct session_setup s;
	struct filter_list_desc desc;
	struct filter_rule rule = { htonl(0x7F000000), htonl(0xFF000000) };
	struct traffic_stats st;
	struct termios t;
	int fd = open("/dev/ttysim11", O_RDWR | O_NOCTTY);

	check(fd >= 0, "line opens");
	if (fd < 0)
		return 1;
	tcgetattr(fd, &t);
	cfmakeraw(&t);
	tcsetattr(fd, TCSANOW, &t);
	check(call(fd, 0x40047308u, NULL) == -ENOTTY, "an unknown command is not this device's");
	check(call(fd, TTYSIM_FILTER_ON, NULL) == -EFAULT, "filter on without session: -EFAULT");

	memset(&s, 0, sizeof(s));
	s.sid = 51;
	s.peer_addr = s.local_addr = 0x7F000001;
	s.peer_port = 9;
	s.local_port = 40051;
	check(call(fd, TTYSIM_CREATE_SESSION, &s) == 0, "session created");
	memset(&st, 0xAB, sizeof(st));
	check(call(fd, TTYSIM_GET_STATS, &st) == 0 && st.frames_sent == 0 && st.bytes_received == 0,
	      "statistics of the new session read, all zero");

	/* Only the loopback rule; 192.0.2.1 sits on the loopback device too. */
	desc.rules = (uint32_t)(uintptr_t)&rule;
	desc.size = sizeof(rule);
	check(call(fd, TTYSIM_SET_FILTER_LIST, &desc) == 0, "filter list loaded through the 8-byte record");
	check(call(fd, TTYSIM_FILTER_ON, NULL) == 0, "filter on");
	check(send_to(0x7F000001, 9) == 0, "a packet inside the rules passes");
	check(send_to(0xC0000201, 9) == -EPERM, "a packet outside the rules is dropped");
	desc.rules = 8;
	check(call(fd, TTYSIM_SET_FILTER_LIST, &desc) == -EFAULT, "an unreadable list is refused");
	check(send_to(0xC0000201, 9) == -EPERM, "and the old rules stay in force");
	{
		struct filter_list_desc64 d64 = { (uintptr_t)&rule, sizeof(rule), 0 };

		check(call(fd, TTYSIM_SET_FILTER_LIST64, &d64) == 0,
		      "filter list loaded through the 16-byte record too");
	}
	check(send_to(0xC0000201, 9) == -EPERM, "and it is in force");
	check(call(fd, TTYSIM_FILTER_OFF, NULL) == 0, "filter off");
	check(send_to(0xC0000201, 9) == 0, "with the filter off the packet passes");
	check(call(fd, TTYSIM_GET_STATS, (void *)8) == (int)sizeof(st),
	      "statistics to an unwritable address: the bytes not written");
	check(call(fd, TTYSIM_DELETE_SESSION, NULL) == 0, "session deleted");
	close(fd);
	return failures ? 1 : 0;
}
