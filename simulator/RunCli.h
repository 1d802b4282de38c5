// The command-line face of a run: the options --run and its companions, and
// the report printed at the end. The tool's option parser hands each
// argument to ParseRunOption first; after a build it calls RunAndReport.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "Simulator.h"

namespace mirtolan {

// Exit status of a run whose program faulted (0: halted or ran to its limit).
constexpr int CliRunFault = 3;

struct RunCliOptions {
    bool run = false;        // --run: build, then run the program
    RunOptions options;      // limits, clock and stimulus
    ReportStyle style;       // --words16
    bool json = false;       // --json: the report as one JSON object
    std::string vcd;         // --vcd FILE: the pin changes as a VCD file
};

// The help text of the run options, in the style of the tool's usage.
extern const char* const RunUsage;

// When args[i] is a run option, takes it (and its value: i moves past it)
// into `o` and returns true; a bad value sets `error`.
bool ParseRunOption(const std::vector<std::string>& args, std::size_t& i, RunCliOptions& o, std::string& error);

// Runs the built program and prints its report to `out`; a fault is also
// told on `err` as "SOURCE:LINE: error: ..." at the faulting word. Returns
// 0, CliRunFault, or 2 when the run could not start or the VCD not be written.
// Setting `stop` from a signal handler ends the run early.
int RunAndReport(const BuildResult& program, const std::string& sourceFile, const RunCliOptions& o, std::ostream& out,
                 std::ostream& err, const std::atomic<bool>* stop = nullptr);

} // namespace mirtolan
