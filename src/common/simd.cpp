#include "common/simd.h"

#if GLIMRA_X86
#include <cpuid.h>

namespace {

// ECX of CPUID leaf 1, where both answers lie.
unsigned FeatureBits() {
    static const unsigned bits = [] {
        unsigned eax = 0;
        unsigned ebx = 0;
        unsigned ecx = 0;
        unsigned edx = 0;
        return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 ? ecx : 0u;
    }();
    return bits;
}

}  // namespace

bool ProcessorHasSsse3() { return (FeatureBits() & bit_SSSE3) != 0; }

bool ProcessorHasAvx() { return (FeatureBits() & bit_AVX) != 0 && (FeatureBits() & bit_OSXSAVE) != 0; }
#endif
