// Tests written in Forth and run on the simulated chip. The sources are
// built one after another as one program, with the words T{ -> }T put
// before them; every colon definition whose name begins with "test" (any
// letter case) then runs from reset on a fresh chip, in source order, in
// place of main, within a time limit. A T{ ... -> ... }T whose results
// differ from the expected values fails its test at the line of its }T; a
// fault or the time limit fails it as such; one test's failure never stops
// the others.
//
// Both front ends call RunTests: `mirtolanc --test` prints the run as TAP
// (and writes JUnit XML), the window shows it in its Tests pane.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Build.h"
#include "CodeList.h"
#include "Simulator.h"

namespace mirtolan {

// Without a limit given, each test may run this much simulated time: far
// beyond what a unit test of a word takes, short enough that a test that
// never returns costs little.
constexpr double DefaultTestSeconds = 1.0;
// The words T{ -> }T, shipped beside the archives (share/mirtolan).
constexpr const char* TesterFileName = "Tester.4th";
// The names of test words begin with this, in any letter case.
constexpr std::string_view TestWordPrefix = "test";
// Told when the tests took the program's calls beyond rcall's reach.
constexpr std::string_view LongCallsNote =
    "with its tests the program is larger than rcall and rjmp reach (2K words): built with Zcall (call and jmp)";

// One source of a test run.
struct TestSource {
    std::string file;             // the file; diagnostics and failures are told at its lines
    std::optional<LineList> text; // its lines, when not to be read from `file` (the window's editor)
};

// A T{ ... -> ... }T that did not hold.
struct TestCheck {
    std::string file;              // the file of its }T (of the word that broke the pattern)
    std::int64_t line = 0;         // the line of its }T
    std::vector<std::int64_t> expected; // the values after ->, bottom first, as signed cells
    std::vector<std::int64_t> actual;   // the results before ->, bottom first, as signed cells
    std::string text;              // what did not hold, in words
    bool compared = false;         // expected and actual were read: a }T after T{ and ->
};

enum class Verdict {
    Passed,   // returned, and every check held
    Failed,   // returned (or was stopped by a broken T{ -> }T), with checks that did not hold
    Faulted,  // the program faulted: underflow, a stray store, a watchdog reset, ...
    TimedOut, // still running at the time limit
    Stopped,  // stopped from outside before it ended (or before it began)
    Error,    // could not be run at all
};

// "passed", "failed", "faulted", "timed out", "stopped", "error".
const char* VerdictName(Verdict v);

struct TestOutcome {
    std::string name;         // the test word, as the source writes it
    std::string file;         // the file that defines it
    std::int64_t line = 0;    // the line of its definition
    Verdict verdict = Verdict::Error; // how it ended
    std::string message;      // why it did not pass, one line; empty when it passed
    std::string failFile;     // where it failed: the }T, the fault, where the time ran out
    std::int64_t failLine = 0; // that line; 0 when none is known
    std::vector<TestCheck> checks; // the checks that did not hold, in the order they ran
    std::string fault;        // the fault, or where the time ran out, in words; empty otherwise
    std::string faultWord;    // the word executing at the fault or the time limit
    std::vector<std::string> callers; // the words that led there, innermost first, each with its line
    std::uint64_t cycles = 0; // cycles from the word's entry to its return (or to its end)
    double seconds = 0;       // the same in simulated time

    bool passed() const { return verdict == Verdict::Passed; }
};

struct TestOptions {
    std::vector<TestSource> sources; // built one after another as one source, in this order
    // The device, cell size, archives and run-time folders. The runner sets
    // the source, the listing and the .hex (a scratch folder of its own),
    // so the user's files are never written.
    BuildOptions build;
    // Clock, inputs and stop flag for every test. Its limit (maxSeconds,
    // maxCycles) is each test's; none given: DefaultTestSeconds.
    RunOptions run;
    std::function<void(const std::string& stage)> progress; // each stage: the build's, then "Running NAME"
    // Told of each test as it ends, with its index (from 0) and the count.
    std::function<void(const TestOutcome& outcome, std::size_t index, std::size_t count)> tested;
};

struct TestRun {
    enum Status {
        Ran,         // the program was built and its test words run (maybe none)
        BuildFailed, // the sources have problems: see build.diagnostics
        Abandoned,   // the build or the run could not be done: see error
    };
    Status status = Abandoned;         // how far the run came
    std::string error;                 // why the run was abandoned
    std::vector<Diagnostic> diagnostics; // the build's problems, each at its own file's line
    std::vector<std::string> compileMessages; // the compile's message list, for a compile that was abandoned; lines as the diagnostics
    std::uint32_t flashWords = 0;      // the size of the program built
    std::vector<TestOutcome> tests;    // in source order
    std::string device;                // the device's title
    int cellBits = 8;                  // the cell size the program was built for
    std::uint32_t clockHz = 0;         // the clock simulated
    std::string limit;                 // each test's time limit in words ("1 s")
    bool longCalls = false;            // built again with Zcall: the tests took its calls beyond rcall's reach

    std::size_t count(Verdict v) const;
    bool allPassed() const { return status == Ran && count(Verdict::Passed) == tests.size(); }
};

TestRun RunTests(const TestOptions& options);

// The run as TAP version 14: the plan, a line per test, and for each test
// that did not pass a YAML block with its file, line, expected and actual
// values or its fault.
std::string FormatTap(const TestRun& run);
// The same a piece at a time, for a run told as it goes: the version and
// the plan, then each test's lines (`number` from 1).
std::string TapPlan(std::size_t count);
std::string TapResult(const TestOutcome& outcome, std::size_t number);
// The run as JUnit XML: a testsuite per file that defines tests, a
// testcase per test word, a failure (or error) with the same details.
std::string FormatJUnit(const TestRun& run);
// Why a test did not pass, a line for each check that did not hold (with
// its expected and actual values), for the fault and for each caller.
std::string FailureDetails(const TestOutcome& outcome);
// Cells as "[1, -2, 3]".
std::string FormatCells(const std::vector<std::int64_t>& cells);

} // namespace mirtolan
