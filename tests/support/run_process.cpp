#include "support/run_process.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace {

void SetLimit(int resource, std::uint64_t bytes) {
    if (bytes == 0) {
        return;
    }
    rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    if (setrlimit(resource, &limit) != 0) {
        _exit(126);
    }
}

}  // namespace

RunningProcess StartProcess(const std::string& program, const std::vector<std::string>& args,
                            const ProcessLimits& limits) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        std::abort();
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
            close(fd);
        }
        SetLimit(RLIMIT_AS, limits.addressSpaceBytes);
        SetLimit(RLIMIT_FSIZE, limits.fileSizeBytes);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    return RunningProcess{child, outPipe[0], errPipe[0]};
}

RunningProcess StartProcess(const std::string& program, const std::vector<std::string>& args) {
    return StartProcess(program, args, ProcessLimits{});
}

ProcessResult FinishProcess(RunningProcess& process) {
    // Both pipes at once: a child that fills one while we wait on the
    // other would never finish.
    ProcessResult result;
    pollfd fds[2] = {{process.output, POLLIN, 0}, {process.errors, POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.errors};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(static_cast<pid_t>(process.id), &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessLimits& limits) {
    RunningProcess process = StartProcess(program, args, limits);
    return FinishProcess(process);
}

bool ProcessGone(long id) {
    std::ifstream in("/proc/" + std::to_string(id) + "/stat");
    std::string pid;
    std::string name;
    std::string state;
    // The name is in parentheses and has no spaces for glimra.
    return !(in >> pid >> name >> state) || state == "Z";
}

long WorkerOf(const RunningProcess& run) {
    long worker = -1;
    WaitUntil([&] {
        const std::vector<long> children = ChildrenOf(run.id);
        worker = children.empty() ? -1 : children.front();
        return worker > 0;
    });
    return worker;
}

std::vector<long> ChildrenOf(long id) {
    std::vector<long> children;
    std::ifstream in("/proc/" + std::to_string(id) + "/task/" + std::to_string(id) + "/children");
    long child = 0;
    while (in >> child) {
        children.push_back(child);
    }
    return children;
}
