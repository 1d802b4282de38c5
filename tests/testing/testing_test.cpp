// Tests on the simulated chip: the real mirtolanc builds with avra and runs
// each test word in simavr. Verdicts, TAP lines, JUnit counts and exit
// statuses per case and per device; the shipped example; and the pieces
// beneath (the join of several files, the scan for colon definitions).

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Devices.h"
#include "JoinedSource.h"
#include "TempDir.h"
#include "Testing.h"
#include "TextFile.h"

namespace {

namespace fs = std::filesystem;
using namespace mirtolan;

std::string ReadAll(const fs::path& p)
{
    std::stringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

struct File {
    const char* name; // in the case's folder
    const char* text; // its lines
};

struct Outcome {
    int status = -1;   // exit status
    std::string out;   // standard output: the TAP
    std::string err;   // standard error
    std::string junit; // the JUnit file, when asked for
};

// Runs mirtolanc in a folder of its own holding `files`, with `args`
// before them; the folder goes once the outputs are read.
Outcome RunTool(const std::vector<File>& files, const std::string& args)
{
    Outcome o;
    const test::TempDir dir;
    std::string names;
    for (const File& f : files) {
        std::ofstream(dir / f.name, std::ios::binary) << f.text;
        names += std::string(" ") + f.name;
    }
    const std::string cmd = "cd '" + dir.path() + "' && '" MIRTOLANC_PATH "' " + args + names + " >out.txt 2>err.txt";
    const int raw = std::system(cmd.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = ReadAll(dir / "out.txt");
    o.err = ReadAll(dir / "err.txt");
    if (fs::exists(dir / "junit.xml"))
        o.junit = ReadAll(dir / "junit.xml");
    return o;
}

void ExpectAll(const std::string& text, const std::vector<std::string>& parts, const char* what)
{
    for (const std::string& p : parts)
        EXPECT_NE(text.find(p), std::string::npos) << what << " lacks: " << p << "\n---\n" << text;
}

// Passing, failing and faulting tests in one file; main would never end,
// so a run that called it would time out every test.
constexpr const char* Mixed = ": double DUP + ;\n"                  // 1
                              ": test-pass T{ 3 double -> 6 }T ;\n" // 2
                              ": test-fail\n"                       // 3
                              "  T{ 3 double -> 7 }T ;\n"           // 4
                              ": test-fault 1 DROP DROP ;\n"        // 5
                              ": test-count T{ 1 2 -> 1 }T ;\n"     // 6
                              ": helper 5 ;\n"                      // 7
                              ": TESTupper T{ helper -> 5 }T ;\n"   // 8
                              ": main BEGIN AGAIN ;\n";             // 9

// The verdicts of Mixed, as TAP and JUnit tell them.
const std::vector<std::string> MixedTap = {
    "TAP version 14\n1..5\nok 1 - test-pass\nnot ok 2 - test-fail\n  ---\n",
    "  message: \"incorrect result: [6] where [7] was expected\"\n",
    "  file: \"mixed.4th\"\n  line: 4\n  expected: [7]\n  actual: [6]\n",
    "  ...\nnot ok 3 - test-fault\n",
    "  file: \"mixed.4th\"\n  line: 5\n  fault: \"data stack underflow in DROP (line 5): more cells taken than were on the stack\"\n"
    "  word: \"DROP\"\n",
    "not ok 4 - test-count\n",
    "  message: \"wrong number of results: 2 results where 1 was expected\"\n",
    "  line: 6\n  expected: [1]\n  actual: [1, 2]\n",
    "ok 5 - TESTupper\n",
};
const std::vector<std::string> MixedJUnit = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
    "<testsuite name=\"mixed.4th\" tests=\"5\" failures=\"3\" errors=\"0\" skipped=\"0\"",
    "<testcase name=\"test-pass\" classname=\"mixed\" file=\"mixed.4th\" line=\"2\"",
    "<failure type=\"failed\" message=\"incorrect result: [6] where [7] was expected\">mixed.4th:4: ",
    "<failure type=\"faulted\" message=\"fault: data stack underflow in DROP (line 5)",
    "<testcase name=\"TESTupper\"",
};
// Optimised, the same verdicts at the same lines; the inlined DROP's fault
// is told in the word it was written into.
const std::vector<std::string> MixedTapOptimised = {
    "1..5\nok 1 - test-pass\nnot ok 2 - test-fail\n",
    "  line: 4\n  expected: [7]\n  actual: [6]\n",
    "not ok 3 - test-fault\n",
    "  fault: \"data stack underflow in test-fault (line 5)",
    "not ok 4 - test-count\n",
    "ok 5 - TESTupper\n",
};

// The same verdicts in 16-bit cells, with what the 16-bit archive has on
// every device: literals, and the stack read below its bottom in assembler.
constexpr const char* Wide = "USE16BIT\n"
                             ": test-wide T{ 1000 -> 1000 }T ;\n"
                             ": test-wide-fail T{ 300 -> 301 }T ;\n"
                             ": test-true T{ -1 -> 65535 }T ;\n"
                             ": test-under\n"
                             "$\tld\tFtmp1,Y+\n"
                             ";\n";
const std::vector<std::string> WideTap = {
    "1..4\nok 1 - test-wide\nnot ok 2 - test-wide-fail\n",
    "  line: 3\n  expected: [301]\n  actual: [300]\n",
    "ok 3 - test-true\nnot ok 4 - test-under\n",
    "  fault: \"data stack underflow in test-under (line 6)",
};

class OnEachDevice : public ::testing::TestWithParam<std::string> {};

TEST_P(OnEachDevice, SameVerdictsInBothCellSizes)
{
    const std::string device = GetParam();
    Outcome o = RunTool({{"mixed.4th", Mixed}},
                        "--device " + device + " --test --junit junit.xml");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    ExpectAll(o.out, MixedTap, "TAP");
    ExpectAll(o.junit, MixedJUnit, "JUnit");

    o = RunTool({{"mixed.4th", Mixed}}, "--device " + device + " --opt --test");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    ExpectAll(o.out, MixedTapOptimised, "TAP, optimised");

    o = RunTool({{"wide.4th", Wide}}, "--device " + device + " --test");
    EXPECT_EQ(o.status, 1) << o.out << o.err;
    ExpectAll(o.out, WideTap, "TAP");
}

INSTANTIATE_TEST_SUITE_P(Devices, OnEachDevice,
                         ::testing::Values("atmega32", "atmega328p", "atmega2560", "atmega644", "atmega168", "attiny85"));

struct Case {
    const char* name;
    std::vector<File> files;
    const char* args;              // after --device atmega328p
    int status;                    // exit status
    std::vector<std::string> out;  // in standard output
    std::vector<std::string> err;  // in standard error
    std::vector<std::string> junit; // in junit.xml (written when args ask for it)
};

const Case Cases[] = {
    {"all pass, no main",
     {{"ok.4th", ": test-a T{ 1 2 SWAP -> 2 1 }T T{ -> }T ;\n: test-b T{ 4 0 DO I LOOP -> 0 1 2 3 }T ;\n"}},
     "--test --junit junit.xml", 0, {"TAP version 14\n1..2\nok 1 - test-a\nok 2 - test-b\n"}, {},
     {"tests=\"2\" failures=\"0\" errors=\"0\""}},
    // The second file's lines are its own; a fault in the first file's word is told there.
    {"program and tests",
     {{"prog.4th", "\\\\ the program\n: oops DROP DROP ;\n: sq DUP * ;\n: main 3 sq DROP ;\n"},
      {"t.4th", ": test-sq T{ 3 sq -> 9 }T ;\n: test-sq-wrong\n  T{ 4 sq -> 15 }T ;\n: test-oops 1 oops ;\n"}},
     "--test", 1,
     {"ok 1 - test-sq\nnot ok 2 - test-sq-wrong\n", "  file: \"t.4th\"\n  line: 3\n  expected: [15]\n  actual: [16]\n",
      "not ok 3 - test-oops\n", "  file: \"prog.4th\"\n  line: 2\n",
      "  fault: \"data stack underflow in DROP (prog.4th:2): more cells taken than were on the stack\"\n",
      "  called from:\n    - \"oops (prog.4th:2)\"\n    - \"test-oops (line 4)\"\n"},
     {}, {}},
    {"does not build",
     {{"prog.4th", ": sq DUP * ;\n"}, {"t.4th", ": test-a T{ 2 sq -> 4 }T ;\n: test-b frob ;\n"}},
     "--test --junit junit.xml", 2, {"TAP version 14\nBail out! The sources do not build: t.4th:2: error: 'frob'"},
     {"t.4th:2: error: 'frob' is not defined"},
     {"tests=\"1\" failures=\"0\" errors=\"1\"", "<error type=\"build\" message=\"the sources do not build\">"}},
    // A test that never returns fails at its limit, and the next one still runs.
    {"time limit",
     {{"spin.4th", ": spin BEGIN AGAIN ;\n: test-spin T{ spin -> }T ;\n: test-after T{ 1 -> 1 }T ;\n"}},
     "--test --time 10ms", 1,
     {"not ok 1 - test-spin\n", "  message: \"ran past its time limit of 10 ms, in spin (line 1)\"\n",
      "  fault: \"still running in spin (line 1) after 10 ms\"\n", "ok 2 - test-after\n"},
     {}, {}},
    {"stray store and watchdog",
     {{"f.4th", ": test-stray 7 0 0 C! ;\n: test-dog\n$\tldi\tFtmp1,(1<<WDE)\n$\tsts\tWDTCSR,Ftmp1\n  BEGIN AGAIN ;\n"}},
     "--test --junit junit.xml", 1,
     {"not ok 1 - test-stray\n", "  fault: \"store outside any variable at $0000 in C! (line 1)",
      "not ok 2 - test-dog\n", "  fault: \"watchdog reset"},
     {}, {"failures=\"2\"", "type=\"faulted\""}},
    {"broken T{ -> }T",
     {{"b.4th", ": test-open T{ 1 -> 1 ;\n: test-no-arrow T{ 1 }T ;\n: test-stray-arrow 1 -> DROP ;\n"
                ": test-below 5 T{ DROP -> }T DROP ;\n: test-nested T{ T{ 1 -> 1 }T 2 -> 2 }T ;\n"}},
     "--test", 1,
     {"  message: \"T{ without }T\"\n", "  message: \"}T without ->\"\n  severity: fail\n",
      "  message: \"-> without T{\"\n", "  message: \"the words between T{ and -> took 1 cell from below T{\"\n",
      "ok 5 - test-nested\n"},
     {}, {}},
    {"no test words", {{"p.4th", ": main ;\n"}}, "--test --junit junit.xml", 0,
     {"TAP version 14\n1..0 # SKIP no test words"}, {"no test words"},
     {"<testsuites name=\"mirtolan tests\" tests=\"0\"", "<testsuite name=\"no test words\" tests=\"0\""}},
    {"junit without test", {{"p.4th", ": main ;\n"}}, "--junit junit.xml", 2, {}, {"--junit goes with --test"}, {}},
    {"test with hex", {{"p.4th", ": main ;\n"}}, "--test --hex", 2, {}, {"--hex does not go with --test"}, {}},
    {"two sources without test", {{"a.4th", ": main ;\n"}, {"b.4th", ": x ;\n"}}, "", 2, {},
     {"only one SOURCE may be given"}, {}},
    {"help", {}, "--help", 0, {"  --test ", "  --junit FILE ", "2 the build failed or bad arguments"}, {}, {}},
    {"unreadable source", {{"a.4th", ": test-a ;\n"}}, "--test missing.4th", 2, {"Bail out! "},
     {"mirtolanc: error: ", "missing.4th"}, {}},
};

TEST(TestCli, Cases)
{
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunTool(c.files, std::string("--device atmega328p ") + c.args);
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        ExpectAll(o.out, c.out, "standard output");
        ExpectAll(o.err, c.err, "standard error");
        ExpectAll(o.junit, c.junit, "JUnit");
    }
}

// Tests that take their program beyond rcall's reach: where the device has
// call and jmp the program is built again with Zcall, with a note; the
// ATtiny85's rcall reaches its whole flash, so it keeps rcall.
TEST(TestCli, TestsBeyondRcallReachBuildWithZcall)
{
    std::string source = ": first 1 ;\n";
    constexpr int Tests = 150; // twenty-odd words each: past 2K words in all
    for (int i = 0; i < Tests; ++i)
        source += ": test-" + std::to_string(i) + " T{ first 10 20 30 40 50 60 2DROP 2DROP 2DROP -> 1 }T ;\n";
    const std::string last = "ok " + std::to_string(Tests) + " - test-" + std::to_string(Tests - 1) + "\n";
    const std::string note = "note: with its tests the program is larger than rcall and rjmp reach";
    Outcome o = RunTool({{"long.4th", source.c_str()}}, "--device atmega328p --test");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    ExpectAll(o.out, {"ok 1 - test-0\n", last}, "TAP");
    ExpectAll(o.err, {"long.4th: " + note}, "standard error");

    o = RunTool({{"long.4th", source.c_str()}}, "--device attiny85 --test");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    ExpectAll(o.out, {last}, "TAP");
    EXPECT_EQ(o.err.find(note), std::string::npos) << o.err;

    // Asked for, Zcall needs no note.
    o = RunTool({{"long.4th", source.c_str()}}, "--device atmega328p --zcall --test");
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.err.find(note), std::string::npos) << o.err;
}

