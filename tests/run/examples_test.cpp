// The shipped examples, built to .hex for the ATmega328P as the tutorial
// does and run in the simulator: each runs without a fault, and the one
// that computes leaves its known results.
#include <gtest/gtest.h>

#include <filesystem>

#include "Build.h"
#include "Simulator.h"
#include "TempDir.h"
#include "TextFile.h"

using namespace mirtolan;
namespace fs = std::filesystem;

namespace {

struct Example {
    const char* file;
    StopReason ends;                    // how a short run of it ends
    std::vector<std::uint32_t> stack;    // the data stack it leaves, when it halts
    std::vector<std::uint8_t> variable; // the bytes of its first variable, when it has one
    std::vector<PinStimulus> pins;      // what drives its inputs
};

const Example Examples[] = {
    {"blink328p.4th", StopReason::Limit, {}, {}, {}},
    {"blink.4th", StopReason::Limit, {}, {}, {}},
    {"loops.4th", StopReason::Halted, {55, 6, 10, 20, 99}, {1, 2, 6, 24, 120}, {}},
    // The button on PD2, released, then pressed once from 100 to 150 ms.
    {"counter.4th", StopReason::Limit, {}, {1}, {{'D', 2, 1, 0}, {'D', 2, 0, 0.1}, {'D', 2, 1, 0.15}}},
};

// Each example twice: as the compiler writes it, and optimised.
TEST(Examples, BuildForTheATmega328PAndRun)
{
    const mirtolan::test::TempDir tmp;
    const fs::path work = tmp.path();
    for (const bool optimise : {false, true})
    for (const Example& e : Examples) {
        SCOPED_TRACE(optimise ? "--opt" : "");
        const fs::path source = work / e.file;
        fs::copy_file(fs::path(MIRTOLAN_SOURCE_DIR) / "examples" / e.file, source,
                      fs::copy_options::overwrite_existing);
        BuildOptions o;
        o.sourceFile = source.string();
        o.device = FindDevice("atmega328p");
        o.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
        o.runtimeDirs = {MIRTOLAN_SHARE_DIR};
        o.optimise = optimise;
        const BuildResult b = BuildHex(o);
        ASSERT_EQ(b.status, BuildResult::Built) << e.file << ": " << b.error;
        EXPECT_TRUE(fs::exists(work / (fs::path(e.file).stem().string() + ".hex"))) << e.file;

        RunOptions r;
        r.maxSeconds = 0.3;
        r.pins = e.pins;
        const RunReport report = RunProgram(b, r);
        EXPECT_EQ(report.stopped, e.ends) << e.file << ": " << StopReasonName(report.stopped) << " " << report.error;
        if (e.ends == StopReason::Halted) {
            EXPECT_EQ(report.stack, e.stack) << e.file;
        }
        if (!e.variable.empty()) {
            ASSERT_FALSE(report.variables.empty()) << e.file;
            EXPECT_EQ(report.variables.front().bytes, e.variable) << e.file;
        }
    }
}

} // namespace
