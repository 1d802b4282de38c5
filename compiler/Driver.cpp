// The compile driver and the top-level word interpreter.
#include <algorithm>
#include <array>
#include <string_view>

#include "Compiler.h"
#include "DefColon.h"
#include "Extensions.h"
#include "Messages.h"
#include "Optimiser.h"
#include "Output.h"
#include "Scanner.h"

namespace mirtolan {

void ProcCompile(Compiler& c);

namespace {

void setHex(Compiler& c) { c.DecimalBase = false; }
void setDecimal(Compiler& c) { c.DecimalBase = true; }
void setZcall(Compiler& c) { c.UseZcall = true; }
void setRcall(Compiler& c) { c.UseZcall = false; }

// The cell size is the source's to say, at its top: once code that depends
// on it has been compiled, another size would make a program of two kinds.
void setCellBits(Compiler& c, int bits, const char* directive)
{
    if (c.CellBits == bits)
        return;
    if (c.CellBitsFixed) {
        LineMessage(c, std::string(directive) + " must stand before the first definition");
        return;
    }
    c.CellBits = bits;
}
void setWideCells(Compiler& c) { setCellBits(c, WideCellBits, "USE16BIT"); }
void setByteCells(Compiler& c) { setCellBits(c, ByteCellBits, "USE8BIT"); }

struct TopLevelWord {
    std::string_view word;
    bool exact; // compared as written, else upper-cased
    void (*action)(Compiler&);
};
// In the order they are tested; the first match wins.
constexpr std::array<TopLevelWord, 12> TopLevelWords{{
    {":", true, CompileColon},
    {"HEX", false, setHex},
    {"DECIMAL", false, setDecimal},
    {"VARIABLE", false, DefVariable},
    {"CONSTANT", false, DefConstant},
    {"ALLOT", false, DefAllot},
    {"\\\\", true, Scomment},
    {"USEZCALL", false, setZcall},
    {"USERCALL", false, setRcall},
    {"(", true, SkipParenComment},
    {"USE16BIT", false, setWideCells},
    {"USE8BIT", false, setByteCells},
}};

void dispatchTopLevel(Compiler& c, const std::string& word)
{
    if (word.empty())
        return;
    const std::string upper = FoldCase(word);
    if (TakeHeldNumber(c, word, upper))
        return;
    for (const auto& t : TopLevelWords) {
        if ((t.exact ? word : upper) == t.word) {
            t.action(c);
            return;
        }
    }
    if (TopLevelExtension(c, word, upper))
        return;
    NotDefined(c, word);
}

bool isPassThrough(const std::string& line) { return !line.empty() && line[0] == '$'; }

// Shorter lines are never compiled at top level.
constexpr std::size_t MinTopLevelLine = 2;

} // namespace

void ProcCompile(Compiler& c)
{
    for (;;) {
        // A single character left at the very end of a line is not read.
        while (std::int64_t(c.LineBuf.size()) > c.LinePos) {
            c.LinePos += skipspace(c);
            const std::string word = RetrieveWord(c);
            c.LinePos += std::int64_t(word.size());
            if (c.Map) {
                MapWord(c, word.size());
                c.Map->program.current.definition = 0;
            }
            dispatchTopLevel(c, word);
        }
        if (!SourceHas(c, c.LineNo))
            return;
        NewLine(c);
        if (isPassThrough(c.LineBuf)) {
            --c.LineNo; // the driver loads this line again and copies it through
            return;
        }
    }
}

void MapDefinition(Compiler& c, const std::string& name)
{
    if (!c.Map)
        return;
    MapWord(c, name.size());
    const auto index = c.Map->intern(name);
    c.Map->program.current.definition = index;
    c.Map->definitions.push_back({index, c.Map->program.current.line, c.Map->program.current.column});
}

std::size_t SourceMessageCount(const Compiler& c)
{
    constexpr std::size_t SummaryLines = 2; // "Compile Completed" and the variable end
    return c.Messages.size() >= SummaryLines ? c.Messages.size() - SummaryLines : 0;
}

void CompileSource(Compiler& c, const LineList& source)
{
    LineListSource lines(source);
    CompileSource(c, lines);
}

void CompileSource(Compiler& c, SourceText& source)
{
    c.Messages.clear();
    c.Listing.clear();
    c.SourceEnded = false;
    if (c.ProcessEvents)
        c.ProcessEvents();
    c.LibraryCode.clear();
    c.ProgramCode.clear();
    c.CellBitsFixed = false;
    c.ListingFacts.clear();
    if (c.Optimise)
        StartOptimiser(c);
    c.Ext.clear();
    c.Source = &source;
    // A listing takes about four times the bytes of its source; room made
    // at once spares the growing text its copies (the finished listing is
    // made in the program's text).
    constexpr std::size_t ListingPerSourceByte = 5;
    c.ProgramCode.reserve(std::min(source.bytes(), LineList::MaxTextBytes / ListingPerSourceByte) * ListingPerSourceByte);
    // The code lists live for one compile only, whichever way it ends.
    struct Release {
        Compiler& c;
        ~Release()
        {
            c.ProgramCode.clear();
            c.LibraryCode.clear();
            c.Source = nullptr;
        }
    } release{c};
    if (c.Map) {
        c.Map->clear();
        c.ProgramCode.mapTo(&c.Map->program);
        c.LibraryCode.mapTo(&c.Map->library);
    }

    if (c.IncludeHeader)
        AddHead(c);
    if (c.Map)
        c.Map->headerLines = c.Listing.size();
    c.DecimalBase = true;
    c.LineNo = 0;
    const auto start = ParseNumber("$" + c.VarStart, true);
    if (!start)
        throw CompileError("'$" + c.VarStart + "' is not a valid hexadecimal number for the variable start");
    c.VarNext = *start;
    c.LabelCount = 1;
    c.CaseLabelCount = 1;

    std::string_view line;
    while (source.line(std::size_t(c.LineNo), line)) {
        c.LineBuf = line;
        if (c.LineBuf.size() >= MinTopLevelLine) {
            if (isPassThrough(c.LineBuf)) {
                FlushHeldNumber(c);
                if (c.Map)
                    c.Map->program.current = {OriginKind::PassThrough, std::uint32_t(c.LineNo)};
                c.ProgramCode.push_back(c.LineBuf.substr(1));
            } else {
                c.LinePos = 1;
                ProcCompile(c);
            }
        }
        ++c.LineNo;
    }
    FlushHeldNumber(c);
    Finishes(c);
}

void CompileClick(Compiler& c, const std::vector<std::string>& source) { CompileSource(c, LineList(source)); }

} // namespace mirtolan
