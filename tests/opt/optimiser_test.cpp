// The optimiser's own promises: the code it writes for each kind of line,
// the lines it keeps as they are, what it drops, the origins its lines keep,
// the build's messages at their lines, branches that inlining pushed out of
// reach, and no definition of the kernels or examples left unoptimised.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Build.h"
#include "Compiler.h"
#include "OptState.h"
#include "Optimiser.h"
#include "Simulator.h"
#include "StackNote.h"
#include "TextFile.h"

using namespace mirtolan;
namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& p)
{
    std::stringstream s;
    s << std::ifstream(p).rdbuf();
    return s.str();
}

// Compiles `source` with the shipped archives, optimised unless `optimise` is off.
struct Compiled {
    Compiler c;          // the compile, its map and its optimiser's state
    std::string listing; // the listing's text
    std::vector<std::pair<std::string, std::string>> kept; // definitions left as written, and why
};
std::unique_ptr<Compiled> Compile(const std::string& source, int cells = 8, bool optimise = true)
{
    auto r = std::make_unique<Compiled>();
    Compiler& c = r->c;
    c.WriteListing = false;
    c.CellBits = cells;
    c.Optimise = optimise;
    c.Map = std::make_unique<LineMaps>();
    LoadArchives(c, MIRTOLAN_SHARE_DIR "/Mirtolan.arch", "", {MIRTOLAN_SHARE_DIR}, FindDevice("atmega328p"));
    c.VarStart = "100";
    CompileSource(c, SplitLineList(source));
    r->listing = std::string(c.Listing.text());
    if (c.Optimiser)
        r->kept = c.Optimiser->keptAsWritten;
    return r;
}

// The line of the listing that holds `text`, from 0; -1 when none does.
int LineOf(const Compiler& c, std::string_view text)
{
    for (std::size_t i = 0; i < c.Listing.size(); ++i)
        if (c.Listing[i].find(text) != std::string_view::npos)
            return int(i);
    return -1;
}

struct Shape {
    const char* name;
    const char* source;
    int cells;
    std::vector<std::string> has;    // in the optimised listing
    std::vector<std::string> hasNot; // not in it
};

const Shape Shapes[] = {
    {"a variable's store is sts", "VARIABLE v\n: main 5 v C! ;\n", 8, {"\tsts\t0x0100,"}, {"Cstr", "\tst\t-Y"}},
    {"a 16-bit cell's fetch is two lds", "USE16BIT\nVARIABLE v\n: main v @ ;\n", 16,
     {"\tlds\tr", ",0x0100", ",(0x0100)+1"}, {"rcall\tat"}},
    {"a compare of constants is gone", ": main 3 4 < IF 1 THEN ;\n", 8, {}, {"_TestIfZero", "Lar"}},
    {"a compare with a register", "VARIABLE v\n: main v C@ 7 < IF 1 v C! THEN ;\n", 8, {"\tcpi\tr", "\tbrge\t"},
     {"_TestIfZero", "Lar"}},
    {"a loop counts in registers", "VARIABLE v\n: main 0 10 0 DO I + LOOP v C! ;\n", 8, {",10\r\n", "\tbrne\t_L"},
     {"\tDO\r\n", "LOOP\r\n", "\tI\r\n"}},
    {"a loop that calls a word of the program counts on the loop stack",
     ": w ;\n: main 3 0 DO w LOOP ;\n", 8, {"\tst\t-X,", "\tld\tr30,X+"}, {"\trcall\tDO"}},
    {"a $ line stays as written, the cells in memory around it", ": main 1 2\n$ nop\n+ ;\n", 8,
     {"\tst\t-Y,r30\r\n nop\r\n"}, {}},
    {"CASE compares with constants", "VARIABLE v\n: main v C@ CASE 1 OF 10 ENDOF 2 OF 20 ENDOF DEFAULT 30 ENDCASE ;\n",
     8, {"\tcpi\tr"}, {"Ftmp2", "\t; OF"}},
    {"words nothing uses are dropped", ": unused 1 ;\n: two 2 ;\n: main two DUP ;\n", 8, {"main:"},
     {"unused:", "two:", "DUP:", "_TestIfZero:"}},
    {"an interrupt's word stays", "VARIABLE n\n: tick n C@ 1+ n C! ;\n$\tINTERRUPT INT0addr, tick\n: main ;\n", 8,
     {"tick:", ".equ\t_ROPT\t= 1"}, {}},
    {"a word code runs into stays", "$lead:\n$\tnop\n: tail 1 ;\n: main ;\n", 8, {"tail:"}, {}},
    {"a single bit is tested by a skip", "VARIABLE v\n: main v C@ 4 AND IF 1 v C! THEN ;\n", 8,
     {"\tsbrs\tr", ",2\r\n\trjmp\t"},
     {"andi"}},
    {"an array by an index that cannot be negative", "VARIABLE buf ALLOT 9\n: main 10 0 DO I buf I M+ C! LOOP ;\n",
     8, {"\tst\tZ,"}, {"sbrc"}},
};

