// End-to-end check of the shipped run-time: each case of a case file is
// compiled with mirtolanc, assembled with avra, run in simavr, and what it
// left on the data stack and in its variables, and sent on UART0, is
// compared with the case.
//
//   mirtolan_simtest --compiler EXE [--cells 8|16] [--archive FILE] [--extra-archive FILE]...
//                    [--every-word-of FILE] --header-dir DIR --mcu CORE --device NAME
//                    --varbeg HEX --work DIR [--source-dir DIR] [--group NAME] [--only CASE]
//                    [--opt] CASEFILE
//
// Case file: "### name" starts a case; its source lines follow; lines that
// begin with ">>> " set what the case expects (see ParseDirective). Extra
// archives (a device's register words) are read after the main one;
// --every-word-of adds a case that runs every word of such an archive.
// With --cells 16 the programs are compiled in 16-bit cells (the compiler
// then takes the shipped 16-bit archives of the device, found through
// --device), and the expected stacks are read as 16-bit cells. With --opt
// they are compiled by the optimiser, and must leave exactly the same.
//
//   mirtolan_simtest --coverage [--cells 8|16] --archive FILE [--cover-device NAME=HEADERDIR]...
//                    [--source-dir DIR] CASEFILE
//
// checks instead that the cases run every word of the archive on every
// device that supports it, and show the build stopping on every other.
//
//   mirtolan_simtest --check-stacks-with FORTHFILE [--cells 8|16] --work DIR CASEFILE
//
// runs a gforth program that prints "case: cells" lines and compares them
// with those cases' expected stacks in that cell size.
//
//   mirtolan_simtest --wordref FILE [--check] --archive FILE [--archive16 FILE] --header-dir DIR
//                    --work DIR [--device TITLE] [--cover-device NAME=HEADERDIR]...
//
// writes the word reference made from the archives' doc lines, or checks
// that FILE holds it.

#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "AvrRun.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Long enough for every case program; the blink examples run into it on purpose.
constexpr std::uint64_t DefaultCycleLimit = 2'000'000;
constexpr const char* CaseMark = "### ";
constexpr const char* DirectiveMark = ">>> ";

// The two cell sizes a case runs in.
constexpr int ByteCells = 8;
constexpr int WideCells = 16;

struct Case {
    std::string name;
    int line = 0;                 // where the case starts, for reports
    std::vector<std::string> source;
    std::vector<std::string> sourceFiles; // compile these files, joined in order, instead of the lines
    std::vector<std::string> compilerArgs;
    std::vector<std::string> devices; // empty: every device
    std::vector<int> cellSizes;   // the cell sizes the case runs in; empty: both
    std::string group;            // empty: the default run
    std::vector<long> stack;      // cells, bottom first, each masked to the cell size
    std::vector<int> vars;        // bytes from the variable start up
    std::uint64_t cycles = DefaultCycleLimit;
    simtest::Ending ending = simtest::Ending::Slept;
    std::optional<std::uint16_t> watch;
    bool watchFromVars = false;   // watch is an offset from the variable start
    long watchMin = 0;
    std::optional<std::string> uart; // the text the program sends on UART0
    std::string uartInput;        // bytes for UART0's receiver
    std::string buildError;       // the build must fail with this text
    double elapsedSeconds = 0;    // time between the first two changes of the watched byte
};

// Clock tolerance of MS and US, and of the elapsed directive that checks them.
constexpr double ElapsedTolerance = 0.01;

struct Options {
    std::string compiler, archive, headerDir, mcu, device, varbeg, work, sourceDir, only, group, caseFile;
    std::string archive16; // the 16-bit archive, for the word reference
    int cells = ByteCells; // the cell size the cases are compiled and read in
    std::vector<std::string> extraArchives; // device archives appended to the main one
    std::vector<std::string> coverageDevices; // NAME=HEADERDIR pairs the coverage check covers
    std::string wordRef;   // write the word reference here instead of running cases
    std::string everyWordOf; // an archive whose every word one more case uses
    std::string gforthCheck; // a gforth program printing "case: cells" lines to compare with the cases
    bool coverage = false; // only check that the cases use every archive word
    bool check = false;    // with wordRef: compare instead of writing
    bool optimise = false; // every case is compiled with --opt too
};

// Turns the escapes \n \r \s \\ of a uart or input directive into bytes.
std::string unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 's' ? ' ' : e;
    }
    return out;
}

std::vector<std::string> splitWords(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool parseInt(const std::string& text, int base, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, base);
    return end && *end == '\0';
}

// Values from words[1] on that fit `bits` bits, written signed or not
// (-1 is 255 in a byte), masked to those bits.
template <typename T>
bool parseValues(const std::vector<std::string>& words, int bits, std::vector<T>& out)
{
    const long mask = (1L << bits) - 1;
    for (std::size_t i = 1; i < words.size(); ++i) {
        long v = 0;
        if (!parseInt(words[i], 10, v) || v < -(1L << (bits - 1)) || v > mask)
            return false;
        out.push_back(T(v & mask));
    }
    return true;
}

bool parseBytes(const std::vector<std::string>& words, std::vector<int>& out)
{
    return parseValues(words, ByteCells, out);
}

