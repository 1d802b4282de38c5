// Runs an external tool (the assembler) as a child process, collecting what
// it prints, and stops it when asked.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace mirtolan {

struct ProcessResult {
    bool started = false;  // false: the program could not be run (see error)
    bool stopped = false;  // killed because the caller asked to stop
    int exitCode = -1;     // the exit status when it ended by itself
    std::string output;    // standard output and standard error, interleaved as written
    std::string error;     // why it could not be started
};

// Runs `argv` (argv[0] looked up on PATH) in `workDir`, with no input.
// `cancel`, when set, stops it: it is polled a few times a second.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         const std::atomic<bool>* cancel = nullptr);

} // namespace mirtolan
