// Where the code of each word of the source lies in flash. The assembler
// reads a copy of the listing with a label before the first line of each
// word's code; its map then gives their addresses, and the listing itself
// stays as the compiler wrote it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "CodeList.h"
#include "LineMap.h"

namespace mirtolan {

struct CodeSpot;

// The copy of a listing that the assembler reads.
struct LabelledListing {
    std::string text;                        // the listing with the labels, each line followed by CR LF
    std::vector<std::int64_t> listingLine;   // per line of the copy (from 1): the listing's line (from 1); 0 for a label
    std::vector<std::size_t> labelled;       // the listing's lines (from 0) that got a label, in order
};

// True for the names of those labels (upper-cased, as the map has them).
bool IsSpotLabel(std::string_view upperName);

LabelledListing LabelWordStarts(const LineList& listing, const LineMaps& map);

// The spots of the labelled lines, by the assembler's symbols (names
// upper-cased, word addresses), in order of address; words without code
// of their own are left out.
std::vector<CodeSpot> ReadSpots(const LabelledListing& copy, const LineMaps& map,
                                const std::map<std::string, std::uint32_t>& symbols);

} // namespace mirtolan
