#include "Process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mirtolan {

namespace {

// How often a running tool looks at the stop flag.
constexpr int CancelPollMs = 100;

struct Pipe {
    int fd[2] = {-1, -1};
    ~Pipe()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
};

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::atomic<bool>* cancel)
{
    ProcessResult r;
    Pipe out;
    if (::pipe2(out.fd, O_CLOEXEC) != 0) {
        r.error = std::strerror(errno);
        return r;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 2);
    if (!workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        r.error = std::string(argv[0]) + ": " + std::strerror(rc);
        return r;
    }
    r.started = true;
    ::close(out.fd[1]);
    out.fd[1] = -1;

    char buf[4096];
    for (;;) {
        if (cancel && cancel->load()) {
            ::kill(pid, SIGKILL);
            r.stopped = true;
            break;
        }
        pollfd p{out.fd[0], POLLIN, 0};
        const int n = ::poll(&p, 1, CancelPollMs);
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        const ssize_t got = ::read(out.fd[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        r.output.append(buf, std::size_t(got));
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!r.stopped && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    return r;
}

} // namespace mirtolan
