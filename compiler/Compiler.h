// The compiler-wide state of one Forth-to-AVR compile, and the entry points
// that front ends (the window, the command-line tool, tests) call.
//
// Every routine of the compiler is a free function over one `Compiler`
// object, so each front end and each test owns its own state and nothing is
// shared between them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "CodeList.h"
#include "Language.h"

namespace mirtolan {

struct OptimiserState;

// A failure of the environment (bad VarStart, archive routine missing, an
// archive entry without its closing line, a file that cannot be read or
// written). It abandons the compile; problems in the source never raise it.
class CompileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lines of the archive file and, beside them, the index that answers
// `FindArchiveWord` without a scan.
struct Archive {
    std::vector<std::string> ArchiveList; // the archive's lines in file order, as read
    // Folded header line ("$$ NAME", a-z upper-cased) -> position of its first occurrence.
    std::unordered_map<std::string, std::int64_t> headerIndex;
    // Header position -> position of the line that closes its body, or -1 when the
    // body runs to the end of the file.
    std::unordered_map<std::int64_t, std::int64_t> bodyEnd;
    std::string fileName; // the file it was loaded from, for error texts

    void clear();
    // Replaces the content by `lines` and rebuilds the indexes.
    void assign(std::vector<std::string> lines, std::string from);
};

// The lines of a source, handed out as the compile asks for them. It asks in
// order and steps back at most to the line it asked for last, so a source
// may be read from its file while the compile goes on.
class SourceText {
public:
    virtual ~SourceText() = default;
    // Sets `out` to line `i` (0-based); false when the source has no line i.
    // The view stays valid until the next call.
    virtual bool line(std::size_t i, std::string_view& out) = 0;
    // The source's size in bytes where it is known, else 0; the compile
    // makes room for the listing by it.
    virtual std::size_t bytes() const { return 0; }
};

// A source held whole in a line list.
class LineListSource final : public SourceText {
public:
    explicit LineListSource(const LineList& lines) : lines_(lines) {}
    bool line(std::size_t i, std::string_view& out) override
    {
        if (i >= lines_.size())
            return false;
        out = lines_[i];
        return true;
    }
    std::size_t bytes() const override { return lines_.text().size(); }

private:
    const LineList& lines_;
};

// Bits of a data-stack cell: the classic byte cells, or the 16-bit cells
// that other AVR Forths use.
constexpr int ByteCellBits = 8;
constexpr int WideCellBits = 16;

struct Compiler {
    // --- Options (bound to the window's controls, or to command-line flags) ---
    int CellBits = ByteCellBits; // bits of a cell; USE16BIT and USE8BIT at the top of a source set it
    bool UseZcall = false;     // calls as "Zcall"/"Zjmp" instead of "rcall"/"rjmp"; USEZCALL/USERCALL set it
    bool IncludeHeader = true; // the listing opens with the four header lines
    std::string VarStart = "81"; // hexadecimal text of the first variable address, without "$"
    bool Optimise = false;     // each definition is rewritten into faster code at its ";" (--opt)
    unsigned OptimiseSkip = 0; // optimiser steps left out (bits of OptStep), to measure what each gains
    std::string OptimiseKeep;  // words whose names begin so are never dropped as unused (the test words); empty: none

    // --- Files ---
    std::string SourceFileName; // path of the source being compiled; the .asm name derives from it
    std::string AsmFileName;    // path of the listing file last written (or refused)
    std::string OutputFile;     // when not empty, the listing is written here instead of AsmFileName's default
    bool WriteListing = true;   // false: the listing is only built, not saved (command-line "-o -")

    // --- Scanner state ---
    std::string LineBuf;        // the current line, kept at full length
    std::int64_t LinePos = 1;   // 1-based position of the next character to examine in LineBuf
    std::int64_t LineNo = 0;    // 0-based index of the current source line; messages show LineNo + 1
    bool SourceEnded = false;   // NewLine has moved past the empty line that follows the source
    SourceText* Source = nullptr; // the source lines of the running compile

