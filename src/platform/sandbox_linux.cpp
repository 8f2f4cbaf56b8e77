// The worker's sandbox on Linux: no_new_privs and a seccomp filter that
// allows what decoding and encoding into descriptors already open need
// (reading, writing, seeking and closing them, memory, threads, time) and
// refuses everything else with EPERM, so that
// a library probing for something it may not have (a file to open, a
// terminal, a processor count) gets an ordinary failure, not a crash.
#include "platform/platform.h"

#include <seccomp.h>

#include <cerrno>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <vector>

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

bool Allow(scmp_filter_ctx filter, int call) {
    return seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
}

// Allows `call` when its first argument compares as `op` with `a` (and,
// for a masked comparison, `b`).
bool AllowWhenFirst(scmp_filter_ctx filter, int call, scmp_compare op, scmp_datum_t a,
                    scmp_datum_t b = 0) {
    const scmp_arg_cmp argument{0, op, a, b};
    return seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, 1, &argument) == 0;
}


// The filter as a BPF program, built once (by libseccomp) and installed by
// every worker: building it costs more than a small picture's decoding.
std::vector<sock_filter> BuildFilter() {
    std::vector<sock_filter> program;
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (filter == nullptr) {
        return program;
    }
    bool ok = true;
    for (const int call : {
             // what is already open
             SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv),
             SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(pwrite64), SCMP_SYS(lseek),
             SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(fcntl),
             SCMP_SYS(fsync), SCMP_SYS(fdatasync), SCMP_SYS(sendto), SCMP_SYS(recvfrom),
             // memory
             SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap),
             SCMP_SYS(mprotect), SCMP_SYS(madvise),
             // threads, time and the process itself
             SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
             SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(clock_gettime),
             SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday),
             SCMP_SYS(getrandom), SCMP_SYS(sysinfo), SCMP_SYS(rt_sigaction),
             SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
             SCMP_SYS(exit), SCMP_SYS(exit_group)}) {
        ok = ok && Allow(filter, call);
    }
    // Threads, but no new processes; clone3 is answered "not here", which
    // makes the C library fall back to clone. No signals at all, not even
    // to itself: abort() then ends the process with SIGSEGV instead of
    // SIGABRT, which is the same death to the parent.
    ok = ok && AllowWhenFirst(filter, SCMP_SYS(clone), SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD) &&
         seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
         AllowWhenFirst(filter, SCMP_SYS(prlimit64), SCMP_CMP_EQ, 0);
    // libseccomp writes the program to a descriptor; a pipe holds it.
    int pipeFds[2];
    if (ok && pipe(pipeFds) == 0) {
        if (seccomp_export_bpf(filter, pipeFds[1]) == 0) {
            close(pipeFds[1]);
            sock_filter instruction{};
            while (read(pipeFds[0], &instruction, sizeof instruction) == sizeof instruction) {
                program.push_back(instruction);
            }
        } else {
            close(pipeFds[1]);
        }
        close(pipeFds[0]);
    }
    seccomp_release(filter);
    return program;
}

const std::vector<sock_filter>& Filter() {
    static const std::vector<sock_filter> program = BuildFilter();
    return program;
}

}  // namespace

void PrepareSandbox() {
    if (!UnderValgrind()) {
        Filter();
    }
}

bool EnterSandbox() {
    // valgrind runs its own code in this process and needs calls the filter
    // refuses; under it the worker stays unfenced.
    if (UnderValgrind()) {
        return false;
    }
    const std::vector<sock_filter>& program = Filter();
    if (program.empty()) {
        return false;
    }
    sock_fprog filter{static_cast<unsigned short>(program.size()), const_cast<sock_filter*>(program.data())};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}
