#include "LabelFilter.h"

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

bool isLabelLine(const std::string& line) { return !line.empty() && line[0] != ';' && line.back() == ':'; }

} // namespace

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

bool IsCallJump(Compiler& c)
{
    if (c.LineBuf.size() < MinCallJumpLength || !IsBlank(c.LineBuf[0]))
        return false;
    c.LinePos = 2;
    c.LinePos += skipspace(c);
    const std::string mnemonic = RetrieveWord(c);
    const std::string upper = FoldCase(mnemonic);
    bool known = false;
    for (auto m : CallJumpMnemonics)
        known = known || upper == m;
    if (!known)
        return false;
    c.LinePos += std::int64_t(mnemonic.size());
    c.LinePos += skipspace(c);
    return true;
}

void FixCallJump(Compiler& c, std::size_t index)
{
    const std::string operand = RetrieveWord(c);
    if (operand.empty())
        return;
    if (wordFor(operand[0], DigitWords))
        c.LineBuf = SpellDigit(c.LinePos, c.LineBuf);
    c.ProgramCode.replace(index, SpellSymbols(c.LineBuf));
}

void FixLabel(Compiler& c, std::size_t index)
{
    c.LineBuf = SpellDigit(1, c.LineBuf);
    c.ProgramCode.replace(index, SpellSymbols(c.LineBuf));
}

void FilterLabels(Compiler& c)
{
    const std::size_t count = c.ProgramCode.size();
    for (std::size_t i = 0; i < count; ++i) {
        // Lines are rewritten at their full length, however long.
        c.LineBuf = c.ProgramCode[i];
        if (isLabelLine(c.LineBuf))
            FixLabel(c, i);
        else if (IsCallJump(c))
            FixCallJump(c, i);
    }
}

} // namespace mirtolan
