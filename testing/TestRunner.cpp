#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <tuple>

#include "Compiler.h"
#include "JoinedSource.h"
#include "LabelFilter.h"
#include "Machine.h"
#include "Scratch.h"
#include "Testing.h"
#include "TextFile.h"

namespace mirtolan {

namespace fs = std::filesystem;

namespace {

// A program without main gets this one, so the start-up has a word to call
// (which the runner sends to each test word instead).
constexpr std::string_view AddedMain = ": main ;";
// The scratch folder of a run: the listing and the .hex, never the user's.
constexpr const char* ScratchPrefix = "mirtolan-test-";
// The start-up calls the test word with rcall (one flash word) or call
// (two); the instruction after it is where the word returns.
constexpr std::uint32_t ShortCallBytes = 2, LongCallBytes = 4;

// The words of the prelude, by their role.
struct TesterWords {
    std::uint32_t open = 0;  // T{
    std::uint32_t arrow = 0; // ->
    std::uint32_t close = 0; // }T
};
struct TesterWord {
    const char* name;               // as the prelude defines it
    std::uint32_t TesterWords::*at; // where its address goes
};
constexpr TesterWord TesterWordNames[] = {
    {"T{", &TesterWords::open}, {"->", &TesterWords::arrow}, {"}T", &TesterWords::close}};

bool hasTestPrefix(std::string_view name)
{
    return SameIgnoringCase(name.substr(0, TestWordPrefix.size()), TestWordPrefix);
}

std::vector<std::int64_t> signedCells(const std::vector<std::uint32_t>& cells, int bits)
{
    std::vector<std::int64_t> out;
    const std::int64_t span = std::int64_t(1) << bits;
    for (const std::uint32_t c : cells) {
        const std::int64_t v = std::int64_t(c) & (span - 1);
        out.push_back(v >= span / 2 ? v - span : v);
    }
    return out;
}

std::string duration(double seconds)
{
    struct Unit {
        double scale;      // units in a second
        const char* name;  // its symbol
    };
    static constexpr Unit Units[] = {{1, "s"}, {1e3, "ms"}, {1e6, "us"}};
    for (const Unit& u : Units)
        if (seconds * u.scale >= 1 || &u == &Units[std::size(Units) - 1]) { // the last takes what is left
            char text[32];
            std::snprintf(text, sizeof text, "%g %s", seconds * u.scale, u.name);
            return text;
        }
    return {};
}

std::string plural(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Where a line of the whole lies, as a test's text names it: "line 12" in
// the test's own file, "FILE:12" in another.
std::string placeText(const SourcePlace& p, const std::string& testFile)
{
    if (p.line < 1)
        return {};
    return p.file == testFile ? "line " + std::to_string(p.line) : p.file + ":" + std::to_string(p.line);
}

// One test on its machine: the T{ -> }T it passes through, its start and its return.
class TestHarness {
public:
    TestHarness(Machine& m, const JoinedSource& source, const TesterWords& words, std::uint32_t entry,
                std::string limit, TestOutcome& out)
        : m_(m), source_(source), words_(words), entry_(entry), limit_(std::move(limit)), out_(out)
    {
        for (const std::uint32_t a : {words.open, words.arrow, words.close, entry})
            m.setTrap(a, true);
    }

    // Called where a trap stands; true ends the test there (it has returned).
    bool atTrap()
    {
        const std::uint32_t pc = m_.pc();
        if (pc == entry_ && !entered_) {
            entered_ = true;
            entryCycles_ = m_.cycles();
            // The shadow's frame for the test word was entered by the
            // start-up's call: the word returns behind it. Where a call
            // takes two flash words, the first word behind it is never
            // executed, so a trap there stays quiet.
            if (!m_.frames().empty()) {
                returnAt_ = m_.frames().back().site;
                m_.setTrap(returnAt_ + ShortCallBytes, true);
                m_.setTrap(returnAt_ + LongCallBytes, true);
            }
        }
        if (returnAt_ && (pc == returnAt_ + ShortCallBytes || pc == returnAt_ + LongCallBytes)) {
            returned_ = true;
            endCycles_ = m_.cycles();
            return true;
        }
        if (pc == words_.open)
            marks_.push_back({m_.y(), callLine(), false, {}, 0});
        else if (pc == words_.arrow)
            arrow();
        else if (pc == words_.close)
            close();
        return false;
    }

    // After the run: the verdict and its details.
    void finish(Machine::Outcome outcome)
    {
        out_.cycles = (returned_ ? endCycles_ : m_.cycles()) - (entered_ ? entryCycles_ : 0);
        const RunReport report = m_.report();
        out_.seconds = report.clockHz ? double(out_.cycles) / double(report.clockHz) : 0;
        if (returned_ || (outcome == Machine::Outcome::Ended && m_.stopped() == StopReason::Halted)) {
            for (const Mark& k : marks_)
                failAt(k.line, "T{ without }T", {}, {}, false);
            out_.verdict = out_.checks.empty() ? Verdict::Passed : Verdict::Failed;
        } else {
            switch (m_.stopped()) {
            case StopReason::Fault: faulted(report); break;
            case StopReason::Limit: timedOut(); break;
            case StopReason::Error:
                out_.verdict = Verdict::Error;
                out_.message = report.error;
                break;
            default:
                out_.verdict = Verdict::Stopped;
                out_.message = "stopped before it ended";
                where(m_.sourceLine(m_.pc()));
                break;
            }
        }
        if (out_.verdict == Verdict::Failed) {
            const TestCheck& first = out_.checks.front();
            out_.message = first.text;
            if (out_.checks.size() > 1)
                out_.message += " (and " + plural(out_.checks.size() - 1, "more check", "more checks") + " failed)";
            out_.failFile = first.file;
            out_.failLine = first.line;
        }
    }

private:
    struct Mark {
        std::uint32_t y = 0;        // the data stack pointer T{ found
        std::int64_t line = 0;      // the line of the T{ (of the whole)
        bool arrow = false;         // -> has taken the results
        std::vector<std::int64_t> actual; // the results -> took, bottom first
        std::size_t below = 0;      // cells the words before -> took from below T{
    };

    // The line (of the whole) of the call that entered the innermost frame.
    std::int64_t callLine() const
    {
        const auto& frames = m_.frames();
        return frames.empty() ? 0 : m_.sourceLine(frames.back().site);
    }

    void failAt(std::int64_t line, std::string text, std::vector<std::int64_t> expected,
                std::vector<std::int64_t> actual, bool compared)
    {
        const SourcePlace p = source_.place(line);
        out_.checks.push_back({p.file, p.line, std::move(expected), std::move(actual), std::move(text), compared});
    }

    // The cells above the mark, bottom first, and how many were taken from below it.
    std::pair<std::vector<std::int64_t>, std::size_t> aboveMark(const Mark& k) const
    {
        const std::uint32_t y = m_.y();
        if (y > k.y)
            return {{}, (y - k.y) / std::uint32_t(m_.cellBytes())};
        return {signedCells(m_.cellsBetween(y, k.y), m_.cellBytes() * 8), 0};
    }

    // At ->: the results come off the stack, as T{ found it.
    void arrow()
    {
        if (marks_.empty() || marks_.back().arrow) {
            failAt(callLine(), marks_.empty() ? "-> without T{" : "a second -> after T{", {}, {}, false);
            return;
        }
        Mark& k = marks_.back();
        std::tie(k.actual, k.below) = aboveMark(k);
        k.arrow = true;
        m_.setY(k.y);
    }

    // At }T: the expected values come off the stack and are compared with the results.
    void close()
    {
        if (marks_.empty()) {
            failAt(callLine(), "}T without T{", {}, {}, false);
            return;
        }
        const Mark k = marks_.back();
        marks_.pop_back();
        auto [expected, below] = aboveMark(k);
        m_.setY(k.y);
        const std::int64_t line = callLine();
        if (!k.arrow) {
            failAt(line, "}T without ->", {}, std::move(expected), false);
            return;
        }
        std::string text;
        if (k.below)
            text = "the words between T{ and -> took " + plural(k.below, "cell", "cells") + " from below T{";
        else if (below)
            text = "the words between -> and }T took " + plural(below, "cell", "cells") + " from below T{";
        else if (k.actual.size() != expected.size())
            text = "wrong number of results: " + plural(k.actual.size(), "result", "results") + " where " +
                   std::to_string(expected.size()) + (expected.size() == 1 ? " was" : " were") + " expected";
        else if (k.actual != expected)
            text = "incorrect result: " + FormatCells(k.actual) + " where " + FormatCells(expected) + " was expected";
        if (!text.empty())
            failAt(line, std::move(text), std::move(expected), k.actual, !k.below && !below);
    }

    void where(std::int64_t line)
    {
        const SourcePlace p = source_.place(line);
        out_.failFile = p.file;
        out_.failLine = p.line;
    }

    // A word and its line, as the test's texts name them.
    std::string wordText(const WordAt& w) const
    {
        const std::string at = placeText(source_.place(w.line), out_.file);
        return at.empty() ? w.name : w.name + " (" + at + ")";
    }

    void faulted(const RunReport& report)
    {
        out_.verdict = Verdict::Faulted;
        out_.fault = report.fault;
        if (report.faultWord) {
            out_.faultWord = report.faultWord->name;
            where(report.faultWord->line);
            // The report names the line of the whole; the test names its file's.
            const std::string joinedAt = " (line " + std::to_string(report.faultWord->line) + ")";
            const std::string ownAt = placeText(source_.place(report.faultWord->line), out_.file);
            if (const auto at = out_.fault.find(joinedAt); at != std::string::npos)
                out_.fault.replace(at, joinedAt.size(), ownAt.empty() ? "" : " (" + ownAt + ")");
        }
        for (const WordAt& c : report.callers) {
            if (m_.wordIndexAt(c.address) <= 1)
                break; // the start-up, below the test word
            out_.callers.push_back(wordText(c));
        }
        out_.message = "fault: " + out_.fault;
    }

    void timedOut()
    {
        out_.verdict = Verdict::TimedOut;
        const std::uint32_t pc = m_.pc();
        WordAt w = m_.wordAt(pc);
        w.line = m_.sourceLine(pc);
        where(w.line);
        out_.faultWord = w.name;
        out_.fault = "still running in " + wordText(w) + " after " + limit_;
        out_.message = "ran past its time limit of " + limit_ + ", in " + wordText(w);
    }

    Machine& m_;                // the chip the test runs on
    const JoinedSource& source_; // the sources, for the lines of the whole
    const TesterWords& words_;  // where T{ -> }T lie
    std::uint32_t entry_;       // the test word
    std::string limit_;         // the time limit in words
    TestOutcome& out_;
    std::vector<Mark> marks_;   // the open T{, innermost last
    bool entered_ = false;      // the test word has been entered
    bool returned_ = false;     // it has returned to the start-up
    std::uint64_t entryCycles_ = 0, endCycles_ = 0; // the cycles at its entry and its return
    std::uint32_t returnAt_ = 0; // the start-up's call of the test word; 0 until entered
};

// The address of a word of the build, by its label; nothing when the assembler has none.
std::optional<std::uint32_t> wordAddress(const BuildResult& b, const std::string& label)
{
    const auto it = b.symbols.find(FoldCase(label));
    if (it == b.symbols.end())
        return std::nullopt;
    return it->second * 2;
}

} // namespace

const char* VerdictName(Verdict v)
{
    static constexpr const char* Names[] = {"passed", "failed", "faulted", "timed out", "stopped", "error"};
    return Names[int(v)];
}

std::size_t TestRun::count(Verdict v) const
{
    std::size_t n = 0;
    for (const TestOutcome& t : tests)
        n += t.verdict == v;
    return n;
}

TestRun RunTests(const TestOptions& o)
{
    TestRun run;
    const Device& device = o.build.device ? *o.build.device : DefaultDevice();
    run.device = std::string(device.title);
    run.clockHz = o.run.clockHz ? o.run.clockHz : device.clockHz;
    run.cellBits = o.build.cellBits;
    RunOptions ro = o.run;
    if (!ro.maxSeconds && !ro.maxCycles)
        ro.maxSeconds = DefaultTestSeconds;
    run.limit = ro.maxCycles && !ro.maxSeconds ? plural(ro.maxCycles, "cycle", "cycles") : duration(ro.maxSeconds);
    if (ro.maxCycles && ro.maxSeconds)
        run.limit += " or " + plural(ro.maxCycles, "cycle", "cycles");
    if (o.sources.empty()) {
        run.error = "no source to test";
        return run;
    }
    const std::string tester = FindRuntimeFile(o.build.runtimeDirs, ".", TesterFileName);
    if (tester.empty()) {
        std::string searched;
        for (const std::string& d : o.build.runtimeDirs)
            searched += (searched.empty() ? "" : ", ") + d;
        run.error = std::string("cannot find the test words T{ -> }T (") + TesterFileName + ") in the run-time (searched " +
                    (searched.empty() ? "no folder" : searched) + ")";
        return run;
    }

    // The prelude, the sources, and main where none defines it.
    JoinedSource joined;
    try {
        joined.append(tester, SplitLineList(ReadFileBytes(tester)));
        bool hasMain = false;
        for (const TestSource& s : o.sources) {
            const LineList lines = s.text ? *s.text : SplitLineList(ReadFileBytes(s.file));
            joined.append(s.file, lines);
            hasMain = hasMain || DefinesMain(lines);
        }
        if (!hasMain)
            joined.appendOwn(AddedMain);
    } catch (const CompileError& e) {
        run.error = e.what();
        return run;
    }

    const PrivateFolder scratch(ScratchPrefix);
    if (scratch.path().empty()) {
        run.error = scratch.error();
        return run;
    }
    BuildOptions b = o.build;
    b.optimiseKeep = std::string(TestWordPrefix); // run by address, called by nothing
    b.sourceFile = o.sources.front().file;
    b.sourceText = &joined.lines();
    b.listingFile = scratch.file("tests.asm");
    b.hexFile = scratch.file("tests.hex");
    b.includeHeader = true;
    b.progress = o.progress;
    b.cancel = o.run.stop;
    BuildResult program = BuildHex(b);
    // The tests make a program larger than the one they test. Where that
    // takes calls beyond rcall's reach, the device's call and jmp reach
    // them: the program is built again with Zcall, and a note says so. A
    // program that fits keeps its rcalls, so its tests run the same code.
    const bool longCalls = program.status == BuildResult::Problems && program.callsBeyondReach && !b.useZcall &&
                           device.hasCallJmp;
    if (longCalls) {
        b.useZcall = true;
        program = BuildHex(b);
    }
    run.longCalls = longCalls;
    run.diagnostics = program.diagnostics;
    if (longCalls)
        run.diagnostics.insert(run.diagnostics.begin(),
                               {Severity::Note, b.sourceFile, 0, 0, "", std::string(LongCallsNote)});
    joined.placeDiagnostics(run.diagnostics, b.sourceFile);
    for (const std::string& m : program.compileMessages)
        run.compileMessages.push_back(joined.placeLines(m, b.sourceFile));
    run.cellBits = program.cellBits;
    run.flashWords = program.flashWords;
    if (program.status == BuildResult::Problems) {
        run.status = TestRun::BuildFailed;
        return run;
    }
    if (program.status != BuildResult::Built) {
        run.error = program.error;
        return run;
    }

    // T{ -> }T are words of the program, so that the call shadow names them
    // and sees a tail jump into }T.
    TesterWords tw;
    Compiler filter; // the label filter's working state
    for (const TesterWord& w : TesterWordNames) {
        const std::string label = SpelledLabel(filter, w.name);
        const auto at = wordAddress(program, label);
        if (!at) {
            run.error = std::string("the program has no word ") + w.name + ", which " + tester + " defines";
            return run;
        }
        tw.*w.at = *at;
        program.words.push_back({w.name, label, 0, false});
    }

    // The test words, in source order.
    struct Planned {
        TestOutcome outcome;         // name, file and line so far
        std::optional<std::uint32_t> entry; // its address; none when the build has no such word
    };
    std::vector<Planned> plan;
    for (const ColonName& c : ColonDefinitions(joined.lines())) {
        const SourcePlace p = joined.place(c.line);
        if (p.file.empty() || p.file == tester || !hasTestPrefix(c.name))
            continue;
        Planned t;
        t.outcome.name = c.name;
        t.outcome.file = p.file;
        t.outcome.line = p.line;
        for (const ProgramWord& w : program.words)
            if (!w.fromArchive && w.name == c.name)
                t.entry = wordAddress(program, w.label);
        plan.push_back(std::move(t));
    }

    run.status = TestRun::Ran;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        TestOutcome& out = plan[i].outcome;
        if (o.run.stop && o.run.stop->load()) {
            out.verdict = Verdict::Stopped;
            out.message = "not run: the tests were stopped";
        } else if (!plan[i].entry) {
            out.verdict = Verdict::Error;
            out.message = "the program has no word " + out.name;
        } else {
            if (o.progress)
                o.progress("Running " + out.name);
            ro.entry = *plan[i].entry;
            Machine m(program, ro);
            if (!m.error().empty()) {
                out.verdict = Verdict::Error;
                out.message = m.error();
            } else {
                TestHarness h(m, joined, tw, ro.entry, run.limit, out);
                const Machine::Outcome ended = m.run([&h] { return h.atTrap(); });
                h.finish(ended);
            }
        }
        if (o.tested)
            o.tested(out, i, plan.size());
        run.tests.push_back(std::move(out));
    }
    return run;
}

} // namespace mirtolan