// The example of the README, run as its first lines say.
TEST(TestCli, ThermostatExamplePasses)
{
    const std::string src = std::string(MIRTOLAN_SOURCE_DIR) + "/examples/";
    const std::string program = ReadAll(src + "thermostat.4th"), tests = ReadAll(src + "thermostat-test.4th");
    // Optimised too: the test words stay, though nothing calls them.
    for (const char* opt : {"", " --opt"}) {
        const Outcome o = RunTool({{"thermostat.4th", program.c_str()}, {"thermostat-test.4th", tests.c_str()}},
                                  std::string("--device atmega328p --test") + opt);
        EXPECT_EQ(o.status, 0) << opt << o.out << o.err;
        ExpectAll(o.out, {"1..4\n", "ok 1 - test-median\n", "ok 4 - test-steps\n"}, "TAP");
    }
}

TestOptions Options(const std::string& source)
{
    TestOptions o;
    o.sources.push_back({"mem.4th", SplitLineList(source)});
    o.build.device = FindDevice("atmega328p");
    o.build.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    o.build.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    return o;
}

// The window's way in: the editor's lines, each test told as it ends, its cycles, and Stop.
TEST(RunTests, FromLinesToldAsTheyEnd)
{
    TestOptions o = Options(": test-a T{ 1 -> 1 }T ;\n: test-b T{ 1 -> 2 }T ;\n");
    std::vector<std::string> told;
    o.tested = [&](const TestOutcome& t, std::size_t i, std::size_t n) {
        told.push_back(t.name + " " + VerdictName(t.verdict) + " " + std::to_string(i) + "/" + std::to_string(n));
    };
    const TestRun run = RunTests(o);
    ASSERT_EQ(run.status, TestRun::Ran) << run.error;
    EXPECT_EQ(told, (std::vector<std::string>{"test-a passed 0/2", "test-b failed 1/2"}));
    ASSERT_EQ(run.tests.size(), 2u);
    EXPECT_GT(run.tests[0].cycles, 0u);
    EXPECT_LT(run.tests[0].cycles, 100u); // the word's own cycles, not the start-up's
    EXPECT_EQ(run.tests[1].failFile, "mem.4th");
    EXPECT_EQ(run.tests[1].failLine, 2);
    EXPECT_FALSE(run.allPassed());

    std::atomic<bool> stop{true};
    o.run.stop = &stop;
    const TestRun stopped = RunTests(o);
    // A stop before the build ends leaves nothing run.
    EXPECT_NE(stopped.status, TestRun::Ran);
}

