#include "Diagnose.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <unordered_map>

#include "Compiler.h"
#include "DefColon.h"
#include "LabelFilter.h"
#include "Scanner.h"
#include "TextFile.h"

namespace mirtolan {

namespace {

// A conditional branch reaches this many words forward and back.
constexpr std::int64_t BranchForward = 63, BranchBack = 64;
// Room the data stack needs at the least before it runs into the variables.
constexpr std::int64_t MinDataStackBytes = 16;

// The AVR instruction set, as the assembler reads it: a word of one of these
// names works, but reads like an instruction in every inline assembler line.
constexpr std::array<std::string_view, 122> Mnemonics{{
    "ADC", "ADD", "ADIW", "AND", "ANDI", "ASR", "BCLR", "BLD", "BRBC", "BRBS", "BRCC", "BRCS", "BREAK", "BREQ",
    "BRGE", "BRHC", "BRHS", "BRID", "BRIE", "BRLO", "BRLT", "BRMI", "BRNE", "BRPL", "BRSH", "BRTC", "BRTS", "BRVC",
    "BRVS", "BSET", "BST", "CALL", "CBI", "CBR", "CLC", "CLH", "CLI", "CLN", "CLR", "CLS", "CLT", "CLV", "CLZ",
    "COM", "CP", "CPC", "CPI", "CPSE", "DEC", "DES", "EICALL", "EIJMP", "ELPM", "EOR", "FMUL", "FMULS", "FMULSU",
    "ICALL", "IJMP", "IN", "INC", "JMP", "LAC", "LAS", "LAT", "LD", "LDD", "LDI", "LDS", "LPM", "LSL", "LSR", "MOV",
    "MOVW", "MUL", "MULS", "MULSU", "NEG", "NOP", "OR", "ORI", "OUT", "POP", "PUSH", "RCALL", "RET", "RETI", "RJMP",
    "ROL", "ROR", "SBC", "SBCI", "SBI", "SBIC", "SBIS", "SBIW", "SBR", "SBRC", "SBRS", "SEC", "SEH", "SEI", "SEN",
    "SER", "SES", "SET", "SEV", "SEZ", "SLEEP", "SPM", "ST", "STD", "STS", "SUB", "SUBI", "SWAP", "TST", "WDR",
    "XCH", "ZCALL",
}};
// The program counter, which the assembler reads in an operand beside its functions.
constexpr std::string_view ProgramCounter = "PC";

std::string hex4(std::int64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "$%04llX", static_cast<unsigned long long>(v));
    return buf;
}

std::string wordAt(const DiagnosisContext& ctx, const LineOrigin& o)
{
    const auto text = SourceLineOf(ctx, o.line);
    if (o.column == 0 || o.column - 1 >= text.size())
        return {};
    return std::string(text.substr(o.column - 1, o.length));
}

std::string definitionOf(const DiagnosisContext& ctx, const LineOrigin& o)
{
    return o.definition ? std::string(ctx.map->name(o.definition)) : std::string();
}

// A diagnostic at the Forth line an origin names, or at the listing line
// when the line came from no source word.
Diagnostic at(const DiagnosisContext& ctx, const LineOrigin& o, std::int64_t listingLine, Severity s, std::string text)
{
    Diagnostic d;
    d.severity = s;
    if ((o.kind == OriginKind::Word || o.kind == OriginKind::PassThrough || o.kind == OriginKind::Archive) &&
        o.line != LineOrigin::NoLine) {
        d.file = ctx.sourceName;
        d.line = std::int64_t(o.line) + 1;
        d.column = o.column;
        d.word = o.kind == OriginKind::Archive ? std::string(ctx.map->name(o.entry)) : wordAt(ctx, o);
        if (o.kind == OriginKind::Archive)
            text = "in the archive routine " + std::string(ctx.map->name(o.entry)) + ", which " +
                   (o.column ? InQuotes(wordAt(ctx, o)) : std::string("this line")) + " uses: " + text;
    } else {
        d.file = ctx.listingFile;
        d.line = listingLine;
        if (o.kind == OriginKind::Archive && o.entry) {
            d.word = std::string(ctx.map->name(o.entry));
            text = "in the archive routine " + d.word + ": " + text;
        }
    }
    d.text = std::move(text);
    return d;
}

Diagnostic atSource(const DiagnosisContext& ctx, Severity s, std::string text)
{
    Diagnostic d;
    d.severity = s;
    d.file = ctx.sourceName;
    d.text = std::move(text);
    return d;
}

bool isLabelLine(std::string_view line)
{
    if (line.size() < 2 || line.back() != ':' || line[0] == ';')
        return false;
    for (char ch : line)
        if (IsBlank(ch))
            return false;
    return true;
}

std::size_t programStart(const DiagnosisContext& ctx)
{
    return ctx.map->headerLines + BannerLineCount + ctx.map->libraryLines;
}

std::string kindText(SymbolKind k)
{
    switch (k) {
    case SymbolKind::Register: return "an I/O register";
    case SymbolKind::Bit: return "a register bit";
    case SymbolKind::Vector: return "an interrupt vector";
    case SymbolKind::CpuRegister: return "a CPU register";
    case SymbolKind::Constant: break;
    }
    return "a constant";
}

// "'m!' (spelled mstr in the listing)" or just "'PORTB'".
std::string nameAndLabel(std::string_view name, std::string_view label)
{
    if (SameIgnoringCase(name, label))
        return InQuotes(name);
    return InQuotes(name) + " (spelled " + std::string(label) + " in the listing)";
}

// The column of `word` standing alone in `line` (1-based), 0 when absent.
std::int64_t columnOf(std::string_view line, std::string_view word)
{
    if (word.empty())
        return 0;
    for (std::size_t at = line.find(word); at != std::string_view::npos; at = line.find(word, at + 1)) {
        const bool startOk = at == 0 || IsBlank(line[at - 1]);
        const bool endOk = at + word.size() >= line.size() || IsBlank(line[at + word.size()]);
        if (startOk && endOk)
            return std::int64_t(at) + 1;
    }
    return 0;
}

} // namespace

