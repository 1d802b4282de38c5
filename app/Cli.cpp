#include "Cli.h"

#include <filesystem>
#include <optional>
#include <istream>
#include <ostream>

#include "Compiler.h"
#include "TextFile.h"

#ifndef MIRTOLAN_VERSION
#define MIRTOLAN_VERSION "unknown"
#endif
#ifndef MIRTOLAN_INSTALL_DATADIR
#define MIRTOLAN_INSTALL_DATADIR ""
#endif

namespace mirtolan {

namespace {

constexpr const char* Program = "mirtolanc";
constexpr const char* ArchiveName = "Mirtolan.arch";

constexpr const char* Usage =
    "Usage: mirtolanc [OPTION]... SOURCE\n"
    "Compile the Forth source SOURCE (*.4th) into AVR assembler text.\n"
    "\n"
    "  -o, --output OUT   write the listing to OUT instead of SOURCE with the\n"
    "                     extension .asm; '-' writes it to standard output\n"
    "      --archive FILE read the word archive from FILE (default: Mirtolan.arch\n"
    "                     in the current directory, else the archive shipped\n"
    "                     with the compiler)\n"
    "      --zcall        write calls as Zcall/Zjmp instead of rcall/rjmp\n"
    "      --no-header    leave out the header that includes 4thHead.asm\n"
    "      --varbeg HEX   first data-memory address for variables (default 81)\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "A SOURCE of - is read from standard input; -o OUT is then required.\n"
    "\n"
    "The compile messages go to standard error, one per line, ending with\n"
    "\"Compile Completed\" and the \"Variable end: $\" line.\n"
    "\n"
    "Exit status: 0 compiled without messages, 1 compiled with messages,\n"
    "2 nothing written (bad arguments, archive, source or output file).\n";

struct Options {
    std::string archive;
    std::string output;
    std::string source;
    std::string varbeg = "81";
    bool zcall = false;
    bool header = true;
    bool help = false;
    bool version = false;
};

struct UsageError {
    std::string text;
};

// Reads "--name VALUE" or "--name=VALUE".
std::optional<std::string> valueOf(const std::string& arg, const std::string& name, const std::vector<std::string>& args,
                                   std::size_t& i)
{
    if (arg == name) {
        if (i + 1 >= args.size())
            throw UsageError{"option " + name + " needs a value"};
        return args[++i];
    }
    if (arg.rfind(name + "=", 0) == 0)
        return arg.substr(name.size() + 1);
    return std::nullopt;
}

Options parse(const std::vector<std::string>& args)
{
    Options o;
    bool sourceSeen = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
            if (sourceSeen)
                throw UsageError{"only one SOURCE may be given"};
            o.source = a;
            sourceSeen = true;
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--zcall") {
            o.zcall = true;
        } else if (a == "--no-header") {
            o.header = false;
        } else if (auto v = valueOf(a, "--archive", args, i)) {
            o.archive = *v;
        } else if (auto v2 = valueOf(a, "--varbeg", args, i)) {
            o.varbeg = *v2;
        } else if (auto v3 = valueOf(a, "--output", args, i)) {
            o.output = *v3;
        } else if (a == "-o") {
            if (i + 1 >= args.size())
                throw UsageError{"option -o needs a value"};
            o.output = args[++i];
        } else if (a.rfind("-o", 0) == 0) {
            o.output = a.substr(2);
        } else {
            throw UsageError{"unknown option " + a};
        }
    }
    if (!o.help && !o.version && !sourceSeen)
        throw UsageError{"no SOURCE given"};
    if (o.source == "-" && o.output.empty())
        throw UsageError{"a source read from standard input ('-') needs -o OUT"};
    return o;
}

// The archive asked for, else the one in the working directory, else the one
// shipped beside the program (build tree or installed tree).
std::string findArchive(const Options& o, const std::string& exeDir)
{
    namespace fs = std::filesystem;
    if (!o.archive.empty())
        return o.archive;
    std::error_code ec;
    std::vector<fs::path> candidates{ArchiveName};
    if (!exeDir.empty())
        candidates.push_back(fs::path(exeDir) / ".." / "share" / "mirtolan" / ArchiveName);
    if (*MIRTOLAN_INSTALL_DATADIR)
        candidates.push_back(fs::path(MIRTOLAN_INSTALL_DATADIR) / "mirtolan" / ArchiveName);
    for (const auto& p : candidates)
        if (fs::is_regular_file(p, ec))
            return p.lexically_normal().string();
    return ArchiveName; // reading it then reports the missing file by name
}

std::string readAll(std::istream& in)
{
    std::string bytes;
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0)
        bytes.append(buf, std::size_t(in.gcount()));
    return bytes;
}

} // namespace

int RunCli(const std::vector<std::string>& args, const std::string& exeDir, std::istream& in, std::ostream& out,
           std::ostream& err)
{
    Options o;
    try {
        o = parse(args);
    } catch (const UsageError& e) {
        err << Program << ": " << e.text << "\nTry 'mirtolanc --help' for more information.\n";
        return CliAbandoned;
    }
    if (o.help) {
        out << Usage;
        return CliClean;
    }
    if (o.version) {
        out << Program << " " << MIRTOLAN_VERSION << "\n";
        return CliClean;
    }

    Compiler c;
    c.UseZcall = o.zcall;
    c.IncludeHeader = o.header;
    c.VarStart = o.varbeg;
    c.SourceFileName = o.source;
    const bool toStdout = o.output == "-";
    c.WriteListing = !toStdout;
    // The tool never shows the listing, so the program goes to disk as it is made.
    c.SpillProgram = !toStdout;
    if (!toStdout)
        c.OutputFile = o.output;
    try {
        ReadArchFile(c, findArchive(o, exeDir));
        if (o.source == "-") {
            CompileSource(c, SplitLineList(readAll(in)));
        } else {
            // Read as the compile goes, so the source is never held whole.
            FileSource source(o.source);
            CompileSource(c, source);
        }
    } catch (const CompileError& e) {
        err << Program << ": error: " << e.what() << "\n";
        return CliAbandoned;
    } catch (const std::bad_alloc&) {
        err << Program << ": error: out of memory\n";
        return CliAbandoned;
    }
    if (toStdout)
        out << c.Listing.text() << std::flush;
    for (const auto& m : c.Messages)
        err << m << "\n";
    return SourceMessageCount(c) == 0 ? CliClean : CliMessages;
}

} // namespace mirtolan
