// mirtolanc: the command-line Forth compiler.
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "Cli.h"

namespace {

// A signal handler reaches nothing but static storage, so these two are the
// tool's only globals: the flag that stops a build, run or upload, and the
// signal that set it, for the tool to end by once it has cleaned up.
std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int signal)
{
    stopSignal = signal;
    stopRequested.store(true);
}

// The signals that ask a tool to end: interrupt (Ctrl+C), terminate, hang-up.
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

const std::atomic<bool>* catchStopSignals()
{
    for (const int signal : StopSignals) {
        struct sigaction old {};
        ::sigaction(signal, nullptr, &old);
        // A signal ignored by whoever started us (nohup, a background job) stays ignored.
        if (old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(signal, &sa, nullptr);
    }
    return &stopRequested;
}

} // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string exeDir = ec ? std::string() : exe.parent_path().string();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = mirtolan::RunCli(args, exeDir, std::cin, std::cout, std::cerr, catchStopSignals);
    if (const int signal = stopSignal) {
        std::cout.flush();
        std::cerr << "mirtolanc: stopped by signal " << signal << " (" << ::sigdescr_np(signal) << ")\n" << std::flush;
        // Ended by the signal itself, as the caller (a shell, make) expects.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
    }
    return status;
}
