#include "LineMap.h"

#include <algorithm>

namespace mirtolan {

LineOrigin LineMap::at(std::size_t index) const
{
    auto after = std::upper_bound(runs_.begin(), runs_.end(), index,
                                  [](std::size_t i, const Run& r) { return i < r.first; });
    if (after == runs_.begin())
        return {};
    return std::prev(after)->origin;
}

void LineMap::truncate(std::size_t lines)
{
    while (!runs_.empty() && runs_.back().first >= lines)
        runs_.pop_back();
}

std::uint32_t LineMaps::intern(std::string_view name)
{
    const auto [it, added] = nameIndex_.try_emplace(std::string(name), std::uint32_t(names.size() + 1));
    if (added)
        names.emplace_back(name);
    return it->second;
}

LineOrigin LineMaps::listingLine(std::size_t index) const
{
    if (index < headerLines)
        return {OriginKind::Header};
    index -= headerLines;
    if (index < BannerLineCount)
        return {OriginKind::Banner};
    index -= BannerLineCount;
    if (index < libraryLines)
        return library.at(index);
    return program.at(index - libraryLines);
}

void LineMaps::clear()
{
    program.clear();
    library.clear();
    names.clear();
    nameIndex_.clear();
    definitions.clear();
    variables.clear();
    stacks.clear();
    messages.clear();
    facts.clear();
    headerLines = libraryLines = 0;
}

} // namespace mirtolan
