// The compile's own findings told at their Forth lines: its messages, read
// from the records the compile keeps beside them (never from their texts),
// and what it noticed that its classic messages do not say (a structure
// closed by the wrong word, a number too wide for its cell, ...).
#include <algorithm>
#include <array>

#include "Compiler.h"
#include "DefColon.h"
#include "Diagnose.h"
#include "Scanner.h"

namespace mirtolan {

std::string InQuotes(std::string_view s) { return "'" + std::string(s) + "'"; }

std::string_view SourceLineOf(const DiagnosisContext& ctx, std::uint32_t line)
{
    if (!ctx.source || line >= ctx.source->size())
        return {};
    return (*ctx.source)[line];
}

namespace {

Diagnostic at(const DiagnosisContext& ctx, Severity s, std::uint32_t line, std::uint32_t column, std::string word,
              std::string text)
{
    Diagnostic d;
    d.severity = s;
    d.file = ctx.sourceName;
    d.line = std::int64_t(line) + 1;
    d.column = column;
    d.word = std::move(word);
    d.text = std::move(text);
    return d;
}

std::string definitionName(const DiagnosisContext& ctx, std::uint32_t definition)
{
    return std::string(ctx.map->name(definition));
}

// The definition record of `definition` that stands last at or before `line`.
const DefinitionRecord* definitionAt(const DiagnosisContext& ctx, std::uint32_t definition, std::uint32_t line)
{
    const DefinitionRecord* found = nullptr;
    for (const auto& d : ctx.map->definitions)
        if (d.name == definition && d.line <= line)
            found = &d;
    return found;
}

// The first word after column `column` (1-based) of `line`.
std::string wordAfter(std::string_view line, std::uint32_t column)
{
    std::size_t i = column ? column - 1 : 0;
    while (i < line.size() && !IsBlank(line[i]))
        ++i;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    std::size_t j = i;
    while (j < line.size() && !IsBlank(line[j]))
        ++j;
    return std::string(line.substr(i, j - i));
}

// ---- "did you mean"

// Edits (insert, delete, change, swap two neighbours) that turn a into b,
// letters compared in any case.
std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = FoldChar(a[i - 1]) == FoldChar(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && FoldChar(a[i - 1]) == FoldChar(b[j - 2]) && FoldChar(a[i - 2]) == FoldChar(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// Two edits at the most, and one for words of up to five characters, whose
// every neighbour lies two edits away.
constexpr std::size_t MostEdits = 2, ShortWord = 5;

// The words a typing slip may have meant, besides the program's and the archive's.
constexpr std::array<std::string_view, 31> Keywords{{
    "IF", "ELSE", "THEN", "BEGIN", "UNTIL", "AGAIN", "WHILE", "REPEAT", "DO", "LOOP", "+LOOP", "CASE", "OF", "ENDOF",
    "ENDCASE", "DEFAULT", "?DO", "LEAVE", "EXIT", "RECURSE", "TO", "IS", "VARIABLE", "CONSTANT", "ALLOT", "CREATE",
    "VALUE", "DEFER", "DECIMAL", "USEZCALL", "USERCALL",
}};

// A source of many unknown words gets suggestions for the first ones only:
// each looks at every name of the program.
constexpr std::size_t MostSuggestions = 100;

std::string suggestion(const DiagnosisContext& ctx, const std::string& word, std::size_t& made)
{
    if (word.size() < 2 || made >= MostSuggestions)
        return {};
    ++made;
    const std::size_t limit = word.size() > ShortWord ? MostEdits : 1;
    std::string best;
    std::size_t bestDistance = limit + 1;
    const auto consider = [&](std::string_view name) {
        // Names whose lengths differ by more than the edits allowed are never near.
        const std::size_t apart = name.size() > word.size() ? name.size() - word.size() : word.size() - name.size();
        if (name.empty() || name[0] == '_' || apart > limit || SameIgnoringCase(name, word))
            return;
        const std::size_t d = editDistance(word, name);
        if (d < bestDistance) {
            bestDistance = d;
            best = std::string(name);
        }
    };
    for (const auto& d : ctx.map->definitions)
        consider(ctx.map->name(d.name));
    for (const auto k : Keywords)
        consider(k);
    if (ctx.archive)
        for (const auto& line : ctx.archive->ArchiveList)
            if (line.starts_with("$$ "))
                consider(std::string_view(line).substr(3));
    return best.empty() ? std::string() : "; did you mean " + InQuotes(best) + "?";
}

// ---- words of this Forth that the compile reports when they are misused

struct Misuse {
    std::string_view word; // upper case
    const char* topLevel;  // the explanation at the top level (null: it works only inside a definition)
    const char* inside;    // inside a definition (null: the generic one)
};
constexpr const char* OnlyInside = " works only inside a colon definition";
const Misuse Misuses[] = {
    {"C,", "C, stores the number before it in the next byte of the data space: CREATE table 1 C, 2 C,",
     "C, has no meaning inside a definition: a table is built at the top level, CREATE table 1 C, 2 C,"},
    {",", ", stores the number before it in the next cell of the data space: CREATE table 100 , 200 ,",
     ", has no meaning inside a definition: a table is built at the top level, CREATE table 100 , 200 ,"},
    {"VALUE", "VALUE takes its first value before it: 7 VALUE speed", nullptr},
    {"TO", nullptr, "TO needs the name of a VALUE after it: 7 VALUE speed ... : faster 9 TO speed ;"},
    {"IS", nullptr, "IS needs the name of a DEFER after it: DEFER action ... : setup ['] blink IS action ;"},
    {"[']", nullptr, "['] needs the name of a word defined above, or of an archive word, after it"},
    {"LEAVE", nullptr, "LEAVE leaves a DO loop, but no DO loop is open here"},
    {"'", "a lone ' is not a word at the top level: set a DEFER inside a definition, ['] word IS name", nullptr},
    {"?DO", nullptr, nullptr},
    {"EXIT", nullptr, nullptr},
    {"RECURSE", nullptr, nullptr},
    {".\"", nullptr, nullptr},
    {"S\"", nullptr, nullptr},
    {"C\"", nullptr, nullptr},
};

std::string notDefinedText(const DiagnosisContext& ctx, const MessageRecord& r, std::size_t& suggested)
{
    const std::string upper = FoldCase(r.word);
    const bool inside = r.definition != 0;
    if (ParseNumber(r.word, true) || ParseNumber(r.word, false) || (!inside && !r.word.empty() && r.word[0] == '\''))
        return inside ? InQuotes(r.word) + " is not a number in HEX mode, where only bare hexadecimal digits are numbers "
                                           "(no sign, no prefix): write DECIMAL before this definition, or the number "
                                           "in hexadecimal"
                      : InQuotes(r.word) + " is not used: at the top level a number stands right before the word that "
                                           "takes it (5 CONSTANT five, 7 VALUE speed, 1 C, 2 , in a CREATE table, 9 "
                                           "ALLOT)";
    for (const auto& m : Misuses) {
        if (m.word != upper)
            continue;
        if (const char* text = inside ? m.inside : m.topLevel)
            return text;
        if (!inside)
            return std::string(m.word) + OnlyInside;
    }
    return InQuotes(r.word) + " is not defined: it is no word defined above this line, no archive word and no number; "
                              "define it before its first use or check its spelling" +
           suggestion(ctx, r.word, suggested);
}

// The words that open a structure, by the word that would close it.
struct Closer {
    std::string_view word; // upper case
    const char* opener;    // what it closes, for a message
};
constexpr Closer Closers[] = {
    {"THEN", "IF"},   {"UNTIL", "BEGIN"}, {"AGAIN", "BEGIN"}, {"REPEAT", "BEGIN ... WHILE"}, {"LOOP", "DO"},
    {"+LOOP", "DO"}, {"ENDCASE", "CASE"}, {"ENDOF", "CASE ... OF"},
};

std::string unmatchedText(const DiagnosisContext& ctx, const MessageRecord& r)
{
    const std::string upper = FoldCase(r.word);
    for (const auto& k : Closers)
        if (k.word == upper)
            return upper + " has nothing to close: no " + k.opener + " is open" +
                   (r.definition ? " in " + InQuotes(definitionName(ctx, r.definition)) : std::string()) +
                   " before it";
    return "control structure not matched: a closing word has nothing to close";
}

bool coveredByFacts(const DiagnosisContext& ctx, const MessageRecord& r, std::string_view opener)
{
    return std::any_of(ctx.map->facts.begin(), ctx.map->facts.end(), [&](const CompileFact& f) {
        const bool atThisEnd = f.otherLine == r.line || (f.otherLine == LineOrigin::NoLine && f.definition == r.definition);
        return f.kind == FactKind::OpenStructure && atThisEnd && (opener.empty() || f.word == opener);
    });
}

// Messages without a record (a compile that kept no map) keep their text.
std::vector<Diagnostic> plainMessages(const DiagnosisContext& ctx, const std::vector<std::string>& messages)
{
    std::vector<Diagnostic> out;
    for (const auto& m : messages) {
        Diagnostic d;
        d.file = ctx.sourceName;
        d.text = m;
        out.push_back(std::move(d));
    }
    return out;
}

} // namespace

std::vector<Diagnostic> DiagnoseCompileMessages(const DiagnosisContext& ctx, const std::vector<std::string>& messages)
{
    const auto& records = ctx.map->messages;
    if (records.size() != messages.size())
        return plainMessages(ctx, messages);
    std::vector<Diagnostic> out;
    std::vector<bool> skip(records.size(), false);
    std::size_t suggested = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (skip[i])
            continue;
        const MessageRecord& r = records[i];
        const std::string upper = FoldCase(r.word);
        switch (r.kind) {
        case MessageKind::NotDefined:
            if (r.word == ":" && r.definition) {
                // A definition without its ";": the next one's name is no word either.
                const DefinitionRecord* open = definitionAt(ctx, r.definition, r.line);
                const std::string name = definitionName(ctx, r.definition);
                const std::uint32_t line = open ? open->line : r.line;
                out.push_back(at(ctx, Severity::Error, line, open ? open->column : 0, name,
                                 "';' missing: " + InQuotes(name) + " (line " + std::to_string(line + 1) +
                                     ") is still open where the next ':' stands (line " + std::to_string(r.line + 1) +
                                     "); end it with ;"));
                if (i + 1 < records.size() && records[i + 1].kind == MessageKind::NotDefined &&
                    records[i + 1].line == r.line && records[i + 1].word == wordAfter(SourceLineOf(ctx, r.line), r.column))
                    skip[i + 1] = true;
                continue;
            }
            if (r.word == "\\") {
                for (std::size_t k = i + 1; k < records.size() && records[k].line == r.line; ++k)
                    if (records[k].kind == MessageKind::NotDefined || records[k].kind == MessageKind::CaseParameter)
                        skip[k] = true;
                out.push_back(at(ctx, Severity::Error, r.line, r.column, r.word,
                                 "a comment in this Forth begins with \\\\ (two backslashes) and runs to the end of "
                                 "the line; a single \\ is an ordinary word, so the words after it were compiled: "
                                 "write \\\\"));
                continue;
            }
            out.push_back(at(ctx, Severity::Error, r.line, r.column, r.word, notDefinedText(ctx, r, suggested)));
            continue;
        case MessageKind::CaseParameter:
            out.push_back(at(ctx, Severity::Error, r.line, r.column, r.word,
                             InQuotes(r.word) + " cannot be a case constant: after CASE and after ENDOF a number, a "
                                                "character literal or a CONSTANT defined above must come, followed by "
                                                "OF; a default clause begins with DEFAULT" +
                                 suggestion(ctx, r.word, suggested)));
            continue;
        case MessageKind::ConstExpected:
            out.push_back(at(ctx, Severity::Error, r.line, r.column, r.word,
                             InQuotes(r.word) + " is not a number: CONSTANT takes a name and a number (5 CONSTANT "
                                                "five, or CONSTANT five 5), ALLOT a count (9 ALLOT, or ALLOT 9)"));
            continue;
        case MessageKind::Unmatched:
            out.push_back(at(ctx, Severity::Error, r.line, r.column, r.word, unmatchedText(ctx, r)));
            continue;
        case MessageKind::Unclosed: {
            // Each open structure is told at its own line (the facts); a
            // closer that found nothing was told at its line already.
            const bool closerTold =
                std::any_of(records.begin(), records.begin() + std::ptrdiff_t(i),
                            [&](const auto& e) { return e.kind == MessageKind::Unmatched && e.definition == r.definition; }) ||
                std::any_of(ctx.map->facts.begin(), ctx.map->facts.end(), [&](const CompileFact& f) {
                    return f.kind == FactKind::WrongCloser && f.definition == r.definition;
                });
            if (coveredByFacts(ctx, r, "") || closerTold)
                continue;
            out.push_back(at(ctx, Severity::Error, r.line, r.column, "",
                             "control structure not matched: a structure is left open at the end of the definition, "
                             "or a closing word has nothing to close"));
            continue;
        }
        case MessageKind::EndCase:
            if (coveredByFacts(ctx, r, "CASE"))
                continue;
            out.push_back(at(ctx, Severity::Error, r.line, r.column, "",
                             "the definition ends inside a CASE: close it with ENDCASE"));
            continue;
        case MessageKind::Syntax:
            out.push_back(at(ctx, Severity::Error, r.line, r.column, r.word,
                             "DEFAULT stands where no case constant is expected: it may follow only CASE or ENDOF, "
                             "once"));
            continue;
        case MessageKind::Other:
            break;
        }
        Diagnostic d = at(ctx, Severity::Error, r.line, r.column, "", messages[i]);
        out.push_back(std::move(d));
    }
    return out;
}

namespace {

std::string wideText(const CompileFact& f)
{
    const std::int64_t lowest = -(std::int64_t(1) << (f.bits - 1)), highest = (std::int64_t(1) << f.bits) - 1;
    const std::string range = std::to_string(lowest) + " to " + std::to_string(highest);
    const std::string n = std::to_string(f.value);
    const bool byteCells = f.bits == ByteCellBits;
    const std::string wider = byteCells ? "use 16-bit cells (--cells 16, or USE16BIT at the top of the source)"
                                        : "write it as a double literal, " + n + ". , for the double words";
    const std::string role = f.other;
    if (role == "text")
        return "the text is " + n + " characters long, more than its count holds (up to " + std::to_string(highest) +
               "): split it into shorter texts";
    if (role == "double")
        return "the double literal " + f.word + " does not fit a double of two " + std::to_string(f.bits / 2) +
               "-bit cells (" + range + ")" + (f.bits == 2 * ByteCellBits ? "; use 16-bit cells (--cells 16)" : "");
    if (role == "C,")
        return "C, stores a byte, and " + n + " does not fit one (" + range + ")";
    if (role == ",")
        return ", stores a cell, and " + n + " does not fit one (cells are " + std::to_string(f.bits) + " bits: " +
               range + "); " + (byteCells ? wider : "store it as two cells");
    const std::string what = role == "constant" ? "the constant's value " : role == "value" ? "the value " : "the literal ";
    std::string text = what + n + " does not fit a cell (cells are " + std::to_string(f.bits) + " bits: " + range +
                       ")";
    if (byteCells)
        return text + "; " + wider + ", or a double literal, " + n + ". , for the double words";
    return text + "; " + wider;
}

std::string closedBy(std::string_view closers)
{
    return "its " + std::string(closers);
}

} // namespace

std::vector<Diagnostic> DiagnoseFacts(const DiagnosisContext& ctx)
{
    std::vector<Diagnostic> out;
    for (const auto& f : ctx.map->facts) {
        const std::string def = f.definition ? InQuotes(definitionName(ctx, f.definition)) : std::string("the definition");
        switch (f.kind) {
        case FactKind::OpenStructure:
            out.push_back(at(ctx, Severity::Error, f.line, f.column, f.word,
                             f.word + " is not closed: " +
                                 (f.otherLine == LineOrigin::NoLine
                                      ? "the source ends inside " + def + ", which has no ;, before "
                                      : def + " ends (line " + std::to_string(f.otherLine + 1) + ") before ") +
                                 closedBy(f.other)));
            break;
        case FactKind::WrongCloser:
            out.push_back(at(ctx, Severity::Error, f.line, f.column, f.word,
                             f.other.empty()
                                 ? f.word + " has nothing to close: no " + (f.word == "ELSE" ? "IF" : "OF") +
                                       " is open before it in " + def
                                 : f.word + " closes the " + f.other + " of line " + std::to_string(f.otherLine + 1) +
                                       ", which it cannot close: close the structures inside out (the last opened "
                                       "first)"));
            break;
        case FactKind::WideLiteral:
            out.push_back(at(ctx, Severity::Error, f.line, f.column, f.word, wideText(f)));
            break;
        case FactKind::CaseWithoutOf:
            out.push_back(at(ctx, Severity::Warning, f.line, f.column, f.word,
                             "the case constant " + InQuotes(f.word) + " is not followed by OF, so nothing compares "
                                                                       "it: write '" +
                                 f.word + " OF ... ENDOF'; a default clause begins with DEFAULT"));
            break;
        case FactKind::UnclosedText:
            out.push_back(at(ctx, Severity::Warning, f.line, f.column, f.word,
                             "the text after " + f.word + " has no closing \": it runs to the end of the line"));
            break;
        }
    }
    return out;
}

} // namespace mirtolan
