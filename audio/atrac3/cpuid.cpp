// Processor detection: which variants of the signal-processing modules run.
#include "audio/atrac3/at3internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

At3Cpu At3CpuFromFeatures(std::uint32_t edx) {
    if (edx & (1u << 25)) return At3Cpu::kKni; // SSE
    if (edx & (1u << 23)) return At3Cpu::kMmx;
    return At3Cpu::kPlain;
}

At3Cpu At3DetectCpu() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return At3CpuFromFeatures(edx);
#endif
    return At3Cpu::kPlain;
}
