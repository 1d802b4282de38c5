// What the fuzz targets share: the bytes as text lines, a small archive, and
// a check that stops the run when an expectation does not hold.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Compiler.h"
#include "TextFile.h"

namespace mirtolan::fuzz {

inline std::vector<std::string> Lines(const std::uint8_t* data, std::size_t size)
{
    return SplitLines(std::string_view(reinterpret_cast<const char*>(data), size));
}

// The archive a source is compiled against: the run-time words and a few
// ordinary ones, one of them with a name the label filter spells out.
inline const std::vector<std::string>& SmallArchive()
{
    static const std::vector<std::string> archive{
        "$$ _TestIfZero", "\tld\tFtmp1,Y+", "\ttst\tFtmp1",
        "$$ DO", "\tnop", "$$ LOOP", "\tnop", "$$ +LOOP", "\tnop",
        "$$ DUP", "\tld\tFtmp1,Y", "\tst\t-Y,Ftmp1",
        "$$ DROP", "\tld\tFtmp1,Y+",
        "$$ 1+", "\tld\tFtmp1,Y", "\tinc\tFtmp1", "\tst\tY,Ftmp1",
        // What ?DO, LEAVE and ." call.
        "$$ _QDo", "\tnop", "$$ UNLOOP", "\tnop", "$$ TYPEP", "\tnop",
        "$",
    };
    return archive;
}

[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "expectation failed: %s\n", what);
    std::abort();
}

inline void Expect(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

} // namespace mirtolan::fuzz