bool IsAssemblerReserved(std::string_view upperName)
{
    return std::find(Mnemonics.begin(), Mnemonics.end(), upperName) != Mnemonics.end() ||
           upperName == ProgramCounter || IsAssemblerFunction(upperName);
}

std::vector<AssemblerMessage> ParseAssemblerOutput(const std::string& output)
{
    std::vector<AssemblerMessage> out;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string_view line(output.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // "FILE(LINE) : Error   : TEXT", or "Warning : TEXT" without a place.
        // The place is the first "(digits) : " that a kind follows, so
        // brackets and colons in the folders' names stay part of FILE.
        AssemblerMessage m;
        std::string_view rest = line;
        for (auto close = line.find(") : "); close != std::string_view::npos; close = line.find(") : ", close + 1)) {
            const std::string_view after = line.substr(close + 4);
            const auto open = line.rfind('(', close);
            if (open == std::string_view::npos || !(after.starts_with("Error") || after.starts_with("Warning")))
                continue;
            const std::string_view digits = line.substr(open + 1, close - open - 1);
            std::uint64_t number = 0;
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
                number > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
                continue;
            m.file = std::string(line.substr(0, open));
            m.line = std::int64_t(number);
            rest = after;
            break;
        }
        const bool error = rest.starts_with("Error");
        const bool warning = rest.starts_with("Warning");
        if (!error && !warning)
            continue; // progress, summaries, ignored pragmas
        m.error = error;
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view text = rest.substr(colon + 1);
        while (!text.empty() && text.front() == ' ')
            text.remove_prefix(1);
        if (text.starts_with("Maximum error count reached"))
            continue;
        // An error raised inside a macro names the macro's place first; the
        // Forth line says more.
        if (text.starts_with("[Macro:")) {
            const auto end = text.find("] ");
            if (end != std::string_view::npos)
                text.remove_prefix(end + 2);
        }
        m.text = std::string(text);
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<Diagnostic> CheckListing(const DiagnosisContext& ctx)
{
    std::vector<Diagnostic> out;
    const LineList& listing = *ctx.listing;
    const LineMaps& map = *ctx.map;
    const std::size_t first = map.headerLines + BannerLineCount;

    // Labels defined twice, and whether main is among them.
    std::map<std::string, std::size_t> labels; // folded label -> its first listing line
    bool hasMain = false;
    for (std::size_t i = first; i < listing.size(); ++i) {
        const auto line = listing[i];
        if (!isLabelLine(line))
            continue;
        const std::string folded = FoldCase(line.substr(0, line.size() - 1));
        hasMain = hasMain || folded == "MAIN";
        const auto [it, added] = labels.try_emplace(folded, i);
        if (added)
            continue;
        const LineOrigin o = map.listingLine(i);
        const LineOrigin before = map.listingLine(it->second);
        std::string where = before.line != LineOrigin::NoLine ? "on line " + std::to_string(before.line + 1)
                                                              : std::string("the archive");
        if (before.kind == OriginKind::Archive && before.entry)
            where = "by the archive routine " + std::string(map.name(before.entry)) + ", copied for its use " + where;
        out.push_back(at(ctx, o, std::int64_t(i) + 1, Severity::Error,
                         "the label " + std::string(line.substr(0, line.size() - 1)) + " is defined twice (first " +
                             where + "); the assembler ignores case, so one label per name: rename one of them"));
    }
    if (ctx.map->headerLines > 0 && !hasMain)
        out.push_back(atSource(ctx, Severity::Error,
                               "the program has no word main: the run-time starts a program by calling main, so "
                               "define one, for example ': main ... ;'"));

    // Names the assembler or the device already take.
    std::set<std::string> reported;
    Compiler filter; // the label filter's working line
    for (const auto& def : map.definitions) {
        const std::string name(map.name(def.name));
        const std::string label = SpelledLabel(filter, name);
        const std::string upper = FoldCase(label);
        if (!reported.insert(upper).second)
            continue;
        LineOrigin o{OriginKind::Word, def.line, def.column, std::uint32_t(name.size()), def.name, 0};
        const auto clash = [&](Severity s, std::string text) {
            Diagnostic d = at(ctx, o, 0, s, std::move(text));
            d.word = name;
            out.push_back(std::move(d));
        };
        if (const auto* sym = ctx.symbols ? ctx.symbols->find(upper) : nullptr) {
            const std::string what = kindText(sym->kind);
            const std::string file = std::filesystem::path(ctx.symbols->file).filename().string();
            if (sym->kind == SymbolKind::CpuRegister)
                clash(Severity::Warning, nameAndLabel(name, label) + " is also the name of " + what +
                                             ": inline assembler that names it would mean the register; rename the word");
            else
                clash(Severity::Error, nameAndLabel(name, label) + " clashes with " + upper + ", " + what + " in the " +
                                           std::string(ctx.device->title) + "'s definitions (" + file +
                                           "), and the assembler ignores case: rename the word");
        } else if (const auto h = ctx.headerNames.find(upper); h != ctx.headerNames.end()) {
            clash(Severity::Error, nameAndLabel(name, label) + " clashes with " + upper + ", " + h->second +
                                       " of the run-time header: rename the word");
        } else if (upper == ProgramCounter) {
            clash(Severity::Warning, nameAndLabel(name, label) +
                                         " is the assembler's program counter: a call of it calls itself and the "
                                         "program hangs; rename the word");
        } else if (IsAssemblerReserved(upper)) {
            clash(Severity::Warning, nameAndLabel(name, label) +
                                         " is also a name the assembler keeps for itself (an instruction or operand "
                                         "function); calls still reach the word, but rename it to keep inline "
                                         "assembler unambiguous");
        }
    }

    // Variables placed over the registers and I/O, or past the SRAM.
    if (!map.variables.empty() && ctx.device) {
        const auto& first = map.variables.front();
        const std::string name(map.name(first.name));
        const auto column = columnOf(SourceLineOf(ctx, first.line), name);
        LineOrigin o{OriginKind::Word, first.line, std::uint32_t(column), std::uint32_t(name.size()), first.name, 0};
        const std::string range = hex4(ctx.device->sramStart) + "-" + hex4(ctx.device->sramEnd);
        if (ctx.varStart < ctx.device->sramStart)
            out.push_back(at(ctx, o, 0, Severity::Warning,
                             "the variable start " + hex4(ctx.varStart) + " lies below the " +
                                 std::string(ctx.device->title) + "'s SRAM (" + range +
                                 "), so the variables would overwrite its registers and I/O; use the variable start " +
                                 std::string(ctx.device->varStart) + " (leave out --varbeg)"));
        else if (ctx.varStart > ctx.device->sramEnd)
            out.push_back(at(ctx, o, 0, Severity::Warning,
                             "the variable start " + hex4(ctx.varStart) + " lies past the " +
                                 std::string(ctx.device->title) + "'s SRAM (" + range + ")"));
    }
    auto facts = DiagnoseFacts(ctx);
    out.insert(out.end(), std::make_move_iterator(facts.begin()), std::make_move_iterator(facts.end()));
    return out;
}

// The text words read flash with lpm, which reaches this many words.
constexpr std::uint32_t LpmReachWords = 0x8000;

std::vector<Diagnostic> CheckMemory(const DiagnosisContext& ctx, const std::map<std::string, std::uint32_t>& symbols,
                                    std::int64_t variableEnd)
{
    std::vector<Diagnostic> out;
    // Texts of ." S" C" lie after their definitions, labelled _S<n>.
    for (std::size_t i = programStart(ctx); i < ctx.listing->size(); ++i) {
        const auto line = (*ctx.listing)[i];
        if (!line.starts_with("_S") || !isLabelLine(line))
            continue;
        const auto at = symbols.find(std::string(line.substr(0, line.size() - 1)));
        if (at == symbols.end() || at->second < LpmReachWords)
            continue;
        const LineOrigin o = ctx.map->listingLine(i);
        out.push_back(mirtolan::at(ctx, o, std::int64_t(i) + 1, Severity::Warning,
                                   "this text lies beyond the first 64 KB of flash, where the text words do not "
                                   "read: they would send other bytes; put the program's texts in words defined "
                                   "early in the source"));
    }
    const auto top = symbols.find("DATA_STACK_TOP");
    if (top == symbols.end() || ctx.map->variables.empty() || !ctx.device)
        return out;
    const std::int64_t limit = std::int64_t(top->second) - MinDataStackBytes;
    if (variableEnd < limit || ctx.varStart > ctx.device->sramEnd)
        return out;
    for (const auto& v : ctx.map->variables) {
        if (v.address + std::max<std::int64_t>(v.size, 1) - 1 < limit)
            continue;
        LineOrigin o{OriginKind::Word, v.line, 0, 0, v.name, 0};
        Diagnostic d = at(ctx, o, 0, Severity::Warning,
                          "the variables run into the data stack: " + InQuotes(ctx.map->name(v.name)) + " ends at " +
                              hex4(v.address + v.size - 1) + ", and the data stack grows down from " +
                              hex4(top->second) + " toward them; allot fewer bytes");
        d.word = std::string(ctx.map->name(v.name));
        d.column = columnOf(SourceLineOf(ctx, v.line), d.word);
        out.push_back(std::move(d));
        break;
    }
    return out;
}

namespace {

// The operand of an instruction line: "\tbreq\t_L5\t\t; LOOP" gives "_L5".
std::string operandOf(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    while (i < line.size() && !IsBlank(line[i]))
        ++i;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    std::size_t j = i;
    while (j < line.size() && !IsBlank(line[j]) && line[j] != ';')
        ++j;
    return std::string(line.substr(i, j - i));
}

// What the explanations of one build's messages share: the measured
// branch distances, and the listing's labels, read once for all the
// branches that ask for their targets.
struct Findings {
    const std::map<std::int64_t, std::int64_t>& reach; // listing line (from 1) -> a branch's distance in words
    std::optional<std::unordered_map<std::string, std::size_t>> labels; // folded label -> its first listing line
};

// The listing line (from 0) of label `name`: a line that begins with the
// name, a colon and a blank or its end.
std::optional<std::size_t> findLabel(const LineList& listing, Findings& f, std::string_view name)
{
    if (!f.labels) {
        f.labels.emplace();
        for (std::size_t i = 0; i < listing.size(); ++i) {
            const auto l = listing[i];
            const std::size_t blank = std::size_t(std::find_if(l.begin(), l.end(), IsBlank) - l.begin());
            if (blank > 0 && l[blank - 1] == ':')
                f.labels->try_emplace(FoldCase(l.substr(0, blank - 1)), i);
        }
    }
    const auto it = f.labels->find(FoldCase(name));
    return it == f.labels->end() ? std::nullopt : std::optional<std::size_t>(it->second);
}

struct Place {
    const DiagnosisContext& ctx;
    const AssemblerMessage& message;
    std::size_t index;       // listing line, from 0
    std::string_view text;   // that line
    LineOrigin origin;       // where it came from
};

std::string branchText(const Place& p, Findings& f)
{
    const auto& ctx = p.ctx;
    if (p.origin.kind != OriginKind::Word)
        return "the branch cannot reach its label: a conditional branch reaches 63 words forward and 64 back";
    const std::string opener = FoldCase(wordAt(ctx, p.origin));
    const std::string def = definitionOf(ctx, p.origin);
    std::string other;
    bool forward = true;
    if (const auto target = findLabel(*ctx.listing, f, operandOf(p.text))) {
        forward = *target > p.index;
        const LineOrigin t = ctx.map->listingLine(*target);
        if (t.kind == OriginKind::Word)
            other = FoldCase(wordAt(ctx, t)) + " at line " + std::to_string(t.line + 1);
    }
    std::string text = forward ? opener + " cannot reach " + (other.empty() ? "its end" : "its " + other)
                               : opener + " cannot jump back to " + (other.empty() ? "its start" : "its " + other);
    if (!def.empty())
        text += " in " + InQuotes(def);
    text += ": the code between them is ";
    if (const auto k = f.reach.find(std::int64_t(p.index) + 1); k != f.reach.end()) {
        const std::int64_t miss = k->second > BranchForward ? k->second - BranchForward : -BranchBack - k->second;
        text += std::to_string(miss) + (miss == 1 ? " word" : " words") + " too long for a conditional branch";
    } else {
        text += "too long for a conditional branch";
    }
    text += forward ? " (it reaches 63 words forward)" : " (it reaches 64 words back)";
    return text + "; move part of the body into a word of its own";
}

// The words whose rjmp stays inside their definition: no Zcall lengthens it.
constexpr std::string_view ControlJumps[] = {"ELSE", "AGAIN", "REPEAT", "ENDOF", "LEAVE", "?DO"};

// The source word of an rcall or rjmp that is out of range, upper-cased,
// and whether it is a control structure's jump.
std::pair<std::string, bool> relativeWord(const Place& p)
{
    const std::string word = p.origin.kind == OriginKind::Word ? wordAt(p.ctx, p.origin) : std::string();
    const std::string upper = FoldCase(word);
    return {word, std::find(std::begin(ControlJumps), std::end(ControlJumps), upper) != std::end(ControlJumps)};
}

std::string relativeText(const Place& p)
{
    const auto& ctx = p.ctx;
    const auto [word, control] = relativeWord(p);
    const std::string upper = FoldCase(word);
    if (control)
        return upper + " cannot reach its label: the definition's body is longer than rjmp reaches (2K words); move "
                       "part of it into words of their own";
    const std::string target = operandOf(p.text);
    const std::string what = word.empty() ? "the call of " + target : "the call of " + InQuotes(word);
    if (ctx.device && !ctx.device->hasCallJmp)
        return what + " cannot reach it: rcall and rjmp reach 2K words, and the " + std::string(ctx.device->title) +
               " has no call or jmp; the program is too big for it, so make it smaller";
    return what + " cannot reach it: rcall and rjmp reach 2K words and the program is larger; turn on Zcall (the "
                  "option --zcall, \"Use Zcall\" in the window, or USEZCALL at the top of the source)";
}

std::string clashText(const Place& p)
{
    const std::string def = definitionOf(p.ctx, p.origin);
    return (def.empty() ? std::string("this name") : InQuotes(def)) +
           " clashes with a name the assembler already knows (" + p.message.text + "): rename the word";
}

std::string undefinedText(const Place& p)
{
    const auto at = p.message.text.rfind(' ');
    const std::string name = at == std::string::npos ? p.message.text : p.message.text.substr(at + 1);
    if (p.origin.kind == OriginKind::PassThrough || wordAt(p.ctx, p.origin) == "$")
        return "the assembler line names " + name + ", which no word and no label of the program defines";
    return name + " is not defined anywhere in the program (" + p.message.text + ")";
}

// The assembler's messages about listing lines, by the text they contain.
struct AssemblerKind {
    std::string_view contains;
    std::string (*explain)(const Place&, Findings&);
};
const AssemblerKind AssemblerKinds[] = {
    {"Branch out of range", [](const Place& p, Findings& f) { return branchText(p, f); }},
    {"Relative address out of range", [](const Place& p, Findings&) { return relativeText(p); }},
    {"has already been defined", [](const Place& p, Findings&) { return clashText(p); }},
    {"Can't redefine label", [](const Place& p, Findings&) { return clashText(p); }},
    {"Found no label/variable/constant named", [](const Place& p, Findings&) { return undefinedText(p); }},
    {"Constant out of range", [](const Place& p, Findings&) {
         return "the value does not fit the instruction (" + p.message.text + ")";
     }},
};

} // namespace

bool CallsBeyondReach(const DiagnosisContext& ctx, const std::vector<AssemblerMessage>& messages)
{
    for (const auto& m : messages) {
        if (!m.error || m.text.find("Relative address out of range") == std::string::npos || m.file.empty() ||
            !SameFile(m.file, ctx.listingFile) || m.line < 1 || std::size_t(m.line) > ctx.listing->size())
            continue;
        const std::size_t index = std::size_t(m.line - 1);
        const Place p{ctx, m, index, (*ctx.listing)[index], ctx.map->listingLine(index)};
        if (!relativeWord(p).second)
            return true;
    }
    return false;
}

std::vector<Diagnostic> DiagnoseAssembler(const DiagnosisContext& ctx, const std::vector<AssemblerMessage>& messages,
                                          const std::map<std::int64_t, std::int64_t>& branchReach)
{
    std::vector<Diagnostic> out;
    const std::string headerBase = std::filesystem::path(ctx.headerFile).filename().string();
    Findings findings{branchReach, std::nullopt};
    for (const auto& m : messages) {
        const Severity s = m.error ? Severity::Error : Severity::Warning;
        if (!m.file.empty() && SameFile(m.file, ctx.listingFile) && m.line >= 1 &&
            std::size_t(m.line) <= ctx.listing->size()) {
            const std::size_t index = std::size_t(m.line - 1);
            Place p{ctx, m, index, (*ctx.listing)[index], ctx.map->listingLine(index)};
            std::string text;
            for (const auto& k : AssemblerKinds)
                if (m.text.find(k.contains) != std::string::npos) {
                    text = k.explain(p, findings);
                    break;
                }
            if (text.empty())
                text = m.text;
            out.push_back(at(ctx, p.origin, m.line, s, std::move(text)));
            continue;
        }
        if (m.text.find("named main") != std::string::npos) {
            out.push_back(atSource(ctx, Severity::Error,
                                   "the program has no word main: the run-time starts a program by calling main, so "
                                   "define one, for example ': main ... ;'"));
            continue;
        }
        Diagnostic d;
        d.severity = s;
        d.file = m.file.empty() ? ctx.sourceName : m.file;
        d.line = m.line;
        d.text = m.text;
        if (!m.file.empty() && std::filesystem::path(m.file).filename() == headerBase)
            d.text += " (in the run-time header)";
        out.push_back(std::move(d));
    }
    return out;
}

} // namespace mirtolan
