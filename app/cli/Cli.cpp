#include "Cli.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <istream>
#include <ostream>

#include "Build.h"
#ifdef MIRTOLAN_RUN
#include "RunCli.h"
#endif
#include "Compiler.h"
#ifdef MIRTOLAN_DAP
#include "Dap.h"
#endif
#ifdef MIRTOLAN_TEST
#include "TestCli.h"
#endif
#include "Devices.h"
#include "Optimiser.h"
#include "TextFile.h"
#include "Upload.h"

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
    "       mirtolanc --test [OPTION]... SOURCE...\n"
    "Compile the Forth source SOURCE (*.4th) into AVR assembler text.\n"
    "\n"
    "  -o, --output OUT   write the listing to OUT instead of SOURCE with the\n"
    "                     extension .asm; '-' writes it to standard output\n"
    "      --archive FILE read the word archive from FILE (default: Mirtolan.arch\n"
    "                     in the current directory, else the archive shipped\n"
    "                     with the compiler)\n"
    "      --archive16 FILE  the word archive of the 16-bit cells (default:\n"
    "                     Mirtolan16.arch shipped with the compiler)\n"
    "      --zcall        write calls as Zcall/Zjmp instead of rcall/rjmp\n"
    "      --no-header    leave out the header that includes 4thHead.asm\n"
    "      --varbeg HEX   first data-memory address for variables (default: the\n"
    "                     device's first free SRAM address; 81 for the ATmega32)\n"
    "      --device NAME  the microcontroller (default atmega32); see --list-devices\n"
    "      --cells 8|16   the size of a cell (default 8); a source that says\n"
    "                     USE16BIT or USE8BIT at its top has its way\n"
    "      --opt          optimise: keep cells in registers, inline words, fold\n"
    "                     constants (faster and smaller code; see the README for\n"
    "                     what it may change for inline assembler)\n"
    "      --opt-skip STEPS  with --opt, leave out these steps (a comma-separated\n"
    "                     list of inline, registers, fold, branch, words, loops,\n"
    "                     labels, dead), to measure what each gains\n"
    "      --list-devices list the devices and their facts, then exit\n"
    "      --hex          also assemble the listing with avra into SOURCE.hex,\n"
    "                     reporting every problem at its Forth line\n"
    "      --upload       build the .hex (as --hex) and upload it with avrdude\n"
    "      --programmer ID  avrdude's programmer (default arduino: the Uno's\n"
    "                     bootloader; usbasp, avrisp2, stk500v2, ...)\n"
    "      --port PATH    the board's serial port (default: the first\n"
    "                     /dev/ttyACM* or /dev/ttyUSB* present)\n"
    "      --baud N       the upload speed (default: the programmer's, 115200\n"
    "                     for arduino)\n"
    "      --dap          debug programs on the simulated chip through the Debug\n"
    "                     Adapter Protocol on standard input and output (for\n"
    "                     editors; the program comes with the launch request)\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "A SOURCE of - is read from standard input; -o OUT is then required.\n"
    "\n"
    "The compile messages go to standard error, one per line, ending with\n"
    "\"Compile Completed\" and the \"Variable end: $\" line.\n"
    "\n"
    "Exit status: 0 compiled without messages, 1 compiled with messages,\n"
    "2 nothing written (bad arguments, archive, source or output file, or an\n"
    "output that would overwrite the source or another output).\n"
    "With --hex: 0 the .hex was written (warnings allowed), 1 no .hex because\n"
    "of problems in the source or the listing (each printed as FILE:LINE:),\n"
    "2 the build was abandoned (unknown device, avra missing, unreadable or\n"
    "unwritable files).\n"
    "With --upload: 0 uploaded and verified, 1 the upload failed (the cause and\n"
    "its remedy are printed), 2 nothing to upload (the build failed).\n"
    "Stopped by SIGINT, SIGTERM or SIGHUP during a build, run or upload, the tool\n"
    "stops its child, removes its scratch folder and ends by that signal.\n";

