// Turns what the compile and the assembler say about a listing into
// messages at the Forth line and word that caused each problem, with a
// plain remedy; and finds what assembles but would run wrong.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Build.h"
#include "Compiler.h"
#include "CodeList.h"
#include "Devices.h"
#include "LineMap.h"

namespace mirtolan {

// What the diagnosis reads: the source, the finished listing and its map,
// and the names the assembler already knows for the device.
struct DiagnosisContext {
    std::string sourceName;      // the source as the user named it, for FILE:LINE
    const LineList* source = nullptr; // the source's lines
    const LineList* listing = nullptr; // the finished listing
    const LineMaps* map = nullptr;     // where the listing's lines came from
    std::string listingFile;     // the listing's path, as the assembler names it
    const Device* device = nullptr;
    const DeviceSymbols* symbols = nullptr; // the device include file's names
    std::map<std::string, std::string, std::less<>> headerNames; // names the run-time header defines (upper-cased) -> what they are
    std::string headerFile;      // the run-time header the listing includes
    std::uint32_t varStart = 0;  // the first variable address
    const Archive* archive = nullptr; // the words the compile could take from the archive
};

// One message of the assembler, as it printed it.
struct AssemblerMessage {
    std::string file;            // the file it names
    std::int64_t line = 0;       // 1-based line in it; 0 when none
    bool error = true;           // Error, else Warning
    std::string text;            // the message after "Error :"
};
std::vector<AssemblerMessage> ParseAssemblerOutput(const std::string& output);

// The compile's own messages, each told at its line with what to do.
std::vector<Diagnostic> DiagnoseCompileMessages(const DiagnosisContext& ctx, const std::vector<std::string>& messages);
// What the compile noticed beyond its messages: structures left open or
// closed by the wrong word, numbers wider than their cells, case constants
// without OF, texts without their closing quote.
std::vector<Diagnostic> DiagnoseFacts(const DiagnosisContext& ctx);
// Problems visible before assembling: names the assembler takes for its
// own, a missing main, variables placed over the I/O registers, and the
// compile's facts.
std::vector<Diagnostic> CheckListing(const DiagnosisContext& ctx);
// The assembler's messages at Forth lines. `branchReach` gives, for a listing
// line whose branch was out of range, its measured distance in words.
std::vector<Diagnostic> DiagnoseAssembler(const DiagnosisContext& ctx, const std::vector<AssemblerMessage>& messages,
                                          const std::map<std::int64_t, std::int64_t>& branchReach);
// Whether the assembler found a call of a word, or a jump to one, beyond
// the reach of rcall and rjmp: a build with Zcall would reach it.
bool CallsBeyondReach(const DiagnosisContext& ctx, const std::vector<AssemblerMessage>& messages);
// After assembling: variables that run into the data stack, texts placed
// beyond the flash that the text words read.
std::vector<Diagnostic> CheckMemory(const DiagnosisContext& ctx, const std::map<std::string, std::uint32_t>& symbols,
                                    std::int64_t variableEnd);

// `s` in single quotes, as the diagnostics name a word.
std::string InQuotes(std::string_view s);
// Line `line` (from 0) of the source; empty past its end.
std::string_view SourceLineOf(const DiagnosisContext& ctx, std::uint32_t line);

// Names the assembler keeps for itself, upper-cased: the instruction
// mnemonics, PC and the expression functions.
bool IsAssemblerReserved(std::string_view upperName);

} // namespace mirtolan
