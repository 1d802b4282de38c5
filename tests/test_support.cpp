#include "test_support.h"

#include <fstream>
#include <optional>
#include <sstream>

#include "TextFile.h"

namespace mirtolan::test {

const Lines& TestArchive()
{
    static const Lines archive{
        "$$ _TestIfZero", "\tld\tFtmp1,Y+", "\ttst\tFtmp1",
        "$$ DO", "\tnop ; do",
        "$$ LOOP", "\tnop ; loop",
        "$$ +LOOP", "\tnop ; +loop",
        "$$ DUP", "\tld\tFtmp1,Y", "\tst\t-Y,Ftmp1",
        "$$ DROP", "\tld\tFtmp1,Y+",
        "$$ 1+", "\tld\tFtmp1,Y", "\tinc\tFtmp1", "\tst\tY,Ftmp1",
        "$$ TYPEP", "\tnop ; typep",
        "$$ _QDo", "\tnop ; qdo",
        "$$ UNLOOP", "\tnop ; unloop",
        "$",
    };
    return archive;
}

Result Compile(const Lines& source, const Options& options, const Lines& archive)
{
    Compiler c;
    c.archive.assign(archive, "test.arch");
    c.archive16.assign(archive, "test.arch");
    c.CellBits = options.cells;
    c.UseZcall = options.zcall;
    c.Optimise = options.optimise;
    c.IncludeHeader = options.header;
    c.VarStart = options.varStart;
    c.SourceFileName = "test.4th";
    c.WriteListing = options.write;
    std::optional<TempDir> dir;
    if (options.write) {
        dir.emplace();
        c.OutputFile = *dir / "test.asm";
    }
    Result r;
    try {
        CompileClick(c, source);
    } catch (const CompileError& e) {
        r.error = e.what();
    }
    r.listing = c.Listing;
    if (options.write && r.error.empty())
        r.listing = SplitLines(ReadFile(c.OutputFile));
    r.messages = c.Messages;
    r.useZcall = c.UseZcall;
    r.varNext = c.VarNext;
    // The library section ends with the _TestIfZero routine, whose body in
    // the test archives holds no "\tret" of its own.
    std::size_t i = 0;
    while (i < r.listing.size() && r.listing[i] != "_TestIfZero:")
        ++i;
    std::size_t end = i;
    while (end < r.listing.size() && r.listing[end] != "\tret")
        ++end;
    const std::size_t bannerEnd = std::min<std::size_t>(r.listing.size(), (options.header ? 4 : 0) + 3);
    if (end < r.listing.size()) {
        r.library.assign(r.listing.begin() + std::ptrdiff_t(bannerEnd), r.listing.begin() + std::ptrdiff_t(i));
        r.program.assign(r.listing.begin() + std::ptrdiff_t(end + 1), r.listing.end());
    }
    return r;
}

std::string Noise(std::size_t size, std::uint32_t seed)
{
    std::string s(size, '\0');
    for (auto& ch : s) {
        seed = seed * 1664525u + 1013904223u;
        ch = char(seed >> 24);
    }
    return s;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

} // namespace mirtolan::test
