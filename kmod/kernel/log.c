// SPDX-License-Identifier: GPL-2.0
#include "kmod/platform.h"

MODULE_DESCRIPTION("GOST VPN tunnel data plane");

/* Longer than any line the units log; a longer one would be cut short. */
#define PARVEX_LOG_MAX 256

void parvex_log_err(const char *fmt, ...)
{
	char line[PARVEX_LOG_MAX];
	va_list args;
	int len;

	va_start(args, fmt);
	len = vscnprintf(line, sizeof(line), fmt, args);
	va_end(args);
	if (len > 0 && line[len - 1] == '\n')
		line[len - 1] = '\0';
	printk(KERN_ERR "%s\n", line);
}
