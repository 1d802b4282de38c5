// The words inside a colon definition beyond the classic set: text in
// flash (." S" C"), early exits (?DO LEAVE EXIT), RECURSE, execution tokens
// (['] IS), TO, double literals, and named case constants.
#include <algorithm>
#include <array>

#include "Archive.h"
#include "Compiler.h"
#include "DefColon.h"
#include "Extensions.h"
#include "LabelFilter.h"
#include "Scanner.h"

namespace mirtolan {

namespace {

// Bytes of a ".db" line: short enough for the assembler, and even.
constexpr std::size_t DataBytesPerLine = 16;

// Characters written inside quotes in a ".db" line; the assembler reads
// quotes, backslashes and apostrophes in a string its own way, so those
// and the bytes outside printable ASCII are written as numbers.
bool quotable(unsigned char ch) { return ch >= 32 && ch < 127 && ch != '"' && ch != '\\' && ch != '\''; }

void emit(Compiler& c, std::initializer_list<std::string_view> pieces) { c.ProgramCode.push_back(pieces); }

// Reads the name after a keyword; empty (and given back) when it is ";"
// or the source has ended, so that the definition still ends there.
std::string nameAfter(Compiler& c)
{
    std::string name = NextWord(c);
    if (name == ";") {
        GiveBack(c, name);
        return {};
    }
    return name;
}

// Pushes the address that the assembler expression `address` gives, high
// byte first: two cells in the byte cells, one in the 16-bit cells.
void pushAddress(Compiler& c, std::string_view address)
{
    emit(c, {"\tldi\tFtmp1,high(", address, ")"});
    emit(c, {"\tst\t-Y,Ftmp1"});
    emit(c, {"\tldi\tFtmp1,low(", address, ")"});
    emit(c, {"\tst\t-Y,Ftmp1"});
}

// Pops one cell into the RAM cell at `address`, low byte first.
void storeCell(Compiler& c, std::int32_t address, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        emit(c, {"\tld\tFtmp1,Y+"});
        emit(c, {"\tsts\t", std::to_string(AddressPlus(address, i)), ",Ftmp1"});
    }
}

enum class TextKind { Type, String, Counted };

// ." S" C": the text runs from the blank after the word to the next
// double quote on the line.
bool compileText(Compiler& c, TextKind kind)
{
    std::uint32_t column = 0;
    const std::string word = CurrentWord(c, column);
    const std::size_t blank = c.LinePos >= 1 ? std::size_t(c.LinePos - 1) : 0;
    std::string text;
    bool closed = false;
    if (blank < c.LineBuf.size()) {
        const std::size_t from = blank + 1;
        const std::size_t close = c.LineBuf.find('"', from);
        closed = close != std::string::npos;
        text = c.LineBuf.substr(from, closed ? close - from : std::string::npos);
        c.LinePos = closed ? std::int64_t(close) + 2 : std::int64_t(c.LineBuf.size()) + 1;
    }
    if (!closed && c.Map)
        c.Map->facts.push_back({FactKind::UnclosedText, word, std::uint32_t(c.LineNo), column, "", 0, 0, 0,
                                c.Map->program.current.definition});
    const std::int64_t length = std::int64_t(text.size());
    const std::string label = "_S" + std::to_string(c.Ext.TextLabelCount++);
    PendingText pending{c.Ext.TextLabelCount - 1, text, c.Map ? c.Map->program.current : LineOrigin{}};
    pushAddress(c, "2*" + label); // the text's flash byte address
    if (kind == TextKind::Counted) {
        // The count is a byte in flash, whatever the cell size.
        CheckFits(c, length, 8, word, std::uint32_t(c.LineNo), column, "text");
        pending.bytes.insert(pending.bytes.begin(), char(length & 0xFF));
    } else {
        CheckFits(c, length, c.CellBits, word, std::uint32_t(c.LineNo), column, "text");
        CompileLiteral(c, std::int32_t(length));
    }
    c.Ext.Texts.push_back(std::move(pending));
    if (kind == TextKind::Type)
        UseRuntimeWord(c, "TYPEP");
    return true;
}

bool compileDotQuote(Compiler& c) { return compileText(c, TextKind::Type); }
bool compileSQuote(Compiler& c) { return compileText(c, TextKind::String); }
bool compileCQuote(Compiler& c) { return compileText(c, TextKind::Counted); }

bool compileQDo(Compiler& c)
{
    CompileQDo(c);
    return true;
}

bool compileExit(Compiler& c)
{
    CompileRet(c);
    return true;
}

bool compileRecurse(Compiler& c)
{
    CompileCall(c, c.Ext.CurrentName);
    return true;
}

// ['] name: the word's execution token, its flash word address, in the
// form of an address (high byte pushed first).
bool compileTick(Compiler& c)
{
    const std::string name = nameAfter(c);
    if (name.empty())
        return false;
    std::string label = name;
    if (!IsProgramWord(c, name) && !IsLibraryWord(c, name)) {
        const std::int64_t position = FindArchiveWord(c, name);
        if (position < 0) {
            GiveBack(c, name);
            return false;
        }
        CopyArchiveWord(c, position);
        label = std::string(ActiveArchive(c).ArchiveList[std::size_t(position)]).substr(3);
    }
    Compiler filter; // the label filter's working line, apart from this compile's scanner
    pushAddress(c, SpelledLabel(filter, label));
    return true;
}

// IS name and TO name: store the top of the stack in the word's cell.
bool storeInto(Compiler& c, const std::unordered_map<std::string, NamedCell>& cells, int bytes)
{
    const std::string name = nameAfter(c);
    if (name.empty())
        return false;
    const auto it = cells.find(FoldCase(name));
    if (it == cells.end()) {
        GiveBack(c, name);
        return false;
    }
    storeCell(c, it->second.address, bytes);
    return true;
}

// An execution token is a flash word address: two bytes in both cell sizes.
constexpr int TokenBytes = 2;

bool compileIs(Compiler& c) { return storeInto(c, c.Ext.Defers, TokenBytes); }
bool compileTo(Compiler& c) { return storeInto(c, c.Ext.Values, c.CellBits / 8); }

struct BodyWord {
    std::string_view word;      // upper case
    bool (*compile)(Compiler&); // compiles it; false when what must follow it is missing
};
constexpr std::array<BodyWord, 10> BodyWords{{
    {".\"", compileDotQuote},
    {"S\"", compileSQuote},
    {"C\"", compileCQuote},
    {"?DO", compileQDo},
    {"LEAVE", CompileLeave},
    {"EXIT", compileExit},
    {"RECURSE", compileRecurse},
    {"[']", compileTick},
    {"IS", compileIs},
    {"TO", compileTo},
}};

// A double of 16-bit cells reaches 4294967295, beyond the 32 signed bits
// a decimal number takes elsewhere. Digits are read up to this magnitude,
// past any double of two cells, so that the cells' range judges the value.
constexpr std::int64_t WidestDoubleDigits = std::int64_t(1) << 40;

// The value of a double literal's digits: a number as anywhere else, or a
// wider decimal one.
std::optional<std::int64_t> doubleValue(std::string_view text, bool decimal)
{
    if (const auto v = ParseNumber(text, decimal))
        return *v;
    if (!decimal)
        return std::nullopt;
    return ParseDecimal(text, WidestDoubleDigits, -WidestDoubleDigits);
}

// 1000. and -5. : a double in the cells' layout. The byte cells hold a
// double as two cells, the high one pushed first; the 16-bit cells push
// the low cell first, so that the high cell is on top.
bool compileDouble(Compiler& c, const std::string& word)
{
    if (word.size() < 2 || word.back() != '.')
        return false;
    const auto value = doubleValue(std::string_view(word).substr(0, word.size() - 1), c.DecimalBase);
    if (!value)
        return false;
    std::uint32_t column = 0;
    const std::string current = CurrentWord(c, column);
    CheckFits(c, *value, 2 * c.CellBits, current, std::uint32_t(c.LineNo), column, "double");
    const auto v = static_cast<std::uint32_t>(*value);
    if (c.CellBits == WideCellBits) {
        CompileLiteral(c, std::int32_t(v & 0xFFFF));
        CompileLiteral(c, std::int32_t(v >> 16));
    } else {
        CompileLiteral(c, std::int32_t((v >> 8) & 0xFF));
        CompileLiteral(c, std::int32_t(v & 0xFF));
    }
    return true;
}

// A word the body could compile outside a CASE: of the program, the
// archive, or one of the words above.
bool knownWord(const Compiler& c, const std::string& word, const std::string& upper)
{
    if (IsProgramWord(c, word) || IsLibraryWord(c, word) || FindArchiveWord(c, word) >= 0)
        return true;
    return std::any_of(BodyWords.begin(), BodyWords.end(), [&](const BodyWord& w) { return w.word == upper; });
}

} // namespace

