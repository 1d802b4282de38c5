#include "JoinedSource.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include "Scanner.h"

namespace mirtolan {

void JoinedSource::append(const std::string& file, const LineList& lines)
{
    parts_.push_back({file, std::int64_t(lines_.size()) + 1});
    for (const std::string_view line : lines)
        lines_.push_back(line);
}

void JoinedSource::appendOwn(std::string_view line)
{
    if (parts_.empty() || !parts_.back().file.empty())
        parts_.push_back({std::string(), std::int64_t(lines_.size()) + 1});
    lines_.push_back(line);
}

SourcePlace JoinedSource::place(std::int64_t line) const
{
    if (line < 1 || parts_.empty())
        return {};
    auto it = std::upper_bound(parts_.begin(), parts_.end(), line,
                               [](std::int64_t l, const Part& p) { return l < p.first; });
    if (it == parts_.begin())
        return {};
    --it;
    // The line after the last one (where a compile reports what the end left open) is the last part's.
    if (line > std::int64_t(lines_.size()) + 1)
        return {};
    if (!it->file.empty())
        return {it->file, line - it->first + 1};
    // The join's own lines follow a file: what goes wrong there (a definition
    // left open at the end of that file runs into them) is told at its end.
    if (it == parts_.begin())
        return {};
    const auto before = std::prev(it);
    return {before->file, it->first - before->first};
}

std::string JoinedSource::placeLines(std::string_view text, const std::string& file) const
{
    static constexpr std::string_view Word = "ine "; // of "line N" and "Line N"
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = text.find(Word); at != std::string_view::npos; at = text.find(Word, at + 1)) {
        const std::size_t digits = at + Word.size();
        std::size_t end = digits;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        const bool word = at >= 1 && (text[at - 1] == 'l' || text[at - 1] == 'L') &&
                          (at == 1 || !std::isalnum(static_cast<unsigned char>(text[at - 2])));
        if (!word || end == digits)
            continue;
        const SourcePlace p = place(std::stoll(std::string(text.substr(digits, end - digits))));
        if (p.file.empty())
            continue;
        out.append(text.substr(from, digits - from));
        out += std::to_string(p.line);
        if (p.file != file)
            out += " of " + p.file;
        from = end;
    }
    out.append(text.substr(from));
    return out;
}

void JoinedSource::placeDiagnostics(std::vector<Diagnostic>& diagnostics, const std::string& joinedName) const
{
    for (Diagnostic& d : diagnostics) {
        if (d.file != joinedName || d.line < 1)
            continue;
        SourcePlace p = place(d.line);
        if (p.file.empty())
            continue;
        d.file = std::move(p.file);
        d.line = p.line;
        // The lines the text names are lines of the whole as well.
        d.text = placeLines(d.text, d.file);
    }
}

namespace {

// Words whose text runs to a closing character on the same line.
struct TextWord {
    std::string_view word; // in any letter case in the source
    char close;            // the character that ends its text
};
constexpr std::array<TextWord, 5> TextWords{{
    {".\"", '"'}, {"S\"", '"'}, {"C\"", '"'}, {"ABORT\"", '"'}, {".(", ')'},
}};

// Reads the words of a source as the compiler sees them, and hands each
// word that a definition's name follows, with the name, to `found`.
template <typename Found>
void scanDefinitions(const LineList& lines, Found found)
{
    bool inDefinition = false;
    bool wantName = false; // the next word is a definition's name
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string_view line = lines[n];
        if (!inDefinition && !wantName && !line.empty() && line[0] == '$')
            continue; // an assembler line, copied through
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && IsBlank(line[i]))
                ++i;
            const std::size_t start = i;
            while (i < line.size() && !IsBlank(line[i]))
                ++i;
            if (start == i)
                break;
            const std::string_view word = line.substr(start, i - start);
            if (wantName) {
                found(word, std::int64_t(n) + 1);
                wantName = false;
                continue;
            }
            if (word == "\\\\" || (inDefinition && word == "$"))
                break; // the rest of the line is a comment or assembler text
            if (word == "(") {
                const std::size_t close = line.find(')', i);
                i = close == std::string_view::npos ? line.size() : close + 1;
                continue;
            }
            if (word == ":") {
                inDefinition = wantName = true;
                continue;
            }
            if (word == ";") {
                inDefinition = false;
                continue;
            }
            for (const TextWord& t : TextWords)
                if (SameIgnoringCase(word, t.word)) {
                    const std::size_t close = line.find(t.close, i + 1);
                    i = close == std::string_view::npos ? line.size() : close + 1;
                    break;
                }
        }
    }
}

} // namespace

std::vector<ColonName> ColonDefinitions(const LineList& lines)
{
    std::vector<ColonName> names;
    scanDefinitions(lines, [&](std::string_view name, std::int64_t line) { names.push_back({std::string(name), line}); });
    return names;
}

bool DefinesMain(const LineList& lines)
{
    bool found = false;
    scanDefinitions(lines, [&](std::string_view name, std::int64_t) { found = found || SameIgnoringCase(name, "MAIN"); });
    if (found)
        return true;
    for (std::string_view line : lines) {
        if (line.empty() || line[0] != '$')
            continue;
        line.remove_prefix(1);
        while (!line.empty() && IsBlank(line.front()))
            line.remove_prefix(1);
        if (SameIgnoringCase(line.substr(0, 5), "MAIN:"))
            return true;
    }
    return false;
}

} // namespace mirtolan
