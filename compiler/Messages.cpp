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
constexpr const char* EndCaseMissing = "EndCase missing ";
constexpr const char* LineSuffix = " ,Line ";
} // namespace text

namespace {

std::string lineNumber(std::int64_t lineNo) { return std::to_string(lineNo + 1); }

// Notes what the message about to be added is about. `word` was just read,
// so it ends where the scanner stands; a message without a word names the
// word being compiled.
void record(Compiler& c, MessageKind kind, const std::string& word)
{
    if (!c.Map)
        return;
    const LineOrigin& now = c.Map->program.current;
    MessageRecord r{kind, word, std::uint32_t(c.LineNo), 0, now.definition};
    const std::int64_t start = c.LinePos - std::int64_t(word.size());
    if (!word.empty() && start >= 1 && std::uint64_t(start - 1) + word.size() <= c.LineBuf.size() &&
        c.LineBuf.compare(std::size_t(start - 1), word.size(), word) == 0) {
        r.column = std::uint32_t(start);
    } else if (now.line == std::uint32_t(c.LineNo) && now.column > 0) {
        r.column = now.column;
        if (word.empty() && now.column - 1 < c.LineBuf.size())
            r.word = c.LineBuf.substr(now.column - 1, now.length);
    }
    c.Map->messages.push_back(std::move(r));
}

void add(Compiler& c, std::string line) { c.Messages.push_back(std::move(line)); }

} // namespace

void CondNotMatched(Compiler& c)
{
    record(c, MessageKind::Unmatched, "");
    add(c, text::CondNotMatched + lineNumber(c.LineNo));
}

void CondNotMatchedAtEnd(Compiler& c)
{
    record(c, MessageKind::Unclosed, "");
    add(c, text::CondNotMatched + lineNumber(c.LineNo));
}

void NotDefined(Compiler& c, const std::string& word)
{
    record(c, c.CaseExpected ? MessageKind::CaseParameter : MessageKind::NotDefined, word);
    if (c.CaseExpected)
        add(c, word + text::CaseParameter + text::LineSuffix + lineNumber(c.LineNo));
    else
        add(c, text::NotDefined + word + text::LineSuffix + lineNumber(c.LineNo));
}

void NotDefinedAt(Compiler& c, const std::string& word, std::uint32_t line, std::uint32_t column)
{
    if (c.Map)
        c.Map->messages.push_back({MessageKind::NotDefined, word, line, column, 0});
    add(c, text::NotDefined + word + text::LineSuffix + lineNumber(line));
}

void ConstExpected(Compiler& c, const std::string& t)
{
    record(c, MessageKind::ConstExpected, t);
    add(c, text::ConstExpected + t + text::LineSuffix + lineNumber(c.LineNo));
}

void LineMessage(Compiler& c, const std::string& t)
{
    record(c, MessageKind::Other, "");
    add(c, t + text::LineSuffix + lineNumber(c.LineNo));
}

void EndCaseMissing(Compiler& c)
{
    record(c, MessageKind::EndCase, "");
    add(c, text::EndCaseMissing + std::string(text::LineSuffix) + lineNumber(c.LineNo));
}

void SyntaxError(Compiler& c)
{
    record(c, MessageKind::Syntax, "");
    add(c, std::string(text::SyntaxError) + text::LineSuffix + lineNumber(c.LineNo));
}

} // namespace mirtolan
