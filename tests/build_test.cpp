// The build to .hex with the real avra: each problem it finds is told at
// the Forth line and word that caused it, the .hex is written only when
// the program assembles, and the line map behind the messages is right.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sys/stat.h>

#include "Build.h"
#include "Compiler.h"
#include "LabelFilter.h"
#include "Process.h"
#include "TextFile.h"
#include "test_support.h"

using namespace mirtolan;
using namespace mirtolan::test;
namespace fs = std::filesystem;

namespace {

const std::string ShareDir = MIRTOLAN_SHARE_DIR;

// The assembler takes lines of a limited length.
constexpr int WordsPerLine = 50;

// `n` data words in inline assembler lines: a body of a known size, on
// lines(n) lines.
std::string words(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += i % WordsPerLine == 0 ? (i ? "\n$ .dw 0" : "$ .dw 0") : ",0";
    return text;
}
int lines(int n) { return (n + WordsPerLine - 1) / WordsPerLine; }

struct Built {
    BuildResult result;
    TempDir tmp;          // the source's folder
    std::string dir = tmp.path();
};

Built build(const std::string& source, const std::string& device = "atmega328p",
            std::optional<std::string> varStart = std::nullopt, bool zcall = false)
{
    Built b;
    WriteFile(b.dir + "/prog.4th", source);
    BuildOptions o;
    o.sourceFile = b.dir + "/prog.4th";
    o.device = FindDevice(device);
    o.varStart = std::move(varStart);
    o.useZcall = zcall;
    o.archive = ShareDir + "/Mirtolan.arch";
    o.runtimeDirs = {ShareDir};
    b.result = BuildHex(o);
    return b;
}

std::string all(const BuildResult& r)
{
    std::string text;
    for (const auto& d : r.diagnostics)
        text += d.format() + "\n";
    return text + r.error;
}

// One problem raised by a small source: where it must be told and what the
// message must say.
struct Case {
    const char* name;
    std::string source;
    Severity severity;
    int line;              // 0: no line
    const char* word;      // the Forth word named
    std::string says;      // a regular expression the text must match
    BuildResult::Status status;
};

const std::vector<Case>& cases()
{
    static const std::vector<Case> c = {
        {"branch_one_word_outside_IF", ": far IF\n" + words(64) + "\nTHEN ;\n: main far ;\n", Severity::Error, 1, "IF",
         "IF cannot reach its THEN at line " + std::to_string(2 + lines(64)) + " in 'far': the code between them is 1 word too long.*move part of the body "
         "into a word of its own",
         BuildResult::Problems},
        {"branch_one_word_outside_LOOP", ": back 5 0 DO\n" + words(63) + "\nLOOP ;\n: main back ;\n", Severity::Error,
         2 + lines(63), "LOOP", "LOOP cannot jump back to its DO at line 1 in 'back': the code between them is 1 word too long",
         BuildResult::Problems},
        {"branch_WHILE_outside", ": w BEGIN 1 WHILE\n" + words(70) + "\nREPEAT ;\n: main w ;\n", Severity::Error, 1,
         "WHILE", "WHILE cannot reach its REPEAT at line " + std::to_string(2 + lines(70)) + " in 'w'", BuildResult::Problems},
        {"branch_OF_outside", ": c CASE 1 OF\n" + words(70) + "\nENDOF ENDCASE ;\n: main 1 c ;\n", Severity::Error, 1,
         "OF", "OF cannot reach its ENDOF at line " + std::to_string(2 + lines(70)), BuildResult::Problems},
        {"rcall_out_of_range", ": first ;\n: pad\n" + words(2100) + "\n;\n: main first ;\n", Severity::Error,
         4 + lines(2100),
         "first", "turn on Zcall", BuildResult::Problems},
        {"name_clash_bit", ": m! ;\n: main m! ;\n", Severity::Error, 1, "m!",
         "spelled mstr in the listing.*clashes with MSTR, a register bit.*rename the word", BuildResult::Problems},
        {"name_clash_register", ": portb ;\n: main ;\n", Severity::Error, 1, "portb",
         "clashes with PORTB, an I/O register in the ATmega328P's definitions", BuildResult::Problems},
        {"name_clash_header", ": ftmp1 ;\n: main ;\n", Severity::Error, 1, "ftmp1",
         "clashes with FTMP1, a register name of the run-time header", BuildResult::Problems},
        {"defined_twice_in_any_case", ": twice ;\n: main ;\n: TWICE ;\n", Severity::Error, 3, "TWICE",
         "defined twice \\(first on line 1\\)", BuildResult::Problems},
        {"program_counter", ": PC ;\n: main ;\n", Severity::Warning, 1, "PC", "program counter: a call of it calls itself",
         BuildResult::Built},
        {"literal_too_wide", ": main 300 ;\n", Severity::Error, 1, "300",
         "the literal 300 does not fit a cell \\(cells are 8 bits: -128 to 255\\); use 16-bit cells.*a double literal, 300\\.",
         BuildResult::Problems},
        {"negative_literal_in_hex", "HEX\n: main -100 ;\n", Severity::Error, 2, "-100",
         "not a number in HEX mode.*write DECIMAL before this definition", BuildResult::Problems},
        {"case_constant_without_OF", ": c CASE 1 OF 2 ENDOF 7 ENDCASE ;\n: main 1 c ;\n", Severity::Warning, 1, "7",
         "the case constant '7' is not followed by OF", BuildResult::Built},
        {"no_main", ": start ;\n", Severity::Error, 0, "", "no word main", BuildResult::Problems},
        {"undefined_word", ": main frob ;\n", Severity::Error, 1, "frob", "'frob' is not defined",
         BuildResult::Problems},
        {"number_nothing_takes", "VARIABLE buf\n5 : main ;\n", Severity::Error, 2, "5",
         "'5' is not used: at the top level a number stands right before the word that takes it", BuildResult::Problems},
        {"case_parameter", ": c CASE x OF ENDOF ENDCASE ;\n: main ;\n", Severity::Error, 1, "x",
         "cannot be a case constant", BuildResult::Problems},
        {"structure_left_open", ": main\n  1 IF 2\n;\n", Severity::Error, 2, "IF",
         "IF is not closed: 'main' ends \\(line 3\\) before its THEN", BuildResult::Problems},
        {"structure_open_at_the_end_of_the_source", ": main\n  BEGIN 1\n", Severity::Error, 2, "BEGIN",
         "BEGIN is not closed: the source ends inside 'main', which has no ;, before its UNTIL, AGAIN or REPEAT",
         BuildResult::Problems},
        {"case_left_open", ": c\n  CASE 1 OF 2 ENDOF\n;\n: main 1 c ;\n", Severity::Error, 2, "CASE",
         "CASE is not closed: 'c' ends \\(line 3\\) before its ENDCASE", BuildResult::Problems},
        {"closer_with_nothing_to_close", ": main 1\n  THEN ;\n", Severity::Error, 2, "THEN",
         "THEN has nothing to close: no IF is open in 'main' before it", BuildResult::Problems},
        {"closed_by_the_wrong_word", ": main 5 0 DO 1 IF\n  LOOP THEN ;\n", Severity::Error, 2, "LOOP",
         "LOOP closes the IF of line 1, which it cannot close", BuildResult::Problems},
        {"else_without_if", ": main 1 ELSE 2 ;\n", Severity::Error, 1, "ELSE",
         "ELSE has nothing to close: no IF is open before it in 'main'", BuildResult::Problems},
        {"endof_without_of", ": c CASE 1 OF ENDOF\n  ENDOF ENDCASE ;\n: main 1 c ;\n", Severity::Error, 2, "ENDOF",
         "ENDOF has nothing to close: no OF is open before it in 'c'", BuildResult::Problems},
        {"semicolon_missing", ": double DUP +\n: triple DUP DUP + + ;\n: main 2 double ;\n", Severity::Error, 1,
         "double", "';' missing: 'double' \\(line 1\\) is still open where the next ':' stands \\(line 2\\)",
         BuildResult::Problems},
        {"single_backslash_comment", ": main ;\n\\ set the timer up\n", Severity::Error, 2, "\\",
         "a comment in this Forth begins with \\\\\\\\ \\(two backslashes\\)", BuildResult::Problems},
        {"did_you_mean_archive_word", ": main 1 DPU ;\n", Severity::Error, 1, "DPU", "did you mean 'DUP'\\?",
         BuildResult::Problems},
        {"did_you_mean_program_word", ": blink ;\n: main blnik ;\n", Severity::Error, 2, "blnik",
         "did you mean 'blink'\\?", BuildResult::Problems},
        {"c_comma_inside_a_definition", ": main 1 C, ;\n", Severity::Error, 1, "C,",
         "C, has no meaning inside a definition", BuildResult::Problems},
        {"c_comma_without_number", "CREATE t C,\n: main ;\n", Severity::Error, 1, "C,",
         "C, stores the number before it", BuildResult::Problems},
        {"c_comma_too_wide", "CREATE t 300 C,\n: main ;\n", Severity::Error, 1, "300",
         "C, stores a byte, and 300 does not fit one", BuildResult::Problems},
        {"to_without_value", "VARIABLE x\n: main 5 TO x ;\n", Severity::Error, 2, "TO",
         "TO needs the name of a VALUE after it", BuildResult::Problems},
        {"leave_outside_a_loop", ": main LEAVE ;\n", Severity::Error, 1, "LEAVE", "no DO loop is open here",
         BuildResult::Problems},
        {"text_outside_a_definition", "S\" x\"\n: main ;\n", Severity::Error, 1, "S\"",
         "S\" works only inside a colon definition", BuildResult::Problems},
        {"double_too_wide", ": main 70000. ;\n", Severity::Error, 1, "70000.",
         "does not fit a double of two 8-bit cells \\(-32768 to 65535\\); use 16-bit cells", BuildResult::Problems},
        {"text_too_long", ": main S\" " + std::string(300, 'x') + "\" TYPE ;\n", Severity::Error, 1, "S\"",
         "the text is 300 characters long, more than its count holds \\(up to 255\\)", BuildResult::Problems},
        {"text_without_closing_quote", ": main .\" abc\n;\n", Severity::Warning, 1, ".\"",
         "no closing \": it runs to the end of the line", BuildResult::Built},
        {"double_too_wide_16", "USE16BIT\n: main 4294967295. -2147483648. 4294967296. ;\n", Severity::Error, 2,
         "4294967296.", "does not fit a double of two 16-bit cells \\(-2147483648 to 4294967295\\)",
         BuildResult::Problems},
        {"literal_too_wide_16", "USE16BIT\n: main 70000 ;\n", Severity::Error, 2, "70000",
         "cells are 16 bits: -32768 to 65535\\); write it as a double literal, 70000\\.", BuildResult::Problems},
        {"case_constant_without_OF_16", "USE16BIT\n: c CASE 1 OF 2 ENDOF 7 ENDCASE ;\n: main 1 c ;\n",
         Severity::Warning, 2, "7", "the case constant '7' is not followed by OF", BuildResult::Built},
        {"inline_label_missing", ": main\n$ rcall nowhere\n;\n", Severity::Error, 2, "$",
         "names nowhere, which no word and no label of the program defines", BuildResult::Problems},
        {"variables_over_registers", "VARIABLE v\n: main ;\n", Severity::Warning, 1, "v",
         "variable start \\$0081 lies below the ATmega328P's SRAM.*use the variable start 100", BuildResult::Built},
    };
    return c;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Diagnostics : public testing::TestWithParam<Case> {};

TEST_P(Diagnostics, ToldAtTheForthLine)
{
    const Case& k = GetParam();
    const bool defaultStart = std::string(k.name) != "variables_over_registers";
    const Built b = build(k.source, "atmega328p", defaultStart ? std::nullopt : std::optional<std::string>("81"));
    const BuildResult& r = b.result;
    EXPECT_EQ(r.status, k.status) << all(r);
    bool found = false;
    for (const auto& d : r.diagnostics) {
        if (d.severity != k.severity || d.line != k.line || d.word != k.word)
            continue;
        found = std::regex_search(d.text, std::regex(k.says));
        if (found) {
            EXPECT_EQ(d.file, b.dir + "/prog.4th");
            break;
        }
    }
    EXPECT_TRUE(found) << "expected at line " << k.line << " (" << k.word << "): " << k.says << "\ngot:\n" << all(r);
    EXPECT_EQ(fs::exists(b.dir + "/prog.hex"), k.status == BuildResult::Built);
    // The assembler's scratch files never land beside the source.
    for (const auto& e : fs::directory_iterator(b.dir)) {
        const auto ext = e.path().extension();
        EXPECT_TRUE(ext == ".4th" || ext == ".asm" || ext == ".hex") << e.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Build, Diagnostics, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// The text words read flash with lpm: a text placed beyond the first 64 KB
// of the ATmega2560 is told at the word that made it.
TEST(Build, TextBeyondTheFirst64KIsTold)
{
    const Built b = build(": pad\n" + words(33000) + "\n;\n: main .\" far\" pad ;\n", "atmega2560", std::nullopt, true);
    ASSERT_EQ(b.result.status, BuildResult::Built) << all(b.result);
    bool told = false;
    for (const auto& d : b.result.diagnostics)
        told = told || (d.severity == Severity::Warning && d.word == ".\"" && d.line == 3 + lines(33000) &&
                        d.text.find("beyond the first 64 KB") != std::string::npos);
    EXPECT_TRUE(told) << all(b.result);
}

// A slip is told once, where it happened, not once for every word it
// brought down with it.
TEST(Build, SlipsAreToldOnce)
{
    const struct {
        std::string source;
        int line; // where the one diagnostic stands
    } cases[] = {
        {": main ;\n\\ set the timer up to 10 ms, then wait\n", 2},
        {": double DUP +\n: triple DUP DUP + + ;\n: main 2 double ;\n", 1},
        {": main 1\n  THEN ;\n", 2},
        {": main\n  IF ;\n", 2},
        {": main\n  1 IF\n", 2},
        {": c CASE\n  1 OF ENDOF ;\n: main ;\n", 1},
        {": c CASE 1 OF ENDOF\n  ENDOF ENDCASE ;\n: main 1 c ;\n", 2},
    };
    for (const auto& k : cases) {
        const Built b = build(k.source);
        ASSERT_EQ(b.result.diagnostics.size(), 1u) << k.source << all(b.result);
        EXPECT_EQ(b.result.diagnostics[0].line, k.line) << k.source << all(b.result);
    }
}

TEST(Build, BranchesJustInsideTheirReachAssemble)
{
    const Built b = build(": far IF\n" + words(63) + "\nTHEN ;\n: back 5 0 DO\n" + words(62) +
                          "\nLOOP ;\n: main far back ;\n");
    EXPECT_EQ(b.result.status, BuildResult::Built) << all(b.result);
}

TEST(Build, ZcallReachesWhatRcallCannot)
{
    const Built b = build(": first ;\n: pad\n" + words(2100) + "\n;\n: main first ;\n", "atmega328p", std::nullopt, true);
    EXPECT_EQ(b.result.status, BuildResult::Built) << all(b.result);
}

// An error inside an archive routine names the routine and the Forth line
// that first used it.
TEST(Build, ArchiveRoutineErrorsAreToldWhereTheWordWasFirstUsed)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    WriteFile(dir + "/t.arch", ReadFile(ShareDir + "/Mirtolan.arch") +
                                   "$$ BEEP\n.error \"BEEP needs a speaker\"\n$\n");
    WriteFile(dir + "/prog.4th", ": main\n  1 DROP\n  BEEP BEEP ;\n");
    BuildOptions o;
    o.sourceFile = dir + "/prog.4th";
    o.archive = dir + "/t.arch";
    o.runtimeDirs = {ShareDir};
    const BuildResult r = BuildHex(o);
    ASSERT_EQ(r.status, BuildResult::Problems) << all(r);
    ASSERT_FALSE(r.diagnostics.empty());
    const Diagnostic& d = r.diagnostics.front();
    EXPECT_EQ(d.line, 3);
    EXPECT_EQ(d.column, 3);
    EXPECT_EQ(d.word, "BEEP");
    EXPECT_NE(d.text.find("in the archive routine BEEP"), std::string::npos) << d.text;
    EXPECT_NE(d.text.find("BEEP needs a speaker"), std::string::npos) << d.text;
}

TEST(Build, HexIsReplacedOnlyBySuccess)
{
    Built good = build(": main 1 DROP ;\n");
    ASSERT_EQ(good.result.status, BuildResult::Built) << all(good.result);
    const std::string hex = good.dir + "/prog.hex";
    const std::string before = ReadFile(hex);
    EXPECT_EQ(before.substr(0, 1), ":");
    EXPECT_NE(before.find(":00000001FF"), std::string::npos);
    EXPECT_EQ(good.result.hexImage, before);

    // A failing build of the same source leaves the old .hex as it was, and
    // so the user's own files of the names the assembler gives its outputs:
    // it fails in the compile, and in the assembler.
    const std::vector<std::string> own{".obj", ".eep.hex", ".cof", ".lst", ".map"};
    for (const auto& ext : own)
        WriteFile(good.dir + "/prog" + ext, "mine " + ext);
    for (const char* source : {": main frob ;\n", ": main\n$ frob r16\n;\n"}) {
        WriteFile(good.dir + "/prog.4th", source);
        BuildOptions o;
        o.sourceFile = good.dir + "/prog.4th";
        o.device = FindDevice("atmega328p");
        o.archive = ShareDir + "/Mirtolan.arch";
        o.runtimeDirs = {ShareDir};
        EXPECT_EQ(BuildHex(o).status, BuildResult::Problems) << source;
        EXPECT_EQ(ReadFile(hex), before) << source;
        for (const auto& ext : own)
            EXPECT_EQ(ReadFile(good.dir + "/prog" + ext), "mine " + ext) << source;
    }
}

// Brackets and colons in the folders' names are part of the names: the
// assembler's messages still find their Forth line, in the listing and in
// a header of the user's own beside the source.
TEST(Build, MessagesFindTheirLineInAFolderOfAnyName)
{
    const TempDir tmp;
    for (const char* folder : {"plain", "dir (copy)", "a:b", "x(3)", "(7)"}) {
        const std::string dir = tmp / folder;
        fs::create_directory(dir);
        WriteFile(dir + "/prog.4th", ": main\n$ frob r16\n;\n");
        BuildOptions o;
        o.sourceFile = dir + "/prog.4th";
        o.device = FindDevice("atmega328p");
        o.archive = ShareDir + "/Mirtolan.arch";
        o.runtimeDirs = {ShareDir};
        BuildResult r = BuildHex(o);
        ASSERT_EQ(r.status, BuildResult::Problems) << folder << ": " << all(r);
        ASSERT_EQ(r.diagnostics.size(), 1u) << folder << ": " << all(r);
        EXPECT_EQ(r.diagnostics[0].file, o.sourceFile) << folder;
        EXPECT_EQ(r.diagnostics[0].line, 2) << folder;

        const std::string header = ReadFile(ShareDir + "/m328p/4thHead.asm");
        WriteFile(dir + "/4thHead.asm", header + ".error \"mine\"\n");
        WriteFile(dir + "/prog.4th", ": main ;\n");
        r = BuildHex(o);
        ASSERT_EQ(r.diagnostics.size(), 1u) << folder << ": " << all(r);
        EXPECT_EQ(r.diagnostics[0].file, fs::absolute(dir + "/4thHead.asm").string()) << folder;
        EXPECT_EQ(r.diagnostics[0].line, std::count(header.begin(), header.end(), '\n') + 1) << folder;
    }
}

// The window builds a source that has no file yet: in a private folder that
// the result keeps, and without the temporary directory on the include path.
TEST(Build, UntitledSourceIsBuiltInAPrivateFolder)
{
    const TempDir temp;
    const char* const oldTemp = std::getenv("TMPDIR");
    const std::string kept = oldTemp ? oldTemp : "";
    ::setenv("TMPDIR", temp.path().c_str(), 1);
    WriteFile(temp / "4thHead.asm", ".error \"planted by another user\"\n");
    const LineList source = SplitLineList("VARIABLE v\n: main 7 v C! ;\n");
    BuildOptions o;
    o.sourceText = &source;
    o.device = FindDevice("atmega328p");
    o.archive = ShareDir + "/Mirtolan.arch";
    o.runtimeDirs = {ShareDir};
    std::string folder;
    {
        const BuildResult r = BuildHex(o);
        ASSERT_EQ(r.status, BuildResult::Built) << all(r);
        ASSERT_TRUE(r.folder);
        folder = r.folder->path();
        EXPECT_EQ(fs::path(r.hexFile).parent_path(), folder);
        EXPECT_EQ(ReadFile(r.hexFile), r.hexImage);
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
    if (oldTemp)
        ::setenv("TMPDIR", kept.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

// An assembler that never ends (it reads a FIFO nobody writes) is stopped
// at the time limit, and the build says so.
TEST(Build, AssemblerThatHangsIsStoppedAtTheLimit)
{
    const TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "hang.inc").c_str(), 0600), 0);
    WriteFile(tmp / "prog.4th", "$.include \"hang.inc\"\n: main ;\n");
    BuildOptions o;
    o.sourceFile = tmp / "prog.4th";
    o.device = FindDevice("atmega328p");
    o.archive = ShareDir + "/Mirtolan.arch";
    o.runtimeDirs = {ShareDir};
    o.assemblerTimeLimit = std::chrono::milliseconds(300);
    const BuildResult r = BuildHex(o);
    EXPECT_EQ(r.status, BuildResult::Abandoned);
    EXPECT_NE(r.error.find("the assembler avra did not finish within 0.3 s and was stopped"), std::string::npos)
        << r.error;
}

// The process runner tells how a tool ended: by itself, by a signal (a
// crash or a kill), or at the time limit, also when it closed its output.
TEST(Process, EndsAreToldWithTheirSignal)
{
    const struct {
        const char* script;
        int exitCode, signal;
        bool timedOut;
        const char* told; // DescribeSignal's words for the signal
    } cases[] = {
        {"exit 3", 3, 0, false, ""},
        {"kill -SEGV $$", -1, SIGSEGV, false, "crashed (signal 11, Segmentation fault)"},
        {"kill -ABRT $$", -1, SIGABRT, false, "crashed (signal 6, Aborted)"},
        {"kill -KILL $$", -1, SIGKILL, false, "was killed (signal 9, Killed)"},
        {"sleep 30", -1, 0, true, ""},
        {"exec >&- 2>&-; sleep 30", -1, 0, true, ""},
    };
    for (const auto& c : cases) {
        ProcessOptions o;
        o.timeLimit = std::chrono::milliseconds(300);
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = RunProcess({"sh", "-c", c.script}, o);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.script;
        EXPECT_TRUE(r.started) << c.script;
        EXPECT_EQ(r.exitCode, c.exitCode) << c.script;
        EXPECT_EQ(r.signal, c.signal) << c.script;
        EXPECT_EQ(r.timedOut, c.timedOut) << c.script;
        if (c.signal) {
            EXPECT_EQ(DescribeSignal(c.signal), c.told);
        }
    }
}

TEST(Build, HeaderBesideTheSourceIsPreferredAndAMissingOneNamesTheFolders)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    WriteFile(dir + "/prog.4th", ": main ;\n");
    BuildOptions o;
    o.sourceFile = dir + "/prog.4th";
    o.device = FindDevice("atmega328p");
    o.archive = ShareDir + "/Mirtolan.arch";
    o.runtimeDirs = {dir + "/nowhere"};
    BuildResult r = BuildHex(o);
    EXPECT_EQ(r.status, BuildResult::Abandoned);
    EXPECT_NE(r.error.find("cannot find the run-time header 4thHead.asm for the ATmega328P"), std::string::npos);
    EXPECT_NE(r.error.find(dir + "/nowhere/m328p"), std::string::npos) << r.error;

    WriteFile(dir + "/4thHead.asm", ReadFile(ShareDir + "/m328p/4thHead.asm") + "\n.equ OWN_HEADER = 1\n");
    r = BuildHex(o);
    EXPECT_EQ(r.status, BuildResult::Built) << all(r);
    EXPECT_EQ(r.symbols.count("OWN_HEADER"), 1u);
}

// The program's words and variables come back with their places, for the
// simulator and the window.
TEST(Build, ReportsWordsVariablesAndSymbols)
{
    const Built b = build("VARIABLE count\nALLOT 3\nVARIABLE flag\n: bump count C@ 1+ count C! ;\n: main bump ;\n");
    const BuildResult& r = b.result;
    ASSERT_EQ(r.status, BuildResult::Built) << all(r);
    ASSERT_EQ(r.variables.size(), 2u);
    EXPECT_EQ(r.variables[0].name, "count");
    EXPECT_EQ(r.variables[0].address, 0x100u);
    EXPECT_EQ(r.variables[0].size, 4u);
    EXPECT_EQ(r.variables[1].address, 0x104u);
    EXPECT_EQ(r.variables[1].line, 3);
    bool bump = false, onePlus = false;
    for (const auto& w : r.words) {
        bump = bump || (w.name == "bump" && w.line == 4 && !w.fromArchive);
        onePlus = onePlus || (w.name == "1+" && w.label == "Onepls" && w.fromArchive && w.line == 4);
    }
    EXPECT_TRUE(bump);
    EXPECT_TRUE(onePlus);
    EXPECT_EQ(r.symbols.count("MAIN"), 1u);
    EXPECT_EQ(r.symbols.count("ONEPLS"), 1u);
    EXPECT_GT(r.flashWords, 0u);
}

// Names with every character the label filter spells are defined, called
// and assembled.
TEST(Build, EverySpelledCharacterAssembles)
{
    std::string source;
    std::string calls = ": main";
    int n = 0;
    for (const char* name : {".", "U.", ".R", "C,", "<#", "#>", "#S", "[']", "a&b", "a|b", "a^b", "~x", "s\"",
                             "\\x", "a;b", "{x}", "`x", "Z\xE4hler", "\x7F", "1.", "2.", "+!.", "'a'b", "(.)", "cell(s)",
                             "x:y", "a$b"}) {
        source += ": " + std::string(name) + " " + std::to_string(++n) + " ;\n";
        calls += " " + std::string(name);
    }
    const Built b = build(source + calls + " ;\n");
    EXPECT_EQ(b.result.status, BuildResult::Built) << all(b.result);
}

// The map from listing lines to Forth lines holds in every shape of listing.
struct MapCase {
    bool header, zcall;
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.header << c.zcall; }

class LineMapShapes : public testing::TestWithParam<MapCase> {};

TEST_P(LineMapShapes, EveryLineLeadsBackToItsWord)
{
    const MapCase k = GetParam();
    const std::vector<std::string> source = {
        "\\\\ a comment",
        "$myLabel:",
        ": seven 7 ;",
        "VARIABLE v",
        ": twice",
        "   seven seven DUP",
        "   IF seven THEN ;",
        ": main twice v C@ DROP",
        "  $ nop",
        "  10 0 DO I DROP LOOP ;",
        ": greet .\" hi\" ;",
    };
    Compiler c;
    c.Map = std::make_unique<LineMaps>();
    c.UseZcall = k.zcall;
    c.IncludeHeader = k.header;
    const TempDir tmp;
    const std::string& dir = tmp.path();
    c.SourceFileName = dir + "/prog.4th";
    ReadArchFile(c, ShareDir + "/Mirtolan.arch");
    CompileClick(c, source);
    const std::vector<std::string> listing = SplitLines(ReadFile(dir + "/prog.asm"));
    const LineMaps& m = *c.Map;
    EXPECT_EQ(m.headerLines, k.header ? 4u : 0u);

    // Each expected listing line, the source line (from 1) and word it must map to.
    struct Expect {
        std::string listingLine;
        int line;
        std::string word;
        OriginKind kind;
    };
    const std::string call = k.zcall ? "\tZcall\t" : "\trcall\t";
    const Expect expects[] = {
        {"; a comment", 1, "\\\\", OriginKind::Word},
        {"myLabel:", 2, "", OriginKind::PassThrough},
        {"seven:", 3, "seven", OriginKind::Word},
        {"\tldi\tFtmp1,7", 3, "7", OriginKind::Word},
        {"v:", 4, "v", OriginKind::Word},
        {"twice:", 5, "twice", OriginKind::Word},
        {call + "DUP", 6, "DUP", OriginKind::Word},
        {"DUP:", 6, "DUP", OriginKind::Archive},
        {call + "_TestIfZero \t; IF", 7, "IF", OriginKind::Word},
        {"_L1:\t\t\t\t; THEN", 7, "THEN", OriginKind::Word},
        {call + "v", 8, "v", OriginKind::Word},
        {"Cat:", 8, "C@", OriginKind::Archive},
        {" nop", 9, "$", OriginKind::Word},
        {"\tbrcc\t_L2\t\t; LOOP", 10, "LOOP", OriginKind::Word},
        {"_TestIfZero:", 0, "", OriginKind::Archive},
        {"_S1:", 11, ".\"", OriginKind::Word},
    };
    for (const auto& e : expects) {
        const auto at = std::find(listing.begin(), listing.end(), e.listingLine);
        ASSERT_NE(at, listing.end()) << e.listingLine;
        const LineOrigin o = m.listingLine(std::size_t(at - listing.begin()));
        EXPECT_EQ(o.kind, e.kind) << e.listingLine;
        if (e.line == 0) {
            EXPECT_EQ(o.line, LineOrigin::NoLine) << e.listingLine;
            continue;
        }
        EXPECT_EQ(int(o.line) + 1, e.line) << e.listingLine;
        const std::string word = o.column ? source[o.line].substr(o.column - 1, o.length) : "";
        if (e.kind == OriginKind::Archive)
            EXPECT_EQ(std::string(m.name(o.entry)), e.word) << e.listingLine;
        else
            EXPECT_EQ(word, e.word) << e.listingLine;
    }
    // The header and banner lines are told as such.
    EXPECT_EQ(m.listingLine(0).kind, k.header ? OriginKind::Header : OriginKind::Banner);
}

INSTANTIATE_TEST_SUITE_P(Build, LineMapShapes,
                         testing::Values(MapCase{true, false}, MapCase{false, false}, MapCase{true, true},
                                         MapCase{false, true}),
                         [](const testing::TestParamInfo<MapCase>& i) {
                             return std::string(i.param.header ? "header" : "noheader") +
                                    (i.param.zcall ? "_zcall" : "_rcall");
                         });

} // namespace
