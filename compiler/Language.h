// The state of the words a Forth programmer expects beyond the classic set:
// text in flash, early exits from loops, execution tokens, data in the
// standard order (numbers held for the word after them, CREATE tables,
// VALUE and DEFER cells copied from flash at start-up), and the record of
// every open control structure that lets the build name slips at their line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "LineMap.h"

namespace mirtolan {

// The kind of a control-stack entry, kept beside its label number.
enum class CtlKind : std::uint8_t { If, Else, Begin, While, Do, QDo, Of, Case };

// One open control structure: what opened it and where.
struct CtlEntry {
    CtlKind kind = CtlKind::If; // the word that opened it
    std::uint32_t line = 0;     // 0-based source line of that word
    std::uint32_t column = 0;   // its 1-based column
    bool leaves = false;        // a DO whose exit label LEAVE or ?DO jumps to
    bool selectorPushed = false; // a CASE whose default clause has the selector on the stack, for ENDCASE to drop
};

// A number read at the top level, waiting for the word after it
// ("5 CONSTANT five", "1 C,").
struct HeldNumber {
    std::int32_t value = 0;     // its value
    std::string word;           // as written, for the report when nothing takes it
    std::uint32_t line = 0;     // 0-based source line
    std::uint32_t column = 0;   // 1-based column
};

// A text of ." S" or C", placed in flash after its definition's code.
struct PendingText {
    std::int64_t label = 0;     // n of its label "_S<n>"
    std::string bytes;          // the bytes placed (with the count first for C")
    LineOrigin origin;          // the word that made it, for the line map
};

// Bytes that start-up copies from flash into RAM before main.
struct InitSegment {
    std::int32_t address = 0;        // data address of the first byte
    std::vector<std::string> bytes;  // each byte as an assembler expression
};

// A RAM cell that a word names: a VALUE or a DEFER.
struct NamedCell {
    std::int32_t address = 0;   // data address of its low byte
};

struct Extensions {
    std::vector<CtlEntry> CtlInfo;     // beside CtlStack, slot for slot
    std::vector<CtlEntry> CaseInfo;    // beside CaseStack, slot for slot
    std::string CurrentName;           // the colon definition being compiled, for RECURSE
    std::uint32_t CurrentLine = 0;     // the 0-based line of its name
    std::optional<HeldNumber> Held;    // a top-level number waiting for its word
    std::vector<PendingText> Texts;    // texts of the open definition
    std::int64_t TextLabelCount = 1;   // next n of a "_S<n>" label
    std::vector<InitSegment> InitData; // RAM contents set at start-up, in address order of definition
    bool UsesDefer = false;            // a DEFER exists, so its no-op routine is emitted
    std::unordered_map<std::string, std::int32_t> Constants; // folded CONSTANT names -> values, for CASE
    std::unordered_map<std::string, NamedCell> Values;       // folded VALUE names -> their cells, for TO
    std::unordered_map<std::string, NamedCell> Defers;       // folded DEFER names -> their cells, for IS
    std::optional<LineOrigin> PendingCase; // a case constant loaded and not yet compared by OF
    int CaseClauseConstants = 0;       // case constants loaded since the CASE or the last ENDOF

    void clear() { *this = Extensions{}; }
};

} // namespace mirtolan
