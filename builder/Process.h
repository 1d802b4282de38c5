// Runs an external tool (the assembler, the uploader) as a child process,
// handing on what it prints as it comes, and stops it when asked or when it
// runs past its time.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mirtolan {

struct ProcessOptions {
    std::string workDir;                       // where it runs; empty: here
    const std::atomic<bool>* cancel = nullptr; // set from another thread to stop it
    std::chrono::milliseconds timeLimit{0};    // stop it after this long; 0: no limit
    std::function<void(std::string_view)> onText; // told what it prints, as it prints it
};

struct ProcessResult {
    bool started = false;  // false: the program could not be run (see startErrno, error)
    int startErrno = 0;    // why it could not be run
    std::string error;     // the same in words, with the program's name
    bool stopped = false;  // ended because the caller asked to stop
    bool timedOut = false; // ended at the time limit
    int exitCode = -1;     // the exit status when it ended by itself
    int signal = 0;        // the signal that ended it, when one did (a crash, or a kill from outside)
    std::string output;    // standard output and standard error, interleaved as written
};

// Runs `argv` (argv[0] looked up on PATH) with no input.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// How a tool ended by `signal` did, in words after its name: "crashed
// (signal 11, Segmentation fault)" or "was killed (signal 9, Killed)".
std::string DescribeSignal(int signal);

} // namespace mirtolan