// Directives: stack V..., vars V..., option ARG..., device NAME...,
// cells 8|16, file PATH... group NAME, cycles N, ending slept|limit, watch
// HEXADDR|var[+K] MINCHANGES, elapsed N ms|us, uart TEXT, input TEXT, error
// TEXT (the head of cases.txt says what each means). Stacks are read in
// cells of `cellBits`.
bool ParseDirective(Case& c, const std::string& text, int cellBits)
{
    const auto words = splitWords(text);
    if (words.empty())
        return false;
    const std::string& key = words[0];
    long v = 0;
    if (key == "stack")
        return parseValues(words, cellBits, c.stack);
    if (key == "vars")
        return parseBytes(words, c.vars);
    if (key == "cells") {
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i] != "8" && words[i] != "16")
                return false;
            c.cellSizes.push_back(words[i] == "8" ? ByteCells : WideCells);
        }
        return words.size() > 1;
    }
    if (key == "option") {
        c.compilerArgs.insert(c.compilerArgs.end(), words.begin() + 1, words.end());
        return true;
    }
    if (key == "device") {
        c.devices.insert(c.devices.end(), words.begin() + 1, words.end());
        return true;
    }
    if (key == "group" && words.size() == 2) {
        c.group = words[1];
        return true;
    }
    if (key == "file" && words.size() >= 2) {
        c.sourceFiles.assign(words.begin() + 1, words.end());
        return true;
    }
    if (key == "cycles" && words.size() == 2 && parseInt(words[1], 10, v) && v > 0) {
        c.cycles = std::uint64_t(v);
        return true;
    }
    if (key == "ending" && words.size() == 2) {
        if (words[1] == "slept")
            c.ending = simtest::Ending::Slept;
        else if (words[1] == "limit")
            c.ending = simtest::Ending::CycleLimit;
        else
            return false;
        return true;
    }
    if (key == "watch" && words.size() == 3 && words[1].rfind("var", 0) == 0) {
        // var or var+N: relative to the variable start, which differs by device
        v = 0;
        if (words[1].size() > 3 && !(words[1][3] == '+' && parseInt(words[1].substr(4), 10, v)))
            return false;
        c.watch = std::uint16_t(v);
        c.watchFromVars = true;
        return parseInt(words[2], 10, c.watchMin);
    }
    if (key == "watch" && words.size() == 3 && parseInt(words[1], 16, v) && v >= 0 && v <= 0xFFFF) {
        c.watch = std::uint16_t(v);
        return parseInt(words[2], 10, c.watchMin);
    }
    // The text directives keep their blanks: everything after the key counts.
    const std::string rest = text.size() > key.size() ? text.substr(key.size() + 1) : "";
    if (key == "uart") {
        c.uart = c.uart.value_or("") + unescape(rest);
        return true;
    }
    if (key == "input") {
        c.uartInput += unescape(rest);
        return true;
    }
    if (key == "error" && !rest.empty()) {
        c.buildError = rest;
        return true;
    }
    if (key == "elapsed" && words.size() == 3 && parseInt(words[1], 10, v) && v > 0 &&
        (words[2] == "ms" || words[2] == "us")) {
        c.elapsedSeconds = double(v) / (words[2] == "ms" ? 1e3 : 1e6);
        return true;
    }
    return false;
}

bool forCells(const Case& c, int cellBits)
{
    return c.cellSizes.empty() ||
           std::find(c.cellSizes.begin(), c.cellSizes.end(), cellBits) != c.cellSizes.end();
}

// The directives that a case may give for one cell size alone, by a key
// with the size after it ("stack16 300"): in a run of that size they take
// the place of the same key's plain lines, in the other they are ignored.
constexpr std::array<std::string_view, 6> SizedKeys{"stack", "vars", "uart", "error", "device", "option"};

struct DirectiveLine {
    int line = 0;       // in the case file, for reports
    std::string text;   // after the ">>> " mark
};

// Splits "stack16" into "stack" and 16; a key without a size gets 0.
std::pair<std::string, int> sizedKey(const std::string& key)
{
    for (const auto size : {WideCells, ByteCells}) {
        const std::string suffix = std::to_string(size);
        for (const auto base : SizedKeys)
            if (key == std::string(base) + suffix)
                return {std::string(base), size};
    }
    return {key, 0};
}

// Applies a case's directives for a run in cells of `cellBits`; the lines
// for the other size are parsed too, so that a mistake in them shows.
bool applyDirectives(Case& c, const std::vector<DirectiveLine>& lines, int cellBits, const std::string& path)
{
    // A case of one cell size alone reads its plain lines in that size,
    // also in a run of the other size, which it skips.
    Case sizes;
    for (const auto& d : lines)
        if (d.text.rfind("cells ", 0) == 0)
            ParseDirective(sizes, d.text, cellBits);
    if (!forCells(sizes, cellBits))
        cellBits = sizes.cellSizes.front();
    std::set<std::string> sized; // keys this size gives its own lines for
    for (const auto& d : lines) {
        const auto words = splitWords(d.text);
        if (!words.empty())
            if (const auto [base, size] = sizedKey(words[0]); size == cellBits)
                sized.insert(base);
    }
    bool ok = true;
    for (const auto& d : lines) {
        const auto words = splitWords(d.text);
        const auto [base, size] = sizedKey(words.empty() ? "" : words[0]);
        const std::string text = size ? base + d.text.substr(d.text.find(words[0]) + words[0].size()) : d.text;
        Case scratch;
        const bool applies = size ? size == cellBits : !sized.count(base);
        if (!ParseDirective(applies ? c : scratch, text, size ? size : cellBits)) {
            std::cerr << path << ":" << d.line << ": bad directive: " << DirectiveMark << d.text << "\n";
            ok = false;
        }
    }
    return ok;
}

