// Builds a Forth source into a .hex file that can be flashed: compiles it,
// assembles the listing with avra, and reports every problem, the
// assembler's included, at the Forth line and word that caused it.
//
// Both front ends call BuildHex: the command-line tool with --hex, the
// window from a worker thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CodeList.h"
#include "Devices.h"

namespace mirtolan {

struct Compiler;
class PrivateFolder;

enum class Severity { Error, Warning, Note };

// One problem, placed at a line of the Forth source where one is known.
struct Diagnostic {
    Severity severity = Severity::Error; // error: no .hex; warning: builds, but likely runs wrong
    std::string file;        // the file the line belongs to: the Forth source, else the listing or header
    std::int64_t line = 0;   // 1-based line in `file`; 0 when no line is known
    std::int64_t column = 0; // 1-based column of the word in that line; 0 when not known
    std::string word;        // the Forth word concerned; empty when none
    std::string text;        // what is wrong, with its remedy

    // "FILE:LINE: error: TEXT", the form editors and make understand.
    std::string format() const;
};

// A word of the built program: a colon definition, a constant, a variable,
// or a routine copied from the archive.
struct ProgramWord {
    std::string name;        // the Forth name as the source (or the archive) writes it
    std::string label;       // its label in the listing, as the label filter spelled it
    std::int64_t line = 0;   // 1-based source line of its definition (first use for archive words)
    bool fromArchive = false; // copied from the archive rather than defined in the source
};

// A VARIABLE and the bytes ALLOT added behind it.
struct ProgramVariable {
    std::string name;        // the Forth name
    std::uint32_t address = 0; // its data-memory address
    std::uint32_t size = 1;  // bytes: 1, plus the counts of the ALLOTs that follow it
    std::int64_t line = 0;   // 1-based source line of its definition
};

// Where the code of a word of the source begins in flash: what breakpoints,
// steps and the lines of a fault are made of.
struct CodeSpot {
    std::uint32_t address = 0;   // byte address in flash of the word's first instruction
    std::int64_t line = 0;       // 1-based source line of the word
    std::int64_t column = 0;     // 1-based column of the word in that line; 0 for a whole "$" line
    std::uint32_t length = 0;    // the word's length in characters
    std::string definition;      // the definition it lies in (colon, constant, variable); empty at top level
    std::string stack;           // in optimised code, where the stacks' top cells are here (a StackNote); empty: in memory
};
// avra assembles the listing of a thousand definitions in well under a
// second; this much longer means it hangs (an .include of a FIFO, say).
constexpr std::chrono::milliseconds DefaultAssemblerTimeLimit = std::chrono::minutes(5);

struct BuildOptions {
    int cellBits = 8;                 // the cell size unless the source says otherwise (USE16BIT, USE8BIT): 8 or 16
    bool optimise = false;            // the optimiser rewrites each definition (--opt)
    unsigned optimiseSkip = 0;        // optimiser steps left out (OptStep bits), to measure each one
    std::string optimiseKeep;         // the optimiser keeps words whose names begin so, though nothing calls them
    // The Forth source; the listing and the .hex are named after it. Empty
    // for an untitled source (sourceText then holds it): the build is made
    // in a private folder that the result keeps.
    std::string sourceFile;
    const LineList* sourceText = nullptr; // the source's lines when they are not to be read from sourceFile (the window's editor)
    const Device* device = nullptr;   // the target; null means the default device
    std::optional<std::string> varStart; // hexadecimal variable start; none: the device's default
    bool useZcall = false;            // calls as Zcall/Zjmp
    bool includeHeader = true;        // the listing includes the run-time header (needed for a .hex)
    std::string archive;              // the word archive file of the 8-bit cells
    std::string archive16;            // the word archive of the 16-bit cells; empty: the shipped one (runtimeDirs)
    std::vector<std::string> runtimeDirs; // folders holding the run-time (share/mirtolan), searched in order
    std::string listingFile;          // where to write the listing; empty: beside the source, with .asm
    std::string hexFile;              // where to write the .hex; empty: the listing's name with .hex
    std::function<void(const std::string& stage)> progress; // told each stage as it starts
    const std::atomic<bool>* cancel = nullptr; // set from another thread to stop the build
    std::chrono::milliseconds assemblerTimeLimit = DefaultAssemblerTimeLimit; // avra is stopped after it
};

struct BuildResult {
    enum Status {
        Built,     // the .hex was written (warnings allowed)
        Problems,  // no .hex: the source or the listing has problems, each in diagnostics
        Abandoned, // the compile was abandoned, or a tool or file failed: see error
    };
    Status status = Abandoned;
    std::string error;                     // why the build was abandoned
    std::vector<std::string> compileMessages; // the compile's own message list, exactly as a compile gives it
    std::vector<Diagnostic> diagnostics;   // errors and warnings at Forth lines, in source order
    std::string sourceFile;                // the source as built (an untitled one: its name in `folder`)
    std::string asmFile;                   // the listing written
    std::string hexFile;                   // the .hex written (when Built)
    std::string hexImage;                  // the .hex's text as this build assembled it (when Built), whatever
                                           // happens to the file later
    std::shared_ptr<const PrivateFolder> folder; // an untitled build's folder, removed with the last copy of the result
    const Device* device = nullptr;        // the device built for
    int cellBits = 8;                      // the cell size the program was compiled for
    std::string varStart;                  // the variable start used
    std::map<std::string, std::uint32_t> symbols; // the assembler's labels (word addresses) and constants, upper-cased
    std::vector<ProgramWord> words;        // the program's words, in listing order
    std::vector<ProgramVariable> variables; // the program's variables, in order of definition
    std::vector<CodeSpot> spots;           // where each word's code begins, in order of address
    std::uint32_t flashWords = 0;          // program size
    bool callsBeyondReach = false;         // Problems: a call or a jump to a word lay beyond rcall's reach, which Zcall reaches
};

BuildResult BuildHex(const BuildOptions& options);

// The files a build writes.
struct BuildOutputs {
    std::string listing; // the listing: listingFile, else the source with .asm
    std::string hex;     // the .hex: hexFile, else the listing with .hex
};
BuildOutputs PlannedOutputs(const BuildOptions& options);

// A run of consecutive bytes of an Intel hex file.
struct HexChunk {
    std::uint32_t address = 0;       // the byte address of the first byte
    std::vector<std::uint8_t> bytes; // the bytes, in address order
};
// The data records of Intel hex text (record types 0, 2 and 4), joined into
// runs of consecutive addresses; nothing, with `error` set, when a record is
// malformed or its checksum is wrong.
std::optional<std::vector<HexChunk>> ParseIntelHex(std::string_view text, std::string& error);

// The name an untitled source is built under, in its private folder.
constexpr const char* UntitledSourceName = "untitled.4th";

// The run-time's files: the device's header, its archive of register words.
constexpr const char* RuntimeHeaderName = "4thHead.asm";
constexpr const char* DeviceArchiveName = "Device.arch";
// The same for the 16-bit cells, beside them.
constexpr const char* Archive16Name = "Mirtolan16.arch";
constexpr const char* DeviceArchive16Name = "Device16.arch";

// Loads the archives of a compile into `c`: `archive` (the 8-bit cells'),
// `archive16` (empty: the shipped one), and with a device its register
// words for each cell size, from the run-time folders `dirs`. Throws
// CompileError naming a file that cannot be read; a missing 16-bit archive
// leaves that archive empty.
void LoadArchives(Compiler& c, const std::string& archive, const std::string& archive16,
                  const std::vector<std::string>& dirs, const Device* device);
// `file` in the run-time folder `folder` (a device's headerFolder, or "."
// for the shared files) of the first of `dirs` that holds it; empty when none does.
std::string FindRuntimeFile(const std::vector<std::string>& dirs, std::string_view folder, std::string_view file);

} // namespace mirtolan
