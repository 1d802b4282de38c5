#include "Build.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <set>

#include "Archive.h"
#include "Compiler.h"
#include "DefColon.h"
#include "Diagnose.h"
#include "LabelFilter.h"
#include "Output.h"
#include "Process.h"
#include "Spots.h"
#include "TextFile.h"

namespace mirtolan {

namespace fs = std::filesystem;

std::string Diagnostic::format() const
{
    static constexpr const char* Kinds[] = {"error", "warning", "note"};
    std::string out = file;
    if (line > 0)
        out += ":" + std::to_string(line);
    out += std::string(": ") + Kinds[int(severity)] + ": " + text;
    return out;
}

namespace {

constexpr const char* Assembler = "avra";
// avra stops at 10 errors by default; a listing can have many more, and
// each deserves its Forth line.
constexpr const char* MaxAssemblerErrors = "1000";
// Labels that the measuring pass puts before each branch it measures.
constexpr const char* ReachLabel = "_MirtolanReach";

// A scratch folder for the assembler's outputs, removed whatever happens.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (fs::temp_directory_path() / "mirtolan-build-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const char* name) const { return (fs::path(path_) / name).string(); }

private:
    std::string path_;
};

// Intel hex records into flash bytes by address.
std::map<std::uint32_t, std::uint8_t> readHex(const std::string& path)
{
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::ifstream in(path);
    std::string line;
    std::uint32_t base = 0;
    const auto byteAt = [&](std::size_t i) {
        unsigned v = 0;
        std::from_chars(line.data() + i, line.data() + i + 2, v, 16);
        return std::uint8_t(v);
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() < 11 || line[0] != ':')
            continue;
        const std::size_t count = byteAt(1);
        const std::uint32_t address = std::uint32_t(byteAt(3) << 8 | byteAt(5));
        const int type = byteAt(7);
        if (line.size() < 11 + 2 * count)
            continue;
        if (type == 0)
            for (std::size_t i = 0; i < count; ++i)
                bytes[base + address + std::uint32_t(i)] = byteAt(9 + 2 * i);
        else if (type == 2)
            base = std::uint32_t(byteAt(9) << 8 | byteAt(11)) << 4;
        else if (type == 4)
            base = std::uint32_t(byteAt(9) << 8 | byteAt(11)) << 16;
    }
    return bytes;
}

// avra's map file: "NAME TYPE HEX DECIMAL" per line.
std::map<std::string, std::uint32_t> readMap(const std::string& path)
{
    std::map<std::string, std::uint32_t> symbols;
    std::ifstream in(path);
    std::string name, type, hex, dec;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (!(fields >> name >> type >> hex))
            continue;
        std::uint32_t v = 0;
        if (std::from_chars(hex.data(), hex.data() + hex.size(), v, 16).ec == std::errc())
            symbols[FoldCase(name)] = v;
    }
    return symbols;
}

// The names a run-time header defines itself, which no word may take.
std::map<std::string, std::string, std::less<>> headerNames(const std::string& path)
{
    static const std::regex Definition(R"(^\s*\.(def|equ|set|macro)\s+([A-Za-z_][A-Za-z0-9_]*))",
                                       std::regex::icase);
    static const std::regex Label(R"(^([A-Za-z_][A-Za-z0-9_]*):)");
    std::map<std::string, std::string, std::less<>> names;
    std::ifstream in(path);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, Definition)) {
            const std::string kind = FoldCase(m[1].str());
            names.try_emplace(FoldCase(m[2].str()), kind == "DEF"     ? "a register name"
                                                    : kind == "MACRO" ? "a macro"
                                                                      : "a constant");
        } else if (std::regex_search(line, m, Label)) {
            names.try_emplace(FoldCase(m[1].str()), "a label");
        }
    }
    return names;
}

std::string withExtension(const std::string& path, const char* extension)
{
    fs::path p(path);
    p.replace_extension(extension);
    return p.string();
}

