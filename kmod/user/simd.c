// SPDX-License-Identifier: GPL-2.0
/*
 * Vector registers in user space: the CPU is asked directly (the compiler's
 * check also covers the system saving the AVX-512 state), and a process may
 * use its registers at any time, so the bracket is empty.
 */
#include "kmod/platform.h"

bool parvex_cpu_has_avx512vbmi(void)
{
#if defined(__x86_64__)
	__builtin_cpu_init();
	return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
	       __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
#else
	return false;
#endif
}

bool parvex_simd_usable(void)
{
	return true;
}

void parvex_simd_begin(void)
{
}

void parvex_simd_end(void)
{
}
