// The optimiser's own state across one compile, and the steps its files
// share.
#pragma once

#include <cctype>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "OptIr.h"

namespace mirtolan {

struct Compiler;

// A word of the program whose lines the optimiser may drop when nothing
// calls it any more: a colon definition, or a constant or variable.
struct ProgramUnit {
    std::size_t first = 0; // its label line in ProgramCode
    std::size_t end = 0;   // the line after its last
    std::string name;      // its name as written
};

struct OptimiserState {
    std::size_t scanned = 0; // ProgramCode lines before this one have been looked at
    // Program words a call may be replaced by, by folded name: the operations
    // of short definitions, and the pushes of constants and variables.
    std::unordered_map<std::string, opt::Ops> inlinable;
    std::unordered_map<std::string, std::vector<opt::KCell>> pushers; // constants, variables, literal-only words
    // Archive routines made of pushes (register words such as &PORTB), by folded name; none for others.
    std::unordered_map<std::string, std::optional<std::vector<opt::KCell>>> archivePushers;
    // Archive routines that keep to the scratch registers, by folded name: their stack effect in cells.
    std::unordered_map<std::string, std::optional<std::pair<int, int>>> transparent;
    std::unordered_set<std::string> defined;  // folded names of the program's labels seen so far
    std::unordered_set<std::string> doubled;  // folded names defined more than once: never inlined or dropped
    std::vector<ProgramUnit> units;           // in line order
    // Definitions left as the compiler wrote them, and what the optimiser could not do there.
    std::vector<std::pair<std::string, std::string>> keptAsWritten;
    std::string lastGiveUp; // why the last definition was kept as written
};

namespace opt {

// --- Reading lines ---

// A line that is a label of its own ("name:"), such as a word's first line.
inline bool IsLabelLine(std::string_view line)
{
    return !line.empty() && line.back() == ':' && line[0] != ';' && static_cast<unsigned char>(line[0]) > ' ';
}

// The cells pushed by lines [i, end) when they are nothing but pushes
// through Ftmp1 (ldi/clr/ser, then st -Y); `expressions` allows operands
// that are not numbers. Empty when the lines are anything else.
std::optional<std::vector<KCell>> ParsePushes(const std::vector<std::string>& lines, std::size_t i, std::size_t end,
                                              int cellBytes, bool expressions);
// Each run of letters, digits and underscores in `text` (a label,
// register or number an assembler line names), in turn.
template <class F>
void ForEachName(std::string_view text, F&& f)
{
    std::size_t from = 0;
    for (std::size_t k = 0; k <= text.size(); ++k) {
        if (k < text.size() && (std::isalnum(static_cast<unsigned char>(text[k])) || text[k] == '_'))
            continue;
        if (k > from)
            f(text.substr(from, k - from));
        from = k + 1;
    }
}

// A constant or variable between the definitions: a label, pushes, ret.
struct PushWord {
    std::size_t end = 0;      // the line after its ret
    std::vector<KCell> cells; // what it pushes; may be none
};
// The word whose label is line `label` of ProgramCode, when a ret before
// line `upTo` ends it and every line between is a push.
std::optional<PushWord> PushWordAt(const Compiler& c, std::size_t label, std::size_t upTo);
// The operations of a definition's body, lines [first, end) of ProgramCode.
Ops ParseBody(const Compiler& c, std::size_t first, std::size_t end);
// CASE and OF as the rest of the optimiser takes them: the selector stays
// on the data stack until an OF matches or the last OF fails (as in
// Forth-2012); none when the structure does not add up.
std::optional<Ops> LowerCases(const Ops& ops);
// The stack effect (cells taken, left) of an archive routine whose body
// uses only the scratch registers (r0, r1, r16-r19, Z) and the data stack,
// from its doc line; none for any other.
std::optional<std::pair<int, int>> TransparentEffect(const std::vector<std::string>& archive, std::int64_t header,
                                                     std::int64_t bodyEnd, int cellBytes);
// The primitive an archive word is written as, if any.
std::optional<Prim> FindPrim(std::string_view name, int cellBytes);

// --- Expanding ---

// Replaces calls of primitives, pushers and inlinable definitions by their
// operations; `self` is the definition's own folded name.
Ops Expand(Compiler& c, const Ops& body, const std::string& self);

// --- Writing ---

// One line of the written definition.
struct AsmLine {
    enum Kind : std::uint8_t {
        Plain,  // an instruction, directive or comment
        Label,  // "name:" (text is the whole line)
        Branch, // a conditional branch to `target` (text is the mnemonic)
        Jump,   // rjmp to `target`
    } kind = Plain;     // what the line is
    std::string text;   // the line, or the branch's mnemonic
    std::string target; // Branch, Jump: the label
    int words = 1;      // flash words; 0 for labels and comments, -1 when not known
    LineOrigin origin;  // the word that made it
};

// The definition's code from its operations; empty when the optimiser
// gives up on it (the compiler's own lines then stay).
std::optional<std::vector<AsmLine>> Generate(Compiler& c, const Ops& ops);

// The size in flash words of an assembler line kept as written; -1 when it
// cannot be told (a directive or macro).
int LineWords(std::string_view line);

// Fresh label names, from the compile's own label counter.
std::string NewLabel(Compiler& c);

} // namespace opt
} // namespace mirtolan
