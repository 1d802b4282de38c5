// Control structures. An opening word takes the next label number, writes
// the branch or label that uses it and leaves the number on a stack; the
// closing word takes it back and writes the matching label or branch.
#include <array>
#include <charconv>
#include <type_traits>

#include "Archive.h"
#include "Compiler.h"
#include "DefColon.h"
#include "Messages.h"
#include "Scanner.h"

namespace mirtolan {

namespace {

// Slot `slot` (from 1) of a label stack or of the records beside it. Slots
// at or below 0 exist only after an unmatched closing word has driven the
// depth under 1; a push there is dropped and a read gives the empty value,
// so nothing outside the stack is ever touched.
template <class T>
void setSlot(std::vector<T>& stack, std::int64_t slot, const std::type_identity_t<T>& value)
{
    if (slot < 1)
        return;
    const auto index = std::size_t(slot - 1);
    if (index >= stack.size())
        stack.resize(index + 1); // the stacks grow with the nesting, without a fixed limit
    stack[index] = value;
}

template <class T>
T getSlot(const std::vector<T>& stack, std::int64_t slot)
{
    if (slot < 1 || std::uint64_t(slot - 1) >= stack.size())
        return {};
    return stack[std::size_t(slot - 1)];
}

// The record of a structure opened by `keyword`, which was just read.
CtlEntry entryHere(const Compiler& c, CtlKind kind, std::string_view keyword)
{
    return {kind, std::uint32_t(c.LineNo), WordColumn(c, keyword), false};
}

// The words that open each kind of structure, and those that close it.
struct KindWords {
    CtlKind kind;        // the kind of structure
    const char* opener;  // the word that opens it
    const char* closers; // the words that may close it, for a message
};
constexpr KindWords KindNames[] = {
    {CtlKind::If, "IF", "THEN"},          {CtlKind::Else, "ELSE", "THEN"},
    {CtlKind::Begin, "BEGIN", "UNTIL, AGAIN or REPEAT"}, {CtlKind::While, "WHILE", "REPEAT or THEN"},
    {CtlKind::Do, "DO", "LOOP or +LOOP"}, {CtlKind::QDo, "?DO", "LOOP or +LOOP"},
    {CtlKind::Of, "OF", "ENDOF"},         {CtlKind::Case, "CASE", "ENDCASE"},
};
const KindWords& namesOf(CtlKind k)
{
    for (const auto& n : KindNames)
        if (n.kind == k)
            return n;
    return KindNames[0];
}

void noteFact(Compiler& c, CompileFact f)
{
    if (!c.Map)
        return;
    f.definition = c.Map->program.current.definition;
    c.Map->facts.push_back(std::move(f));
}

// `closer` met a structure it cannot close: the one `opener` opened at
// `openerLine`, or none at all when `opener` is empty.
void noteWrongCloser(Compiler& c, std::string_view closer, const char* opener, std::uint32_t openerLine)
{
    noteFact(c, {FactKind::WrongCloser, std::string(closer), std::uint32_t(c.LineNo), WordColumn(c, closer), opener,
                 openerLine, 0, 0, 0});
}

// A closing word took `met` off the stack; when that is not a structure it
// closes, the listing pairs the wrong labels, which the build must refuse.
void checkCloser(Compiler& c, std::string_view closer, const CtlEntry& met, std::initializer_list<CtlKind> closes)
{
    for (CtlKind k : closes)
        if (met.kind == k)
            return;
    noteWrongCloser(c, closer, namesOf(met.kind).opener, met.line);
}

// ELSE and ENDOF with nothing open give no message, and the label of their
// jump is never written.
void nothingToClose(Compiler& c, std::string_view closer) { noteWrongCloser(c, closer, "", 0); }

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
std::int64_t beginPush(Compiler& c, const CtlEntry& e)
{
    setSlot(c.CtlStack, c.CtlDepth, c.LabelCount);
    setSlot(c.Ext.CtlInfo, c.CtlDepth, e);
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

// The entry just popped (at slot CtlDepth).
CtlEntry popped(const Compiler& c) { return getSlot(c.Ext.CtlInfo, c.CtlDepth); }

// Takes slot `slot` out of the control stack; the entries above move down.
void removeSlot(Compiler& c, std::int64_t slot)
{
    for (std::int64_t k = slot; k + 1 < c.CtlDepth; ++k) {
        setSlot(c.CtlStack, k, getSlot(c.CtlStack, k + 1));
        setSlot(c.Ext.CtlInfo, k, getSlot(c.Ext.CtlInfo, k + 1));
    }
    --c.CtlDepth;
}

// The standard forms with more than one WHILE (BEGIN .. WHILE .. WHILE ..
// REPEAT .. THEN, BEGIN .. WHILE .. UNTIL .. THEN): the closing word takes
// its BEGIN from below the WHILEs above it, which stay for THEN. The slot
// of that BEGIN when at least `whiles` WHILEs lie on top of it; 0 otherwise.
std::int64_t beginBelowWhiles(const Compiler& c, std::int64_t whiles)
{
    std::int64_t k = c.CtlDepth - 1, found = 0;
    while (k >= 1 && getSlot(c.Ext.CtlInfo, k).kind == CtlKind::While) {
        --k;
        ++found;
    }
    if (found < whiles || k < 1 || getSlot(c.Ext.CtlInfo, k).kind != CtlKind::Begin)
        return 0;
    return k;
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
static void compileForwardTest(Compiler& c, const char* keyword, CtlKind kind)
{
    const auto n = beginPush(c, entryHere(c, kind, keyword));
    testIfZero(c, keyword);
    emit(c, {"\tbreq\t_L", Num(n)});
    pushed(c);
}

void CompileIf(Compiler& c) { compileForwardTest(c, "IF", CtlKind::If); }

void CompileElse(Compiler& c)
{
    const auto n = c.LabelCount;
    emit(c, {"\trjmp\t_L", Num(n), "\t\t; ELSE"});
    if (const auto m = pop(c, false)) {
        checkCloser(c, "ELSE", popped(c), {CtlKind::If, CtlKind::While});
        setSlot(c.CtlStack, c.CtlDepth, n);
        setSlot(c.Ext.CtlInfo, c.CtlDepth, entryHere(c, CtlKind::Else, "ELSE"));
        emit(c, {"_L", Num(*m), ":"});
    } else {
        nothingToClose(c, "ELSE");
    }
    pushed(c);
}

void CompileThen(Compiler& c)
{
    if (const auto m = pop(c, true)) {
        checkCloser(c, "THEN", popped(c), {CtlKind::If, CtlKind::Else, CtlKind::While});
        emit(c, {"_L", Num(*m), ":\t\t\t\t; THEN"});
    }
}

void CompileBegin(Compiler& c)
{
    const auto n = beginPush(c, entryHere(c, CtlKind::Begin, "BEGIN"));
    emit(c, {"_L", Num(n), ":\t\t\t\t; BEGIN"});
    pushed(c);
}

// UNTIL and AGAIN: the BEGIN they go back to, below any WHILEs; nothing
// when no structure is open.
static std::optional<std::int64_t> takeBegin(Compiler& c, std::string_view closer)
{
    if (const auto slot = beginBelowWhiles(c, 1)) {
        const auto b = getSlot(c.CtlStack, slot);
        removeSlot(c, slot);
        return b;
    }
    const auto m = pop(c, true);
    if (m)
        checkCloser(c, closer, popped(c), {CtlKind::Begin});
    return m;
}

void CompileUntil(Compiler& c)
{
    if (const auto m = takeBegin(c, "UNTIL")) {
        testIfZero(c, "UNTIL");
        emit(c, {"\tbreq\t_L", Num(*m)});
    }
}

void CompileAgain(Compiler& c)
{
    if (const auto m = takeBegin(c, "AGAIN"))
        emit(c, {"\trjmp\t_L", Num(*m), "\t\t; AGAIN"});
}

void CompileWhile(Compiler& c) { compileForwardTest(c, "WHILE", CtlKind::While); }

void CompileRepeat(Compiler& c)
{
    // Two or more WHILEs: the innermost is resolved, the BEGIN below all of
    // them is taken, and the other WHILEs wait for their THENs.
    if (const auto slot = beginBelowWhiles(c, 2)) {
        const auto w = getSlot(c.CtlStack, c.CtlDepth - 1);
        const auto b = getSlot(c.CtlStack, slot);
        --c.CtlDepth;
        removeSlot(c, slot);
        emit(c, {"\trjmp\t_L", Num(b), "\t\t; REPEAT"});
        emit(c, {"_L", Num(w), ":"});
        return;
    }
    c.CtlDepth -= 2;
    if (c.CtlDepth < 1) {
        CondNotMatched(c);
        return;
    }
    checkCloser(c, "REPEAT", getSlot(c.Ext.CtlInfo, c.CtlDepth + 1), {CtlKind::While});
    checkCloser(c, "REPEAT", getSlot(c.Ext.CtlInfo, c.CtlDepth), {CtlKind::Begin});
    const auto w = getSlot(c.CtlStack, c.CtlDepth + 1);
    const auto b = getSlot(c.CtlStack, c.CtlDepth);
    emit(c, {"\trjmp\t_L", Num(b), "\t\t; REPEAT"});
    emit(c, {"_L", Num(w), ":"});
}

void CompileDo(Compiler& c)
{
    UseRuntimeWord(c, "DO");
    const auto n = beginPush(c, entryHere(c, CtlKind::Do, "DO"));
    emit(c, {"_L", Num(n), ":\t\t\t\t; DO"});
    pushed(c);
}

// The run-time part of ?DO: DO, or the carry set when the loop is skipped.
constexpr const char* QDoRuntime = "_QDo";

void CompileQDo(Compiler& c)
{
    UseRuntimeWord(c, QDoRuntime);
    CtlEntry e = entryHere(c, CtlKind::QDo, "?DO");
    e.leaves = true;
    const auto n = beginPush(c, e);
    // The skip jumps to the loop's exit with rjmp, which reaches any body.
    emit(c, {"\tbrcc\t_L", Num(n)});
    emit(c, {"\trjmp\t_LV", Num(n)});
    emit(c, {"_L", Num(n), ":\t\t\t\t; ?DO"});
    pushed(c);
}

bool CompileLeave(Compiler& c)
{
    for (std::int64_t k = c.CtlDepth - 1; k >= 1; --k) {
        CtlEntry e = getSlot(c.Ext.CtlInfo, k);
        if (e.kind != CtlKind::Do && e.kind != CtlKind::QDo)
            continue;
        e.leaves = true;
        setSlot(c.Ext.CtlInfo, k, e);
        UseRuntimeWord(c, "UNLOOP");
        emit(c, {"\trjmp\t_LV", Num(getSlot(c.CtlStack, k)), "\t\t; LEAVE"});
        return true;
    }
    return false;
}

void CompileLoopEnd(Compiler& c, const std::string& name)
{
    const auto m = pop(c, true);
    if (!m)
        return;
    const CtlEntry opener = popped(c);
    checkCloser(c, name, opener, {CtlKind::Do, CtlKind::QDo});
    UseRuntimeWord(c, name);
    emit(c, {"\tbrcc\t_L", Num(*m), "\t\t; ", name});
    // The exit of LEAVE and of a skipped ?DO, only where one jumps to it.
    if (opener.leaves && (opener.kind == CtlKind::Do || opener.kind == CtlKind::QDo))
        emit(c, {"_LV", Num(*m), ":"});
}

void CompileLoop(Compiler& c) { CompileLoopEnd(c, "LOOP"); }
void CompilePlusLoop(Compiler& c) { CompileLoopEnd(c, "+LOOP"); }

void NoteOpenStructures(Compiler& c)
{
    if (!c.Map)
        return;
    const auto note = [&c](const std::vector<CtlEntry>& info, std::int64_t depth) {
        for (std::int64_t k = 1; k < depth; ++k) {
            const CtlEntry e = getSlot(info, k);
            const KindWords& n = namesOf(e.kind);
            // The end of the source is told as such, not at the line past it.
            const std::uint32_t end = c.SourceEnded ? LineOrigin::NoLine : std::uint32_t(c.LineNo);
            noteFact(c, {FactKind::OpenStructure, n.opener, e.line, e.column, n.closers, end, 0, 0, 0});
        }
    };
    note(c.Ext.CtlInfo, c.CtlDepth);
    note(c.Ext.CaseInfo, c.CaseDepth);
}

void SettleCaseConstant(Compiler& c)
{
    if (!c.Ext.PendingCase)
        return;
    const LineOrigin o = *c.Ext.PendingCase;
    c.Ext.PendingCase.reset();
    if (!c.Map)
        return;
    c.Map->facts.push_back({FactKind::CaseWithoutOf, SourceWord(c, o), o.line, o.column, "", 0, 0, 0, o.definition});
}

void CompileCase(Compiler& c)
{
    const auto k = c.CaseLabelCount;
    setSlot(c.CaseStack, c.CaseDepth, k);
    setSlot(c.Ext.CaseInfo, c.CaseDepth, entryHere(c, CtlKind::Case, "CASE"));
    c.CaseExpected = true;
    c.Ext.CaseClauseConstants = 0;
    emit(c, {"\tld\tFtmp2,Y+\t; CASE"});
    // A 16-bit selector: its high byte in Ftmp2H.
    if (c.CellBits == WideCellBits)
        emit(c, {"\tld\tFtmp2H,Y+"});
    ++c.CaseLabelCount;
    ++c.CaseDepth;
}

void CompileOf(Compiler& c)
{
    c.Ext.PendingCase.reset();
    emit(c, {"\tcp\tFtmp1,Ftmp2\t; OF"});
    if (c.CellBits == WideCellBits)
        emit(c, {"\tcpc\tFtmp1H,Ftmp2H"});
    const auto n = beginPush(c, entryHere(c, CtlKind::Of, "OF"));
    emit(c, {"\tbrne\t_L", Num(n)});
    pushed(c);
    c.CaseExpected = false;
    c.Ext.CaseClauseConstants = 0;
}

void CompileEndOf(Compiler& c)
{
    // With no CASE open there is no exit to jump to: the jump names the
    // label number 0, which no CASE ever gets, and the stray ENDOF is reported.
    const bool caseOpen = c.CaseDepth > 1;
    const auto k = caseOpen ? getSlot(c.CaseStack, c.CaseDepth - 1) : 0;
    SettleCaseConstant(c);
    emit(c, {"\trjmp\t_LC", Num(k), "\t\t; ENDOF"});
    if (!caseOpen)
        CondNotMatched(c);
    if (const auto m = pop(c, false)) {
        checkCloser(c, "ENDOF", popped(c), {CtlKind::Of});
        emit(c, {"_L", Num(*m), ":"});
    } else if (caseOpen) {
        nothingToClose(c, "ENDOF");
    }
    c.CaseExpected = true;
    c.Ext.CaseClauseConstants = 0;
}

void CompileEndCase(Compiler& c)
{
    SettleCaseConstant(c);
    --c.CaseDepth;
    if (c.CaseDepth < 1) {
        CondNotMatched(c);
    } else {
        // A default clause that began without DEFAULT left the selector on top.
        if (getSlot(c.Ext.CaseInfo, c.CaseDepth).selectorPushed)
            emit(c, {"\tadiw\tYL,", Num(c.CellBits / 8)});
        emit(c, {"_LC", Num(getSlot(c.CaseStack, c.CaseDepth)), ":\t\t\t\t; ENDCASE"});
    }
    c.CaseExpected = false;
}

bool BeginDefaultClause(Compiler& c)
{
    // The one number loaded as a case constant just before still waits in
    // Ftmp1; with more than one, the first is lost.
    if (!c.CaseExpected || c.CaseDepth < 2 || c.Ext.CaseClauseConstants > 1)
        return false;
    const bool wide = c.CellBits == WideCellBits;
    if (wide)
        emit(c, {"\tst\t-Y,Ftmp2H"});
    emit(c, {"\tst\t-Y,Ftmp2"});
    if (c.Ext.CaseClauseConstants == 1) {
        if (wide)
            emit(c, {"\tst\t-Y,Ftmp1H"});
        emit(c, {"\tst\t-Y,Ftmp1"});
    }
    CtlEntry e = getSlot(c.Ext.CaseInfo, c.CaseDepth - 1);
    e.selectorPushed = true;
    setSlot(c.Ext.CaseInfo, c.CaseDepth - 1, e);
    c.Ext.PendingCase.reset();
    c.Ext.CaseClauseConstants = 0;
    c.CaseExpected = false;
    return true;
}

void CompileDefault(Compiler& c)
{
    SettleCaseConstant(c);
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
