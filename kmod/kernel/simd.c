// SPDX-License-Identifier: GPL-2.0
/*
 * Vector registers in the kernel: the feature bits and the extended state
 * the kernel saves, and kernel_fpu_begin/end around their use (which also
 * keeps preemption off).
 */
#include "kmod/platform.h"

#ifdef CONFIG_X86
#include <asm/cpufeature.h>
#include <asm/fpu/api.h>
#include <asm/simd.h>
#endif

bool parvex_cpu_has_avx512vbmi(void)
{
#ifdef CONFIG_X86_64
	return boot_cpu_has(X86_FEATURE_AVX512F) && boot_cpu_has(X86_FEATURE_AVX512BW) &&
	       boot_cpu_has(X86_FEATURE_AVX512VL) && boot_cpu_has(X86_FEATURE_AVX512VBMI) &&
	       cpu_has_xfeatures(XFEATURE_MASK_SSE | XFEATURE_MASK_YMM | XFEATURE_MASK_AVX512, NULL);
#else
	return false;
#endif
}

bool parvex_simd_usable(void)
{
#ifdef CONFIG_X86
	return may_use_simd();
#else
	return false;
#endif
}

void parvex_simd_begin(void)
{
#ifdef CONFIG_X86
	kernel_fpu_begin();
#endif
}

void parvex_simd_end(void)
{
#ifdef CONFIG_X86
	kernel_fpu_end();
#endif
}
