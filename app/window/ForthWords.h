// What the editor knows of the words of a source: the words the archive
// offers (with the stack comment of each), the words a source defines, and
// which control words belong together.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "Compiler.h"

namespace mirtolan {

struct ArchiveWord {
    std::string name;        // as the archive's "$$ name" header spells it
    // Its stack effect and what it does: the doc line before its header
    // ("$ ( before -- after ) What it does."), else the first
    // "( ... -- ... )" comment of its body, else empty.
    std::string stackEffect;
};

// The words a source can call from `archive`, in archive order; the run-time
// routines (names beginning with "_") are left out.
std::vector<ArchiveWord> ArchiveWords(const Archive& archive);

// Names defined by `lines`: after ":", VARIABLE and CONSTANT, and labels of
// "$name:" lines; in order, each once.
std::vector<QString> DefinedWords(const std::vector<QString>& lines);

// One word of a source text.
struct WordSpan {
    int line = 0;   // 0-based line
    int column = 0; // 0-based character of its first letter
    int length = 0; // characters
    friend bool operator==(const WordSpan&, const WordSpan&) = default;
};

// The words of `lines` outside comments and assembler text.
std::vector<WordSpan> CodeWords(const std::vector<QString>& lines);

// When the word at (line, column) is a control word (":" ";" IF ELSE THEN
// BEGIN UNTIL AGAIN WHILE REPEAT DO LOOP +LOOP CASE OF ENDOF DEFAULT ENDCASE),
// that word and the ones of its structure, in text order; otherwise nothing.
// An unmatched word gives only itself.
std::vector<WordSpan> MatchingControlWords(const std::vector<QString>& lines, int line, int column);

} // namespace mirtolan
