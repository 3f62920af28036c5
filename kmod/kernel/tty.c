// SPDX-License-Identifier: GPL-2.0
/*
 * The control device on the 6.1 tty layer: a dynamic-device driver of raw
 * lines, one tty_port per line (a line opens only with a port, and its
 * character device exists only once the port is registered), the units'
 * operations behind the tty_operations, and a compat_ioctl so that a 32-bit
 * daemon on a 64-bit kernel reaches the same commands.
 */
#include "kmod/platform.h"

#include <linux/slab.h>
#include <linux/tty.h>
#include <linux/tty_driver.h>
#include <linux/tty_flip.h>
#include <linux/tty_ldisc.h>
#include <linux/tty_port.h>

/* The largest write the tty layer hands over in one piece. */
#define PARVEX_TTY_ROOM 2048

struct parvex_tty_driver {
	struct tty_driver *driver;
	const struct parvex_tty_ops *ops;
	int lines;
	int registered;		/* lines whose device exists */
	struct tty_port *ports;
};

static const struct parvex_tty_ops *parvex_ops(struct tty_struct *tty)
{
	return ((struct parvex_tty_driver *)tty->driver->driver_state)->ops;
}

static int parvex_tty_open(struct tty_struct *tty, struct file *filp)
{
	return parvex_ops(tty)->open(tty, filp);
}

static void parvex_tty_close(struct tty_struct *tty, struct file *filp)
{
	parvex_ops(tty)->close(tty, filp);
}

static int parvex_tty_write(struct tty_struct *tty, const unsigned char *buf, int count)
{
	return parvex_ops(tty)->write(tty, buf, count);
}

static int parvex_tty_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg)
{
	return parvex_ops(tty)->ioctl(tty, cmd, arg);
}

/*
 * A write takes one whole frame or fails; the tty layer asks for the room
 * only to see that the line is writable at all (poll, output processing).
 */
static unsigned int parvex_tty_write_room(struct tty_struct *tty)
{
	return PARVEX_TTY_ROOM;
}

#ifdef CONFIG_COMPAT
/* The records have one layout for both; only the argument's address widens. */
static long parvex_tty_compat_ioctl(struct tty_struct *tty, unsigned int cmd, unsigned long arg)
{
	return parvex_ops(tty)->ioctl(tty, cmd, (unsigned long)compat_ptr(arg));
}
#endif

static const struct tty_operations parvex_tty_operations = {
	.open = parvex_tty_open,
	.close = parvex_tty_close,
	.write = parvex_tty_write,
	.write_room = parvex_tty_write_room,
	.ioctl = parvex_tty_ioctl,
#ifdef CONFIG_COMPAT
	.compat_ioctl = parvex_tty_compat_ioctl,
#endif
};

/* The lines need no port operations: opening never waits for a carrier. */
static const struct tty_port_operations parvex_port_ops;

static void parvex_tty_free(struct parvex_tty_driver *drv)
{
	int i;

	for (i = 0; i < drv->lines; i++)
		tty_port_destroy(&drv->ports[i]);
	kfree(drv->ports);
	kfree(drv);
}

static void parvex_tty_remove_devices(struct parvex_tty_driver *drv)
{
	while (drv->registered > 0)
		tty_unregister_device(drv->driver, --drv->registered);
}

struct parvex_tty_driver *parvex_tty_register(const struct parvex_tty_config *config)
{
	struct parvex_tty_driver *drv;
	struct tty_driver *driver;
	int i, err;

	drv = kzalloc(sizeof(*drv), GFP_KERNEL);
	if (!drv)
		return ERR_PTR(-ENOMEM);
	drv->ports = kcalloc(config->lines, sizeof(*drv->ports), GFP_KERNEL);
	if (!drv->ports) {
		kfree(drv);
		return ERR_PTR(-ENOMEM);
	}
	drv->ops = config->ops;
	drv->lines = config->lines;
	for (i = 0; i < drv->lines; i++) {
		tty_port_init(&drv->ports[i]);
		drv->ports[i].ops = &parvex_port_ops;
	}

	driver = tty_alloc_driver(config->lines, TTY_DRIVER_REAL_RAW | TTY_DRIVER_DYNAMIC_DEV);
	if (IS_ERR(driver)) {
		parvex_tty_free(drv);
		return ERR_PTR(-ENOMEM);
	}
	drv->driver = driver;
	driver->driver_name = config->driver_name;
	driver->name = config->name;
	driver->major = 0;	/* the system assigns one */
	driver->minor_start = 0;
	driver->type = TTY_DRIVER_TYPE_SYSTEM;
	driver->subtype = SYSTEM_TYPE_TTY;
	driver->init_termios = tty_std_termios;
	driver->init_termios.c_iflag = config->c_iflag;
	driver->init_termios.c_oflag = config->c_oflag;
	driver->init_termios.c_cflag = config->c_cflag;
	driver->init_termios.c_lflag = config->c_lflag;
	driver->driver_state = drv;
	tty_set_operations(driver, &parvex_tty_operations);
	for (i = 0; i < drv->lines; i++)
		tty_port_link_device(&drv->ports[i], driver, i);

	err = tty_register_driver(driver);
	if (err)
		goto put_driver;
	for (; drv->registered < drv->lines; drv->registered++) {
		struct device *dev = tty_port_register_device(&drv->ports[drv->registered], driver,
							      drv->registered, NULL);

		if (IS_ERR(dev)) {
			err = PTR_ERR(dev);
			parvex_tty_remove_devices(drv);
			tty_unregister_driver(driver);
			goto put_driver;
		}
	}
	return drv;

put_driver:
	tty_driver_kref_put(driver);
	parvex_tty_free(drv);
	return ERR_PTR(err);
}

/* Devices first, then the driver, then the ports nothing refers to any more. */
void parvex_tty_unregister(struct parvex_tty_driver *drv)
{
	if (IS_ERR_OR_NULL(drv))
		return;
	parvex_tty_remove_devices(drv);
	tty_unregister_driver(drv->driver);
	tty_driver_kref_put(drv->driver);
	parvex_tty_free(drv);
}

/*
 * One frame, whole, straight to the line discipline: the flip buffer would
 * cut frames over 1,792 bytes and merge consecutive ones.
 */
void parvex_tty_deliver(struct tty_struct *tty, const u8 *data, int count)
{
	struct tty_ldisc *ld;

	might_sleep();
	ld = tty_ldisc_ref(tty);
	if (!ld)
		return;
	tty_ldisc_receive_buf(ld, data, NULL, count);
	tty_ldisc_deref(ld);
}

void parvex_tty_hangup_waiters(struct tty_struct *tty)
{
	struct tty_struct *peer = tty->link;
	unsigned long flags;

	wake_up_interruptible(&tty->read_wait);
	wake_up_interruptible(&tty->write_wait);
	spin_lock_irqsave(&tty->ctrl.lock, flags);
	tty->ctrl.packet = false;
	spin_unlock_irqrestore(&tty->ctrl.lock, flags);
	if (peer) {
		spin_lock_irqsave(&peer->ctrl.lock, flags);
		peer->ctrl.packet = false;
		spin_unlock_irqrestore(&peer->ctrl.lock, flags);
		set_bit(TTY_OTHER_CLOSED, &peer->flags);
		wake_up_interruptible(&peer->read_wait);
		wake_up_interruptible(&peer->write_wait);
	}
}
