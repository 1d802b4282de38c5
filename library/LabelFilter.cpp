#include "LabelFilter.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "Compiler.h"
#include "Scanner.h"

namespace mirtolan {

namespace {

// Words for the characters an AVR assembler refuses in a label.
struct Spelling {
    char symbol;
    const char* word;
};
constexpr std::array<Spelling, 10> SymbolWords{{
    {'+', "pls"}, {'!', "str"}, {'@', "at"}, {'>', "Rar"}, {'<', "Lar"},
    {'-', "minus"}, {'=', "eq"}, {'?', "Qn"}, {'*', "astrsk"}, {'/', "slsh"},
}};

// Only the first character of a name is spelled out as a digit word. Every
// digit has one: an assembler reads an operand that begins with a digit as a
// number, so a call of "2DUP" would not assemble if its 2 stayed.
constexpr std::array<Spelling, 10> DigitWords{{
    {'0', "Zero"}, {'1', "One"}, {'2', "Two"}, {'3', "Three"}, {'4', "Four"},
    {'5', "Five"}, {'6', "Six"}, {'7', "Seven"}, {'8', "Eight"}, {'9', "Nine"},
}};

// The further characters the assembler refuses in a label, found by trying
// every printable character in a label and in a call of it. They are
// spelled only inside the name itself (the label of a line that holds
// nothing else, the operand of a call or jump): in the rest of a line, ";"
// opens a comment and must stay, and the operands of other instructions
// ("low(x)", "$1F00") are the assembler's to read.
constexpr std::array<Spelling, 20> NameWords{{
    {'.', "dot"}, {',', "comma"}, {'#', "hash"}, {'\'', "tick"}, {'[', "lbrk"}, {']', "rbrk"},
    {'&', "amp"}, {'|', "bar"}, {'^', "caret"}, {'~', "tilde"}, {'"', "quot"}, {'\\', "bslsh"},
    {';', "semi"}, {'{', "lbrc"}, {'}', "rbrc"}, {'`', "bqt"}, {'(', "lpar"}, {')', "rpar"},
    {':', "colon"}, {'$', "dollar"},
}};

// The assembler's functions in an operand, upper-cased: "rjmp low(x)" is
// an expression, not a name with brackets.
constexpr std::array<std::string_view, 10> AssemblerFunctions{{
    "LOW", "HIGH", "BYTE2", "BYTE3", "BYTE4", "LWRD", "HWRD", "PAGE", "EXP2", "LOG2",
}};
// DEL and the bytes above ASCII are refused as well; each becomes "x" and its
// two hexadecimal digits.
constexpr unsigned char FirstHighByte = 127;

// The mnemonics whose operand is a label.
constexpr std::array<std::string_view, 4> CallJumpMnemonics{{"RCALL", "ZCALL", "RJMP", "ZJMP"}};

// Shorter lines cannot hold a blank, a mnemonic and an operand.
constexpr std::size_t MinCallJumpLength = 5;

const char* wordFor(char ch, const auto& table)
{
    for (const auto& s : table)
        if (s.symbol == ch)
            return s.word;
    return nullptr;
}

bool isLabelLine(std::string_view line) { return !line.empty() && line[0] != ';' && line.back() == ':'; }

} // namespace

bool IsAssemblerFunction(std::string_view upperName)
{
    return std::find(AssemblerFunctions.begin(), AssemblerFunctions.end(), upperName) != AssemblerFunctions.end();
}

std::string SpellDigit(std::int64_t position, const std::string& text)
{
    if (position < 1 || std::uint64_t(position) > text.size())
        return text;
    const auto i = std::size_t(position - 1);
    const char* word = wordFor(text[i], DigitWords);
    if (!word)
        return text;
    return text.substr(0, i) + word + text.substr(i + 1);
}

std::string SpellSymbols(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (const char* word = wordFor(ch, SymbolWords))
            out += word;
        else
            out += ch;
    }
    return out;
}

namespace {

bool isNameChar(char ch) { return static_cast<unsigned char>(ch) >= FirstHighByte || wordFor(ch, NameWords); }

bool isHexDigit(char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'); }

// A name the assembler reads as an expression of its own, which stays as it
// is: a "$" hexadecimal number ("rjmp $1F00"), or a call of one of its
// functions ("rcall low(x)"). A Forth word so named keeps it in its label
// too, so label and calls stay equal.
bool isExpression(std::string_view name)
{
    if (name.size() > 1 && name[0] == '$' && std::all_of(name.begin() + 1, name.end(), isHexDigit))
        return true;
    const auto open = name.find('(');
    return open != std::string_view::npos && name.back() == ')' && IsAssemblerFunction(FoldCase(name.substr(0, open)));
}

// True when spellName changes `name`.
bool nameChanges(std::string_view name)
{
    return std::any_of(name.begin(), name.end(), isNameChar) && !isExpression(name);
}

// Spells the further characters in text[from, to).
std::string spellName(const std::string& text, std::size_t from, std::size_t to)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    if (!nameChanges(std::string_view(text).substr(from, to - from)))
        return text;
    std::string out = text.substr(0, from);
    for (std::size_t i = from; i < to && i < text.size(); ++i) {
        const char ch = text[i];
        const auto byte = static_cast<unsigned char>(ch);
        if (const char* word = wordFor(ch, NameWords))
            out += word;
        else if (byte >= FirstHighByte)
            out += {'x', Hex[byte >> 4], Hex[byte & 15]};
        else
            out += ch;
    }
    if (to < text.size())
        out += text.substr(to);
    return out;
}

// A label line that holds nothing but the name and its colon.
bool isBareLabel(std::string_view line)
{
    for (char ch : line)
        if (IsBlank(ch))
            return false;
    return true;
}

// The extent of the operand that starts at `from`: its run of non-blanks.
std::size_t operandEnd(std::string_view line, std::size_t from)
{
    while (from < line.size() && !IsBlank(line[from]))
        ++from;
    return from;
}

} // namespace