bool readCases(const std::string& path, int cellBits, std::vector<Case>& cases)
{
    std::ifstream in(path);
    if (!in) {
        std::cerr << "cannot read " << path << "\n";
        return false;
    }
    std::string line;
    int lineNo = 0;
    bool ok = true;
    std::vector<DirectiveLine> directives; // of the case being read
    auto finishCase = [&] {
        if (!cases.empty() && !applyDirectives(cases.back(), directives, cellBits, path))
            ok = false;
        directives.clear();
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(CaseMark, 0) == 0) {
            finishCase();
            Case c;
            c.name = line.substr(std::string(CaseMark).size());
            c.line = lineNo;
            // The name becomes a directory of the work tree.
            const bool plain = !c.name.empty() && c.name.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") == std::string::npos;
            if (!plain) {
                std::cerr << path << ":" << lineNo << ": case names take letters, digits, _ and -\n";
                ok = false;
            }
            cases.push_back(c);
        } else if (cases.empty()) {
            continue; // the file's own comments
        } else if (line.rfind(DirectiveMark, 0) == 0) {
            directives.push_back({lineNo, line.substr(std::string(DirectiveMark).size())});
        } else {
            cases.back().source.push_back(line);
        }
    }
    finishCase();
    return ok;
}

// Runs a tool without a shell, its output going to a log file.
int runTool(const std::vector<std::string>& args, const std::string& logPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A tool's log, without avra's notes about the PRAGMA lines of its own
// device definitions, which would bury the real message.
std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::string text;
    for (std::string line; std::getline(in, line);)
        if (line.find("PRAGMA") == std::string::npos)
            text += line + "\n";
    return text;
}

std::string bytesText(const std::vector<std::uint8_t>& bytes)
{
    std::string s;
    for (auto b : bytes)
        s += (s.empty() ? "" : " ") + std::to_string(b);
    return "[" + s + "]";
}

std::string bytesText(const std::vector<int>& values)
{
    return bytesText(std::vector<std::uint8_t>(values.begin(), values.end()));
}

std::string cellsText(const std::vector<long>& cells)
{
    std::string s;
    for (auto v : cells)
        s += (s.empty() ? "" : " ") + std::to_string(v);
    return "[" + s + "]";
}

// The data stack's bytes, bottom first, as cells of `cellBits`: a 16-bit
// cell lies low byte first, so bottom first its high byte comes first.
std::optional<std::vector<long>> stackCells(const std::vector<std::uint8_t>& bytes, int cellBits)
{
    const std::size_t width = std::size_t(cellBits / 8);
    if (bytes.size() % width)
        return std::nullopt;
    std::vector<long> cells;
    for (std::size_t i = 0; i < bytes.size(); i += width) {
        long v = 0;
        for (std::size_t k = 0; k < width; ++k)
            v = v << 8 | bytes[i + k];
        cells.push_back(v);
    }
    return cells;
}


bool forDevice(const Case& c, const std::string& device)
{
    if (c.devices.empty())
        return true;
    for (const auto& d : c.devices)
        if (d == device)
            return true;
    return false;
}

// The cycles between the first two changes of the watched byte; when it
// changes a third time, the second gap is a baseline (the same code with
// nothing to wait for) and is taken off, so only the wait itself counts.
double measuredTime(const std::vector<std::uint64_t>& changes)
{
    const double first = double(changes[1] - changes[0]);
    return changes.size() > 2 ? first - double(changes[2] - changes[1]) : first;
}

std::string escaped(const std::string& text)
{
    std::string out;
    for (char ch : text)
        out += ch == '\n' ? "\\n" : ch == '\r' ? "\\r" : std::string(1, ch);
    return out;
}

// The main archive followed by the device's own, as one file: the compiler
// reads one, and the first header of a name wins. Returns false when a part
// cannot be read.
bool joinArchives(Options& o)
{
    if (o.extraArchives.empty())
        return true;
    std::error_code ec;
    fs::create_directories(o.work, ec);
    const std::string joined = (fs::path(o.work) / "archive.arch").string();
    std::ofstream out(joined, std::ios::binary);
    std::vector<std::string> parts{o.archive};
    parts.insert(parts.end(), o.extraArchives.begin(), o.extraArchives.end());
    for (const auto& part : parts) {
        std::ifstream in(part, std::ios::binary);
        if (!in) {
            std::cerr << "cannot read " << part << "\n";
            return false;
        }
        out << in.rdbuf();
    }
    o.archive = joined;
    return bool(out);
}

