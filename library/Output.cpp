#include "Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "Archive.h"
#include "Compiler.h"
#include "LabelFilter.h"
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

// The program's lines on their way to a scratch file beside the listing,
// filtered for the assembler as they come: the filter reads one line at a
// time, so it gives the same text now as over the whole listing at the end.
class ListingSpill final : public LineSink {
public:
    explicit ListingSpill(int fd) : fd_(fd) { buffer_.reserve(BufferBytes + 4096); }
    ~ListingSpill() override { ::close(fd_); }

    void line(std::string_view text) override
    {
        filtered_.clear();
        buffer_.append(FilterLine(scratch_, text, filtered_) ? std::string_view(filtered_) : text);
        buffer_.append("\r\n");
        if (buffer_.size() >= BufferBytes)
            drain();
    }
    // Writes the rest; returns 0, or the errno of the first failed write.
    // After a failure the rest of the text is dropped: the compile goes on,
    // and the failure is reported at its end.
    int finish()
    {
        drain();
        return error_;
    }
    int fd() const { return fd_; }

private:
    void drain()
    {
        if (error_ == 0)
            error_ = WriteAll(fd_, buffer_);
        buffer_.clear();
    }

    // Large enough that a write costs little, small enough to stay in the cache.
    static constexpr std::size_t BufferBytes = std::size_t(1) << 16;

    int fd_;
    int error_ = 0;        // errno of the first failed write, 0 while none failed
    std::string buffer_;   // filtered lines not yet written
    std::string filtered_; // one line as the filter rewrites it
    Compiler scratch_;     // the filter's working line, apart from the scanner's
};

std::string listingName(const Compiler& c) { return c.OutputFile.empty() ? FormAsmFileName(c.SourceFileName) : c.OutputFile; }

void refuseOverwritingSource(const Compiler& c)
{
    if (!c.SourceFileName.empty() && SameFile(c.AsmFileName, c.SourceFileName))
        throw CompileError("The listing " + c.AsmFileName +
                           " would overwrite the source itself; rename the source or choose another output file");
}

// What goes before the program: the header and banner that Listing holds,
// then the library, not yet filtered.
LineList listingFront(const Compiler& c)
{
    LineList front = c.Listing;
    for (auto line : c.LibraryCode.list())
        front.push_back(line);
    return front;
}

void finishSpilled(Compiler& c, ListingSpill& spill)
{
    c.ProgramCode.flush();
    c.ProgramCode.dropIndex();
    LineList front = listingFront(c);
    front.rewriteAll(LabelRewriter(c), c.Listing.size());
    c.Listing = std::move(front);
    c.AsmFileName = listingName(c);
    refuseOverwritingSource(c);
    if (const int err = spill.finish())
        throw CompileError("Cannot write file " + c.AsmFileName + ": " + std::strerror(err));
    WriteFileSafely(c.AsmFileName, c.Listing.text(), spill.fd());
}

} // namespace

void StartListing(Compiler& c)
{
    if (!c.SpillProgram || !c.WriteListing)
        return;
    const int fd = OpenScratchBeside(listingName(c));
    // Without a scratch file the program is kept in memory; a directory that
    // refuses it refuses the listing too, and that failure is reported then.
    if (fd < 0)
        return;
    auto spill = std::make_unique<ListingSpill>(fd);
    c.ProgramCode.spillTo(spill.get());
    c.ListingSink = std::move(spill);
}

// The lookups are over. The program's text becomes the listing without a
// copy: the header, the banner and the library go in front of it at once,
// and the label filter then runs over the library and program lines only,
// in place.
static void finishKept(Compiler& c)
{
    c.ProgramCode.dropIndex();
    c.ProgramCode.prepend(listingFront(c));
    FilterLabelsFrom(c, c.Listing.size());

    c.AsmFileName = listingName(c);
    c.Listing = c.ProgramCode.take();

    if (c.WriteListing) {
        refuseOverwritingSource(c);
        WriteFileSafely(c.AsmFileName, c.Listing.text());
    }
}

void Finishes(Compiler& c)
{
    AddTestIfZero(c);
    if (c.Map)
        c.Map->libraryLines = c.LibraryCode.size();
    for (const char* line : BannerLines)
        c.Listing.emplace_back(line);

    auto* spill = dynamic_cast<ListingSpill*>(c.ListingSink.get());
    if (spill && c.ProgramCode.spilling())
        finishSpilled(c, *spill);
    else
        finishKept(c);
    c.Messages.emplace_back("Compile Completed");
    c.Messages.push_back(variableEnd(c.VarNext));
}

} // namespace mirtolan
