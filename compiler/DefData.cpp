// The number syntax, the byte operators, and the top-level data words
// CONSTANT, VARIABLE and ALLOT.
#include <limits>

#include "Compiler.h"
#include "DefColon.h"
#include "Messages.h"
#include "Scanner.h"

namespace mirtolan {

static int hexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

// One or more hexadecimal digits whose value fits in 32 bits; values from
// 80000000 up are taken as negative, in two's complement.
static std::optional<std::int32_t> parseHex(std::string_view digits)
{
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char ch : digits) {
        const int d = hexDigit(ch);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + std::uint64_t(d);
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int64_t> ParseDecimal(std::string_view text, std::int64_t highest, std::int64_t lowest)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    const std::int64_t limit = negative ? -lowest : highest;
    std::int64_t value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9')
            return std::nullopt;
        value = value * 10 + (ch - '0');
        if (value > limit)
            return std::nullopt;
    }
    return negative ? -value : value;
}

static std::optional<std::int32_t> parseDecimal(std::string_view text)
{
    const auto value = ParseDecimal(text, std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min());
    return value ? std::optional<std::int32_t>(std::int32_t(*value)) : std::nullopt;
}

// Prefixes that introduce a hexadecimal number, longest first so "0x" wins over "0".
constexpr std::string_view HexPrefixes[] = {"0x", "0X", "$", "x", "X"};

static std::optional<std::int32_t> parseNumberText(std::string_view text)
{
    for (std::string_view prefix : HexPrefixes)
        if (text.substr(0, prefix.size()) == prefix)
            return parseHex(text.substr(prefix.size()));
    return parseDecimal(text);
}

std::optional<std::int32_t> ParseNumber(std::string_view text, bool decimal)
{
    // HEX mode reads the word as if "$" stood in front, so only bare
    // hexadecimal digits are numbers there.
    if (!decimal)
        return parseHex(text);
    return parseNumberText(text);
}

std::int32_t ConvertNumber(Compiler& c, const std::string& word)
{
    const auto value = ParseNumber(word, c.DecimalBase);
    if (!value) {
        c.NumberValid = false;
        return 0;
    }
    return *value;
}

// The byte operators and what each makes of its operand.
struct ByteOperator {
    const char* name;
    std::int32_t (*apply)(std::int32_t);
};
// Integer division truncates toward zero, then the low 8 bits remain.
static std::int32_t highByte(std::int32_t v) { return (v / 256) & 0xFF; }
static std::int32_t lowByte(std::int32_t v) { return v & 0xFF; }
constexpr ByteOperator ByteOperators[] = {
    {"(HIGH)", highByte}, {"(H)", highByte}, {"(LOW)", lowByte}, {"(L)", lowByte}};

std::int32_t EvalNumber(Compiler& c, const std::string& word)
{
    for (const auto& op : ByteOperators) {
        if (SameIgnoringCase(word, op.name)) { // the names are upper case
            const std::string operand = NextWord(c);
            const std::int32_t v = ConvertNumber(c, operand);
            c.LastToken = operand;
            return op.apply(v);
        }
    }
    c.LastToken = word;
    return ConvertNumber(c, word);
}

std::string DefineName(Compiler& c)
{
    c.CellBitsFixed = true;
    const std::string name = NextWord(c);
    MapDefinition(c, name);
    c.ProgramCode.push_back(name + ":");
    c.LinePos += 1; // the extra step over the blank that ends the name mirrors CompileColon
    return name;
}

void CompileAddressPush(Compiler& c, std::int32_t address)
{
    // High part first, so the low byte ends on top of the data stack.
    const std::int32_t high = address / 256, low = address % 256;
    c.ProgramCode.push_back("\tldi\tFtmp1," + std::to_string(high));
    c.ProgramCode.push_back("\tst\t-Y,Ftmp1");
    c.ProgramCode.push_back("\tldi\tFtmp1," + std::to_string(low));
    c.ProgramCode.push_back("\tst\t-Y,Ftmp1");
    CompileRet(c);
}

void CompileConstantValue(Compiler& c, std::int32_t value)
{
    // Constants are written in decimal whatever the number base.
    PushCell(c, value, true);
    CompileRet(c);
}

void DefVariable(Compiler& c)
{
    DefineName(c);
    const std::int32_t address = c.VarNext;
    const std::uint32_t cellBytes = std::uint32_t(c.CellBits / 8);
    NoteVariable(c, address, cellBytes);
    AdvanceVarNext(c, cellBytes);
    CompileAddressPush(c, address);
}

void DefConstant(Compiler& c)
{
    const std::string name = DefineName(c);
    const std::string valueWord = NextWord(c);
    c.NumberValid = true;
    std::int32_t value = 0;
    if (!valueWord.empty() && valueWord[0] == '\'')
        value = CharLiteral(valueWord);
    else
        value = EvalNumber(c, valueWord);
    if (!c.NumberValid) {
        ConstExpected(c, c.LastToken);
        GiveBack(c, c.LastToken);
        value = 0;
    } else {
        CheckFits(c, value, c.CellBits, c.LastToken, std::uint32_t(c.LineNo), WordColumn(c, c.LastToken), "constant");
    }
    c.Ext.Constants[FoldCase(name)] = value;
    CompileConstantValue(c, value);
}

void DefAllot(Compiler& c)
{
    std::int32_t count = 1;
    const std::string word = NextWord(c);
    if (const auto value = ParseNumber(word, c.DecimalBase)) {
        count = *value;
    } else {
        ConstExpected(c, word);
        GiveBack(c, word);
    }
    GrowData(c, count);
}

std::int32_t AddressPlus(std::int32_t address, std::int64_t bytes)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(address) + static_cast<std::uint32_t>(bytes));
}

void AdvanceVarNext(Compiler& c, std::uint32_t bytes)
{
    c.VarNext = AddressPlus(c.VarNext, bytes);
}

void GrowData(Compiler& c, std::int32_t count)
{
    AdvanceVarNext(c, static_cast<std::uint32_t>(count));
    // The bytes belong to the variable before them.
    if (c.Map && !c.Map->variables.empty())
        c.Map->variables.back().size += count;
}

void NoteVariable(Compiler& c, std::int32_t address, std::int64_t size)
{
    if (c.Map)
        c.Map->variables.push_back({c.Map->program.current.definition, address, size, c.Map->program.current.line});
}

} // namespace mirtolan
