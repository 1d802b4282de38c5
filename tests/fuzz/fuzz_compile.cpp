// A whole compile of arbitrary bytes as a source, against a small archive.
// The first byte picks the options, so both call styles, the header,
// other variable starts and the optimiser are covered too.
#include "fuzz_support.h"

using namespace mirtolan;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Compiler c;
    c.archive.assign(fuzz::SmallArchive(), "fuzz.arch");
    // USE16BIT at the top of a source switches to the 16-bit cells' archive.
    c.archive16.assign(fuzz::SmallArchive(), "fuzz16.arch");
    c.SourceFileName = "fuzz.4th";
    c.WriteListing = false;
    if (size > 0) {
        c.UseZcall = data[0] & 1;
        c.IncludeHeader = data[0] & 2;
        c.VarStart = (data[0] & 4) ? "0" : (data[0] & 8) ? "FFFFFFFF" : "81";
        c.Optimise = data[0] & 16;
        ++data;
        --size;
    }
    const auto source = fuzz::Lines(data, size);
    try {
        CompileClick(c, source);
    } catch (const CompileError&) {
        // The small archive holds every word the compiler asks for itself.
        fuzz::Fail("a compile against a complete archive was abandoned");
    }
    fuzz::Expect(c.Messages.size() >= 2 && c.Messages[c.Messages.size() - 2] == "Compile Completed",
                 "a completed compile ends with its summary");
    // The listing is the file: every line followed by CR LF.
    fuzz::Expect(c.Listing.text().size() >= 2 * c.Listing.size(), "listing text holds every line");
    return 0;
}