std::string folderOf(const std::string& file)
{
    const auto parent = fs::path(file).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

std::vector<std::string> assemblerCommand(const std::string& sourceDir, const std::string& headerDir,
                                          const ScratchDir& scratch, const std::string& listing)
{
    return {Assembler, "--max_errors", MaxAssemblerErrors,
            "-I", sourceDir, "-I", headerDir, "-I", std::string(AvraIncludeDir),
            "-o", scratch.file("program.hex"), "-e", scratch.file("program.eep.hex"),
            "-m", scratch.file("program.map"), "-d", scratch.file("program.obj"), listing};
}

ProcessOptions assemblerRun(const ScratchDir& scratch, const std::atomic<bool>* cancel)
{
    ProcessOptions o;
    o.workDir = scratch.path();
    o.cancel = cancel;
    return o;
}

// The distance in words of each branch that the assembler found out of
// range: each is replaced by a data word holding its distance, and the
// listing is assembled once more.
std::map<std::int64_t, std::int64_t> measureBranches(const LineList& listing, const std::vector<AssemblerMessage>& messages,
                                                     const std::string& listingFile, const std::string& sourceDir,
                                                     const std::string& headerDir, const std::atomic<bool>* cancel)
{
    std::map<std::int64_t, std::string> targets; // listing line -> branch target
    for (const auto& m : messages) {
        if (m.text.find("Branch out of range") == std::string::npos || m.line < 1 ||
            std::size_t(m.line) > listing.size())
            continue;
        std::error_code ec;
        if (!fs::equivalent(m.file, listingFile, ec))
            continue;
        static const std::regex Branch(R"(^\s+br[a-z]{2}\s+([A-Za-z_][A-Za-z0-9_]*))", std::regex::icase);
        std::smatch match;
        const std::string line(listing[std::size_t(m.line - 1)]);
        if (std::regex_search(line, match, Branch))
            targets[m.line] = match[1].str();
    }
    std::map<std::int64_t, std::int64_t> reach;
    if (targets.empty())
        return reach;
    ScratchDir scratch;
    std::string text;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const auto t = targets.find(std::int64_t(i) + 1);
        if (t == targets.end()) {
            text.append(listing[i]);
        } else {
            const std::string label = ReachLabel + std::to_string(t->first);
            text += label + ":\r\n\t.dw\t" + t->second + "-" + label + "-1";
        }
        text += "\r\n";
    }
    const std::string patched = scratch.file("measure.asm");
    std::ofstream(patched, std::ios::binary) << text;
    const auto run = RunProcess(assemblerCommand(sourceDir, headerDir, scratch, patched), assemblerRun(scratch, cancel));
    if (!run.started || run.exitCode != 0)
        return reach;
    const auto symbols = readMap(scratch.file("program.map"));
    const auto flash = readHex(scratch.file("program.hex"));
    for (const auto& [line, target] : targets) {
        const auto s = symbols.find(FoldCase(ReachLabel + std::to_string(line)));
        if (s == symbols.end())
            continue;
        const std::uint32_t byte = s->second * 2;
        const auto lo = flash.find(byte), hi = flash.find(byte + 1);
        if (lo == flash.end() || hi == flash.end())
            continue;
        reach[line] = std::int16_t(std::uint16_t(lo->second | hi->second << 8));
    }
    return reach;
}

// Each problem once (a name the checks already reported is not reported
// again from the assembler), those of the source in line order first, the
// others (the header's, the assembler's own) after them as they came.
void settle(std::vector<Diagnostic>& diagnostics, const std::string& sourceName)
{
    std::set<std::tuple<std::string, std::int64_t, std::string>> seen;
    std::vector<Diagnostic> kept;
    for (auto& d : diagnostics) {
        if (!d.word.empty() && !seen.insert({d.file, d.line, d.word}).second)
            continue;
        kept.push_back(std::move(d));
    }
    const auto key = [&](const Diagnostic& d) {
        return d.file == sourceName ? std::pair<int, std::int64_t>{0, d.line} : std::pair<int, std::int64_t>{1, 0};
    };
    std::stable_sort(kept.begin(), kept.end(), [&](const Diagnostic& a, const Diagnostic& b) { return key(a) < key(b); });
    diagnostics = std::move(kept);
}

bool hasError(const std::vector<Diagnostic>& ds)
{
    return std::any_of(ds.begin(), ds.end(), [](const Diagnostic& d) { return d.severity == Severity::Error; });
}

void append(std::vector<Diagnostic>& to, std::vector<Diagnostic> more)
{
    to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

} // namespace

std::string FindRuntimeFile(const std::vector<std::string>& dirs, std::string_view folder, std::string_view file)
{
    for (const auto& dir : dirs) {
        const fs::path path = fs::path(dir) / folder / file;
        std::error_code ec;
        if (fs::is_regular_file(path, ec))
            return path.lexically_normal().string();
    }
    return {};
}

