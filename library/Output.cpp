#include "Output.h"

#include <cstdio>
#include <vector>

#include "Archive.h"
#include "Compiler.h"
#include "Extensions.h"
#include "LabelFilter.h"
#include "Optimiser.h"
#include "TextFile.h"

namespace mirtolan {

constexpr const char* HeaderLines[] = {
    "; Mirtolan compiler Apr. 2001",
    ";",
    ".include \"4thHead.asm\"",
    ";",
};

constexpr const char* BannerLines[] = {
    ";*******************************",
    ";*** Retrieved from Archive ****",
    ";*******************************",
};
static_assert(std::size(BannerLines) == BannerLineCount, "the line map counts the banner's lines");

void AddHead(Compiler& c)
{
    for (const char* line : HeaderLines)
        c.Listing.emplace_back(line);
}

std::string FormAsmFileName(const std::string& source)
{
    const auto dot = source.rfind('.');
    const auto separator = source.find_last_of("\\:/");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return source + ".asm";
    return source.substr(0, dot) + ".asm";
}

static std::string variableEnd(std::int32_t varNext)
{
    char buf[24];
    const auto last = static_cast<std::uint32_t>(varNext) - 1u; // VarStart 0 and no variable gives FFFFFFFF
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(last));
    return std::string("Variable end: $") + buf;
}

namespace {

std::string listingName(const Compiler& c) { return c.OutputFile.empty() ? FormAsmFileName(c.SourceFileName) : c.OutputFile; }

// The lookups are over: the library and the program follow the header and
// banner that Listing holds, and the label filter runs over them only.
void assembleListing(Compiler& c)
{
    // The program's text becomes the listing where it lies: filtered in
    // place, with the header, banner and library put in front.
    LineList listing = c.ProgramCode.take();
    listing.rewriteAll(LabelRewriter(c));
    LineList front = std::move(c.Listing);
    const std::size_t first = front.size();
    for (auto line : c.LibraryCode.list())
        front.push_back(line);
    front.rewriteAll(LabelRewriter(c), first);
    listing.prepend(front);
    c.Listing = std::move(listing);

    c.AsmFileName = listingName(c);
    if (!c.WriteListing)
        return;
    if (!c.SourceFileName.empty() && SameFile(c.AsmFileName, c.SourceFileName))
        throw CompileError("The listing " + c.AsmFileName +
                           " would overwrite the source itself; rename the source or choose another output file");
    WriteFileSafely(c.AsmFileName, c.Listing.text());
}

} // namespace

// The listing says what it needs of the run-time before the header is
// included: the header builds itself for that.
static void addListingFacts(Compiler& c)
{
    std::vector<std::string> facts;
    if (c.CellBits == WideCellBits)
        facts.push_back(".equ\tCELL_BITS\t= " + std::to_string(WideCellBits));
    if (c.Optimise)
        facts.emplace_back(OptimisedFact);
    facts.insert(facts.end(), c.ListingFacts.begin(), c.ListingFacts.end());
    if (facts.empty())
        return;
    constexpr std::size_t IncludeLine = 2; // the header's third line includes the run-time header
    const std::size_t at = c.IncludeHeader && c.Listing.size() > IncludeLine ? IncludeLine : 0;
    for (std::size_t i = facts.size(); i-- > 0;)
        c.Listing.insert(at, facts[i]);
    if (c.Map)
        c.Map->headerLines += facts.size();
}

void Finishes(Compiler& c)
{
    AddInitData(c);
    AddTestIfZero(c);
    if (c.Optimise)
        FinishOptimiser(c);
    addListingFacts(c);
    if (c.Map)
        c.Map->libraryLines = c.LibraryCode.size();
    for (const char* line : BannerLines)
        c.Listing.emplace_back(line);

    assembleListing(c);
    c.Messages.emplace_back("Compile Completed");
    c.Messages.push_back(variableEnd(c.VarNext));
}

} // namespace mirtolan
