#include "Messages.h"

#include "Compiler.h"

namespace mirtolan {

// The fixed texts, spelled as users of this compiler have always seen them.
namespace text {
constexpr const char* CondNotMatched = "Conditional not matched. Line ";
constexpr const char* NotDefined = "Not defined ";
constexpr const char* CaseParameter = " as Case Parameter";
constexpr const char* ConstExpected = "Const.Value expected: ";
constexpr const char* SyntaxError = "Sytax Error";
constexpr const char* LineSuffix = " ,Line ";
} // namespace text

static std::string lineNumber(const Compiler& c) { return std::to_string(c.LineNo + 1); }

static void add(Compiler& c, std::string line) { c.Messages.push_back(std::move(line)); }

void CondNotMatched(Compiler& c) { add(c, text::CondNotMatched + lineNumber(c)); }

void NotDefined(Compiler& c, const std::string& word)
{
    if (c.CaseExpected)
        add(c, word + text::CaseParameter + text::LineSuffix + lineNumber(c));
    else
        add(c, text::NotDefined + word + text::LineSuffix + lineNumber(c));
}

void ConstExpected(Compiler& c, const std::string& t) { add(c, text::ConstExpected + t + text::LineSuffix + lineNumber(c)); }

void LineMessage(Compiler& c, const std::string& t) { add(c, t + text::LineSuffix + lineNumber(c)); }

void SyntaxError(Compiler& c) { add(c, std::string(text::SyntaxError) + text::LineSuffix + lineNumber(c)); }

} // namespace mirtolan