struct Options {
    std::string archive;
    std::string archive16;  // --archive16; empty: the shipped one
    std::string output;
    std::string source;
    std::vector<std::string> sources; // every SOURCE given; several only with --test
    std::optional<std::string> varbeg; // none: the device's default
    std::optional<std::string> device; // as given; none: the default device
    int cells = ByteCellBits; // --cells
    bool optimise = false;  // --opt
    unsigned optSkip = 0;   // --opt-skip: optimiser steps left out
    bool zcall = false;
    bool hex = false;
    bool upload = false;    // build the .hex and upload it
    std::string programmer; // avrdude's -c id; empty: the default
    std::string port;       // the board's port; empty: the first found
    unsigned baud = 0;      // avrdude's -b; 0: the programmer's default
    bool listDevices = false;
    bool dap = false;       // serve the Debug Adapter Protocol
    bool test = false;      // run the test words of the sources
    std::string junit;      // --junit FILE: the test results as JUnit XML
    bool header = true;
    bool help = false;
    bool version = false;
#ifdef MIRTOLAN_RUN
    RunCliOptions run;      // --run and its companions
#endif
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

// Serial lines end well below this; a bigger number is a typing error.
constexpr unsigned long MaxBaud = 4'000'000;

unsigned parseBaud(const std::string& text)
{
    std::size_t used = 0;
    unsigned long n = 0;
    try {
        n = std::stoul(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || n == 0 || n > MaxBaud || text[0] == '-' || text[0] == '+')
        throw UsageError{"--baud needs a speed in bits per second, not " + text};
    return unsigned(n);
}

// --test builds into a scratch folder of its own and reports in TAP: the
// options that name other outputs or another kind of run do not go with it.
void checkTestOptions(const Options& o)
{
#ifndef MIRTOLAN_TEST
    throw UsageError{"--test needs the simulator (simavr), which this mirtolanc was built without"};
#endif
    const std::pair<bool, const char*> others[] = {
        {o.hex, "--hex"}, {o.upload, "--upload"}, {o.dap, "--dap"}, {!o.output.empty(), "-o"},
        {!o.header, "--no-header"}, {o.listDevices, "--list-devices"},
#ifdef MIRTOLAN_RUN
        {o.run.run, "--run"}, {o.run.json, "--json"}, {!o.run.vcd.empty(), "--vcd"},
#endif
    };
    for (const auto& [given, name] : others)
        if (given)
            throw UsageError{std::string(name) + " does not go with --test"};
    for (const std::string& s : o.sources)
        if (s == "-")
            throw UsageError{"--test reads its sources from files, not standard input"};
}

Options parse(const std::vector<std::string>& args)
{
    Options o;
    bool sourceSeen = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
            if (!sourceSeen)
                o.source = a;
            o.sources.push_back(a);
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
        } else if (a == "--hex") {
            o.hex = true;
        } else if (a == "--upload") {
            o.upload = o.hex = true;
        } else if (auto pv = valueOf(a, "--programmer", args, i)) {
            o.programmer = *pv;
        } else if (auto po = valueOf(a, "--port", args, i)) {
            o.port = *po;
        } else if (auto bv = valueOf(a, "--baud", args, i)) {
            o.baud = parseBaud(*bv);
        } else if (a == "--opt") {
            o.optimise = true;
        } else if (auto sv = valueOf(a, "--opt-skip", args, i)) {
            const auto steps = ParseOptSteps(*sv);
            if (!steps)
                throw UsageError{"--opt-skip takes a list of inline, registers, fold, branch, words, loops, labels, dead, not " + *sv};
            o.optSkip = *steps;
        } else if (a == "--dap") {
            o.dap = true;
        } else if (a == "--test") {
            o.test = true;
        } else if (auto jv = valueOf(a, "--junit", args, i)) {
            o.junit = *jv;
        } else if (a == "--list-devices") {
            o.listDevices = true;
        } else if (auto dv = valueOf(a, "--device", args, i)) {
            if (dv->empty())
                throw UsageError{"option --device needs a device name (--list-devices lists them)"};
            o.device = *dv;
        } else if (auto cv = valueOf(a, "--cells", args, i)) {
            if (*cv != "8" && *cv != "16")
                throw UsageError{"--cells takes 8 or 16, not " + *cv};
            o.cells = *cv == "16" ? WideCellBits : ByteCellBits;
        } else if (auto v16 = valueOf(a, "--archive16", args, i)) {
            o.archive16 = *v16;
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
#ifdef MIRTOLAN_RUN
            std::string error;
            if (ParseRunOption(args, i, o.run, error)) {
                if (!error.empty())
                    throw UsageError{error};
                continue;
            }
#endif
            throw UsageError{"unknown option " + a};
        }
    }
    if (o.sources.size() > 1 && !o.test)
        throw UsageError{"only one SOURCE may be given (several go with --test)"};
    if (!o.junit.empty() && !o.test)
        throw UsageError{"--junit goes with --test"};
    if (o.test)
        checkTestOptions(o);
#ifdef MIRTOLAN_RUN
    o.hex = o.hex || o.run.run; // a run needs the .hex
    if (o.run.run && !o.header)
        throw UsageError{"--run needs the run-time header, which starts the program and sets up its stacks: leave out "
                         "--no-header"};
#endif
    if (!o.help && !o.version && !o.listDevices && !o.dap && !sourceSeen)
        throw UsageError{"no SOURCE given"};
    if (o.source == "-" && o.output.empty())
        throw UsageError{"a source read from standard input ('-') needs -o OUT"};
    if (!o.upload && (!o.programmer.empty() || !o.port.empty() || o.baud))
        throw UsageError{"--programmer, --port and --baud go with --upload"};
    if (o.hex && (o.source == "-" || o.output == "-"))
        throw UsageError{"--hex needs a source file and a listing file, not standard input or output"};
    return o;
}

