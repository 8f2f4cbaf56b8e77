// Build-time program: writes the worker's seccomp filter, as libseccomp
// compiles it, to the file named by its argument as the instructions of a
// C++ array. Compiling the rules costs more than decoding a small picture,
// so every run installs this ready program instead.
//
// The filter allows what decoding and encoding into descriptors already
// open need (reading, writing, seeking and closing them, memory, threads,
// time) and refuses everything else with EPERM, so that a library probing
// for something it may not have (a file to open, a terminal, a processor
// count) gets an ordinary failure, not a crash.
#include <seccomp.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>

#include <linux/filter.h>
#include <sched.h>
#include <unistd.h>

namespace {

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

bool AddRules(scmp_filter_ctx filter) {
    bool ok = true;
    for (const int call : {
             // what is already open
             SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv),
             SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(pwrite64), SCMP_SYS(lseek),
             SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(fcntl),
             SCMP_SYS(fsync), SCMP_SYS(fdatasync), SCMP_SYS(ftruncate), SCMP_SYS(sendto), SCMP_SYS(recvfrom),
             // the next pair's files, sent by the parent
             SCMP_SYS(recvmsg),
             // memory
             SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap),
             SCMP_SYS(mprotect), SCMP_SYS(madvise),
             // threads, time and the process itself
             SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
             // a new thread's own attributes (pthread_getattr_np, which
             // AddressSanitizer calls for every thread it sees start)
             SCMP_SYS(sched_getaffinity),
             SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(clock_gettime),
             SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday),
             SCMP_SYS(getrandom), SCMP_SYS(sysinfo), SCMP_SYS(rt_sigaction),
             SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
             SCMP_SYS(exit), SCMP_SYS(exit_group)}) {
        ok = ok && Allow(filter, call);
    }
#if GLIMRA_SANITIZED
    // The sanitizers test whether memory can be read by writing it into a
    // pipe of their own (checking an object's type on a new thread, say);
    // refused, they would report a fault the release build does not have.
    ok = ok && Allow(filter, SCMP_SYS(pipe)) && Allow(filter, SCMP_SYS(pipe2));
#endif
    // Threads, but no new processes; clone3 is answered "not here", which
    // makes the C library fall back to clone. No signals at all, not even
    // to itself: abort() then ends the process with SIGSEGV instead of
    // SIGABRT, which is the same death to the parent.
    return ok &&
           AllowWhenFirst(filter, SCMP_SYS(clone), SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD) &&
           seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
           AllowWhenFirst(filter, SCMP_SYS(prlimit64), SCMP_CMP_EQ, 0);
}

// libseccomp writes the program to a descriptor; a pipe brings it back.
bool WriteProgram(scmp_filter_ctx filter, std::FILE* out) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return false;
    }
    const bool exported = seccomp_export_bpf(filter, pipeFds[1]) == 0;
    close(pipeFds[1]);
    std::size_t count = 0;
    sock_filter instruction{};
    while (exported && read(pipeFds[0], &instruction, sizeof instruction) == sizeof instruction) {
        std::fprintf(out, "{0x%04x, %u, %u, 0x%08x},\n", instruction.code, instruction.jt,
                     instruction.jf, instruction.k);
        ++count;
    }
    close(pipeFds[0]);
    return exported && count > 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    // The kernel runs a new filter once for every system call number when
    // it is installed, to learn which ones it always allows: as a binary
    // tree the program is a few steps deep instead of a chain of sixty,
    // which takes 0.2 ms off every worker's start.
    const bool ok = out != nullptr && filter != nullptr &&
                    seccomp_attr_set(filter, SCMP_FLTATR_CTL_OPTIMIZE, 2) == 0 &&
                    AddRules(filter) && WriteProgram(filter, out);
    if (filter != nullptr) {
        seccomp_release(filter);
    }
    if (out != nullptr && std::fclose(out) != 0) {
        return 1;
    }
    if (!ok) {
        std::remove(argv[1]);
        std::fprintf(stderr, "%s: cannot make the seccomp filter\n", argv[0]);
        return 1;
    }
    return 0;
}
