#include "Build.h"

namespace mirtolan {

std::string Diagnostic::format() const
{
    static constexpr const char* Kinds[] = {"error", "warning", "note"};
    std::string out = file;
    if (line > 0)
        out += ":" + std::to_string(line);
    out += std::string(": ") + Kinds[int(severity)] + ": " + text;
    return out;
}

BuildResult BuildHex(const BuildOptions&)
{
    BuildResult r;
    r.error = "building is not implemented yet";
    return r;
}

} // namespace mirtolan
