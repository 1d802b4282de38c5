// End-to-end check of the shipped run-time: each case of a case file is
// compiled with mirtolanc, assembled with avra, run in simavr, and what it
// left on the data stack and in its variables is compared with the case.
//
//   mirtolan_simtest --compiler EXE [--archive FILE] --header-dir DIR --mcu CORE --device NAME
//                    --varbeg HEX --work DIR [--source-dir DIR] [--group NAME] [--only CASE]
//                    CASEFILE
//
// Case file: "### name" starts a case; its source lines follow; lines that
// begin with ">>> " set what the case expects (see ParseDirective).
//
//   mirtolan_simtest --coverage --archive FILE [--source-dir DIR] CASEFILE
//
// checks instead that the cases use every word of the archive.

#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
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

struct Case {
    std::string name;
    int line = 0;                 // where the case starts, for reports
    std::vector<std::string> source;
    std::string sourceFile;       // compile this file instead of the lines
    std::vector<std::string> compilerArgs;
    std::vector<std::string> devices; // empty: every device
    std::string group;            // empty: the default run
    std::vector<int> stack;
    std::vector<int> vars;
    std::uint64_t cycles = DefaultCycleLimit;
    simtest::Ending ending = simtest::Ending::Slept;
    std::optional<std::uint16_t> watch;
    long watchMin = 0;
};

struct Options {
    std::string compiler, archive, headerDir, mcu, device, varbeg, work, sourceDir, only, group, caseFile;
    bool coverage = false; // only check that the cases use every archive word
};

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

bool parseBytes(const std::vector<std::string>& words, std::vector<int>& out)
{
    for (std::size_t i = 1; i < words.size(); ++i) {
        long v = 0;
        // Bytes may be written signed: -1 is 255.
        if (!parseInt(words[i], 10, v) || v < -128 || v > 255)
            return false;
        out.push_back(int(v & 0xFF));
    }
    return true;
}

// Directives: stack V..., vars V..., option ARG..., device NAME...,
// file PATH, group NAME, cycles N, ending slept|limit, watch HEXADDR MINCHANGES.
bool ParseDirective(Case& c, const std::string& text)
{
    const auto words = splitWords(text);
    if (words.empty())
        return false;
    const std::string& key = words[0];
    long v = 0;
    if (key == "stack")
        return parseBytes(words, c.stack);
    if (key == "vars")
        return parseBytes(words, c.vars);
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
    if (key == "file" && words.size() == 2) {
        c.sourceFile = words[1];
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
    if (key == "watch" && words.size() == 3 && parseInt(words[1], 16, v) && v >= 0 && v <= 0xFFFF) {
        c.watch = std::uint16_t(v);
        return parseInt(words[2], 10, c.watchMin);
    }
    return false;
}

bool readCases(const std::string& path, std::vector<Case>& cases)
{
    std::ifstream in(path);
    if (!in) {
        std::cerr << "cannot read " << path << "\n";
        return false;
    }
    std::string line;
    int lineNo = 0;
    bool ok = true;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(CaseMark, 0) == 0) {
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
            if (!ParseDirective(cases.back(), line.substr(std::string(DirectiveMark).size()))) {
                std::cerr << path << ":" << lineNo << ": bad directive: " << line << "\n";
                ok = false;
            }
        } else {
            cases.back().source.push_back(line);
        }
    }
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

