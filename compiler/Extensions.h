// The words a Forth programmer expects beyond the classic set. They stand
// where the classic compiler finds nothing (no word of the program or the
// archive, no number), so a program that defines a word of the same name
// keeps it, and every classic program compiles exactly as before.
#pragma once

#include <string>
#include <vector>

namespace mirtolan {

struct Compiler;

// --- Inside a colon definition ---
// ." S" C" ?DO LEAVE EXIT RECURSE ['] IS TO, double literals (1000.), and
// a CONSTANT's name as a case constant. False when `word` is none of them
// (or lacks what must follow it); the caller then reports it.
bool CompileBodyExtension(Compiler& c, const std::string& word);
// Places the texts of the definition just closed after its code.
void EmitTexts(Compiler& c);

// --- At the top level ---
// A number held for the word after it: true when `word` took it (CONSTANT,
// VALUE, C, , ALLOT) or lets it wait (a comment); otherwise the number is
// reported as not defined and false returned.
bool TakeHeldNumber(Compiler& c, const std::string& word, const std::string& upper);
// Numbers (held), CREATE and DEFER; false for other words.
bool TopLevelExtension(Compiler& c, const std::string& word, const std::string& upper);
// Reports a held number that no word took.
void FlushHeldNumber(Compiler& c);
// At the end of a compile: the routine that copies the initialised data
// into RAM before main, and the fact that tells the header to call it.
void AddInitData(Compiler& c);

// Assembler data lines (".db") holding `bytes`, readable text kept in
// quotes, padded to an even length so the assembler adds nothing.
std::vector<std::string> DataLines(const std::string& bytes);

} // namespace mirtolan