// Where the shipped run-time folders lie: beside the program (build tree or
// installed tree), then the installation's data directory.
std::vector<std::string> runtimeDirs(const std::string& exeDir)
{
    namespace fs = std::filesystem;
    std::vector<std::string> dirs;
    if (!exeDir.empty())
        dirs.push_back((fs::path(exeDir) / ".." / "share" / "mirtolan").lexically_normal().string());
    if (*MIRTOLAN_INSTALL_DATADIR)
        dirs.push_back((fs::path(MIRTOLAN_INSTALL_DATADIR) / "mirtolan").string());
    return dirs;
}

// The archive asked for, else the one in the working directory, else the one
// shipped beside the program (build tree or installed tree).
std::string findArchive(const Options& o, const std::vector<std::string>& dirs)
{
    if (!o.archive.empty())
        return o.archive;
    std::error_code ec;
    if (std::filesystem::is_regular_file(ArchiveName, ec))
        return ArchiveName;
    const std::string shipped = FindRuntimeFile(dirs, ".", ArchiveName);
    return shipped.empty() ? ArchiveName : shipped; // reading it then reports the missing file by name
}

void listDevices(std::ostream& out, const std::vector<std::string>& dirs)
{
    namespace fs = std::filesystem;
    out << "device      flash    SRAM             call/jmp  UART  clock     varbeg  run-time\n";
    for (const auto& d : Devices()) {
        const std::string header = FindRuntimeFile(dirs, d.headerFolder, RuntimeHeaderName);
        const std::string folder = header.empty() ? "(not installed)" : fs::path(header).parent_path().string();
        char line[200];
        std::snprintf(line, sizeof line, "%-11s %4uK    $%04X-$%04X     %-9s %-5s %2u MHz    %-6s  %s\n",
                      std::string(d.name).c_str(), d.flashBytes / 1024, d.sramStart, d.sramEnd,
                      d.hasCallJmp ? "yes" : "no", d.hasUart ? "yes" : "no", d.clockHz / 1000000,
                      std::string(d.varStart).c_str(), folder.c_str());
        out << line;
    }
}

std::string knownDevices()
{
    std::string names;
    for (const auto& d : Devices())
        names += (names.empty() ? "" : ", ") + std::string(d.name);
    return names;
}

// What --hex, --run, --upload and --test build, from the options given.
BuildOptions buildOptions(const Options& o, const Device& device, const std::vector<std::string>& dirs)
{
    BuildOptions b;
    b.sourceFile = o.source;
    b.device = &device;
    b.varStart = o.varbeg;
    b.useZcall = o.zcall;
    b.includeHeader = o.header;
    b.archive = findArchive(o, dirs);
    b.archive16 = o.archive16;
    b.cellBits = o.cells;
    b.optimise = o.optimise;
    b.optimiseSkip = o.optSkip;
    b.runtimeDirs = dirs;
    b.listingFile = o.output;
    return b;
}

// Why the build, run or upload asked for cannot start, before anything is
// written: outputs that would overwrite the source or each other, run
// limits out of range. Empty when it can.
std::string refusal(const Options& o, const BuildOptions& b)
{
    const BuildOutputs outputs = PlannedOutputs(b);
    std::vector<NamedOutput> named{{"listing", outputs.listing}, {".hex", outputs.hex}};
#ifdef MIRTOLAN_RUN
    named.push_back({"VCD file", o.run.vcd});
    if (o.run.run) {
        std::string error;
        if (!PlanRun(o.run.options, *b.device, error))
            return error;
    }
#else
    (void)o;
#endif
    return OutputClash(b.sourceFile, named);
}

// The build to .hex: diagnostics to standard error, one per line, in the
// form editors and make understand.
int runBuild(const Options& o, const BuildOptions& b, std::ostream& out, std::ostream& err,
             const std::atomic<bool>* stop, BuildResult& r)
{
    const Device& device = *b.device;
    BuildOptions withStop = b;
    withStop.cancel = stop;
    r = BuildHex(withStop);
    for (const auto& d : r.diagnostics)
        err << d.format() << "\n";
    switch (r.status) {
    case BuildResult::Built:
        err << Program << ": wrote " << r.hexFile << " for the " << device.title << " (" << r.flashWords
            << " words of " << device.flashBytes / 2 << " in flash)\n";
#ifdef MIRTOLAN_RUN
        if (o.run.run)
            return RunAndReport(r, o.source, o.run, out, err, stop);
#else
        (void)o;
        (void)out;
#endif
        return CliClean;
    case BuildResult::Problems:
        return CliMessages;
    case BuildResult::Abandoned:
        break;
    }
    for (const auto& m : r.compileMessages)
        err << m << "\n";
    err << Program << ": error: " << r.error << "\n";
    return CliAbandoned;
}

