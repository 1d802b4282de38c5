// The label filter over single lines, and the file helpers around the listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "Compiler.h"
#include "LabelFilter.h"
#include "Output.h"
#include "TextFile.h"
#include "test_support.h"

using namespace mirtolan;
using namespace mirtolan::test;

namespace {

std::string filtered(const std::string& line)
{
    Compiler c;
    c.ProgramCode.push_back(line);
    FilterLabels(c);
    return c.ProgramCode[0];
}

TEST(LabelFilter, RewritesLabelsAndCallsOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        {"1+:", "Onepls:"},
        {"\trcall\t1+", "\trcall\tOnepls"},
        {"\trjmp\t1+", "\trjmp\tOnepls"},
        {"<=:", "Lareq:"},
        {"\tZcall\t<=", "\tZcall\tLareq"},
        {"\tZjmp\t<=", "\tZjmp\tLareq"},
        {"0=:", "Zeroeq:"},
        {"\trcall\t0=", "\trcall\tZeroeq"},
        {"10+:", "One0pls:"},
        {"2*:", "Twoastrsk:"},
        {"\trcall\t2DUP", "\trcall\tTwoDUP"},
        {"9:", "Nine:"},
        {"C@:", "Cat:"},
        {"+!:", "plsstr:"},
        {"?DUP:", "QnDUP:"},
        {"*/MOD:", "astrskslshMOD:"},
        {">R:", "RarR:"},
        {"\trcall\tfoo\t; a-b", "\trcall\tfoo\t; aminusb"},
        {"\tst\t-Y,Ftmp1", "\tst\t-Y,Ftmp1"},
        {"\tcall\t1+", "\tcall\t1+"},
        {"rcall 1+", "rcall 1+"},
        {"; a-b:", "; a-b:"},
        {"", ""},
        {"\trj+", "\trj+"},
        {"\tRCALL\t1+", "\tRCALL\tOnepls"},
        {"foo:\t; x-y", "foo:\t; x-y"},
        {"  1+:", "  1pls:"},
        {"\trcall\tD2*", "\trcall\tD2astrsk"},
        {"\trcall", "\trcall"},
        {"\trcall\t\t", "\trcall\t\t"},
        {"\tbreq\t_L1", "\tbreq\t_L1"},
        {"a.b,'#$():", "adotbcommatickhashdollarlparrpar:"},
    };
    for (const auto& [before, after] : cases)
        EXPECT_EQ(filtered(before), after) << before;
}

// Every character the assembler refuses in a name is spelled there, and only
// there: comments, blanks and the operands it reads stay as they are.
TEST(LabelFilter, SpellsFurtherCharactersInNamesOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        {".:", "dot:"},
        {"U.:", "Udot:"},
        {"\trcall\tU.", "\trcall\tUdot"},
        {"\trjmp\t.R", "\trjmp\tdotR"},
        {"C,:", "Ccomma:"},
        {"<#:", "Larhash:"},
        {"\tZcall\t#>", "\tZcall\thashRar"},
        {"#S:", "hashS:"},
        {"[']:", "lbrktickrbrk:"},
        {"a&b|c^d~e:", "aampbbarccaretdtildee:"},
        {"\"x\\y;z:", "quotxbslshysemiz:"},
        {"{`}:", "lbrcbqtrbrc:"},
        {"\trcall\t1.", "\trcall\tOnedot"},
        {"Z\xE4hler:", "ZxE4hler:"},
        {"\trcall\t\x7F\xFF", "\trcall\tx7FxFF"},
        // The comment of a call keeps its semicolon; the ten symbols are
        // spelled in it as before.
        {"\trcall\t_TestIfZero \t; IF", "\trcall\t_TestIfZero \t; IF"},
        {"\trcall\tU.\t; a.b-c", "\trcall\tUdot\t; a.bminusc"},
        // Lines with blanks are no bare labels: only the ten symbols count there.
        {"\t; see it.:", "\t; see it.:"},
        {"  x.y:", "  x.y:"},
        // Brackets, colons and dollars are spelled in names too: "(.)" could never assemble.
        {"(.):", "lpardotrpar:"},
        {"\trcall\t(.)", "\trcall\tlpardotrpar"},
        {"\tZjmp\tcell(s)", "\tZjmp\tcelllparsrpar"},
        {"lo(x):", "lolparxrpar:"},
        {"a:b:", "acolonb:"},
        {"\trjmp\ta:b", "\trjmp\tacolonb"},
        {"x$y:", "xdollary:"},
        {"\trcall\tx$y\t; (x)", "\trcall\txdollary\t; (x)"},
        // Operands the assembler reads today stay: its numbers and functions,
        // and every operand of other instructions.
        {"\trjmp\t$1F00", "\trjmp\t$1F00"},
        {"\trcall\tlow(x)", "\trcall\tlow(x)"},
        {"\trjmp\tBYTE2(x)", "\trjmp\tBYTE2(x)"},
        {"\tldi\tFtmp1,'a'", "\tldi\tFtmp1,'a'"},
        {"\tldi\tr16,low(RAMEND)", "\tldi\tr16,low(RAMEND)"},
        {"\tlds\tr16,$0100", "\tlds\tr16,$0100"},
        {"table: .db (1),2", "table: .db (1),2"},
    };
    for (const auto& [before, after] : cases)
        EXPECT_EQ(filtered(before), after) << before;
}

