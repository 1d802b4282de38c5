// Spells Forth names out as legal assembler labels in label lines and in
// rcall/zcall/rjmp/zjmp lines: a leading digit becomes its word ("Zero",
// "One", "Two", ...), and each of ten symbol characters becomes a short word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "CodeList.h"

namespace mirtolan {

struct Compiler;

// Rewrites ProgramCode in place.
void FilterLabels(Compiler& c);
// Filters one line: true, with the rewritten line in `out`, when it changes.
bool FilterLine(Compiler& c, std::string_view line, std::string& out);
// The label of the Forth name `name` as the filter spells it ("1+" gives
// "Onepls"); `c` is its working state.
std::string SpelledLabel(Compiler& c, std::string_view name);
// FilterLine as a rewrite for whole line lists; `c` is its working state.
LineList::Rewriter LabelRewriter(Compiler& c);
bool IsCallJump(Compiler& c);
// Both rewrite the line in LineBuf and return the result; FixCallJump expects
// LinePos where IsCallJump left it.
std::string FixCallJump(Compiler& c);
std::string FixLabel(Compiler& c);
std::string SpellDigit(std::int64_t position, const std::string& text);
// The assembler's functions of an operand (LOW, HIGH, BYTE2, ...), by an
// upper-cased name.
bool IsAssemblerFunction(std::string_view upperName);
std::string SpellSymbols(const std::string& text);

} // namespace mirtolan