void LoadArchives(Compiler& c, const std::string& archive, const std::string& archive16,
                  const std::vector<std::string>& dirs, const Device* device)
{
    std::vector<std::string> byteCells{archive};
    std::vector<std::string> wideCells;
    const std::string wide = archive16.empty() ? FindRuntimeFile(dirs, ".", Archive16Name) : archive16;
    if (!wide.empty())
        wideCells.push_back(wide);
    // A device brings its own words (its registers), behind the main archive's.
    if (device) {
        if (std::string extra = FindRuntimeFile(dirs, device->headerFolder, DeviceArchiveName); !extra.empty())
            byteCells.push_back(std::move(extra));
        if (std::string extra = FindRuntimeFile(dirs, device->headerFolder, DeviceArchive16Name);
            !extra.empty() && !wideCells.empty())
            wideCells.push_back(std::move(extra));
    }
    ReadArchFiles(c.archive, byteCells);
    ReadArchFiles(c.archive16, wideCells);
}

BuildResult BuildHex(const BuildOptions& o)
{
    BuildResult r;
    const auto stage = [&](const char* s) {
        if (o.progress)
            o.progress(s);
    };
    const auto cancelled = [&] { return o.cancel && o.cancel->load(); };
    const Device& device = o.device ? *o.device : DefaultDevice();
    r.device = &device;
    r.varStart = o.varStart.value_or(std::string(device.varStart));

    // The run-time header: the user's own beside the source, else the device's.
    const std::string sourceDir = folderOf(o.sourceFile);
    std::vector<std::string> searched{sourceDir};
    for (const auto& dir : o.runtimeDirs)
        searched.push_back((fs::path(dir) / device.headerFolder).lexically_normal().string());
    std::string headerDir;
    for (const auto& dir : searched) {
        std::error_code ec;
        if (fs::is_regular_file(fs::path(dir) / RuntimeHeaderName, ec)) {
            headerDir = dir;
            break;
        }
    }
    if (headerDir.empty()) {
        std::string list;
        for (const auto& dir : searched)
            list += (list.empty() ? "" : ", ") + dir;
        r.error = "cannot find the run-time header " + std::string(RuntimeHeaderName) + " for the " +
                  std::string(device.title) + " (searched " + list + ")";
        return r;
    }

    // Compile, keeping the map from listing lines to Forth lines.
    stage("Compiling");
    Compiler c;
    c.Map = std::make_unique<LineMaps>();
    c.UseZcall = o.useZcall;
    c.CellBits = o.cellBits;
    c.IncludeHeader = o.includeHeader;
    c.VarStart = r.varStart;
    c.SourceFileName = o.sourceFile;
    c.OutputFile = o.listingFile;
    LineList read; // the source's lines when they come from its file
    const LineList* source = o.sourceText;
    try {
        if (!source) {
            read = SplitLineList(ReadFileBytes(o.sourceFile));
            source = &read;
        }
        // The device's archives lie in its run-time folder, whichever header is used.
        LoadArchives(c, o.archive, o.archive16, o.runtimeDirs, &device);
        CompileSource(c, *source);
    } catch (const CompileError& e) {
        r.compileMessages = c.Messages;
        r.error = e.what();
        return r;
    } catch (const std::bad_alloc&) {
        r.compileMessages = c.Messages;
        r.error = "out of memory";
        return r;
    }
    r.compileMessages = c.Messages;
    r.asmFile = c.AsmFileName;
    r.cellBits = c.CellBits;

    std::string error;
    const std::string includeDirs[] = {std::string(AvraIncludeDir)};
    const auto symbols = ReadDeviceSymbols(device, includeDirs, error);
    if (!symbols) {
        r.error = error + "; is avra installed?";
        return r;
    }
    DiagnosisContext ctx;
    ctx.sourceName = o.sourceFile;
    ctx.source = source;
    ctx.listing = &c.Listing;
    ctx.map = c.Map.get();
    ctx.listingFile = fs::absolute(c.AsmFileName).lexically_normal().string();
    ctx.device = &device;
    ctx.symbols = &*symbols;
    ctx.headerFile = (fs::path(headerDir) / RuntimeHeaderName).string();
    ctx.headerNames = headerNames(ctx.headerFile);
    ctx.varStart = std::uint32_t(ParseNumber("$" + r.varStart, true).value_or(0));
    ctx.archive = &ActiveArchive(c);

    std::vector<std::string> sourceMessages(c.Messages.begin(),
                                            c.Messages.begin() + std::ptrdiff_t(SourceMessageCount(c)));
    r.diagnostics = DiagnoseCompileMessages(ctx, sourceMessages);
    append(r.diagnostics, CheckListing(ctx));
    settle(r.diagnostics, o.sourceFile);
    // The listing lacks what the messages stand for, so a .hex of it would run wrong.
    if (!sourceMessages.empty() || hasError(r.diagnostics)) {
        r.status = BuildResult::Problems;
        return r;
    }
    if (cancelled()) {
        r.error = "stopped";
        return r;
    }

    stage("Assembling");
    ScratchDir scratch;
    if (scratch.path().empty()) {
        r.error = "cannot make a scratch folder for the assembler in " + fs::temp_directory_path().string();
        return r;
    }
    // The assembler reads a copy with a label before each word's code, and
    // its messages are told at the listing's own lines.
    const LabelledListing labelled = LabelWordStarts(c.Listing, *c.Map);
    const std::string copy = scratch.file("labelled.asm");
    try {
        WriteFileSafely(copy, labelled.text);
    } catch (const CompileError& e) {
        r.error = e.what();
        return r;
    }
    const auto run = RunProcess(assemblerCommand(sourceDir, headerDir, scratch, copy), assemblerRun(scratch, o.cancel));
    if (!run.started) {
        r.error = "cannot run the assembler avra (" + run.error + "); install it with scripts/deps.sh or 'apt install avra'";
        return r;
    }
    if (run.stopped) {
        r.error = "stopped";
        return r;
    }
    auto messages = ParseAssemblerOutput(run.output);
    for (AssemblerMessage& m : messages) {
        std::error_code ec;
        if (!fs::equivalent(m.file, copy, ec))
            continue;
        m.file = ctx.listingFile;
        if (m.line >= 1 && std::size_t(m.line) <= labelled.listingLine.size())
            m.line = labelled.listingLine[std::size_t(m.line - 1)];
    }
    const bool failed = run.exitCode != 0 || std::any_of(messages.begin(), messages.end(),
                                                         [](const AssemblerMessage& m) { return m.error; });
    std::map<std::int64_t, std::int64_t> reach;
    if (failed)
        reach = measureBranches(c.Listing, messages, ctx.listingFile, sourceDir, headerDir, o.cancel);
    append(r.diagnostics, DiagnoseAssembler(ctx, messages, reach));
    r.callsBeyondReach = failed && CallsBeyondReach(ctx, messages);
    if (failed) {
        if (!hasError(r.diagnostics))
            r.diagnostics.push_back({Severity::Error, o.sourceFile, 0, 0, "",
                                     "the assembler failed: " + run.output});
        settle(r.diagnostics, o.sourceFile);
        r.status = BuildResult::Problems;
        return r;
    }

    r.symbols = readMap(scratch.file("program.map"));
    r.spots = ReadSpots(labelled, c.Listing, *c.Map, r.symbols);
    std::erase_if(r.symbols, [](const auto& s) { return IsSpotLabel(s.first); });
    append(r.diagnostics, CheckMemory(ctx, r.symbols, std::int64_t(c.VarNext) - 1));
    settle(r.diagnostics, o.sourceFile);

    // The program's words and variables, by the labels the assembler placed.
    Compiler filter; // the label filter's working line
    const auto labelOf = [&](const std::string& name) { return SpelledLabel(filter, name); };
    for (const auto& d : c.Map->definitions)
        r.words.push_back({std::string(c.Map->name(d.name)), labelOf(std::string(c.Map->name(d.name))),
                           std::int64_t(d.line) + 1, false});
    std::set<std::uint32_t> copied;
    for (std::size_t i = 0; i < c.Map->libraryLines; ++i) {
        const LineOrigin at = c.Map->library.at(i);
        if (at.entry && copied.insert(at.entry).second) {
            const std::string name(c.Map->name(at.entry));
            r.words.push_back({name, labelOf(name),
                               at.line == LineOrigin::NoLine ? 0 : std::int64_t(at.line) + 1, true});
        }
    }
    for (const auto& v : c.Map->variables)
        r.variables.push_back({std::string(c.Map->name(v.name)), std::uint32_t(v.address),
                               std::uint32_t(std::max<std::int64_t>(v.size, 0)), std::int64_t(v.line) + 1});
    static const std::regex CodeSize(R"(Code\s*:\s*(\d+)\s+words)");
    std::smatch m;
    if (std::regex_search(run.output, m, CodeSize))
        r.flashWords = std::uint32_t(std::stoul(m[1].str()));

    stage("Writing");
    r.hexFile = o.hexFile.empty() ? withExtension(c.AsmFileName, ".hex") : o.hexFile;
    try {
        WriteFileSafely(r.hexFile, ReadFileBytes(scratch.file("program.hex")));
    } catch (const CompileError& e) {
        r.error = e.what();
        r.hexFile.clear();
        return r;
    }
    r.status = BuildResult::Built;
    return r;
}

} // namespace mirtolan