TEST(LabelFilter, LongLinesAreRewrittenInFull)
{
    const std::string name(300, 'n');
    EXPECT_EQ(filtered("1" + name + "+:"), "One" + name + "pls:");
    EXPECT_EQ(filtered("\trcall\t" + name + "-"), "\trcall\t" + name + "minus");
    const std::string other = "\tldi\tFtmp1," + std::string(400, '+');
    EXPECT_EQ(filtered(other), other);
}

TEST(LabelFilter, SecondRunChangesNothing)
{
    Compiler c;
    for (const char* l : {"1+:", "\trcall\t0=", "*/MOD:", "\tZjmp\t<=", "\tst\t-Y,Ftmp1", "U.:", "\trcall\t#S", "\xE4:",
                          "(.):", "\trcall\tx$y"})
        c.ProgramCode.push_back(l);
    FilterLabels(c);
    const auto once = c.ProgramCode.lines();
    FilterLabels(c);
    EXPECT_EQ(c.ProgramCode.lines(), once);
}

TEST(LabelFilter, SpellDigitLooksAtOneCharacter)
{
    EXPECT_EQ(SpellDigit(1, "01"), "Zero1");
    EXPECT_EQ(SpellDigit(2, "a1b"), "aOneb");
    EXPECT_EQ(SpellDigit(1, "2x"), "Twox");
    EXPECT_EQ(SpellDigit(1, "x2"), "x2");
    EXPECT_EQ(SpellDigit(9, "short"), "short");
}

TEST(Output, AsmFileNameReplacesTheExtension)
{
    const std::pair<std::string, std::string> cases[] = {
        {"blink.4th", "blink.asm"},
        {"my.prog.4th", "my.prog.asm"},
        {"blink", "blink.asm"},
        {"C:\\proj.old\\blink", "C:\\proj.old\\blink.asm"},
        {"C:blink", "C:blink.asm"},
        {"/home/me/proj.old/blink", "/home/me/proj.old/blink.asm"},
        {"/home/me/blink.4th", "/home/me/blink.asm"},
        {"x.asm", "x.asm"},
    };
    for (const auto& [source, asmName] : cases)
        EXPECT_EQ(FormAsmFileName(source), asmName) << source;
}

TEST(TextFile, SplitsAtEveryLineEnd)
{
    const std::pair<std::string, Lines> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\n\n", {"a", ""}},
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"\r\r\n", {"", ""}},
        {"\n\r", {"", ""}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(SplitLines(text), lines);
}

TEST(TextFile, SafeWriteReplacesWholeOrNothing)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    const std::string path = dir + "/out.asm";
    WriteLinesSafely(path, {"a", "\xe9"});
    EXPECT_EQ(ReadFile(path), "a\r\n\xe9\r\n");
    WriteLinesSafely(path, {"b"});
    EXPECT_EQ(ReadFile(path), "b\r\n");
    EXPECT_THROW(WriteLinesSafely(dir + "/missing/out.asm", {"x"}), CompileError);
    // A directory we may not write: the old file stays, and no temporary is left.
    if (::geteuid() != 0) {
        ::chmod(dir.c_str(), 0555);
        EXPECT_THROW(WriteLinesSafely(path, {"c"}), CompileError);
        ::chmod(dir.c_str(), 0755);
        EXPECT_EQ(ReadFile(path), "b\r\n");
    }
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(TextFile, ReadingAMissingFileNamesIt)
{
    try {
        ReadLines("/nonexistent/dir/x.4th");
        FAIL();
    } catch (const CompileError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/x.4th"), std::string::npos);
    }
}

} // namespace