class Shapes_ : public testing::TestWithParam<Shape> {};

TEST_P(Shapes_, OptimisedListing)
{
    const Shape& s = GetParam();
    const auto r = Compile(s.source, s.cells);
    EXPECT_TRUE(r->kept.empty()) << r->kept.front().first << ": " << r->kept.front().second;
    for (const auto& t : s.has)
        EXPECT_NE(r->listing.find(t), std::string::npos) << "missing '" << t << "' in\n" << r->listing;
    for (const auto& t : s.hasNot)
        EXPECT_EQ(r->listing.find(t), std::string::npos) << "unexpected '" << t << "' in\n" << r->listing;
    // Without --opt nothing of it.
    const auto plain = Compile(s.source, s.cells, false);
    EXPECT_EQ(plain->listing.find("_ROPT"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Optimiser, Shapes_, testing::ValuesIn(Shapes), [](const auto& info) {
    std::string n;
    for (const char ch : std::string(info.param.name))
        n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return n;
});

// Slower code for the kernels and examples would be the first sign of a
// definition the optimiser gave up on.
TEST(Optimiser, WritesEveryDefinitionOfTheKernelsAndExamples)
{
    const fs::path kernels = fs::path(MIRTOLAN_SOURCE_DIR) / "bench" / "codegen" / "kernels";
    std::vector<std::pair<fs::path, int>> sources;
    for (const char* k : {"bubble", "sieve", "crc8", "fibgcd", "table", "triple"}) {
        sources.emplace_back(kernels / (std::string(k) + ".4th"), 8);
        const fs::path wide = kernels / (std::string(k) + "-16.4th");
        sources.emplace_back(fs::exists(wide) ? wide : kernels / (std::string(k) + ".4th"), 16);
    }
    const std::size_t kernelCount = sources.size();
    for (const char* e : {"blink328p.4th", "blink.4th", "loops.4th", "counter.4th"})
        sources.emplace_back(fs::path(MIRTOLAN_SOURCE_DIR) / "examples" / e, 8);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const auto& [file, cells] = sources[i];
        const auto r = Compile(Slurp(file) + (i < kernelCount ? "\n: main init kernel ;\n" : ""), cells);
        EXPECT_EQ(SourceMessageCount(r->c), 0u) << file.filename().string();
        for (const auto& [word, why] : r->kept)
            ADD_FAILURE() << file.filename().string() << " (" << cells << "-bit): " << word << " kept as written: " << why;
    }
}

// What the optimiser cannot read stays exactly as the compiler wrote it.
TEST(Optimiser, KeepsAsWrittenWhatItCannotRead)
{
    const struct {
        const char* source;
        const char* line; // a line of the compiler's, still there
    } cases[] = {
        // A case constant wider than a cell: its OF compares in Ftmp2.
        {"VARIABLE v\n: main v C@ CASE 300 OF 1 ENDOF ENDCASE ;\n", "\tcp\tFtmp1,Ftmp2\t; OF"},
        // IF without THEN: a branch to a label the definition lacks.
        {"VARIABLE v\n: main v C@ IF 2 ;\n", "\trcall\t_TestIfZero \t; IF"},
        // A loop stack used unevenly.
        {": main BEGIN 1 >R AGAIN ;\n", "\trcall\tRarR"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.source);
        const auto r = Compile(tc.source);
        EXPECT_EQ(r->kept.size(), 1u);
        EXPECT_NE(r->listing.find(tc.line), std::string::npos) << r->listing;
    }
}

TEST(Optimiser, LinesKeepTheOriginsOfTheirWords)
{
    // Line 3 has bump's words; main's loop holds them, written in place.
    const auto r = Compile("VARIABLE count\n: bump\n  count C@ 1+ count C! ;\n: main 3 0 DO bump LOOP ;\n");
    const Compiler& c = r->c;
    const int store = LineOf(c, "\tsts\t0x0100,");
    ASSERT_GE(store, 0) << r->listing;
    const LineOrigin o = c.Map->listingLine(std::size_t(store));
    EXPECT_EQ(o.kind, OriginKind::Word);
    EXPECT_EQ(o.line, 2u);     // 0-based: the line of C!
    EXPECT_EQ(o.column, 21u);  // C! itself
    EXPECT_EQ(c.Map->name(o.definition), "main"); // code of main's
    // The loop counts in a register: the line notes it for the debugger.
    ASSERT_NE(o.stack, 0u);
    const auto note = ParseStackNote(c.Map->stacks[o.stack - 1]);
    ASSERT_TRUE(note);
    ASSERT_EQ(note->loops.size(), 1u);
    EXPECT_EQ(note->loops[0].kind, StackNote::Loop::Registers);
    EXPECT_EQ(note->loops[0].limitValue, 3u);
}

TEST(Optimiser, StackNotesReadBack)
{
    StackNote n;
    n.covered = 2;
    n.cells = {{StackNote::Cell::Memory, 0, 1, 0}, {StackNote::Cell::Register, 20, 0, 0},
               {StackNote::Cell::Constant, 0, 0, 65535}, {StackNote::Cell::AddressHigh, 21, 0, 256}};
    n.loops = {{StackNote::Loop::Memory, 0, false, 0, 0}, {StackNote::Loop::Registers, 8, false, 0, 10},
               {StackNote::Loop::Registers, 16, true, 18, 0}, {StackNote::Loop::Cell, 0, false, 0, 0}};
    const std::string text = FormatStackNote(n);
    const auto back = ParseStackNote(text);
    ASSERT_TRUE(back) << text;
    EXPECT_EQ(FormatStackNote(*back), text);
    EXPECT_FALSE(ParseStackNote("d1:x3/"));
    EXPECT_FALSE(ParseStackNote("d1:r3"));
}

TEST(Optimiser, StepsByName)
{
    EXPECT_EQ(ParseOptSteps("inline,dead"), OptInline | OptDead);
    EXPECT_EQ(ParseOptSteps(""), 0u);
    EXPECT_FALSE(ParseOptSteps("inline,frob"));
}

// Builds and runs `source` on the ATmega328P in a scratch folder.
struct Outcome {
    BuildResult build; // the build
    RunReport run;     // its run, when it built
};
Outcome BuildAndRun(const std::string& name, const std::string& source, bool optimise)
{
    const fs::path dir = fs::path(OPT_TEST_WORK_DIR) / (name + (optimise ? "-opt" : ""));
    fs::create_directories(dir);
    std::ofstream(dir / "prog.4th") << source;
    BuildOptions b;
    b.sourceFile = (dir / "prog.4th").string();
    b.device = FindDevice("atmega328p");
    b.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    b.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    b.optimise = optimise;
    Outcome o;
    o.build = BuildHex(b);
    if (o.build.status == BuildResult::Built) {
        RunOptions r;
        r.maxCycles = 2'000'000;
        o.run = RunProgram(o.build, r);
    }
    return o;
}

TEST(Optimiser, ABranchInliningPutsOutOfReachIsWrittenLong)
{
    // Twenty calls fit in a conditional branch's reach; twenty copies of
    // the word they call do not.
    std::string body;
    for (int i = 0; i < 20; ++i)
        body += " w";
    const std::string source = "VARIABLE u\nVARIABLE v\n: w u C@ 3 + DUP DUP * * v C@ + v C! ;\n"
                               ": main v C@ 0= IF" + body + " THEN v C@ ;\n";
    const Outcome plain = BuildAndRun("far", source, false);
    const Outcome opt = BuildAndRun("far", source, true);
    ASSERT_EQ(plain.build.status, BuildResult::Built);
    ASSERT_EQ(opt.build.status, BuildResult::Built) << (opt.build.diagnostics.empty() ? opt.build.error
                                                                                      : opt.build.diagnostics[0].format());
    EXPECT_EQ(opt.run.stopped, StopReason::Halted) << opt.run.fault;
    EXPECT_EQ(opt.run.stack, plain.run.stack);
    EXPECT_EQ(opt.run.stack, std::vector<std::uint32_t>{(20 * 27) & 0xFF});
    EXPECT_LT(opt.run.cycles, plain.run.cycles);
}

// The messages of a build stay where they were: at their Forth lines.
TEST(Optimiser, BuildMessagesStayAtTheirLines)
{
    const struct {
        const char* source;
        std::int64_t line;
        const char* text;
    } cases[] = {
        {": main\n  300 DROP ;\n", 2, "the literal 300 does not fit a cell"},
        {"VARIABLE v\n: c CASE 1 OF 2 ENDOF\n  7 ENDCASE ;\n: main v C@ c ;\n", 3,
         "the case constant '7' is not followed by OF"},
        {": main\n  frob ;\n", 2, "'frob' is not defined"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.source);
        for (const bool optimise : {false, true}) {
            const Outcome o = BuildAndRun("messages", tc.source, optimise);
            bool found = false;
            for (const Diagnostic& d : o.build.diagnostics)
                found = found || (d.line == tc.line && d.text.find(tc.text) != std::string::npos);
            EXPECT_TRUE(found) << (optimise ? "--opt" : "plain");
        }
    }
}

} // namespace
