#include "Output.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

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

// True when both names lead to one file, so writing one would replace the other.
static bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec))
        return true;
    return std::filesystem::absolute(a, ec).lexically_normal() == std::filesystem::absolute(b, ec).lexically_normal();
}

static std::string variableEnd(std::int32_t varNext)
{
    char buf[24];
    const auto last = static_cast<std::uint32_t>(varNext) - 1u; // VarStart 0 and no variable gives FFFFFFFF
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(last));
    return std::string("Variable end: $") + buf;
}

void Finishes(Compiler& c)
{
    AddTestIfZero(c);
    for (const char* line : BannerLines)
        c.Listing.emplace_back(line);

    // The lookups are over. The program's text becomes the listing without a
    // copy: the header, the banner and the library go in front of it at
    // once, and the label filter then runs over the library and program
    // lines only, in place.
    c.ProgramCode.dropIndex();
    LineList front = c.Listing;
    for (auto line : c.LibraryCode.list())
        front.push_back(line);
    c.ProgramCode.prepend(front);
    FilterLabelsFrom(c, c.Listing.size());

    c.AsmFileName = c.OutputFile.empty() ? FormAsmFileName(c.SourceFileName) : c.OutputFile;
    c.Listing = c.ProgramCode.take();

    if (c.WriteListing) {
        if (!c.SourceFileName.empty() && sameFile(c.AsmFileName, c.SourceFileName))
            throw CompileError("The listing " + c.AsmFileName +
                               " would overwrite the source itself; rename the source or choose another output file");
        WriteFileSafely(c.AsmFileName, c.Listing.text());
    }
    c.Messages.emplace_back("Compile Completed");
    c.Messages.push_back(variableEnd(c.VarNext));
}

} // namespace mirtolan
