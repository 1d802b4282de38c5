// Spells Forth names out as legal assembler labels in label lines and in
// rcall/zcall/rjmp/zjmp lines: a leading 0 or 1 becomes "Zero" or "One", and
// each of ten symbol characters becomes a short word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mirtolan {

struct Compiler;

void FilterLabels(Compiler& c);
bool IsCallJump(Compiler& c);
void FixCallJump(Compiler& c, std::size_t index);
void FixLabel(Compiler& c, std::size_t index);
std::string SpellDigit(std::int64_t position, const std::string& text);
std::string SpellSymbols(const std::string& text);

} // namespace mirtolan