// Returns the failure text, empty when the case passes.
std::string runCase(const Case& c, const Options& o)
{
    const fs::path dir = fs::path(o.work) / c.name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    if (ec)
        return "cannot create " + dir.string();
    const std::string base = (dir / "prog").string();
    std::string source = base + ".4th";
    if (c.sourceFiles.size() == 1) {
        source = (fs::path(o.sourceDir) / c.sourceFiles.front()).string();
    } else {
        // The lines of the case, or its files one after another, as --test joins them.
        std::ofstream out(source, std::ios::binary);
        for (const auto& l : c.source)
            out << l << "\n";
        for (const auto& f : c.sourceFiles) {
            std::ifstream in(fs::path(o.sourceDir) / f, std::ios::binary);
            if (!in)
                return "cannot read " + f;
            out << in.rdbuf();
        }
        if (!out)
            return "cannot write " + source;
    }
    const std::string asmFile = base + ".asm", hexFile = base + ".hex", mapFile = base + ".map";

    std::vector<std::string> compile{o.compiler, "--varbeg", o.varbeg, "-o", asmFile};
    if (!o.archive.empty())
        compile.insert(compile.end(), {"--archive", o.archive});
    // The 16-bit archive and the device's 16-bit register words are the
    // shipped ones beside the compiler, which the device brings in.
    if (o.cells == WideCells)
        compile.insert(compile.end(), {"--cells", "16", "--device", o.mcu});
    compile.insert(compile.end(), c.compilerArgs.begin(), c.compilerArgs.end());
    if (o.optimise)
        compile.push_back("--opt");
    compile.push_back(source);
    if (runTool(compile, base + ".compile.log") != 0)
        return "mirtolanc failed:\n" + slurp(base + ".compile.log");
    const std::vector<std::string> assemble{"avra", "-I", o.headerDir, "-m", mapFile, "-o", hexFile, asmFile};
    const bool assembled = runTool(assemble, base + ".avra.log") == 0;
    if (!c.buildError.empty()) {
        const std::string log = slurp(base + ".avra.log");
        if (assembled)
            return "  avra assembled " + asmFile + ", expected the error \"" + c.buildError + "\"\n";
        if (log.find(c.buildError) == std::string::npos)
            return "  avra failed without \"" + c.buildError + "\":\n" + log;
        return "";
    }
    if (!assembled)
        return "avra failed on " + asmFile + ":\n" + slurp(base + ".avra.log");

    std::string error;
    const auto symbols = simtest::ReadMapFile(mapFile, error);
    if (!symbols)
        return error;
    auto symbol = [&](const char* name) -> std::optional<std::uint16_t> {
        auto it = symbols->find(name);
        if (it == symbols->end() || it->second > 0xFFFF)
            return std::nullopt;
        return std::uint16_t(it->second);
    };
    const auto dataTop = symbol("DATA_STACK_TOP"), loopTop = symbol("LOOP_STACK_TOP");
    if (!dataTop || !loopTop)
        return "the header defines no DATA_STACK_TOP or LOOP_STACK_TOP";
    long varStart = 0;
    if (!parseInt(o.varbeg, 16, varStart) || varStart < 0 || varStart > 0xFFFF)
        return "bad variable start " + o.varbeg;

    simtest::RunRequest request;
    request.mcu = o.mcu;
    request.hexFile = hexFile;
    request.cycleLimit = c.cycles;
    request.dataStackTop = *dataTop;
    request.loopStackTop = *loopTop;
    request.dumpStart = std::uint16_t(varStart);
    request.dumpLength = std::uint16_t(c.vars.size());
    request.watch = c.watch;
    if (c.watch && c.watchFromVars)
        request.watch = std::uint16_t(varStart + *c.watch);
    const auto clock = symbols->find("F_CPU");
    request.frequency = clock == symbols->end() ? 0 : clock->second;
    request.uartInput = c.uartInput;
    const auto result = simtest::RunProgram(request, error);
    if (!result)
        return error;

    std::string failures;
    auto fail = [&](const std::string& text) { failures += "  " + text + "\n"; };
    if (result->ending != c.ending)
        fail(std::string("ended by ") + simtest::EndingName(result->ending) + " after " +
             std::to_string(result->cycles) + " cycles, expected " + simtest::EndingName(c.ending));
    // A run stopped at the cycle limit is caught mid-word: its stacks say nothing.
    if (c.ending == simtest::Ending::Slept) {
        const auto cells = stackCells(result->stack, o.cells);
        if (result->stackUnderflow)
            fail("data stack underflow by " + std::to_string(result->stackUnderflow) + " bytes");
        else if (!cells)
            fail("the data stack holds an odd number of bytes " + bytesText(result->stack));
        else if (*cells != c.stack)
            fail("stack " + cellsText(*cells) + ", expected " + cellsText(c.stack));
        if (result->loopStackDepth)
            fail("loop stack left at depth " + std::to_string(result->loopStackDepth));
        if (result->hardwareStackDepth)
            fail("hardware stack left at depth " + std::to_string(result->hardwareStackDepth));
    }
    if (result->dump != std::vector<std::uint8_t>(c.vars.begin(), c.vars.end()))
        fail("vars " + bytesText(result->dump) + ", expected " + bytesText(c.vars));
    if (c.watch && result->watchChanges < c.watchMin)
        fail("watched byte changed " + std::to_string(result->watchChanges) + " times, expected at least " +
             std::to_string(c.watchMin));
    if (c.uart && !result->hasUart)
        fail("the core " + o.mcu + " has no UART0 to send the text on");
    else if (c.uart && *c.uart != result->uartOutput)
        fail("uart \"" + escaped(result->uartOutput) + "\", expected \"" + escaped(*c.uart) + "\"");
    if (c.elapsedSeconds > 0) {
        const double expected = c.elapsedSeconds * request.frequency;
        if (result->watchCycles.size() < 2)
            fail("the watched byte changed fewer than twice, so no time was measured");
        else if (const double took = measuredTime(result->watchCycles);
                 took < expected * (1 - ElapsedTolerance) || took > expected * (1 + ElapsedTolerance))
            fail("took " + std::to_string(std::uint64_t(took)) + " cycles, expected " +
                 std::to_string(std::uint64_t(expected)) + " within 1%");
    }
    if (!failures.empty())
        failures += "  listing: " + asmFile + "\n";
    return failures;
}

std::string upper(std::string text)
{
    for (char& ch : text)
        if (ch >= 'a' && ch <= 'z')
            ch = char(ch - 'a' + 'A');
    return text;
}

