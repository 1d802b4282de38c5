#include "Scanner.h"

#include "Compiler.h"

namespace mirtolan {

bool SourceHas(const Compiler& c, std::int64_t i)
{
    std::string_view line;
    return i >= 0 && c.Source && c.Source->line(std::size_t(i), line);
}

std::string_view SourceLine(const Compiler& c, std::int64_t i)
{
    std::string_view line;
    if (i < 0 || !c.Source || !c.Source->line(std::size_t(i), line))
        return {};
    return line;
}

// LinePos as a 0-based index, or the length when it lies past the end.
static std::size_t cursor(const Compiler& c)
{
    if (c.LinePos < 1)
        return 0;
    const auto pos = std::uint64_t(c.LinePos - 1);
    return pos > c.LineBuf.size() ? c.LineBuf.size() : std::size_t(pos);
}

std::int64_t skipspace(const Compiler& c)
{
    std::size_t i = cursor(c);
    const std::size_t start = i;
    while (i < c.LineBuf.size() && IsBlank(c.LineBuf[i]))
        ++i;
    return std::int64_t(i - start);
}

// The word that begins at index `start` of LineBuf.
static std::string wordAt(const Compiler& c, std::size_t start)
{
    std::size_t i = start;
    while (i < c.LineBuf.size() && i - start < MaxWordLength && !IsBlank(c.LineBuf[i]))
        ++i;
    return c.LineBuf.substr(start, i - start);
}

std::string RetrieveWord(const Compiler& c) { return wordAt(c, cursor(c)); }

std::string PeekWord(const Compiler& c) { return wordAt(c, cursor(c) + std::size_t(skipspace(c))); }

void GiveBack(Compiler& c, std::string_view word) { c.LinePos -= std::int64_t(word.size()); }

std::uint32_t WordColumn(const Compiler& c, std::string_view word)
{
    const std::int64_t column = c.LinePos - std::int64_t(word.size());
    return std::uint32_t(column > 0 ? column : 0);
}

void NewLine(Compiler& c)
{
    ++c.LineNo;
    // The empty line just past the end is read once; after it the source has ended.
    if (!SourceHas(c, c.LineNo - 1))
        c.SourceEnded = true;
    else
        c.LineBuf = SourceLine(c, c.LineNo);
    c.LinePos = 1;
}

void Qnewline(Compiler& c)
{
    if (c.LinePos > std::int64_t(c.LineBuf.size()) && !c.SourceEnded) {
        NewLine(c);
        c.LinePos += skipspace(c);
    }
}

std::string NextWord(Compiler& c)
{
    c.LinePos += skipspace(c);
    Qnewline(c);
    std::string w = RetrieveWord(c);
    c.LinePos += std::int64_t(w.size());
    return w;
}

std::string RestOfLine(const Compiler& c) { return c.LineBuf.substr(cursor(c)); }

void Scomment(Compiler& c)
{
    std::string text = ";" + RestOfLine(c);
    // The top-level loop treats a position equal to the length as the end of the line.
    c.LinePos = std::int64_t(c.LineBuf.size());
    c.ProgramCode.push_back(std::move(text));
}

void ColonComment(Compiler& c)
{
    std::string text = ";" + RestOfLine(c);
    NewLine(c);
    c.ProgramCode.push_back(std::move(text));
}

void ColonPassThrough(Compiler& c)
{
    std::string text = RestOfLine(c);
    NewLine(c);
    c.ProgramCode.push_back(std::move(text));
}

void SkipParenComment(Compiler& c)
{
    const std::size_t close = c.LineBuf.find(')', cursor(c));
    c.LinePos = close == std::string::npos ? std::int64_t(c.LineBuf.size()) + 1 : std::int64_t(close) + 2;
}

} // namespace mirtolan
