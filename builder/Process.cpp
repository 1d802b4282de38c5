#include "Process.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mirtolan {

namespace {

// How often a running tool's output, the stop flag and the clock are looked at.
constexpr int PollMs = 50;
// How long a stopped tool may take to end by itself (and let go of a
// serial port cleanly) before it is killed.
constexpr int TermGraceMs = 500;

void reap(pid_t pid, int& status)
{
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void stop(pid_t pid, int& status)
{
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < TermGraceMs; waited += PollMs) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return;
        ::usleep(PollMs * 1000);
    }
    ::kill(pid, SIGKILL);
    reap(pid, status);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ProcessResult r;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        r.startErrno = errno;
        r.error = std::strerror(errno);
        return r;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    if (!options.workDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        r.startErrno = rc;
        r.error = argv[0] + ": " + std::strerror(rc);
        return r;
    }
    r.started = true;

    const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    std::array<char, 4096> buffer;
    bool outputOpen = true; // a tool may close its output and go on running
    int status = 0;
    bool ended = false;
    for (;;) {
        if (options.cancel && options.cancel->load()) {
            r.stopped = true;
            break;
        }
        if (options.timeLimit.count() > 0 && std::chrono::steady_clock::now() >= deadline) {
            r.timedOut = true;
            break;
        }
        if (!outputOpen) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                break;
            }
            ::usleep(PollMs * 1000);
            continue;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int n = ::poll(&p, 1, PollMs);
        if (n < 0 && errno != EINTR)
            outputOpen = false;
        if (n <= 0)
            continue;
        const ssize_t got = ::read(fds[0], buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            outputOpen = false;
            continue;
        }
        const std::string_view text(buffer.data(), std::size_t(got));
        r.output.append(text);
        if (options.onText)
            options.onText(text);
    }
    ::close(fds[0]);
    if (!ended) {
        if (r.stopped || r.timedOut) {
            stop(pid, status);
            return r;
        }
        reap(pid, status);
    }
    if (WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    return r;
}

std::string DescribeSignal(int signal)
{
    // The signals the kernel sends a program for its own fault.
    constexpr int CrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};
    const bool crash = std::find(std::begin(CrashSignals), std::end(CrashSignals), signal) != std::end(CrashSignals);
    const char* name = ::sigdescr_np(signal);
    return std::string(crash ? "crashed" : "was killed") + " (signal " + std::to_string(signal) +
           (name ? std::string(", ") + name : std::string()) + ")";
}

} // namespace mirtolan