bool CompileBodyExtension(Compiler& c, const std::string& word)
{
    const std::string upper = FoldCase(word);
    if (c.CaseExpected) {
        // CASE RED OF ...: a constant defined above names its value.
        if (const auto it = c.Ext.Constants.find(upper); it != c.Ext.Constants.end()) {
            CompileLiteral(c, it->second);
            return true;
        }
        // ENDOF ." other" ENDCASE: the standard's default clause. A name
        // that OF follows stays a wrong case constant, as it always was.
        if (!knownWord(c, word, upper) || FoldCase(PeekWord(c)) == "OF" || !BeginDefaultClause(c))
            return false;
        std::string again = word;
        CompileBodyWord(c, again);
        return true;
    }
    for (const auto& w : BodyWords)
        if (w.word == upper)
            return w.compile(c);
    return compileDouble(c, word);
}

std::vector<std::string> DataLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::string padded = bytes;
    if (padded.size() % 2)
        padded += '\0';
    for (std::size_t at = 0; at < padded.size(); at += DataBytesPerLine) {
        std::string line = "\t.db\t";
        bool inQuotes = false, first = true;
        for (std::size_t i = at; i < padded.size() && i < at + DataBytesPerLine; ++i) {
            const auto ch = static_cast<unsigned char>(padded[i]);
            if (quotable(ch)) {
                if (!inQuotes)
                    line += first ? "\"" : ",\"";
                line += char(ch);
                inQuotes = true;
            } else {
                if (inQuotes)
                    line += "\"";
                line += (first ? "" : ",") + std::to_string(ch);
                inQuotes = false;
            }
            first = false;
        }
        if (inQuotes)
            line += "\"";
        lines.push_back(std::move(line));
    }
    return lines;
}

void EmitTexts(Compiler& c)
{
    for (const PendingText& t : c.Ext.Texts) {
        if (c.Map)
            c.Map->program.current = t.origin;
        c.ProgramCode.push_back({"_S", std::to_string(t.label), ":"});
        for (const auto& line : DataLines(t.bytes))
            c.ProgramCode.push_back(line);
    }
    c.Ext.Texts.clear();
}

} // namespace mirtolan