bool IsCallJump(Compiler& c)
{
    if (c.LineBuf.size() < MinCallJumpLength || !IsBlank(c.LineBuf[0]))
        return false;
    c.LinePos = 2;
    c.LinePos += skipspace(c);
    const std::string mnemonic = RetrieveWord(c);
    bool known = false;
    for (auto m : CallJumpMnemonics) // upper case, so this compares the upper-cased mnemonic
        known = known || SameIgnoringCase(mnemonic, m);
    if (!known)
        return false;
    c.LinePos += std::int64_t(mnemonic.size());
    c.LinePos += skipspace(c);
    return true;
}

std::string FixCallJump(Compiler& c)
{
    const std::string operand = RetrieveWord(c);
    if (operand.empty())
        return c.LineBuf;
    const auto start = std::size_t(c.LinePos - 1);
    if (wordFor(operand[0], DigitWords))
        c.LineBuf = SpellDigit(c.LinePos, c.LineBuf);
    // The digit word holds no further characters, so the operand still
    // starts where it did.
    c.LineBuf = spellName(c.LineBuf, start, operandEnd(c.LineBuf, start));
    return SpellSymbols(c.LineBuf);
}

std::string FixLabel(Compiler& c)
{
    c.LineBuf = SpellDigit(1, c.LineBuf);
    if (isBareLabel(c.LineBuf))
        c.LineBuf = spellName(c.LineBuf, 0, c.LineBuf.size() - 1);
    return SpellSymbols(c.LineBuf);
}

namespace {

// Which of the 256 characters have a symbol word, for the quick test below.
constexpr std::array<bool, 256> SymbolTable = [] {
    std::array<bool, 256> t{};
    for (const auto& s : SymbolWords)
        t[static_cast<unsigned char>(s.symbol)] = true;
    return t;
}();

bool hasSymbol(std::string_view line)
{
    for (char ch : line)
        if (SymbolTable[static_cast<unsigned char>(ch)])
            return true;
    return false;
}

// Most lines come out of the filter unchanged; telling them apart first
// saves building their text again.
bool labelChanges(std::string_view line)
{
    return wordFor(line[0], DigitWords) || hasSymbol(line) ||
           (isBareLabel(line) && nameChanges(line.substr(0, line.size() - 1)));
}

// The same reading as IsCallJump and FixCallJump, straight on the line: true
// when the line is a call or jump line that the filter rewrites.
bool callJumpChanges(std::string_view line)
{
    if (line.size() < MinCallJumpLength || !IsBlank(line[0]))
        return false;
    std::size_t i = 1;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    const std::size_t mnemonicStart = i;
    while (i < line.size() && i - mnemonicStart < MaxWordLength && !IsBlank(line[i]))
        ++i;
    const std::string_view mnemonic = line.substr(mnemonicStart, i - mnemonicStart);
    bool known = false;
    for (auto m : CallJumpMnemonics)
        known = known || SameIgnoringCase(mnemonic, m);
    if (!known)
        return false;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    // No operand: the line stays as it is.
    if (i >= line.size())
        return false;
    return wordFor(line[i], DigitWords) || hasSymbol(line) || nameChanges(line.substr(i, operandEnd(line, i) - i));
}

} // namespace

bool FilterLine(Compiler& c, std::string_view line, std::string& out)
{
    // Most lines come out unchanged; they are told apart without copying them.
    if (isLabelLine(line)) {
        if (!labelChanges(line))
            return false;
        // Lines are rewritten at their full length, however long.
        c.LineBuf.assign(line);
        out = FixLabel(c);
        return true;
    }
    if (!callJumpChanges(line))
        return false;
    c.LineBuf.assign(line);
    IsCallJump(c);
    out = FixCallJump(c);
    return true;
}

std::string SpelledLabel(Compiler& c, std::string_view name)
{
    const std::string line = std::string(name) + ":";
    std::string out;
    if (!FilterLine(c, line, out))
        out = line;
    out.pop_back();
    return out;
}

void FilterLabels(Compiler& c)
{
    LineList lines = c.ProgramCode.take();
    lines.rewriteAll(LabelRewriter(c));
    for (auto line : lines)
        c.ProgramCode.push_back(line);
}

LineList::Rewriter LabelRewriter(Compiler& c)
{
    return [&c](std::string_view line, std::string& out) { return FilterLine(c, line, out); };
}

} // namespace mirtolan
