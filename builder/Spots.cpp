#include "Spots.h"

#include <algorithm>

#include "Build.h"
#include "Scanner.h"

namespace mirtolan {

namespace {

// The labels the copy puts before a word's code, followed by the listing's line.
constexpr const char* SpotLabel = "_MirtolanAt";

// The first token of an assembler line, lower-cased: a directive such as
// ".dseg" or ".macro" when it begins with a dot.
std::string directiveOf(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    std::string d;
    for (; i < line.size() && !IsBlank(line[i]) && line[i] != ';'; ++i)
        d += char(line[i] >= 'A' && line[i] <= 'Z' ? line[i] - 'A' + 'a' : line[i]);
    return d;
}

} // namespace

bool IsSpotLabel(std::string_view upperName) { return upperName.starts_with(FoldCase(SpotLabel)); }

LabelledListing LabelWordStarts(const LineList& listing, const LineMaps& map)
{
    LabelledListing out;
    out.text.reserve(listing.text().size() + listing.text().size() / 8);
    const std::size_t programStart = map.headerLines + BannerLineCount + map.libraryLines;
    bool code = true;    // the assembler is in the code segment
    bool inMacro = false; // the line lies in a macro's definition, which each use repeats
    LineOrigin previous;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const std::string_view line = listing[i];
        const std::string d = directiveOf(line);
        if (d == ".dseg" || d == ".eseg")
            code = false;
        else if (d == ".cseg")
            code = true;
        else if (d == ".macro")
            inMacro = true;
        else if (d == ".endmacro" || d == ".endm")
            inMacro = false;
        if (i >= programStart) {
            const LineOrigin o = map.listingLine(i);
            const bool starts = o.kind == OriginKind::Word && o.line != LineOrigin::NoLine && !(o == previous);
            previous = o;
            if (starts && code && !inMacro && d != ".macro") {
                out.text += SpotLabel + std::to_string(i) + ":\r\n";
                out.listingLine.push_back(0);
                out.labelled.push_back(i);
            }
        }
        out.text.append(line);
        out.text += "\r\n";
        out.listingLine.push_back(std::int64_t(i) + 1);
    }
    return out;
}

std::vector<CodeSpot> ReadSpots(const LabelledListing& copy, const LineMaps& map,
                                const std::map<std::string, std::uint32_t>& symbols)
{
    std::vector<CodeSpot> spots;
    for (const std::size_t i : copy.labelled) {
        const auto it = symbols.find(FoldCase(SpotLabel + std::to_string(i)));
        if (it == symbols.end())
            continue;
        const LineOrigin o = map.listingLine(i);
        spots.push_back(CodeSpot{it->second * 2, std::int64_t(o.line) + 1, std::int64_t(o.column), o.length,
                                 std::string(map.name(o.definition)),
                                 o.stack ? map.stacks[o.stack - 1] : std::string()});
    }
    std::stable_sort(spots.begin(), spots.end(),
                     [](const CodeSpot& a, const CodeSpot& b) { return a.address < b.address; });
    // A word that made no code (a label, a comment, a name) shares its
    // address with the next word: the later one, whose code it is, stays.
    std::vector<CodeSpot> kept;
    for (std::size_t k = 0; k < spots.size(); ++k)
        if (k + 1 == spots.size() || spots[k + 1].address != spots[k].address)
            kept.push_back(std::move(spots[k]));
    return kept;
}

} // namespace mirtolan