TEST(JoinedSource, PlacesLinesAndDiagnostics)
{
    JoinedSource j;
    j.append("a.4th", SplitLineList("1\n2\n"));
    j.append("b.4th", SplitLineList("1\n2\n3\n"));
    j.appendOwn(": main ;");
    const std::pair<std::int64_t, SourcePlace> places[] = {
        {1, {"a.4th", 1}}, {2, {"a.4th", 2}}, {3, {"b.4th", 1}}, {5, {"b.4th", 3}}, {6, {"b.4th", 3}}, {7, {"b.4th", 3}}, {8, {"", 0}}, {0, {"", 0}},
    };
    for (const auto& [line, want] : places) {
        const SourcePlace p = j.place(line);
        EXPECT_EQ(p.file, want.file) << line;
        EXPECT_EQ(p.line, want.line) << line;
    }
    std::vector<Diagnostic> ds{{Severity::Error, "a.4th", 4, 1, "", "x (first on line 2), Line 5, online 3"},
                               {Severity::Error, "a.4th.asm", 4, 0, "", "y"}};
    j.placeDiagnostics(ds, "a.4th");
    EXPECT_EQ(ds[0].format(), "b.4th:2: error: x (first on line 2 of a.4th), Line 3, online 3");
    EXPECT_EQ(ds[1].format(), "a.4th.asm:4: error: y");
}

TEST(ColonDefinitions, ReadAsTheCompilerReadsWords)
{
    struct Scan {
        const char* source;
        std::vector<std::string> names; // "name@line"
        bool main;
    };
    const Scan scans[] = {
        {": a ;\n:\tb\n;\n", {"a@1", "b@2"}, false},
        {"\\\\ : c ;\n( : d ) : e ;\n", {"e@2"}, false},
        {"$: f\n: g $ : h\n;\n", {"g@2"}, false},
        {": t .\" : x \" S\" : y\" ;\n: MAIN ;\n", {"t@1", "MAIN@2"}, true},
        {":\nsplit ;\n", {"split@2"}, false},
        {"$main:\n", {}, true},
        {"$  Main:\n", {}, true},
    };
    for (const Scan& s : scans) {
        std::vector<std::string> got;
        for (const ColonName& c : ColonDefinitions(SplitLineList(s.source)))
            got.push_back(c.name + "@" + std::to_string(c.line));
        EXPECT_EQ(got, s.names) << s.source;
        EXPECT_EQ(DefinesMain(SplitLineList(s.source)), s.main) << s.source;
    }
}

} // namespace