// One entry of an archive, as the coverage check and the word reference see it.
struct Entry {
    std::string name;
    std::string section;            // the "; ---- " heading it stands under
    std::string effect;             // the stack effect of its doc line, "( a -- b )"
    std::string description;        // the rest of its doc line
    std::set<std::string> needs;    // hardware it needs, by feature name ("UART")
    std::vector<std::string> body;  // the lines the compiler copies
    bool compiled = false;          // the compiler writes its code itself: a doc line and "$= NAME", no body
};

// Doc lines stand right before their header: "$ ( a -- b ) What it does.
// [needs UART]". They end the previous body, so the compiler never copies them.
constexpr std::string_view DocMark = "$ (";
constexpr std::string_view HeaderMark = "$$ ";
// The words the compiler writes itself are documented in the archive too,
// with "$= NAME" in place of a header; the compiler never reads that line.
constexpr std::string_view CompiledMark = "$= ";
constexpr std::string_view SectionMark = "; ---- ";
constexpr std::string_view NeedsMark = "[needs ";

std::vector<Entry> readArchive(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return {};
    }
    std::vector<Entry> entries;
    std::string section, doc;
    bool inBody = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const bool compiled = line.rfind(CompiledMark, 0) == 0;
        if (line.rfind(HeaderMark, 0) == 0 || compiled) {
            Entry e;
            e.name = line.substr(HeaderMark.size());
            e.compiled = compiled;
            e.section = section;
            if (const auto close = doc.find(')'); !doc.empty() && close != std::string::npos) {
                e.effect = doc.substr(2, close - 1);
                std::string rest = doc.substr(close + 1);
                for (auto at = rest.find(NeedsMark); at != std::string::npos; at = rest.find(NeedsMark)) {
                    const auto end = rest.find(']', at);
                    e.needs.insert(rest.substr(at + NeedsMark.size(), end - at - NeedsMark.size()));
                    rest.erase(at, end == std::string::npos ? std::string::npos : end - at + 1);
                }
                const auto first = rest.find_first_not_of(' '), last = rest.find_last_not_of(' ');
                e.description = first == std::string::npos ? "" : rest.substr(first, last - first + 1);
            }
            entries.push_back(e);
            doc.clear();
            inBody = !compiled;
            continue;
        }
        if (!line.empty() && line[0] == '$') {
            inBody = false;
            doc = line.rfind(DocMark, 0) == 0 ? line : "";
            continue;
        }
        if (inBody)
            entries.back().body.push_back(line);
        else if (line.rfind(SectionMark, 0) == 0)
            section = line.substr(SectionMark.size());
    }
    return entries;
}

// Internal entries: the compiled control structures call them by themselves.
bool isInternal(const Entry& e) { return !e.name.empty() && e.name[0] == '_'; }

// A device the coverage check and the reference know: its name in the cases
// and the features its header lacks (HAS_UART = 0 lacks "UART").
struct Device {
    std::string name;             // as in the cases' device directives
    std::set<std::string> lacks;  // features its header sets to 0, upper case
};

std::optional<Device> readDevice(const std::string& given, std::string& error)
{
    const auto eq = given.find('=');
    if (eq == std::string::npos) {
        error = "a device is given as NAME=HEADERDIR: " + given;
        return std::nullopt;
    }
    Device d{given.substr(0, eq), {}};
    const std::string header = (fs::path(given.substr(eq + 1)) / "4thHead.asm").string();
    std::ifstream in(header);
    if (!in) {
        error = "cannot read " + header;
        return std::nullopt;
    }
    for (std::string line; std::getline(in, line);) {
        const auto words = splitWords(line);
        if (words.size() >= 4 && words[0] == ".equ" && words[1].rfind("HAS_", 0) == 0 && words[2] == "=" &&
            words[3] == "0")
            d.lacks.insert(words[1].substr(4));
    }
    return d;
}

std::set<std::string> lacking(const Entry& e, const Device& d)
{
    std::set<std::string> out;
    for (const auto& n : e.needs)
        if (d.lacks.count(upper(n)))
            out.insert(n);
    return out;
}

std::set<std::string> caseWords(const Case& c, const std::string& sourceDir)
{
    std::set<std::string> used;
    auto addWords = [&](const std::string& line) {
        for (const auto& w : splitWords(line))
            used.insert(upper(w));
    };
    for (const auto& l : c.source)
        addWords(l);
    for (const auto& f : c.sourceFiles) {
        std::ifstream src(fs::path(sourceDir) / f);
        for (std::string l; std::getline(src, l);)
            addWords(l);
    }
    return used;
}

// Every word of the archive must be run by some case on every device that
// supports it, and must stop the build on every device that does not, so
// that a new entry cannot ship untested. Every entry needs a doc line too.
// Returns the number of gaps.
int reportUncoveredWords(const std::vector<Entry>& entries, const std::vector<Case>& cases,
                         const std::vector<Device>& devices, const std::string& sourceDir, int cellBits)
{
    std::vector<std::set<std::string>> used;
    for (const auto& c : cases)
        used.push_back(caseWords(c, sourceDir));
    int missing = 0;
    for (const auto& e : entries) {
        if (isInternal(e))
            continue;
        if (e.effect.empty()) {
            std::cout << "the archive word " << e.name << " has no doc line \"$ ( before -- after ) text\"\n";
            ++missing;
        }
        for (const auto& d : devices) {
            const bool mustFail = !lacking(e, d).empty();
            bool found = false;
            for (std::size_t i = 0; i < cases.size() && !found; ++i)
                found = used[i].count(upper(e.name)) && forDevice(cases[i], d.name) &&
                        forCells(cases[i], cellBits) && cases[i].buildError.empty() != mustFail &&
                        cases[i].group.empty();
            if (!found) {
                std::cout << (mustFail ? "no case shows that the build stops when " : "no case runs ") << e.name
                          << (mustFail ? " is used on " : " on ") << d.name << " in " << cellBits << "-bit cells\n";
                ++missing;
            }
        }
    }
    return missing;
}

