// SPDX-License-Identifier: GPL-2.0
/* Load and unload: the units in order, under the control lock throughout. */
#include "kmod/module.h"
#include "kmod/crypter.h"
#include "kmod/filter.h"
#include "kmod/sctrl.h"
#include "kmod/stbuff.h"
#include "kmod/sync.h"
#include "kmod/ttysim.h"
#include "kmod/udpt.h"

MODULE_LICENSE("GPL");

/* Accepted at load; nothing depends on it. */
static unsigned int icmp_echo_test;
module_param(icmp_echo_test, uint, 0444);

static int parvex_init(void)
{
	int ret;

	sync_init();
	lock_control();
	ret = sctrl_init();
	if (ret < 0)
		goto out;
	ret = udpt_init();
	if (ret < 0)
		goto exit_sctrl;
	ret = crypter_init();
	if (ret < 0)
		goto exit_udpt;
	ret = ttysim_init();
	if (ret < 0)
		goto exit_crypter;
	ret = stbuff_init();	/* releases what it built itself */
	if (ret < 0)
		goto exit_ttysim;
	ret = filter_init();
	if (ret < 0)
		goto exit_stbuff;
	goto out;

exit_stbuff:
	stbuff_exit();
exit_ttysim:
	ttysim_exit();
exit_crypter:
	crypter_exit();
exit_udpt:
	udpt_exit();
exit_sctrl:
	sctrl_exit();
out:
	unlock_control();
	return ret;
}

static void parvex_exit(void)
{
	lock_control();
	filter_exit();
	stbuff_exit();
	ttysim_exit();
	crypter_exit();
	udpt_exit();
	sctrl_exit();
	unlock_control();
}

module_init(parvex_init);
module_exit(parvex_exit);
