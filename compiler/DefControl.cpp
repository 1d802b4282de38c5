// Control structures. An opening word takes the next label number, writes
// the branch or label that uses it and leaves the number on a stack; the
// closing word takes it back and writes the matching label or branch.
#include <array>
#include <charconv>

#include "Archive.h"
#include "Compiler.h"
#include "DefColon.h"
#include "Messages.h"

namespace mirtolan {

namespace {

// Slot `slot` (from 1) of a label stack. Slots at or below 0 exist only after
// an unmatched closing word has driven the depth under 1; a push there is
// dropped and a read gives 0, so nothing outside the stack is ever touched.
void setSlot(std::vector<std::int64_t>& stack, std::int64_t slot, std::int64_t value)
{
    if (slot < 1)
        return;
    const auto index = std::size_t(slot - 1);
    if (index >= stack.size())
        stack.resize(index + 1, 0); // the stacks grow with the nesting, without a fixed limit
    stack[index] = value;
}

std::int64_t getSlot(const std::vector<std::int64_t>& stack, std::int64_t slot)
{
    if (slot < 1 || std::uint64_t(slot - 1) >= stack.size())
        return 0;
    return stack[std::size_t(slot - 1)];
}

// The decimal text of a label number, made without allocating.
class Num {
public:
    explicit Num(std::int64_t n) : size_(std::size_t(std::to_chars(buf_, buf_ + sizeof buf_, n).ptr - buf_)) {}
    operator std::string_view() const { return {buf_, size_}; }

private:
    char buf_[24]; // room for any 64-bit number and its sign
    std::size_t size_;
};

void emit(Compiler& c, std::initializer_list<std::string_view> pieces) { c.ProgramCode.push_back(pieces); }

// Writes slot CtlDepth with the next label number and returns it. The caller
// appends its lines, then calls `pushed` to raise the counters.
std::int64_t beginPush(Compiler& c)
{
    setSlot(c.CtlStack, c.CtlDepth, c.LabelCount);
    return c.LabelCount;
}
void pushed(Compiler& c)
{
    ++c.LabelCount;
    ++c.CtlDepth;
}

// Lowers CtlDepth by one; the popped number, or nothing when the stack was
// empty (and then, if `report`, the closer is reported as unmatched).
std::optional<std::int64_t> pop(Compiler& c, bool report)
{
    --c.CtlDepth;
    if (c.CtlDepth < 1) {
        if (report)
            CondNotMatched(c);
        return std::nullopt;
    }
    return getSlot(c.CtlStack, c.CtlDepth);
}

void testIfZero(Compiler& c, const char* keyword)
{
    c.ProgramCode.push_back({"\t", CallMnemonic(c), "\t_TestIfZero \t; ", keyword});
}

} // namespace

void UseRuntimeWord(Compiler& c, const std::string& name)
{
    if (IsLibraryWord(c, name))
        CompileCall(c, name);
    else if (const auto position = FindArchiveWord(c, name); position >= 0)
        CopyArchiveWordAndCall(c, position);
    else
        MissingArchiveWord(c, name);
}

// IF and WHILE: test the flag and branch forward to a label still to come.
static void compileForwardTest(Compiler& c, const char* keyword)
{
    const auto n = beginPush(c);
    testIfZero(c, keyword);
    emit(c, {"\tbreq\t_L", Num(n)});
    pushed(c);
}

void CompileIf(Compiler& c) { compileForwardTest(c, "IF"); }

void CompileElse(Compiler& c)
{
    const auto n = c.LabelCount;
    emit(c, {"\trjmp\t_L", Num(n), "\t\t; ELSE"});
    if (const auto m = pop(c, false)) {
        setSlot(c.CtlStack, c.CtlDepth, n);
        emit(c, {"_L", Num(*m), ":"});
    }
    pushed(c);
}

void CompileThen(Compiler& c)
{
    if (const auto m = pop(c, true))
        emit(c, {"_L", Num(*m), ":\t\t\t\t; THEN"});
}

void CompileBegin(Compiler& c)
{
    const auto n = beginPush(c);
    emit(c, {"_L", Num(n), ":\t\t\t\t; BEGIN"});
    pushed(c);
}

void CompileUntil(Compiler& c)
{
    if (const auto m = pop(c, true)) {
        testIfZero(c, "UNTIL");
        emit(c, {"\tbreq\t_L", Num(*m)});
    }
}

void CompileAgain(Compiler& c)
{
    if (const auto m = pop(c, true))
        emit(c, {"\trjmp\t_L", Num(*m), "\t\t; AGAIN"});
}

void CompileWhile(Compiler& c) { compileForwardTest(c, "WHILE"); }

void CompileRepeat(Compiler& c)
{
    c.CtlDepth -= 2;
    if (c.CtlDepth < 1) {
        CondNotMatched(c);
        return;
    }
    const auto w = getSlot(c.CtlStack, c.CtlDepth + 1);
    const auto b = getSlot(c.CtlStack, c.CtlDepth);
    emit(c, {"\trjmp\t_L", Num(b), "\t\t; REPEAT"});
    emit(c, {"_L", Num(w), ":"});
}

void CompileDo(Compiler& c)
{
    UseRuntimeWord(c, "DO");
    const auto n = beginPush(c);
    emit(c, {"_L", Num(n), ":\t\t\t\t; DO"});
    pushed(c);
}

void CompileLoopEnd(Compiler& c, const std::string& name)
{
    const auto m = pop(c, true);
    if (!m)
        return;
    UseRuntimeWord(c, name);
    emit(c, {"\tbrcc\t_L", Num(*m), "\t\t; ", name});
}

void CompileLoop(Compiler& c) { CompileLoopEnd(c, "LOOP"); }
void CompilePlusLoop(Compiler& c) { CompileLoopEnd(c, "+LOOP"); }

void CompileCase(Compiler& c)
{
    const auto k = c.CaseLabelCount;
    setSlot(c.CaseStack, c.CaseDepth, k);
    c.CaseExpected = true;
    emit(c, {"\tld\tFtmp2,Y+\t; CASE"});
    // A 16-bit selector: its high byte in Ftmp2H.
    if (c.CellBits == WideCellBits)
        emit(c, {"\tld\tFtmp2H,Y+"});
    ++c.CaseLabelCount;
    ++c.CaseDepth;
}

void CompileOf(Compiler& c)
{
    emit(c, {"\tcp\tFtmp1,Ftmp2\t; OF"});
    if (c.CellBits == WideCellBits)
        emit(c, {"\tcpc\tFtmp1H,Ftmp2H"});
    const auto n = beginPush(c);
    emit(c, {"\tbrne\t_L", Num(n)});
    pushed(c);
    c.CaseExpected = false;
}

void CompileEndOf(Compiler& c)
{
    // With no CASE open there is no exit to jump to: the jump names the
    // label number 0, which no CASE ever gets, and the stray ENDOF is reported.
    const bool caseOpen = c.CaseDepth > 1;
    const auto k = caseOpen ? getSlot(c.CaseStack, c.CaseDepth - 1) : 0;
    emit(c, {"\trjmp\t_LC", Num(k), "\t\t; ENDOF"});
    if (!caseOpen)
        CondNotMatched(c);
    if (const auto m = pop(c, false))
        emit(c, {"_L", Num(*m), ":"});
    c.CaseExpected = true;
}

void CompileEndCase(Compiler& c)
{
    --c.CaseDepth;
    if (c.CaseDepth < 1)
        CondNotMatched(c);
    else
        emit(c, {"_LC", Num(getSlot(c.CaseStack, c.CaseDepth)), ":\t\t\t\t; ENDCASE"});
    c.CaseExpected = false;
}

void CompileDefault(Compiler& c)
{
    if (!c.CaseExpected) {
        SyntaxError(c);
        return;
    }
    c.CaseExpected = false;
    emit(c, {"\t\t\t\t; DEFAULT"});
}

namespace {
struct ControlWord {
    std::string_view keyword;
    ControlOp op;
};
// In the order the dispatch has always tested them.
constexpr std::array<ControlWord, 16> ControlWords{{
    {"IF", CompileIf},       {"ELSE", CompileElse},       {"THEN", CompileThen},     {"BEGIN", CompileBegin},
    {"UNTIL", CompileUntil}, {"AGAIN", CompileAgain},     {"WHILE", CompileWhile},   {"REPEAT", CompileRepeat},
    {"DO", CompileDo},       {"LOOP", CompileLoop},       {"+LOOP", CompilePlusLoop}, {"CASE", CompileCase},
    {"OF", CompileOf},       {"ENDOF", CompileEndOf},     {"ENDCASE", CompileEndCase}, {"DEFAULT", CompileDefault},
}};
} // namespace

ControlOp FindControlWord(std::string_view word)
{
    // Every body word passes here, so the word is folded into a small buffer
    // once and compared with plain comparisons.
    constexpr std::size_t LongestKeyword = 7; // "ENDCASE", "DEFAULT"
    if (word.size() > LongestKeyword)
        return nullptr;
    char buf[LongestKeyword];
    for (std::size_t i = 0; i < word.size(); ++i)
        buf[i] = (word[i] >= 'a' && word[i] <= 'z') ? char(word[i] - 'a' + 'A') : word[i];
    const std::string_view upper(buf, word.size());
    for (const auto& w : ControlWords)
        if (w.keyword == upper)
            return w.op;
    return nullptr;
}

} // namespace mirtolan
