// The five routines that report a problem in the source. Each appends one
// line, carrying the 1-based number of the line the scanner stands on.
#pragma once

#include <string>

namespace mirtolan {

struct Compiler;

void CondNotMatched(Compiler& c);
void NotDefined(Compiler& c, const std::string& word);
void ConstExpected(Compiler& c, const std::string& text);
void LineMessage(Compiler& c, const std::string& text);
void SyntaxError(Compiler& c);

} // namespace mirtolan
