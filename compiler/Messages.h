// The five routines that report a problem in the source. Each appends one
// line, carrying the 1-based number of the line the scanner stands on.
// When the compile keeps a line map, each also records beside the message
// what it is about, for the build's diagnostics.
#pragma once

#include <cstdint>
#include <string>

namespace mirtolan {

struct Compiler;

void CondNotMatched(Compiler& c);
void NotDefined(Compiler& c, const std::string& word);
void ConstExpected(Compiler& c, const std::string& text);
void LineMessage(Compiler& c, const std::string& text);
void SyntaxError(Compiler& c);

// The same texts, raised where a definition ends: a structure left open,
// a CASE left open.
void CondNotMatchedAtEnd(Compiler& c);
void EndCaseMissing(Compiler& c);
// "Not defined" for a word read earlier, at its own 0-based line and column.
void NotDefinedAt(Compiler& c, const std::string& word, std::uint32_t line, std::uint32_t column);

} // namespace mirtolan