#ifdef MIRTOLAN_TEST
int runTests(const Options& o, const Device& device, const std::vector<std::string>& dirs, std::ostream& out,
             std::ostream& err)
{
    TestCliOptions t;
    t.sources = o.sources;
    t.junit = o.junit;
    t.build = buildOptions(o, device, dirs); // the runner puts its own source, listing and .hex in
    t.run = o.run.options;
    return RunTestsCli(t, out, err);
}
#endif

// The upload after a build: what avrdude does, and a failure's cause and
// remedy, go to standard error with the build's messages.
int runUpload(const Options& o, const BuildResult& built, std::ostream& err, const std::atomic<bool>* stop)
{
    UploadOptions u;
    u.hexFile = built.hexFile;
    u.hexImage = built.hexImage;
    u.device = built.device;
    if (!o.programmer.empty())
        u.programmer = o.programmer;
    u.port = o.port;
    u.baud = o.baud;
    u.cancel = stop;
    const UploadResult r = UploadWithReport(u, err, err, Program);
    return r.ok() ? CliClean : CliMessages;
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
           std::ostream& err, const std::function<const std::atomic<bool>*()>& catchStop)
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
#ifdef MIRTOLAN_RUN
        out << "\nRunning the program in the simulator (implies --hex; exit status 3 when\n"
               "the program faulted):\n" << RunUsage;
#endif
#ifdef MIRTOLAN_TEST
        out << "\nTesting on the simulated chip (exit status 0 all passed, 1 a test failed,\n"
               "2 the build failed or bad arguments):\n" << TestUsage;
#endif
        return CliClean;
    }
    if (o.version) {
        out << Program << " " << MIRTOLAN_VERSION << "\n";
        return CliClean;
    }
    const auto dirs = runtimeDirs(exeDir);
    if (o.listDevices) {
        listDevices(out, dirs);
        return CliClean;
    }
#ifdef MIRTOLAN_DAP
    if (o.dap) {
        DapSetup setup;
        setup.runtimeDirs = dirs;
        setup.archive = findArchive(o, dirs);
        setup.optimise = o.optimise;
        return ServeDap(in, out, setup);
    }
#endif
    const Device* device = o.device ? FindDevice(*o.device) : &DefaultDevice();
    if (!device) {
        err << Program << ": error: unknown device " << *o.device << " (known: " << knownDevices() << ")\n";
        return CliAbandoned;
    }
#ifdef MIRTOLAN_TEST
    if (o.test)
        return runTests(o, *device, dirs, out, err);
#endif
    if (o.hex) {
        const BuildOptions b = buildOptions(o, *device, dirs);
        if (const std::string refused = refusal(o, b); !refused.empty()) {
            err << Program << ": error: " << refused << "\n";
            return CliAbandoned;
        }
        // From here on a child process or a scratch folder may need
        // cleaning up when the tool is told to stop.
        const std::atomic<bool>* stop = catchStop ? catchStop() : nullptr;
        BuildResult built;
        const int status = runBuild(o, b, out, err, stop, built);
        if (!o.upload)
            return status;
        if (status != CliClean)
            return CliAbandoned; // nothing to upload
        return runUpload(o, built, err, stop);
    }

    Compiler c;
    c.UseZcall = o.zcall;
    c.IncludeHeader = o.header;
    c.CellBits = o.cells;
    c.Optimise = o.optimise;
    c.OptimiseSkip = o.optSkip;
    c.VarStart = o.varbeg.value_or(std::string(device->varStart));
    c.SourceFileName = o.source;
    const bool toStdout = o.output == "-";
    c.WriteListing = !toStdout;
    if (!toStdout)
        c.OutputFile = o.output;
    try {
        // A chosen device brings its own words (its registers).
        LoadArchives(c, findArchive(o, dirs), o.archive16, dirs, o.device ? device : nullptr);
        if (o.source == "-") {
            CompileSource(c, SplitLineList(readAll(in)));
        } else {
            // Read as the compile goes, so the source is never held whole.
            FileSource source(o.source);
            CompileSource(c, source);
        }
    } catch (const CompileError& e) {
        // What the source raised before the failure stays, as the window keeps it.
        for (const auto& m : c.Messages)
            err << m << "\n";
        err << Program << ": error: " << e.what() << "\n";
        return CliAbandoned;
    } catch (const std::bad_alloc&) {
        for (const auto& m : c.Messages)
            err << m << "\n";
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