// The size in instruction words of each entry's body with its ret, found by
// assembling the body alone behind the header of headerDir.
std::optional<std::map<std::string, long>> measureEntries(const std::vector<Entry>& entries, int cellBits,
                                                          const Options& o, std::string& error)
{
    std::error_code ec;
    fs::create_directories(o.work, ec);
    std::map<std::string, long> sizes;
    for (const auto& e : entries) {
        if (e.compiled)
            continue;
        const std::string base = (fs::path(o.work) / "measure").string();
        {
            std::ofstream out(base + ".asm");
            if (cellBits == WideCells)
                out << ".equ\tCELL_BITS\t= 16\n";
            out << ".include \"4thHead.asm\"\nmain:\n_RMeasureStart:\n";
            for (const auto& l : e.body)
                out << l << "\n";
            out << "\tret\n_RMeasureEnd:\n";
        }
        if (runTool({"avra", "-I", o.headerDir, "-m", base + ".map", "-o", base + ".hex", base + ".asm"},
                    base + ".log") != 0) {
            error = "avra failed on the body of " + e.name + ":\n" + slurp(base + ".log");
            return std::nullopt;
        }
        const auto symbols = simtest::ReadMapFile(base + ".map", error);
        if (!symbols)
            return std::nullopt;
        const auto start = symbols->find("_RMEASURESTART"), end = symbols->find("_RMEASUREEND");
        if (start == symbols->end() || end == symbols->end()) {
            error = "no measuring labels in " + base + ".map";
            return std::nullopt;
        }
        sizes[e.name] = long(end->second) - long(start->second);
    }
    return sizes;
}

// Markdown cells cannot hold a bare "|".
std::string cell(const std::string& text)
{
    std::string out;
    for (char ch : text)
        out += ch == '|' ? std::string("\\|") : std::string(1, ch);
    return out;
}

// One archive as the word reference sees it: its entries and their sizes.
struct MeasuredArchive {
    std::vector<Entry> entries;
    std::map<std::string, long> sizes; // instruction words by entry name
};

// Where the archive says a word does not build: "all", or "not t85".
std::string devicesText(const Entry& e, const std::vector<Device>& devices)
{
    std::string where = "all";
    for (const auto& d : devices)
        if (!lacking(e, d).empty())
            where = (where == "all" ? "not " : where + ", ") + d.name;
    return where;
}

