/* SPDX-License-Identifier: GPL-2.0 */
/* Loading and unloading parvex. */
#ifndef PARVEX_MODULE_H
#define PARVEX_MODULE_H

#ifdef __cplusplus
extern "C" {
#endif

#ifndef __KERNEL__
/*
 * Outside the kernel, loading and unloading are plain calls: load sets up
 * every unit in order, unwinding what was built when a step fails.
 */
int init_module(void);
void cleanup_module(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* PARVEX_MODULE_H */
