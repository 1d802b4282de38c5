// Several Forth sources as one: the lines of each file after the other's,
// with the way back from a line of the whole to its file and line, and the
// colon definitions the whole makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Build.h"
#include "CodeList.h"

namespace mirtolan {

// A line of one of the files.
struct SourcePlace {
    std::string file;      // the file; empty for a line the join itself added
    std::int64_t line = 0; // 1-based line in it; 0 when unknown
};

class JoinedSource {
public:
    // Appends the lines of `file` (named so in places and diagnostics).
    void append(const std::string& file, const LineList& lines);
    // Appends a line of the join's own, which belongs to no file.
    void appendOwn(std::string_view line);

    const LineList& lines() const { return lines_; }
    // The file and line of a line of the whole (from 1); the join's own
    // lines are told at the last line of the file before them.
    SourcePlace place(std::int64_t line) const;
    // Tells each diagnostic about a line of the whole (its file `joinedName`)
    // at its own file's line instead.
    void placeDiagnostics(std::vector<Diagnostic>& diagnostics, const std::string& joinedName) const;
    // `text` with each "line N" of the whole told as its line in its file
    // ("line M", or "line M of FILE" for another file than `file`).
    std::string placeLines(std::string_view text, const std::string& file) const;

private:
    struct Part {
        std::string file;        // the file; empty for the join's own lines
        std::int64_t first = 0;  // its first line in the whole (from 1)
    };
    LineList lines_;
    std::vector<Part> parts_; // in order of their first lines
};

// A colon definition as the source text shows it.
struct ColonName {
    std::string name;      // as written
    std::int64_t line = 0; // the line of the name (from 1)
};

// The colon definitions of `lines`, in order, read as the compiler reads
// words: blank-delimited, past "\\" and "( )" comments, "$" lines and the
// "$" word's assembler text, and the text of ." S" C" .( and ABORT".
std::vector<ColonName> ColonDefinitions(const LineList& lines);

// True when `lines` define main: as a colon definition, or as a "$main:"
// label line.
bool DefinesMain(const LineList& lines);

} // namespace mirtolan
