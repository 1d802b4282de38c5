// Frames every compile: the header lines at its start; at its end the banner,
// the joined and filtered code, the saved .asm file and the summary lines.
#pragma once

#include <string>

namespace mirtolan {

struct Compiler;

void AddHead(Compiler& c);
void Finishes(Compiler& c);

// The source path with its extension replaced by ".asm". The extension is the
// part from the last "." that follows every "\", ":" and "/" of the path.
std::string FormAsmFileName(const std::string& source);

} // namespace mirtolan
