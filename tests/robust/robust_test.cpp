// Hostile sources and archives: every compile ends with a listing and its
// messages, or with a CompileError that says why; none crashes or hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "TextFile.h"
#include "test_support.h"

using namespace mirtolan::test;

namespace {

constexpr std::size_t MiB = 1 << 20;


std::string Repeat(const std::string& piece, std::size_t times)
{
    std::string s;
    s.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        s += piece;
    return s;
}

bool Completed(const Result& r)
{
    return r.error.empty() && r.messages.size() >= 2 && r.messages[r.messages.size() - 2] == "Compile Completed";
}

Lines SourceMessages(const Result& r) { return Lines(r.messages.begin(), r.messages.end() - 2); }

std::size_t CountLines(const Lines& lines, const std::string& line)
{
    return std::size_t(std::count(lines.begin(), lines.end(), line));
}

// --- Sources that must compile to the end ------------------------------------

struct HostileSource {
    const char* name;
    Lines (*source)();
    std::size_t messages; // how many the source raises
};

void PrintTo(const HostileSource& h, std::ostream* os) { *os << h.name; }

const HostileSource HostileSources[] = {
    {"binary noise", [] { return mirtolan::SplitLines(Noise(MiB, 1)); }, std::size_t(-1)},
    {"noise inside a definition", [] { return mirtolan::SplitLines(": x " + Noise(MiB, 2)); }, std::size_t(-1)},
    {"noise without line ends",
     [] {
         std::string s = Noise(MiB, 3);
         std::replace(s.begin(), s.end(), '\r', ' ');
         std::replace(s.begin(), s.end(), '\n', ' ');
         return Lines{s};
     },
     std::size_t(-1)},
    {"megabyte line of calls", [] { return Lines{": big " + Repeat("DUP ", MiB / 4) + ";"}; }, 0},
    {"megabyte line at top level", [] { return Lines{Repeat("( comment ) ", MiB / 12)}; }, 0},
    {"megabyte word at top level", [] { return Lines{std::string(MiB, 'x')}; }, MiB / 80 + 1},
    {"megabyte word in a definition", [] { return Lines{": w " + std::string(MiB, 'x') + " ;"}; }, MiB / 80 + 1},
    {"megabyte inline assembler line", [] { return Lines{"$" + std::string(MiB, 'a'), ": w $ " + std::string(MiB, 'b'), ";"}; }, 0},
    {"megabyte label of symbols", [] { return Lines{"$" + Repeat("+-", MiB / 2) + ":"}; }, 0},
    {"megabyte comments", [] { return Lines{"\\\\ " + std::string(MiB, 'c'), ": w \\\\ " + std::string(MiB, 'd'), ";"}; }, 0},
    {"a million one-character lines", [] { return Lines(MiB, ";"); }, 0},
    {"ten thousand nested IFs",
     [] { return Lines{": deep " + Repeat("DUP IF ", 10000) + Repeat("THEN ", 10000) + ";"}; }, 0},
    {"ten thousand nested BEGINs",
     [] { return Lines{": deep " + Repeat("BEGIN DUP WHILE ", 10000) + Repeat("REPEAT ", 10000) + ";"}; }, 0},
    {"ten thousand nested CASEs",
     [] { return Lines{": deep " + Repeat("CASE 1 OF ", 10000) + Repeat("ENDOF ENDCASE ", 10000) + ";"}; }, 0},
    {"ten thousand nested DOs", [] { return Lines{": deep " + Repeat("DO ", 10000) + Repeat("LOOP ", 10000) + ";"}; }, 0},
    {"ten thousand open IFs", [] { return Lines{": open " + Repeat("IF ", 10000) + ";"}; }, 1},
    // The openers only bring the depth back up to empty, so the THENs after
    // them find nothing open either.
    {"ten thousand stray THENs then IFs",
     [] { return Lines{": stray " + Repeat("THEN ", 10000) + Repeat("IF ", 10000) + Repeat("THEN ", 10000) + ";"}; },
     20001},
    {"ten thousand stray ENDCASEs then CASEs",
     [] { return Lines{": stray " + Repeat("ENDCASE ", 10000) + Repeat("CASE ", 10000) + ";"}; }, 10001},
    {"a hundred thousand definitions of one name", [] { return Lines(100000, ": same same ;"); }, 0},
    {"a hundred thousand undefined words", [] { return Lines(100000, ": w frob ;"); }, 100000},
    // Each word twice the one before: written in place, it would double each time.
    {"thirty words each calling the one before twice",
     [] {
         Lines l{": w0 1 ;"};
         for (int i = 1; i < 30; ++i)
             l.push_back(": w" + std::to_string(i) + " w" + std::to_string(i - 1) + " w" + std::to_string(i - 1) + " ;");
         return l;
     },
     0},
};

class Hostile : public ::testing::TestWithParam<HostileSource> {};

// Optimised too: the same messages, and no blowing up of time or memory.
TEST_P(Hostile, CompilesToTheEnd)
{
    const auto& tc = GetParam();
    for (const bool optimise : {false, true}) {
        SCOPED_TRACE(optimise ? "--opt" : "");
        Options o;
        o.optimise = optimise;
        const Result r = Compile(tc.source(), o);
        ASSERT_TRUE(Completed(r)) << r.error;
        if (tc.messages != std::size_t(-1)) {
            EXPECT_EQ(r.messages.size() - 2, tc.messages);
        }
        // The listing holds at least the banner and _TestIfZero (which the
        // optimiser drops when nothing calls it).
        EXPECT_GE(r.listing.size(), optimise ? 3u : 6u);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, Hostile, ::testing::ValuesIn(HostileSources),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             std::replace_if(n.begin(), n.end(), [](char ch) { return !std::isalnum((unsigned char)ch); }, '_');
                             return n;
                         });

TEST(HostileDetail, NulBytesSeparateWords)
{
    const Result r = Compile({std::string(": x\0DUP\0\0;", 11), std::string("\0\0: y x ;", 9)});
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(r.program, (Lines{"x:", "\trjmp\tDUP", "y:", "\trjmp\tx"}));
    EXPECT_EQ(SourceMessages(r), Lines{});
}

// A label line with line ends inside (only a caller of the library can make
// one) names no word: lookups compare whole lines.
TEST(HostileDetail, PassedThroughLineWithLineEndsInside)
{
    const Result r = Compile({"$a:\r\nb:", ": x b a ;"});
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(SourceMessages(r), (Lines{"Not defined b ,Line 2", "Not defined a ,Line 2"}));
}

TEST(HostileDetail, MegabyteLinesAreKeptWhole)
{
    const std::string big(MiB, 'a');
    const Result r = Compile({"$" + big, ": big " + Repeat("DUP ", MiB / 4) + ";"});
    ASSERT_TRUE(Completed(r)) << r.error;
    ASSERT_GE(r.program.size(), 2u);
    EXPECT_EQ(r.program[0], big);
    EXPECT_EQ(r.program.size(), 2 + MiB / 4);
    EXPECT_EQ(r.program.back(), "\trjmp\tDUP");
    EXPECT_EQ(CountLines(r.program, "\trcall\tDUP"), MiB / 4 - 1);
}

TEST(HostileDetail, MegabyteWordIsReadInPieces)
{
    const Result r = Compile({std::string(MiB, 'x')});
    ASSERT_TRUE(Completed(r)) << r.error;
    const std::string piece = "Not defined " + std::string(80, 'x') + " ,Line 1";
    EXPECT_EQ(CountLines(r.messages, piece), MiB / 80);
    EXPECT_EQ(r.messages[MiB / 80], "Not defined " + std::string(MiB % 80, 'x') + " ,Line 1");
}

TEST(HostileDetail, MegabyteLabelIsSpelledOut)
{
    const Result r = Compile({"$1" + Repeat("+-", MiB / 2) + ":"});
    ASSERT_TRUE(Completed(r)) << r.error;
    ASSERT_EQ(r.program.size(), 1u);
    EXPECT_EQ(r.program[0], "One" + Repeat("plsminus", MiB / 2) + ":");
}

TEST(HostileDetail, DeepNestingClosesInnermostFirst)
{
    constexpr int Depth = 5000;
    const Result r = Compile({": deep " + Repeat("DUP IF ", Depth) + Repeat("THEN ", Depth) + ";"});
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(SourceMessages(r), Lines{});
    // The THEN labels follow in reverse order of their IFs.
    std::size_t i = r.program.size() - 1 - Depth;
    for (int n = Depth; n >= 1; --n, ++i)
        ASSERT_EQ(r.program[i], "_L" + std::to_string(n) + ":\t\t\t\t; THEN");
    EXPECT_EQ(r.program.back(), "\tret");
}

// Closing words with nothing open drive the depth below empty; the openers
// that follow must neither write outside the stacks nor name labels that
// were never made.
TEST(HostileDetail, ClosersWithNothingOpenThenOpeners)
{
    const Result r = Compile({": x THEN UNTIL AGAIN LOOP +LOOP REPEAT ENDCASE", "IF BEGIN DO CASE 1 OF ;", ": y IF THEN ;"});
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(SourceMessages(r), (Lines{
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 1",
                                     "Conditional not matched. Line 2",
                                 }));
    // The next definition starts afresh.
    const Lines tail(r.program.end() - 5, r.program.end());
    EXPECT_EQ(tail, (Lines{"y:", "\trcall\t_TestIfZero \t; IF", "\tbreq\t_L5", "_L5:\t\t\t\t; THEN", "\tret"}));
}

TEST(HostileDetail, CaseWordsOutOfPlace)
{
    const Result r = Compile({
        ": a ENDOF ;",
        ": b ENDCASE ;",
        ": c DEFAULT ;",
        ": d CASE DEFAULT DEFAULT ENDCASE ;",
        ": e 1 OF ENDOF ;",
        ": f OF ;",
        ": g CASE ENDOF ENDOF ENDCASE ;",
    });
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(SourceMessages(r), (Lines{
                                     "Conditional not matched. Line 1", // ENDOF with no CASE open
                                     "Conditional not matched. Line 1", // and the depth at ";"
                                     "EndCase missing  ,Line 1",        // ENDOF waits for a case constant
                                     "Conditional not matched. Line 2",
                                     "Conditional not matched. Line 2",
                                     "Sytax Error ,Line 3",
                                     "Sytax Error ,Line 4", // the second DEFAULT
                                     "Conditional not matched. Line 5", // ENDOF with no CASE open; OF and ENDOF balance
                                     "EndCase missing  ,Line 5",
                                     "Conditional not matched. Line 6", // OF left open
                                     "Conditional not matched. Line 7", // two ENDOFs without OF
                                 }));
    // An ENDOF without a CASE jumps to a label number that no CASE gets.
    EXPECT_EQ(r.program[1], "\trjmp\t_LC0\t\t; ENDOF");
}

TEST(HostileDetail, NumbersFarOutOfRange)
{
    const std::string digits1000(1000, '9');
    const Result r = Compile({
        ": a 99999999999999999999 -2147483649 2147483648 $1FFFFFFFF 0x100000000 ;",
        ": b (HIGH) 99999999999 (LOW) -99999999999 ;",
        ": c " + digits1000 + " ;",
        "CONSTANT k 4294967296",
        "HEX",
        ": d FFFFFFFFF 0000000000000000000000000000000000000000000000000000000000000000000000000001 ;",
    });
    ASSERT_TRUE(Completed(r)) << r.error;
    const Lines expected{
        "Not defined 99999999999999999999 ,Line 1",
        "Not defined -2147483649 ,Line 1",
        "Not defined 2147483648 ,Line 1",
        "Not defined $1FFFFFFFF ,Line 1",
        "Not defined 0x100000000 ,Line 1",
        "Not defined 99999999999 ,Line 2",
        "Not defined -99999999999 ,Line 2",
    };
    const Lines got = SourceMessages(r);
    ASSERT_GE(got.size(), expected.size() + 13 + 3);
    EXPECT_EQ(Lines(got.begin(), got.begin() + 7), expected);
    // The 1000 digits are read as twelve words of 80 and one of 40: none is a number.
    for (std::size_t i = 7; i < 19; ++i)
        EXPECT_EQ(got[i], "Not defined " + std::string(80, '9') + " ,Line 3");
    EXPECT_EQ(got[19], "Not defined " + std::string(40, '9') + " ,Line 3");
    EXPECT_EQ(Lines(got.begin() + 20, got.end()), (Lines{
                                                      "Const.Value expected: 4294967296 ,Line 4",
                                                      "Not defined 4294967296 ,Line 4",
                                                      "Not defined FFFFFFFFF ,Line 6",
                                                  }));
    // Leading zeros do not count against the 32 bits.
    EXPECT_EQ(CountLines(r.program, "\tldi\tFtmp1,0x0001"), 1u);
}

struct AllotCase {
    const char* name;
    Lines source;
    Lines variable; // the two loads of the variable's address
    std::string end;
};

TEST(HostileDetail, ExtremeAllotCountsWrapLikeTheTarget)
{
    const AllotCase cases[] = {
        {"twice the largest count", {"ALLOT 2147483647 ALLOT 2147483647 VARIABLE v"},
         {"\tldi\tFtmp1,0", "\tldi\tFtmp1,127"}, "Variable end: $007F"},
        {"the smallest count", {"ALLOT -2147483648 VARIABLE v"},
         {"\tldi\tFtmp1,-8388607", "\tldi\tFtmp1,-127"}, "Variable end: $80000081"},
        {"hexadecimal", {"HEX ALLOT FFFFFFFF VARIABLE v"}, {"\tldi\tFtmp1,0", "\tldi\tFtmp1,128"}, "Variable end: $0080"},
    };
    for (const auto& tc : cases) {
        const Result r = Compile(tc.source);
        ASSERT_TRUE(Completed(r)) << tc.name << ": " << r.error;
        EXPECT_EQ(SourceMessages(r), Lines{}) << tc.name;
        ASSERT_EQ(r.program.size(), 6u) << tc.name;
        EXPECT_EQ((Lines{r.program[1], r.program[3]}), tc.variable) << tc.name;
        EXPECT_EQ(r.messages.back(), tc.end) << tc.name;
    }
}

// Data that steps the next address past the largest signed one wraps like
// ALLOT does, also for the bytes of a cell and of initialised data that
// straddle it (the sanitizer build checks that nothing overflows).
TEST(HostileDetail, DataAtTheTopOfTheAddressesWraps)
{
    // 0x81 + this puts the next address on 0x7FFFFFFF.
    const std::string toTop = "ALLOT 2147483518";
    const struct {
        std::vector<std::string> source;
        std::string end; // the last message
    } cases[] = {
        {{"ALLOT 2147483646", "7 VALUE x", "DEFER d", ": main x DROP ;"}, "Variable end: $80000081"},
        {{"USE16BIT", toTop, "7 VALUE x", ": main 9 TO x x DROP ;"}, "Variable end: $80000000"},
        {{toTop, "DEFER d", ": e ; : main ['] e IS d d ;"}, "Variable end: $80000000"},
        {{toTop, "CREATE t 5 C, 6 C, 7 ,", ": main t DROP ;"}, "Variable end: $80000001"},
    };
    for (const auto& k : cases) {
        const Result r = Compile(k.source);
        ASSERT_TRUE(Completed(r)) << k.source.back() << ": " << r.error;
        EXPECT_EQ(r.messages.back(), k.end) << k.source.back();
    }
}

TEST(HostileDetail, SourceEndsInTheMiddleOfAConstruct)
{
    const struct {
        Lines source;
        Lines messages;
    } cases[] = {
        {{": x IF"}, {"Conditional not matched. Line 3"}},
        {{": x CASE"}, {"Conditional not matched. Line 3", "EndCase missing  ,Line 3"}},
        {{":"}, {}},
        // The operand is looked for on the empty line that follows the source.
        {{": x (HIGH)"}, {"Not defined  ,Line 2"}},
        {{": x ( never closed"}, {}},
        {{": x $"}, {}},
        {{": x \\\\"}, {}},
        {{"VARIABLE"}, {}},
        {{"CONSTANT"}, {"Const.Value expected:  ,Line 3"}},
        {{"CONSTANT k (LOW)"}, {"Const.Value expected:  ,Line 2"}},
        {{"ALLOT"}, {"Const.Value expected:  ,Line 2"}},
    };
    for (const auto& tc : cases) {
        const Result r = Compile(tc.source);
        ASSERT_TRUE(Completed(r)) << tc.source[0] << ": " << r.error;
        EXPECT_EQ(SourceMessages(r), tc.messages) << tc.source[0];
        EXPECT_GE(r.listing.size(), 6u) << tc.source[0];
    }
}

// --- Archives ----------------------------------------------------------------

TEST(HostileArchive, EndsInTheMiddleOfAnEntry)
{
    const Lines openDup{"$$ _TestIfZero", "\ttst\tFtmp1", "$$ DUP", "\tld\tFtmp1,Y"};
    Result r = Compile({": x DUP ;"}, {}, openDup);
    EXPECT_NE(r.error.find("DUP"), std::string::npos) << r.error;
    EXPECT_EQ(std::count(r.messages.begin(), r.messages.end(), "Compile Completed"), 0);
    // The same archive serves a source that never asks for the open entry... up to _TestIfZero, which is closed.
    r = Compile({": x ;"}, {}, openDup);
    EXPECT_TRUE(Completed(r)) << r.error;
    r = Compile({": x ;"}, {}, {"$$ _TestIfZero", "\ttst\tFtmp1"});
    EXPECT_NE(r.error.find("_TestIfZero"), std::string::npos) << r.error;
}

TEST(HostileArchive, EmptyArchive)
{
    const Result r = Compile({": x DUP ;"}, {}, {});
    EXPECT_NE(r.error.find("_TestIfZero"), std::string::npos) << r.error;
    EXPECT_EQ(r.messages, (Lines{"Not defined DUP ,Line 1"}));
}

TEST(HostileArchive, BinaryArchives)
{
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        // Noise with headers sprinkled in, so that some entries exist and some are left open.
        std::string bytes = Noise(64 * 1024, seed);
        for (std::size_t at = 0; at + 8 < bytes.size(); at += 4096)
            bytes.replace(at, 8, seed % 2 ? "\n$$ DUP\n" : "\n$$ _Tes");
        const Lines archive = mirtolan::SplitLines(bytes);
        const Result r = Compile({": x DUP DUP IF 10 0 DO LOOP THEN ;"}, {}, archive);
        EXPECT_TRUE(Completed(r) || !r.error.empty()) << seed;
    }
}

TEST(HostileArchive, MegabyteHeaderNameAndBody)
{
    const std::string name(MiB, 'n'), body(MiB, 'b');
    const Lines archive{"$$ " + name, "\tnop", "$$ _TestIfZero", "\ttst\tFtmp1", "$$ DUP", "\t" + body, "$"};
    const Result r = Compile({": x DUP ;", ": " + std::string(80, 'n') + " ;"}, {}, archive);
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(r.library, (Lines{"DUP:", "\t" + body, "\tret"}));
    EXPECT_EQ(SourceMessages(r), Lines{});
}

TEST(HostileArchive, ThousandsOfHeadersOfOneName)
{
    Lines archive{"$$ _TestIfZero", "\ttst\tFtmp1"};
    for (int i = 0; i < 100000; ++i) {
        archive.push_back("$$ dup");
        archive.push_back("\tnop " + std::to_string(i));
    }
    archive.push_back("$");
    const Result r = Compile({": x DUP DUP ;"}, {}, archive);
    ASSERT_TRUE(Completed(r)) << r.error;
    EXPECT_EQ(r.library, (Lines{"dup:", "\tnop 0", "\tret"}));
}

} // namespace
