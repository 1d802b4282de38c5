// Data in the standard order at the top level: a number is held for the
// word after it (5 CONSTANT five, 7 VALUE speed, CREATE table 1 C, 2 ,,
// VARIABLE buf 9 ALLOT), DEFER cells, and the initialised data that the
// run-time copies from flash into RAM before main.
#include <array>

#include "Compiler.h"
#include "DefColon.h"
#include "Extensions.h"
#include "Messages.h"
#include "Scanner.h"

namespace mirtolan {

namespace {

// The routine and labels of the initialised data, and the listing fact
// that has the header's start-up call the routine.
constexpr const char* InitRoutine = "_RInitData";
constexpr const char* InitFact = ".equ\t_RHAS_INITDATA\t= 1";
// What an unset DEFER runs: nothing.
constexpr const char* NoopRoutine = "_RNoop";
// A DEFER's cell holds a flash word address.
constexpr int DeferBytes = 2;

void emit(Compiler& c, std::initializer_list<std::string_view> pieces) { c.ProgramCode.push_back(pieces); }

// Bytes of RAM set at start-up, from `address` on.
void addInitData(Compiler& c, std::int32_t address, std::vector<std::string> bytes)
{
    auto& data = c.Ext.InitData;
    if (!data.empty() && AddressPlus(data.back().address, std::int64_t(data.back().bytes.size())) == address)
        data.back().bytes.insert(data.back().bytes.end(), bytes.begin(), bytes.end());
    else
        data.push_back({address, std::move(bytes)});
}

// The bytes of a cell of `value`, low byte first.
std::vector<std::string> cellBytes(std::int32_t value, int bytes)
{
    std::vector<std::string> out;
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::to_string((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF));
    return out;
}

void checkHeld(Compiler& c, const HeldNumber& h, int bits, const char* role)
{
    CheckFits(c, h.value, bits, h.word, h.line, h.column, role);
}

void heldConstant(Compiler& c, const HeldNumber& h)
{
    c.Ext.Constants[FoldCase(DefineName(c))] = h.value;
    checkHeld(c, h, c.CellBits, "constant");
    CompileConstantValue(c, h.value);
}

void heldValue(Compiler& c, const HeldNumber& h)
{
    const std::string name = DefineName(c);
    checkHeld(c, h, c.CellBits, "value");
    const int bytes = c.CellBits / 8;
    const std::int32_t address = c.VarNext;
    NoteVariable(c, address, bytes);
    AdvanceVarNext(c, std::uint32_t(bytes));
    addInitData(c, address, cellBytes(h.value, bytes));
    c.Ext.Values[FoldCase(name)] = {address};
    // High byte first, so the cell lies on the stack as it lies in RAM.
    for (int i = bytes - 1; i >= 0; --i) {
        emit(c, {"\tlds\tFtmp1,", std::to_string(AddressPlus(address, i))});
        emit(c, {"\tst\t-Y,Ftmp1"});
    }
    CompileRet(c);
}

void heldByte(Compiler& c, const HeldNumber& h)
{
    checkHeld(c, h, 8, "C,");
    addInitData(c, c.VarNext, cellBytes(h.value, 1));
    GrowData(c, 1);
}

void heldCell(Compiler& c, const HeldNumber& h)
{
    checkHeld(c, h, c.CellBits, ",");
    const int bytes = c.CellBits / 8;
    addInitData(c, c.VarNext, cellBytes(h.value, bytes));
    GrowData(c, bytes);
}

void heldAllot(Compiler& c, const HeldNumber& h) { GrowData(c, h.value); }

struct HeldTaker {
    std::string_view word;                      // upper case
    void (*take)(Compiler&, const HeldNumber&); // defines or stores with the number
};
constexpr std::array<HeldTaker, 5> HeldTakers{{
    {"CONSTANT", heldConstant}, {"VALUE", heldValue}, {"C,", heldByte}, {",", heldCell}, {"ALLOT", heldAllot},
}};

void defCreate(Compiler& c)
{
    DefineName(c);
    NoteVariable(c, c.VarNext, 0);
    CompileAddressPush(c, c.VarNext);
}

void defDefer(Compiler& c)
{
    const std::string name = DefineName(c);
    const std::int32_t address = c.VarNext;
    AdvanceVarNext(c, DeferBytes);
    addInitData(c, address, {std::string("low(") + NoopRoutine + ")", std::string("high(") + NoopRoutine + ")"});
    c.Ext.UsesDefer = true;
    c.Ext.Defers[FoldCase(name)] = {address};
    // The word jumps to the one its cell names, which returns to the caller.
    emit(c, {"\tlds\tZL,", std::to_string(address)});
    emit(c, {"\tlds\tZH,", std::to_string(AddressPlus(address, 1))});
    emit(c, {"\tijmp"});
}

struct TopLevelWord {
    std::string_view word;     // upper case
    void (*define)(Compiler&); // reads the name after it and defines it
};
constexpr std::array<TopLevelWord, 2> TopLevelWords{{{"CREATE", defCreate}, {"DEFER", defDefer}}};

// The comment words let a held number wait behind them.
bool passesHeld(const std::string& word) { return word == "\\\\" || word == "("; }

} // namespace

void FlushHeldNumber(Compiler& c)
{
    if (!c.Ext.Held)
        return;
    const HeldNumber h = *c.Ext.Held;
    c.Ext.Held.reset();
    NotDefinedAt(c, h.word, h.line, h.column);
}

bool TakeHeldNumber(Compiler& c, const std::string& word, const std::string& upper)
{
    if (!c.Ext.Held || passesHeld(word))
        return false;
    for (const auto& t : HeldTakers) {
        if (t.word == upper) {
            const HeldNumber h = *c.Ext.Held;
            c.Ext.Held.reset();
            t.take(c, h);
            return true;
        }
    }
    FlushHeldNumber(c);
    return false;
}

bool TopLevelExtension(Compiler& c, const std::string& word, const std::string& upper)
{
    const bool character = word[0] == '\'';
    const auto value = character ? std::optional<std::int32_t>(CharLiteral(word)) : ParseNumber(word, c.DecimalBase);
    if (value) {
        FlushHeldNumber(c);
        c.Ext.Held = HeldNumber{*value, word, std::uint32_t(c.LineNo), WordColumn(c, word)};
        return true;
    }
    for (const auto& t : TopLevelWords) {
        if (t.word == upper) {
            t.define(c);
            return true;
        }
    }
    return false;
}

void AddInitData(Compiler& c)
{
    const auto& data = c.Ext.InitData;
    if (data.empty())
        return;
    c.ListingFacts.push_back(InitFact);
    if (c.Map)
        c.Map->program.current = {OriginKind::Archive, LineOrigin::NoLine, 0, 0, 0, c.Map->intern(InitRoutine)};
    c.ProgramCode.push_back("; ---- initialised data, copied into RAM before main");
    c.ProgramCode.push_back({InitRoutine, ":"});
    emit(c, {"\tldi\tZL,low(2*_RInitImage)"});
    emit(c, {"\tldi\tZH,high(2*_RInitImage)"});
    emit(c, {"\t_RFlashPage\t2*_RInitImage"});
    std::vector<std::string> image;
    for (const auto& segment : data) {
        const auto count = std::to_string(segment.bytes.size());
        const auto address = std::to_string(segment.address);
        emit(c, {"\tldi\tXL,low(", address, ")"});
        emit(c, {"\tldi\tXH,high(", address, ")"});
        emit(c, {"\tldi\tr18,low(", count, ")"});
        emit(c, {"\tldi\tr19,high(", count, ")"});
        emit(c, {"\trcall\t_RInitCopy"});
        image.insert(image.end(), segment.bytes.begin(), segment.bytes.end());
    }
    emit(c, {"\t_RFlashPage\t0"});
    emit(c, {"\tret"});
    c.ProgramCode.push_back("_RInitCopy:");
    emit(c, {"\t_RFlashByte\tFtmp1"});
    emit(c, {"\tst\tX+,Ftmp1"});
    emit(c, {"\tsubi\tr18,1"});
    emit(c, {"\tsbci\tr19,0"});
    emit(c, {"\tbrne\t_RInitCopy"});
    emit(c, {"\tret"});
    if (c.Ext.UsesDefer) {
        c.ProgramCode.push_back({NoopRoutine, ":"});
        emit(c, {"\tret"});
    }
    // The image, its bytes as numbers and expressions, in even-length lines.
    c.ProgramCode.push_back("_RInitImage:");
    if (image.size() % 2)
        image.push_back("0");
    constexpr std::size_t BytesPerLine = 16;
    for (std::size_t at = 0; at < image.size(); at += BytesPerLine) {
        std::string line = "\t.db\t";
        for (std::size_t i = at; i < image.size() && i < at + BytesPerLine; ++i)
            line += (i == at ? "" : ",") + image[i];
        c.ProgramCode.push_back(line);
    }
}

} // namespace mirtolan