const Entry* findEntry(const std::vector<Entry>& entries, const std::string& name)
{
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

// The text of one column for both cell sizes: once when they agree, else
// the 8-bit text and then the 16-bit one after "16-bit cells:".
std::string bothSizes(const std::string& byteText, const std::string& wideText)
{
    if (byteText == wideText || wideText.empty())
        return byteText;
    if (byteText.empty())
        return wideText;
    return byteText + " **16-bit cells:** " + wideText;
}

// The reference of the 8-bit archive, with the 16-bit archive's words
// folded into the same rows: the 8-bit archive gives the sections and the
// order, a word of the 16-bit archive alone follows the word it follows
// there, and where the two say different things a row says both.
std::string wordReference(const MeasuredArchive& bytes, const MeasuredArchive* wide,
                          const std::vector<Device>& devices, const std::string& sizeDevice)
{
    std::ostringstream out;
    out << "# Word reference\n\n"
           "Generated from the doc lines of `runtime/Mirtolan.arch`"
        << (wide ? " (8-bit cells) and `runtime/Mirtolan16.arch` (16-bit cells)" : "")
        << " by `mirtolan_simtest --wordref` (the build target `wordref` rewrites this file; the test "
           "`sim.wordref` fails when it is out of step). In 8-bit cells, the default, a cell is one byte, a "
           "double `d` two cells with the high cell below; `addr` is an address (a double), `faddr` a byte "
           "address in flash.";
    if (wide)
        out << " In 16-bit cells (`--cells 16`, or `USE16BIT` at the top of a source) a cell is 16 bits, a "
               "double 32 bits with the high cell on top, and `addr` and `faddr` are one cell; where a word "
               "differs there, its row goes on after **16-bit cells:**.";
    out << " Size is in instruction words with the final `ret` (inline: the compiler writes the code where the "
           "word stands), on the " << sizeDevice
        << (wide ? ", in each cell size (- where the word is missing)" : "") << ".\n";

    // The rows in order: each 8-bit entry, then the 16-bit entries that
    // follow it in their archive and have no 8-bit twin.
    std::vector<std::pair<const Entry*, const Entry*>> rows;
    std::map<std::string, std::vector<const Entry*>> after; // 16-bit words alone, by the word before them
    if (wide) {
        std::string previous;
        for (const auto& e : wide->entries) {
            if (!findEntry(bytes.entries, e.name))
                after[previous].push_back(&e);
            else
                previous = e.name;
        }
    }
    for (const auto* e : after[""])
        rows.push_back({nullptr, e});
    for (const auto& e : bytes.entries) {
        rows.push_back({&e, wide ? findEntry(wide->entries, e.name) : nullptr});
        for (const auto* w : after[e.name])
            rows.push_back({nullptr, w});
    }

    auto size = [](const MeasuredArchive& a, const Entry* e) {
        if (e && e->compiled)
            return std::string("inline");
        const auto it = e ? a.sizes.find(e->name) : a.sizes.end();
        return it == a.sizes.end() ? std::string("-") : std::to_string(it->second);
    };
    std::string section = "\1";
    for (const auto& [byteEntry, wideEntry] : rows) {
        const Entry& e = byteEntry ? *byteEntry : *wideEntry;
        if (isInternal(e))
            continue;
        if (byteEntry && e.section != section) {
            section = e.section;
            out << "\n## " << (section.empty() ? "Words" : section) << "\n\n";
            if (wideEntry && wideEntry->section != section)
                out << "In 16-bit cells: " << wideEntry->section << ".\n\n";
            out << (wide ? "| Word | Stack | Description | Devices | Size 8 | Size 16 |\n|---|---|---|---|---|---|\n"
                         : "| Word | Stack | Description | Devices | Size |\n|---|---|---|---|---|\n");
        }
        const auto code = [](const std::string& text) { return text.empty() ? text : "`" + cell(text) + "`"; };
        std::string description = bothSizes(byteEntry ? cell(byteEntry->description) : "",
                                             wideEntry ? cell(wideEntry->description) : "");
        if (wide && !byteEntry)
            description = "(16-bit cells only) " + description;
        if (wide && !wideEntry)
            description = "(8-bit cells only) " + description;
        out << "| `" << cell(e.name) << "` | "
            << bothSizes(byteEntry ? code(byteEntry->effect) : "", wideEntry ? code(wideEntry->effect) : "") << " | "
            << description << " | "
            << bothSizes(byteEntry ? devicesText(*byteEntry, devices) : "",
                         wideEntry ? devicesText(*wideEntry, devices) : "")
            << " | " << size(bytes, byteEntry);
        if (wide)
            out << " | " << size(*wide, wideEntry);
        out << " |\n";
    }
    return out.str();
}

// A case that runs every word of an archive whose words only push, such as
// a device's register words, and drops what each pushes by its doc line:
// every one must assemble and leave what it says.
Case everyWordCase(const std::vector<Entry>& entries, int cellBits)
{
    Case c;
    c.name = "every-word-of-the-device-archive";
    c.compilerArgs.push_back("--zcall"); // a thousand words outgrow rcall's reach
    c.source.push_back(": main");
    for (const auto& e : entries) {
        const auto arrow = e.effect.find("-- ");
        const auto pushed = arrow == std::string::npos ? 0 : splitWords(e.effect.substr(arrow + 3)).size() - 1;
        // An address is two cells in 8-bit cells, everything else one.
        const bool address =
            pushed == 1 && e.effect.find("addr") != std::string::npos && cellBits == ByteCells;
        c.source.push_back("  " + e.name + (address ? " 2DROP" : pushed == 1 ? " DROP" : ""));
    }
    c.source.push_back(";");
    return c;
}

bool parseOptions(int argc, char** argv, Options& o)
{
    const std::vector<std::pair<std::string, std::string*>> table{
        {"--compiler", &o.compiler}, {"--archive", &o.archive}, {"--header-dir", &o.headerDir}, {"--mcu", &o.mcu},
        {"--device", &o.device},     {"--varbeg", &o.varbeg},        {"--work", &o.work},
        {"--source-dir", &o.sourceDir}, {"--only", &o.only}, {"--group", &o.group}, {"--wordref", &o.wordRef},
        {"--every-word-of", &o.everyWordOf}, {"--check-stacks-with", &o.gforthCheck},
        {"--archive16", &o.archive16},
    };
    const std::vector<std::pair<std::string, std::vector<std::string>*>> lists{
        {"--extra-archive", &o.extraArchives}, {"--cover-device", &o.coverageDevices}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool matched = false;
        for (const auto& [flag, target] : table)
            if (arg == flag && i + 1 < argc) {
                *target = argv[++i];
                matched = true;
            }
        for (const auto& [flag, target] : lists)
            if (!matched && arg == flag && i + 1 < argc) {
                target->push_back(argv[++i]);
                matched = true;
            }
        if (matched)
            continue;
        if (arg == "--coverage") {
            o.coverage = true;
            continue;
        }
        if (arg == "--check") {
            o.check = true;
            continue;
        }
        if (arg == "--opt") {
            o.optimise = true;
            continue;
        }
        if (arg == "--cells" && i + 1 < argc) {
            const std::string size = argv[++i];
            if (size != "8" && size != "16")
                return false;
            o.cells = size == "16" ? WideCells : ByteCells;
            continue;
        }
        if (!o.caseFile.empty() || arg.rfind("--", 0) == 0)
            return false;
        o.caseFile = arg;
    }
    if (!o.wordRef.empty())
        return !o.archive.empty() && !o.headerDir.empty() && !o.work.empty();
    if (o.coverage)
        return !o.archive.empty() && !o.caseFile.empty();
    if (!o.gforthCheck.empty())
        return !o.work.empty() && !o.caseFile.empty();
    return !o.compiler.empty() && !o.headerDir.empty() && !o.mcu.empty() && !o.device.empty() &&
           !o.varbeg.empty() && !o.work.empty() && !o.caseFile.empty();
}

// The expected stacks of some cases, computed again by gforth: a wrong
// expectation would otherwise pass unnoticed whenever the archive shares its
// mistake. Returns the number of disagreements.
int checkStacksWithGforth(const Options& o, const std::vector<Case>& cases)
{
    std::error_code ec;
    fs::create_directories(o.work, ec);
    const std::string out = (fs::path(o.work) / "gforth.out").string();
    if (runTool({"gforth", o.gforthCheck}, out) != 0) {
        std::cout << "gforth failed on " << o.gforthCheck << ":\n" << slurp(out);
        return 1;
    }
    std::ifstream in(out);
    int wrong = 0, checked = 0;
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        const std::string name = line.substr(0, colon);
        std::vector<long> expected;
        if (!parseValues(splitWords("stack " + line.substr(colon + 2)), o.cells, expected)) {
            std::cout << "gforth printed a line that is no stack: " << line << "\n";
            ++wrong;
            continue;
        }
        const auto c = std::find_if(cases.begin(), cases.end(), [&](const Case& k) { return k.name == name; });
        if (c == cases.end()) {
            std::cout << "gforth computed the case " << name << ", which " << o.caseFile << " lacks\n";
            ++wrong;
        } else if (c->stack != expected) {
            std::cout << "case " << name << " expects the stack " << cellsText(c->stack) << " in " << o.cells
                      << "-bit cells, gforth computes " << cellsText(expected) << "\n";
            ++wrong;
        }
        ++checked;
    }
    if (checked == 0) {
        std::cout << "gforth printed no stacks\n";
        return 1;
    }
    return wrong;
}

