// The command-line tool as scripts see it: exit status, standard error, files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

#include "test_support.h"

using namespace mirtolan::test;
namespace fs = std::filesystem;

namespace {

struct CliRun {
    int status = -1;
    std::string out, err;
};

// Runs mirtolanc in `dir` with the arguments (already shell-quoted where needed).
CliRun mirtolanc(const std::string& dir, const std::string& args)
{
    const std::string outFile = dir + "/.stdout", errFile = dir + "/.stderr";
    const std::string cmd = "cd '" + dir + "' && '" MIRTOLANC_PATH "' " + args + " >'" + outFile + "' 2>'" + errFile + "'";
    const int raw = std::system(cmd.c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(outFile);
    r.err = ReadFile(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return r;
}

const std::string Archive = "$$ _TestIfZero\r\n\ttst\tFtmp1\r\n$$ DUP\n\tld\tFtmp1,Y\n\tst\t-Y,Ftmp1\r$\n";

TempDir project(const std::string& source)
{
    TempDir tmp;
    const std::string& dir = tmp.path();
    WriteFile(dir + "/Mirtolan.arch", Archive);
    WriteFile(dir + "/prog.4th", source);
    return tmp;
}

int lineCount(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

TEST(Cli, CleanCompileWritesTheAsmBesideTheSource)
{
    const TempDir tmp = project(": a dup ;\n");
    const std::string& dir = tmp.path();
    const CliRun r = mirtolanc(dir, "prog.4th");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Compile Completed\nVariable end: $0080\n");
    const std::string asmText = ReadFile(dir + "/prog.asm");
    EXPECT_EQ(asmText.substr(0, 31), "; Mirtolan compiler Apr. 2001\r\n");
    EXPECT_NE(asmText.find("\r\nDUP:\r\n\tld\tFtmp1,Y\r\n\tst\t-Y,Ftmp1\r\n\tret\r\n_TestIfZero:\r\n"), std::string::npos);
    EXPECT_EQ(asmText.substr(asmText.size() - 15), "a:\r\n\trjmp\tDUP\r\n");
}

TEST(Cli, MessagesGiveStatusOne)
{
    const TempDir tmp = project(": a frob ;\nTHEN\n");
    const std::string& dir = tmp.path();
    const CliRun r = mirtolanc(dir, "--no-header --zcall --varbeg 1A0 prog.4th");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Not defined frob ,Line 1\nNot defined THEN ,Line 2\nCompile Completed\nVariable end: $019F\n");
    EXPECT_EQ(ReadFile(dir + "/prog.asm").substr(0, 8), ";*******");
}

TEST(Cli, OutputOptions)
{
    const TempDir tmp = project(": a dup ;\n");
    const std::string& dir = tmp.path();
    CliRun r = mirtolanc(dir, "-o - prog.4th");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(fs::exists(dir + "/prog.asm"));
    EXPECT_EQ(r.out.substr(r.out.size() - 15), "a:\r\n\trjmp\tDUP\r\n");
    r = mirtolanc(dir, "-o other.s prog.4th");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(dir + "/other.s"));
    r = mirtolanc(dir, "--output=third.s - < prog.4th");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(dir + "/third.s"), ReadFile(dir + "/other.s"));
}

TEST(Cli, ArchiveIsFoundExplicitlyOrShipped)
{
    const TempDir tmp = project(": a dup ;\n");
    const std::string& dir = tmp.path();
    fs::rename(dir + "/Mirtolan.arch", dir + "/mine.arch");
    EXPECT_EQ(mirtolanc(dir, "--archive mine.arch prog.4th").status, 0);
    // Without one in the working directory, the archive shipped with the tool is used when there is one.
    const CliRun r = mirtolanc(dir, "prog.4th");
    const bool shipped = fs::exists(fs::path(MIRTOLANC_PATH).parent_path() / "../share/mirtolan/Mirtolan.arch");
    EXPECT_EQ(r.status == 2, !shipped) << r.err;
}

TEST(Cli, AbandonedCompilesWriteNothingAndSayWhy)
{
    const struct {
        const char* name;
        std::string archive;
        std::string source;
        std::string args;
        std::string cause;
    } cases[] = {
        {"bad varbeg", Archive, ": a ;", "--varbeg xyz prog.4th", "'$xyz'"},
        {"missing archive", "", ": a ;", "--archive none.arch prog.4th", "none.arch"},
        {"no _TestIfZero", "$$ DUP\n$\n", ": a ;", "prog.4th", "_TestIfZero"},
        {"no DO", Archive, ": a DO ;", "prog.4th", "DO"},
        {"unclosed entry", "$$ _TestIfZero\n\ttst\n", ": a ;", "prog.4th", "_TestIfZero"},
        {"unreadable source", Archive, ": a ;", "absent.4th", "absent.4th"},
        {"unwritable output", Archive, ": a ;", "-o no/such/dir/out.asm prog.4th", "no/such/dir/out.asm"},
        {"unknown option", Archive, ": a ;", "--frobnicate prog.4th", "--frobnicate"},
        {"unknown optimiser step", Archive, ": a ;", "--opt --opt-skip inline,frob prog.4th", "inline,frob"},
        {"no source", Archive, ": a ;", "", "SOURCE"},
    };
    for (const auto& tc : cases) {
        const TempDir tmp;
        const std::string& dir = tmp.path();
        if (!tc.archive.empty())
            WriteFile(dir + "/Mirtolan.arch", tc.archive);
        WriteFile(dir + "/prog.4th", tc.source);
        WriteFile(dir + "/prog.asm", "old listing");
        const CliRun r = mirtolanc(dir, tc.args);
        EXPECT_EQ(r.status, 2) << tc.name;
        EXPECT_NE(r.err.find(tc.cause), std::string::npos) << tc.name << ": " << r.err;
        EXPECT_EQ(r.err.find("Compile Completed"), std::string::npos) << tc.name;
        EXPECT_EQ(ReadFile(dir + "/prog.asm"), "old listing") << tc.name;
    }
}

TEST(Cli, SourceNamedAsmIsNotOverwritten)
{
    const TempDir tmp = project("");
    const std::string& dir = tmp.path();
    WriteFile(dir + "/x.asm", ": a ;\n");
    const CliRun r = mirtolanc(dir, "x.asm");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(lineCount(r.err), 1);
    EXPECT_EQ(ReadFile(dir + "/x.asm"), ": a ;\n");
}

TEST(Cli, MessagesBeforeAnAbandonedCompileAreKept)
{
    const TempDir tmp = project(": a frob DO ;\n");
    const std::string& dir = tmp.path();
    const CliRun r = mirtolanc(dir, "prog.4th");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("Not defined frob ,Line 1\nmirtolanc: error: ", 0), 0u) << r.err;
    EXPECT_EQ(lineCount(r.err), 2);
}

TEST(Cli, DevicesChooseTheVariableStart)
{
    const TempDir tmp = project("VARIABLE v\n");
    const std::string& dir = tmp.path();
    const struct {
        std::string args;
        int status;
        std::string err;
    } cases[] = {
        {"prog.4th", 0, "Compile Completed\nVariable end: $0081\n"},
        {"--device atmega32 prog.4th", 0, "Compile Completed\nVariable end: $0081\n"},
        {"--device atmega328p prog.4th", 0, "Compile Completed\nVariable end: $0100\n"},
        {"--device ATmega328P --varbeg 200 prog.4th", 0, "Compile Completed\nVariable end: $0200\n"},
        {"--device m2560 prog.4th", 0, "Compile Completed\nVariable end: $0200\n"},
        {"--device atmega99 prog.4th", 2, "mirtolanc: error: unknown device atmega99 (known: atmega32, atmega328p, "
                                          "atmega2560, atmega644, atmega168, attiny85)\n"},
    };
    for (const auto& c : cases) {
        const CliRun r = mirtolanc(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    const CliRun list = mirtolanc(dir, "--list-devices");
    EXPECT_EQ(list.status, 0);
    for (const char* name : {"atmega32 ", "atmega328p", "atmega2560", "atmega644", "atmega168", "attiny85"})
        EXPECT_NE(list.out.find(name), std::string::npos) << name;
}

TEST(Cli, HexBuildStatuses)
{
    const std::string shipped = "--archive '" MIRTOLAN_SOURCE_DIR "/runtime/Mirtolan.arch' ";
    const struct {
        std::string source;
        std::string args;
        int status;
        std::string err; // what standard error must contain
        bool hex;        // a .hex is written
    } cases[] = {
        {": main 1 DROP ;\n", "--device atmega328p --hex prog.4th", 0, "wrote prog.hex for the ATmega328P", true},
        {": c CASE 1 OF 2 ENDOF 7 ENDCASE ;\n: main 1 c ;\n", "--hex prog.4th", 0,
         "prog.4th:1: warning: the case constant '7'", true},
        {": main 300 DROP ;\n", "--hex prog.4th", 1, "prog.4th:1: error: the literal 300 does not fit a cell", false},
        {": main frob ;\n", "--device atmega328p --hex prog.4th", 1, "prog.4th:1: error: 'frob' is not defined", false},
        {": start ;\n", "--hex prog.4th", 1, "prog.4th: error: the program has no word main", false},
        {": main ;\n", "--hex -o - prog.4th", 2, "--hex needs a source file", false},
        {": main ;\n", "--hex absent.4th", 2, "absent.4th", false},
    };
    for (const auto& c : cases) {
        const TempDir tmp;
        const std::string& dir = tmp.path();
        WriteFile(dir + "/prog.4th", c.source);
        const CliRun r = mirtolanc(dir, shipped + c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(fs::exists(dir + "/prog.hex"), c.hex) << c.args;
    }
}

// Outputs that would overwrite the source or each other are refused before
// anything is written.
TEST(Cli, OutputsThatWouldOverwriteAreRefused)
{
    const std::string shipped = "--archive '" MIRTOLAN_SOURCE_DIR "/runtime/Mirtolan.arch' ";
    const struct {
        const char* source; // the source's file name
        std::string args;
        std::string says;
    } cases[] = {
        {"prog.hex", "--hex prog.hex", "the .hex prog.hex would overwrite the source prog.hex"},
        {"prog.4th", "-o x.hex --hex prog.4th", "the listing and the .hex would both be written to x.hex"},
        {"prog.4th", "-o prog.4th --hex prog.4th", "the listing prog.4th would overwrite the source prog.4th"},
        {"prog.4th", "--device '' prog.4th", "option --device needs a device name"},
    };
    for (const auto& c : cases) {
        const TempDir tmp;
        WriteFile(tmp / c.source, ": main ;\n");
        const CliRun r = mirtolanc(tmp.path(), shipped + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(ReadFile(tmp / c.source), ": main ;\n") << c.args;
        EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1) << c.args;
    }
}

// A header or an include file of the user's own, beside the source, is
// found however the source is named.
TEST(Cli, FilesBesideTheSourceAreFoundFromAnywhere)
{
    const std::string shipped = "--archive '" MIRTOLAN_SOURCE_DIR "/runtime/Mirtolan.arch' ";
    const TempDir tmp;
    fs::create_directory(tmp / "sub");
    const std::string header = ReadFile(MIRTOLAN_SHARE_DIR "/4thHead.asm");
    for (const std::string& dir : {tmp.path(), tmp / "sub"}) {
        WriteFile(dir + "/4thHead.asm", header + ".equ OWN = 5\n");
        WriteFile(dir + "/extra.inc", ".equ EXTRA = 3\n");
        WriteFile(dir + "/prog.4th", "$.include \"extra.inc\"\n: main\n$ ldi r16,OWN+EXTRA\n;\n");
    }
    for (const char* args : {"--hex prog.4th", "--hex ./prog.4th", "--hex sub/prog.4th", "--hex sub/../prog.4th"}) {
        const CliRun r = mirtolanc(tmp.path(), shipped + args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    }
    EXPECT_TRUE(fs::exists(tmp / "sub/prog.hex"));
}

TEST(Cli, HelpAndVersion)
{
    const TempDir tmp;
    const std::string& dir = tmp.path();
    CliRun r = mirtolanc(dir, "--help");
    EXPECT_EQ(r.status, 0);
    for (const char* flag : {"--archive", "--zcall", "--no-header", "--varbeg", "-o", "--version", "--device",
                             "--list-devices", "--hex", "Exit status"})
        EXPECT_NE(r.out.find(flag), std::string::npos) << flag;
    r = mirtolanc(dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("mirtolanc ", 0), 0u);
}

} // namespace
