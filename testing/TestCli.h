// The command-line face of the tests: `mirtolanc --test FILE...` runs them,
// prints TAP on standard output, the build's problems on standard error,
// and writes JUnit XML when asked.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Testing.h"

namespace mirtolan {

// Exit statuses of --test.
enum TestCliStatus : int {
    TestsPassed = 0,  // every test passed (or there were none)
    TestsFailed = 1,  // a test did not pass
    TestsNotRun = 2,  // the build failed, the run could not be done, or the report not be written
};

struct TestCliOptions {
    std::vector<std::string> sources; // the files, built one after another as one source
    std::string junit;                // --junit FILE: where to write JUnit XML; empty: none
    BuildOptions build;               // device, cells, archives, run-time folders
    RunOptions run;                   // clock, each test's limit, inputs
};

// The help text of --test and --junit, in the style of the tool's usage.
extern const char* const TestUsage;

int RunTestsCli(const TestCliOptions& options, std::ostream& out, std::ostream& err);

} // namespace mirtolan