// Writes the word reference, or with --check compares it with the file.
int runWordRef(const Options& o, const std::vector<Device>& devices)
{
    std::string error;
    auto measured = [&](const std::string& path, int cellBits) -> std::optional<MeasuredArchive> {
        MeasuredArchive a;
        a.entries = readArchive(path, error);
        if (!error.empty())
            return std::nullopt;
        auto sizes = measureEntries(a.entries, cellBits, o, error);
        if (!sizes)
            return std::nullopt;
        a.sizes = std::move(*sizes);
        return a;
    };
    const auto bytes = measured(o.archive, ByteCells);
    const auto wide = bytes && !o.archive16.empty() ? measured(o.archive16, WideCells) : std::nullopt;
    if (!bytes || (!o.archive16.empty() && !wide)) {
        std::cerr << error << "\n";
        return 2;
    }
    const std::string text =
        wordReference(*bytes, wide ? &*wide : nullptr, devices, o.device.empty() ? "ATmega328P" : o.device);
    if (o.check) {
        std::ifstream in(o.wordRef, std::ios::binary);
        std::ostringstream current;
        current << in.rdbuf();
        if (current.str() == text)
            return 0;
        std::cout << o.wordRef << " is out of step with " << o.archive
                  << ": rebuild it with the build target wordref and commit it\n";
        return 1;
    }
    const std::string temp = o.wordRef + ".tmp";
    std::ofstream out(temp, std::ios::binary);
    out << text;
    out.close();
    std::error_code ec;
    fs::rename(temp, o.wordRef, ec);
    if (!out || ec) {
        std::cerr << "cannot write " << o.wordRef << "\n";
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::cerr << "usage: mirtolan_simtest --compiler EXE [--cells 8|16] [--archive FILE] [--extra-archive FILE]..."
                     " --header-dir DIR"
                     " --mcu CORE --device NAME --varbeg HEX --work DIR [--source-dir DIR] [--group NAME] [--opt]"
                     " [--only CASE] CASEFILE\n"
                     "       mirtolan_simtest --coverage [--cells 8|16] --archive FILE [--cover-device NAME=HEADERDIR]..."
                     " [--source-dir DIR] CASEFILE\n"
                     "       mirtolan_simtest --check-stacks-with FORTHFILE [--cells 8|16] --work DIR CASEFILE\n"
                     "       mirtolan_simtest --wordref FILE [--check] --archive FILE [--archive16 FILE] --header-dir DIR"
                     " --work DIR"
                     " [--device TITLE] [--cover-device NAME=HEADERDIR]...\n";
        return 2;
    }
    std::vector<Device> devices;
    for (const auto& given : o.coverageDevices) {
        std::string error;
        const auto d = readDevice(given, error);
        if (!d) {
            std::cerr << error << "\n";
            return 2;
        }
        devices.push_back(*d);
    }
    if (!o.wordRef.empty())
        return runWordRef(o, devices);
    std::vector<Case> cases;
    if (!readCases(o.caseFile, o.cells, cases))
        return 2;
    if (!o.gforthCheck.empty())
        return checkStacksWithGforth(o, cases) == 0 ? 0 : 1;
    if (o.coverage) {
        std::string error;
        const auto entries = readArchive(o.archive, error);
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 2;
        }
        if (devices.empty())
            devices.push_back(Device{});
        return reportUncoveredWords(entries, cases, devices, o.sourceDir, o.cells) == 0 ? 0 : 1;
    }
    if (!o.everyWordOf.empty()) {
        std::string error;
        const auto entries = readArchive(o.everyWordOf, error);
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 2;
        }
        cases.push_back(everyWordCase(entries, o.cells));
    }
    if (!joinArchives(o))
        return 2;
    int run = 0, failed = 0;
    for (const auto& c : cases) {
        if (!forDevice(c, o.device) || !forCells(c, o.cells) || c.group != o.group ||
            (!o.only.empty() && c.name != o.only))
            continue;
        ++run;
        const std::string failure = runCase(c, o);
        if (!failure.empty()) {
            ++failed;
            std::cout << "FAIL " << c.name << " (" << o.caseFile << ":" << c.line << ")\n" << failure;
        }
    }
    std::cout << o.device << " (" << o.cells << "-bit cells): " << run - failed << " of " << run
              << " cases passed\n";
    return failed == 0 && run > 0 ? 0 : 1;
}