bool forDevice(const Case& c, const std::string& device)
{
    if (c.devices.empty())
        return true;
    for (const auto& d : c.devices)
        if (d == device)
            return true;
    return false;
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
    if (!c.sourceFile.empty()) {
        source = (fs::path(o.sourceDir) / c.sourceFile).string();
    } else {
        std::ofstream out(source);
        for (const auto& l : c.source)
            out << l << "\n";
        if (!out)
            return "cannot write " + source;
    }
    const std::string asmFile = base + ".asm", hexFile = base + ".hex", mapFile = base + ".map";

    std::vector<std::string> compile{o.compiler, "--varbeg", o.varbeg, "-o", asmFile};
    if (!o.archive.empty())
        compile.insert(compile.end(), {"--archive", o.archive});
    compile.insert(compile.end(), c.compilerArgs.begin(), c.compilerArgs.end());
    compile.push_back(source);
    if (runTool(compile, base + ".compile.log") != 0)
        return "mirtolanc failed:\n" + slurp(base + ".compile.log");
    const std::vector<std::string> assemble{"avra", "-I", o.headerDir, "-m", mapFile, "-o", hexFile, asmFile};
    if (runTool(assemble, base + ".avra.log") != 0)
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
        if (result->stackUnderflow)
            fail("data stack underflow by " + std::to_string(result->stackUnderflow));
        else if (result->stack != std::vector<std::uint8_t>(c.stack.begin(), c.stack.end()))
            fail("stack " + bytesText(result->stack) + ", expected " + bytesText(c.stack));
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

// Every word of the archive must be used by some case, so that a new entry
// cannot ship untested. Returns the number of unused words.
int reportUncoveredWords(const std::string& archivePath, const std::vector<Case>& cases, const std::string& sourceDir)
{
    std::ifstream in(archivePath);
    if (!in) {
        std::cerr << "cannot read " << archivePath << "\n";
        return 1;
    }
    std::set<std::string> used;
    auto addWords = [&](const std::string& line) {
        for (const auto& w : splitWords(line))
            used.insert(upper(w));
    };
    for (const auto& c : cases) {
        for (const auto& l : c.source)
            addWords(l);
        if (!c.sourceFile.empty()) {
            std::ifstream src(fs::path(sourceDir) / c.sourceFile);
            for (std::string l; std::getline(src, l);)
                addWords(l);
        }
    }
    constexpr std::string_view Header = "$$ ";
    int missing = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(Header, 0) != 0)
            continue;
        const std::string name = line.substr(Header.size());
        // IF, UNTIL and WHILE call it without naming it.
        const bool implicit = name == "_TestIfZero";
        if (!implicit && !used.count(upper(name))) {
            std::cout << "no case uses the archive word " << name << "\n";
            ++missing;
        }
    }
    return missing;
}

bool parseOptions(int argc, char** argv, Options& o)
{
    const std::vector<std::pair<std::string, std::string*>> table{
        {"--compiler", &o.compiler}, {"--archive", &o.archive}, {"--header-dir", &o.headerDir}, {"--mcu", &o.mcu},
        {"--device", &o.device},     {"--varbeg", &o.varbeg},        {"--work", &o.work},
        {"--source-dir", &o.sourceDir}, {"--only", &o.only}, {"--group", &o.group},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bool matched = false;
        for (const auto& [flag, target] : table)
            if (arg == flag && i + 1 < argc) {
                *target = argv[++i];
                matched = true;
            }
        if (matched)
            continue;
        if (arg == "--coverage") {
            o.coverage = true;
            continue;
        }
        if (!o.caseFile.empty() || arg.rfind("--", 0) == 0)
            return false;
        o.caseFile = arg;
    }
    if (o.coverage)
        return !o.archive.empty() && !o.caseFile.empty();
    return !o.compiler.empty() && !o.headerDir.empty() && !o.mcu.empty() && !o.device.empty() &&
           !o.varbeg.empty() && !o.work.empty() && !o.caseFile.empty();
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::cerr << "usage: mirtolan_simtest --compiler EXE [--archive FILE] --header-dir DIR --mcu CORE --device NAME"
                     " --varbeg HEX --work DIR [--source-dir DIR] [--group NAME] [--only CASE] CASEFILE\n"
                     "       mirtolan_simtest --coverage --archive FILE [--source-dir DIR] CASEFILE\n";
        return 2;
    }
    std::vector<Case> cases;
    if (!readCases(o.caseFile, cases))
        return 2;
    if (o.coverage)
        return reportUncoveredWords(o.archive, cases, o.sourceDir) == 0 ? 0 : 1;
    int run = 0, failed = 0;
    for (const auto& c : cases) {
        if (!forDevice(c, o.device) || c.group != o.group || (!o.only.empty() && c.name != o.only))
            continue;
        ++run;
        const std::string failure = runCase(c, o);
        if (!failure.empty()) {
            ++failed;
            std::cout << "FAIL " << c.name << " (" << o.caseFile << ":" << c.line << ")\n" << failure;
        }
    }
    std::cout << o.device << ": " << run - failed << " of " << run << " cases passed\n";
    return failed == 0 && run > 0 ? 0 : 1;
}
