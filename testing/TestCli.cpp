#include "TestCli.h"

#include "TextFile.h"

namespace mirtolan {

const char* const TestUsage =
    "      --test         build the SOURCEs one after another as one program and\n"
    "                     run each colon definition whose name begins with\n"
    "                     'test' from reset in the simulator, instead of main;\n"
    "                     T{ ... -> ... }T inside them compare results; prints\n"
    "                     TAP version 14 (with --device, --cells, --opt,\n"
    "                     --clock, and --time T for each test's limit,\n"
    "                     default 1s)\n"
    "      --junit FILE   with --test, also write the results as JUnit XML\n";

int RunTestsCli(const TestCliOptions& o, std::ostream& out, std::ostream& err)
{
    TestOptions t;
    for (const std::string& s : o.sources)
        t.sources.push_back({s, std::nullopt});
    t.build = o.build;
    t.run = o.run;
    // Each test's lines go out as it ends, so a long run shows its progress.
    bool streamed = false;
    t.tested = [&](const TestOutcome& outcome, std::size_t index, std::size_t count) {
        if (index == 0)
            out << TapPlan(count);
        out << TapResult(outcome, index + 1) << std::flush;
        streamed = true;
    };
    const TestRun run = RunTests(t);

    for (const Diagnostic& d : run.diagnostics)
        err << d.format() << "\n";
    if (run.status == TestRun::Abandoned) {
        for (const std::string& m : run.compileMessages)
            err << m << "\n";
        err << "mirtolanc: error: " << run.error << "\n";
    }
    if (!streamed)
        out << FormatTap(run) << std::flush;
    if (run.status == TestRun::Ran && run.tests.empty())
        err << "mirtolanc: no test words: name a colon definition test... to have it run\n";

    int status = run.status != TestRun::Ran ? TestsNotRun : run.allPassed() ? TestsPassed : TestsFailed;
    if (!o.junit.empty()) {
        try {
            WriteFileSafely(o.junit, FormatJUnit(run));
        } catch (const CompileError& e) {
            err << "mirtolanc: error: " << e.what() << "\n";
            status = TestsNotRun;
        }
    }
    return status;
}

} // namespace mirtolan
