// The worker's sandbox on Linux: no_new_privs and the seccomp filter that
// sandbox_filter_maker.cpp compiled when this program was built.
#include "platform/platform.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include <iterator>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace {

bool UnderValgrind() {
#if defined(RUNNING_ON_VALGRIND)
    return RUNNING_ON_VALGRIND != 0;
#else
    return false;
#endif
}

const sock_filter kProgram[] = {
#include "sandbox_filter.inc"
};

}  // namespace

bool EnterSandbox() {
    // valgrind runs its own code in this process and needs calls the filter
    // refuses; under it the worker stays unfenced.
    if (UnderValgrind()) {
        return false;
    }
    // The kernel only reads the program.
    sock_fprog filter{static_cast<unsigned short>(std::size(kProgram)),
                      const_cast<sock_filter*>(kProgram)};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}
