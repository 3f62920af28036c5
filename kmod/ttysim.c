// SPDX-License-Identifier: GPL-2.0
/*
 * The control device "ttysim": each line carries at most one session; writes
 * are frames to send, ioctl commands drive the session, and frames from the
 * server and event frames go up the line.
 */
#include "kmod/ttysim.h"
#include "kmod/crypter.h"
#include "kmod/filter.h"
#include "kmod/records.h"
#include "kmod/sctrl.h"
#include "kmod/stbuff.h"
#include "kmod/sync.h"
#include "kmod/udpt.h"

static struct parvex_tty_driver *ttysim_driver;

static const struct parvex_tty_ops ttysim_ops = {
	.open = ttysim_open,
	.close = ttysim_close,
	.write = ttysim_write,
	.ioctl = ttysim_ioctl,
};

/* Raw 8-bit lines: nothing of the terminal's processing touches a frame. */
static const struct parvex_tty_config ttysim_config = {
	.driver_name = "ttysim",
	.name = "ttysim",
	.lines = TTYSIM_LINES,
	.c_iflag = 0,
	.c_oflag = 0,
	.c_cflag = B38400 | CS8 | CREAD,
	.c_lflag = 0,
	.ops = &ttysim_ops,
};

int ttysim_init(void)
{
	struct parvex_tty_driver *driver = parvex_tty_register(&ttysim_config);

	if (IS_ERR(driver)) {
		if (PTR_ERR(driver) == -ENOMEM)
			pr_err("Couldn't allocate ttysim driver\n");
		else
			pr_err("Couldn't register ttysim driver\n");
		return -1;
	}
	ttysim_driver = driver;
	reset_stats(&stats);
	return 0;
}

void ttysim_exit(void)
{
	parvex_tty_unregister(ttysim_driver);
	ttysim_driver = NULL;
}

int ttysim_open(struct tty_struct *tty, struct file *filp)
{
	(void)filp;
	return tty ? 0 : -ENODEV;
}

/* With the control and transfer locks held. */
static void ttysim_teardown(struct sctrl_session *s)
{
	udpt_close(s);
	filter_close(s);
	sctrl_delete_session(s);
}

static void ttysim_delete(struct tty_struct *tty)
{
	struct sctrl_session *s;

	lock_control();
	s = sctrl_find_session_tty(tty);
	if (s) {
		lock_transfer();
		ttysim_teardown(s);
		unlock_transfer();
	}
	unlock_control();
}

void ttysim_close(struct tty_struct *tty, struct file *filp)
{
	(void)filp;
	ttysim_delete(tty);
	parvex_tty_hangup_waiters(tty);
}

int ttysim_write(struct tty_struct *tty, const unsigned char *buf, int count)
{
	if (count > STBUFF_DATA_SIZE - crypter_overhead()) {
		pr_err("packet too large: %d\n", count);
		return -1;
	}
	if (count < TTYSIM_MIN_FRAME) {
		pr_err("packet too short: %d\n", count);
		return -1;
	}
	return stbuff_outstream_put(buf, count, tty) < 0 ? -1 : count;
}

void ttysim_instream_put(struct sctrl_session *s)
{
	u8 *frame;

	if (!s || !s->tty || s->in.len <= 0)
		return;
	frame = s->in.data;
	/* The daemon reads inbound IPCP under the number 0xC001. */
	if (s->in.len >= TTYSIM_MIN_FRAME && frame[2] == 0x80 && frame[3] == 0x21) {
		frame[2] = 0xC0;
		frame[3] = 0x01;
	}
	parvex_tty_deliver(s->tty, frame, s->in.len);
}

/* The set-up steps after the record is in place; the first failure ends it. */
static int ttysim_setup_session(struct sctrl_session *s)
{
	int ret = crypter_create(s);

	if (ret < 0) {
		pr_err("error while creating session - crypter initialization failed\n");
		return ret;
	}
	ret = udpt_create(s);
	if (ret < 0) {
		pr_err("error while creating session - udp transporter initialization failed\n");
		return ret;
	}
	ret = filter_create(s);
	if (ret < 0)
		pr_err("error while creating session - filter initialization failed\n");
	return ret;
}