    // --- Numbers ---
    bool DecimalBase = true;    // true: numbers are decimal; false after HEX
    bool NumberValid = true;    // cleared when the last number conversion failed
    std::string LastToken;      // the last word the number evaluation consumed

    // --- Control structures ---
    bool CaseExpected = false;        // the next word of a CASE is a case constant
    std::int64_t LabelCount = 1;      // next number of an "_L" label
    std::int64_t CaseLabelCount = 1;  // next number of an "_LC" label
    std::vector<std::int64_t> CtlStack;  // pending "_L" numbers; slot k (from 1) at index k-1, grows as needed
    std::int64_t CtlDepth = 1;           // next free slot of CtlStack; 1 means empty, below 1 after an unmatched closer
    std::vector<std::int64_t> CaseStack; // pending "_LC" numbers of open CASEs, same layout
    std::int64_t CaseDepth = 1;          // next free slot of CaseStack

    // --- The words beyond the classic set (text, LEAVE, CREATE, VALUE, DEFER, ...) ---
    Extensions Ext;

    // --- Data memory ---
    std::int32_t VarNext = 0x81; // next free data-memory address (32-bit, wraps like the target arithmetic)

    // --- Code and outputs ---
    CodeList ProgramCode;  // the compiled program in source order
    CodeList LibraryCode;  // archive routines copied in this compile, in order of first use
    Archive archive;       // the loaded archive file
    Archive archive16;     // the archive of the 16-bit cells, used while CellBits is 16
    bool CellBitsFixed = false; // something depending on the cell size has been compiled
    // Assembler lines that the listing puts before the header's include:
    // what the program needs of the run-time beyond the classic byte cells
    // (an ".equ" line each). Empty for every classic source.
    std::vector<std::string> ListingFacts;
    LineList Listing;                  // the assembler text: header, banner, filtered code
    std::vector<std::string> Messages; // problems found in the source, then the two summary lines
    // Where each listing line came from, filled by a compile when set
    // beforehand (a build that places the assembler's messages); null keeps
    // no map.
    std::unique_ptr<LineMaps> Map;

    // What the optimiser keeps from one definition to the next during a compile.
    std::shared_ptr<OptimiserState> Optimiser;

    // Run once at the start of a compile so a window can repaint its emptied panes.
    std::function<void()> ProcessEvents;
};

// Loads `path` (by default "Mirtolan.arch" in the working directory) into the
// archive. Throws CompileError naming the file when it cannot be read; the
// archive is then empty.
void ReadArchFile(Compiler& c, const std::string& path = "Mirtolan.arch");
// Loads several archive files as one, in order: where two hold a word, the
// first one's entry is used.
void ReadArchFiles(Compiler& c, const std::vector<std::string>& paths);
// The same into any archive, such as the one of the 16-bit cells.
void ReadArchFiles(Archive& archive, const std::vector<std::string>& paths);

// Runs one whole compile of `source` with the options held in `c`. On return
// `c.Listing`, `c.Messages`, `c.AsmFileName`, `c.VarNext` and `c.UseZcall`
// hold the results. Throws CompileError when the compile is abandoned; the
// listing and messages then hold what was produced up to that point.
void CompileClick(Compiler& c, const std::vector<std::string>& source);
// CompileClick over a compact line list, which a large source fills with
// far less memory than separate strings.
void CompileSource(Compiler& c, const LineList& source);
// The same over any source, such as a file read as the compile goes.
void CompileSource(Compiler& c, SourceText& source);

// Notes that the lines appended from now on come from the word of `length`
// characters that ends just before LinePos in the current line.
inline void MapWord(Compiler& c, std::size_t length)
{
    if (c.Map)
        c.Map->program.current = {OriginKind::Word, std::uint32_t(c.LineNo), std::uint32_t(c.LinePos - std::int64_t(length)),
                                  std::uint32_t(length), c.Map->program.current.definition, 0};
}
// The same for a definition's name, which opens a definition of that name.
void MapDefinition(Compiler& c, const std::string& name);

// The messages that a source itself raised: all but the two summary lines of a
// completed compile.
std::size_t SourceMessageCount(const Compiler& c);

} // namespace mirtolan
