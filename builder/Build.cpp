#include "Build.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
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
#include "Scratch.h"
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
// What the scratch folders' names begin with.
constexpr const char* BuildFolderPrefix = "mirtolan-build-";
// The copy of the listing that avra reads, in the scratch folder. avra
// deletes its outputs by the name of what it reads, even when told to write
// them elsewhere: a name of our own in our own folder leaves the user's
// files beside the listing alone.
constexpr const char* AssembledName = "listing.asm";

// Intel hex records into flash bytes by address.
std::map<std::uint32_t, std::uint8_t> readHex(const std::string& path)
{
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::string error;
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (const auto chunks = ParseIntelHex(text, error))
        for (const HexChunk& c : *chunks)
            for (std::size_t i = 0; i < c.bytes.size(); ++i)
                bytes[c.address + std::uint32_t(i)] = c.bytes[i];
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

// The folder of `file`, absolute: avra runs in its scratch folder, where a
// relative one would lead nowhere.
std::string absoluteFolderOf(const std::string& file)
{
    std::error_code ec;
    return fs::absolute(fs::path(file), ec).parent_path().lexically_normal().string();
}

// Where avra looks for .include files: the source's folder (none for an
// untitled source), the run-time header's, then avra's device definitions.
std::vector<std::string> includeFolders(const std::string& sourceDir, const std::string& headerDir)
{
    std::vector<std::string> dirs;
    if (!sourceDir.empty())
        dirs.push_back(sourceDir);
    if (headerDir != sourceDir)
        dirs.push_back(headerDir);
    dirs.emplace_back(AvraIncludeDir);
    return dirs;
}

// `listing` is a file of the scratch folder, named without a folder: avra
// names an included file after the folder of what it reads, joined to the
// include folder, so only a bare name keeps those names true.
std::vector<std::string> assemblerCommand(const std::vector<std::string>& includes, const PrivateFolder& scratch,
                                          const std::string& listing)
{
    std::vector<std::string> cmd{Assembler, "--max_errors", MaxAssemblerErrors};
    for (const auto& dir : includes)
        cmd.insert(cmd.end(), {"-I", dir});
    cmd.insert(cmd.end(), {"-o", scratch.file("program.hex"), "-e", scratch.file("program.eep.hex"), "-m",
                           scratch.file("program.map"), "-d", scratch.file("program.obj"), listing});
    return cmd;
}

ProcessResult assemble(const std::vector<std::string>& includes, const PrivateFolder& scratch,
                       const std::string& listing, const BuildOptions& options)
{
    ProcessOptions o;
    o.workDir = scratch.path();
    o.cancel = options.cancel;
    o.timeLimit = options.assemblerTimeLimit;
    return RunProcess(assemblerCommand(includes, scratch, listing), o);
}

// Why avra gave no answer to read, in words; empty when it ran to its end.
std::string assemblerFailure(const ProcessResult& run, std::chrono::milliseconds limit)
{
    if (!run.started)
        return "cannot run the assembler avra (" + run.error + "); install it with scripts/deps.sh or 'apt install avra'";
    if (run.timedOut) {
        char span[32];
        std::snprintf(span, sizeof span, "%.3g s", std::chrono::duration<double>(limit).count());
        return std::string("the assembler avra did not finish within ") + span +
               " and was stopped (an .include of something that never ends, such as a FIFO?)";
    }
    if (run.signal)
        return "the assembler avra " + DescribeSignal(run.signal);
    return {};
}

// The distance in words of each branch that the assembler found out of
// range: each is replaced by a data word holding its distance, and the
// listing is assembled once more.
std::map<std::int64_t, std::int64_t> measureBranches(const LineList& listing, const std::vector<AssemblerMessage>& messages,
                                                     const std::string& listingFile, const std::vector<std::string>& includes,
                                                     const BuildOptions& options)
{
    std::map<std::int64_t, std::string> targets; // listing line -> branch target
    for (const auto& m : messages) {
        if (m.text.find("Branch out of range") == std::string::npos || m.line < 1 ||
            std::size_t(m.line) > listing.size())
            continue;
        if (m.file != listingFile)
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
    const PrivateFolder scratch(BuildFolderPrefix);
    if (scratch.path().empty())
        return reach;
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
    constexpr const char* Patched = "measure.asm";
    try {
        WriteFileSafely(scratch.file(Patched), text);
    } catch (const CompileError&) {
        return reach;
    }
    const auto run = assemble(includes, scratch, Patched, options);
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

std::optional<std::vector<HexChunk>> ParseIntelHex(std::string_view text, std::string& error)
{
    std::vector<HexChunk> chunks;
    std::uint32_t base = 0;
    std::size_t lineNo = 0;
    const auto hexByte = [](std::string_view s, std::size_t i, std::uint8_t& v) {
        unsigned x = 0;
        const auto [end, ec] = std::from_chars(s.data() + i, s.data() + i + 2, x, 16);
        v = std::uint8_t(x);
        return ec == std::errc() && end == s.data() + i + 2;
    };
    for (std::size_t from = 0; from < text.size();) {
        std::size_t to = text.find('\n', from);
        if (to == std::string_view::npos)
            to = text.size();
        std::string_view line = text.substr(from, to - from);
        from = to + 1;
        ++lineNo;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const auto bad = [&] {
            error = "malformed Intel hex record on line " + std::to_string(lineNo);
            return std::nullopt;
        };
        // ":" count(1) address(2) type(1) data(count) checksum(1), two digits a byte.
        if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
            return bad();
        std::vector<std::uint8_t> record((line.size() - 1) / 2);
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (!hexByte(line, 1 + 2 * i, record[i]))
                return bad();
            sum = std::uint8_t(sum + record[i]);
        }
        const std::size_t count = record[0];
        if (record.size() != count + 5 || sum != 0)
            return bad();
        const bool segment = record[3] == 2 || record[3] == 4;
        if (segment && count != 2)
            return bad();
        const std::uint32_t offset = std::uint32_t(record[1] << 8 | record[2]);
        const std::uint8_t* data = record.data() + 4;
        switch (record[3]) {
        case 0: {
            const std::uint32_t at = base + offset;
            if (chunks.empty() || chunks.back().address + chunks.back().bytes.size() != at)
                chunks.push_back(HexChunk{at, {}});
            chunks.back().bytes.insert(chunks.back().bytes.end(), data, data + count);
            break;
        }
        case 1: return chunks;
        case 2: base = std::uint32_t(data[0] << 8 | data[1]) << 4; break;
        case 4: base = std::uint32_t(data[0] << 8 | data[1]) << 16; break;
        default: break; // start addresses: nothing to load
        }
    }
    return chunks;
}

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

BuildOutputs PlannedOutputs(const BuildOptions& o)
{
    BuildOutputs out;
    out.listing = o.listingFile.empty() ? FormAsmFileName(o.sourceFile) : o.listingFile;
    out.hex = o.hexFile.empty() ? withExtension(out.listing, ".hex") : o.hexFile;
    return out;
}

BuildResult BuildHex(const BuildOptions& options)
{
    BuildResult r;
    BuildOptions o = options;
    const auto stage = [&](const char* s) {
        if (o.progress)
            o.progress(s);
    };
    const auto cancelled = [&] { return o.cancel && o.cancel->load(); };
    const Device& device = o.device ? *o.device : DefaultDevice();
    r.device = &device;
    r.varStart = o.varStart.value_or(std::string(device.varStart));

    // An untitled source is built in a folder of its own, which the result
    // keeps: nothing lands in a folder that others share.
    const bool untitled = o.sourceFile.empty();
    if (untitled) {
        if (!o.sourceText) {
            r.error = "no source to build";
            return r;
        }
        auto folder = std::make_shared<PrivateFolder>("mirtolan-untitled-");
        if (folder->path().empty()) {
            r.error = folder->error();
            return r;
        }
        o.sourceFile = folder->file(UntitledSourceName);
        o.listingFile.clear();
        o.hexFile.clear();
        r.folder = std::move(folder);
    }
    r.sourceFile = o.sourceFile;
    const BuildOutputs outputs = PlannedOutputs(o);
    if (const std::string clash = OutputClash(o.sourceFile, {{"listing", outputs.listing}, {".hex", outputs.hex}});
        !clash.empty()) {
        r.error = clash;
        return r;
    }

    // The run-time header: the user's own beside the source, else the device's.
    const std::string sourceDir = untitled ? std::string() : absoluteFolderOf(o.sourceFile);
    std::vector<std::string> searched;
    if (!untitled)
        searched.push_back(sourceDir);
    for (const auto& dir : o.runtimeDirs) {
        std::error_code ec;
        searched.push_back((fs::absolute(fs::path(dir), ec) / device.headerFolder).lexically_normal().string());
    }
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
    c.Optimise = o.optimise;
    c.OptimiseSkip = o.optimiseSkip;
    c.OptimiseKeep = o.optimiseKeep;
    c.IncludeHeader = o.includeHeader;
    c.VarStart = r.varStart;
    c.SourceFileName = o.sourceFile;
    c.OutputFile = outputs.listing;
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
    const PrivateFolder scratch(BuildFolderPrefix);
    if (scratch.path().empty()) {
        r.error = scratch.error();
        return r;
    }
    // avra reads the listing this build made, from a copy of its own (not
    // the file beside the source, which a build running at the same time
    // may have replaced), with a label before each word's code; its
    // messages are told at the listing's own lines.
    const LabelledListing labelled = LabelWordStarts(c.Listing, *c.Map);
    try {
        WriteFileSafely(scratch.file(AssembledName), labelled.text);
    } catch (const CompileError& e) {
        r.error = e.what();
        return r;
    }
    const std::vector<std::string> includes = includeFolders(sourceDir, headerDir);
    const auto run = assemble(includes, scratch, AssembledName, o);
    if (run.stopped || cancelled()) {
        r.error = "stopped";
        return r;
    }
    if (std::string failure = assemblerFailure(run, o.assemblerTimeLimit); !failure.empty()) {
        r.error = std::move(failure);
        return r;
    }
    auto messages = ParseAssemblerOutput(run.output);
    for (AssemblerMessage& m : messages) {
        if (m.file != AssembledName)
            continue;
        m.file = ctx.listingFile;
        if (m.line >= 1 && std::size_t(m.line) <= labelled.listingLine.size())
            m.line = labelled.listingLine[std::size_t(m.line - 1)];
    }
    const bool failed = run.exitCode != 0 || std::any_of(messages.begin(), messages.end(),
                                                         [](const AssemblerMessage& m) { return m.error; });
    std::map<std::int64_t, std::int64_t> reach;
    if (failed)
        reach = measureBranches(c.Listing, messages, ctx.listingFile, includes, o);
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
    r.spots = ReadSpots(labelled, *c.Map, r.symbols);
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
    r.hexFile = outputs.hex;
    try {
        r.hexImage = ReadFileBytes(scratch.file("program.hex"));
        WriteFileSafely(r.hexFile, r.hexImage);
    } catch (const CompileError& e) {
        r.error = e.what();
        r.hexFile.clear();
        return r;
    }
    r.status = BuildResult::Built;
    return r;
}

} // namespace mirtolan