static int ttysim_create_session(struct tty_struct *tty, const void __user *arg)
{
	struct session_setup setup;
	struct sctrl_session *s;
	int ret;

	if (copy_from_user(&setup, arg, sizeof(setup)))
		return -EFAULT;
	lock_control();
	s = sctrl_find_session_tty(tty);
	if (s) {
		pr_err("session sid =%d already exists\n", s->params.sid);
		unlock_control();
		return 0;
	}
	lock_transfer();
	s = sctrl_create_session(tty);
	if (!s) {
		pr_err("error while creating session\n");
		ret = -EEXIST;
	} else {
		s->params = setup;
		ret = ttysim_setup_session(s);
	}
	unlock_transfer();
	unlock_control();
	return ret;
}

/*
 * The keys are built before any lock is taken (it takes milliseconds), so
 * the other lines' commands and both threads are held up for the swap only.
 */
static int ttysim_setup_keys(struct tty_struct *tty, const void __user *arg)
{
	struct crypter_keys *keys = crypter_keys_prepare(arg);
	struct sctrl_session *s;
	int ret;

	lock_control();
	s = sctrl_find_session_tty(tty);
	if (!s) {
		pr_err("file not open\n");
		ret = -EFAULT;
	} else {
		lock_transfer();
		ret = crypter_keys_install(s, keys);
		unlock_transfer();
	}
	unlock_control();
	crypter_keys_free(keys);
	return ret;
}

static int ttysim_get_stats(struct tty_struct *tty, void __user *arg)
{
	struct traffic_stats copy;
	struct sctrl_session *s;
	int left;

	lock_control();
	lock_transfer();
	s = sctrl_find_session_tty(tty);
	copy = s ? s->stats : stats;
	unlock_transfer();
	left = (int)copy_to_user(arg, &copy, sizeof(copy));
	unlock_control();
	return left;
}

/* The 32-bit descriptor: what a 32-bit caller (native or through compat) uses. */
static int ttysim_set_filter_list(struct sctrl_session *s, const void __user *arg)
{
	struct filter_list_desc desc;

	if (copy_from_user(&desc, arg, sizeof(desc)))
		return -EFAULT;
	return filter_set_list(s, compat_ptr(desc.rules), desc.size) ? -EFAULT : 0;
}

/* An address that does not fit the kernel's pointers is refused, never truncated. */
static int ttysim_set_filter_list64(struct sctrl_session *s, const void __user *arg)
{
	struct filter_list_desc64 desc;

	if (copy_from_user(&desc, arg, sizeof(desc)))
		return -EFAULT;
	if (desc.rules != (u64)(unsigned long)desc.rules)
		return -EFAULT;
	return filter_set_list(s, (const void __user *)(unsigned long)desc.rules, desc.size) ?
	       -EFAULT : 0;
}

/* The commands that need the line's session, run with the control lock held. */
static int ttysim_session_command(struct sctrl_session *s, unsigned int cmd, void __user *arg)
{
	switch (cmd) {
	case TTYSIM_FILTER_ON:
		return filter_on(s);
	case TTYSIM_FILTER_OFF:
		return filter_off(s);
	case TTYSIM_SET_FILTER_LIST64:
		return ttysim_set_filter_list64(s, arg);
	default:
		return ttysim_set_filter_list(s, arg);
	}
}

int ttysim_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg)
{
	void __user *uarg = (void __user *)arg;
	struct sctrl_session *s;
	int ret;

	switch (cmd) {
	case TTYSIM_CREATE_SESSION:
		return ttysim_create_session(tty, uarg);
	case TTYSIM_DELETE_SESSION:
		ttysim_delete(tty);
		return 0;
	case TTYSIM_GET_STATS:
		return ttysim_get_stats(tty, uarg);
	case TTYSIM_SETUP_KEYS:
		return ttysim_setup_keys(tty, uarg);
	case TTYSIM_FILTER_ON:
	case TTYSIM_FILTER_OFF:
	case TTYSIM_SET_FILTER_LIST:
	case TTYSIM_SET_FILTER_LIST64:
		break;
	default:
		return -ENOIOCTLCMD;
	}
	lock_control();
	s = sctrl_find_session_tty(tty);
	if (!s) {
		pr_err("file not open\n");
		ret = -EFAULT;
	} else {
		ret = ttysim_session_command(s, cmd, uarg);
	}
	unlock_control();
	return ret;
}
