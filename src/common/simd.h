// Whether the build runs the SSE2 versions of the vector routines (the
// difference kernels, PNG unfiltering) or their scalar twins: decided here
// and nowhere else. -DGLIMRA_FORCE_SCALAR=ON picks the twins everywhere.
#pragma once

#if !GLIMRA_FORCE_SCALAR && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define GLIMRA_HAVE_SSE2 1
#else
#define GLIMRA_HAVE_SSE2 0
#endif

#if defined(__x86_64__) || defined(__i386__)
#define GLIMRA_X86 1
// What the processor offers beyond SSE2, from one CPUID leaf asked at the
// first question (the compiler's own check asks a dozen at every start of
// the program, each a trip to the hypervisor on a virtual machine).
bool ProcessorHasSsse3();
// AVX, with the operating system saving its registers.
bool ProcessorHasAvx();
#endif
