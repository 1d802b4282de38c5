// The word archive: ready-made assembler routines, one entry a Forth word,
// copied into the library section on first use.
#pragma once

#include <cstdint>
#include <string>

namespace mirtolan {

struct Compiler;
struct Archive;

// The archive of the compile's cell size.
const Archive& ActiveArchive(const Compiler& c);

std::int64_t FindArchiveWord(const Compiler& c, const std::string& name);
void CopyArchiveWord(Compiler& c, std::int64_t position);
void CopyArchiveWordAndCall(Compiler& c, std::int64_t position);
bool IsLibraryWord(const Compiler& c, const std::string& name);
void AddTestIfZero(Compiler& c);

// Abandons the compile because the archive lacks a routine it needs.
[[noreturn]] void MissingArchiveWord(const Compiler& c, const std::string& name);

} // namespace mirtolan
