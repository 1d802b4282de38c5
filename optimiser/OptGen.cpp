// The code generator: the operations of one definition become AVR code
// that keeps the cells of the data stack in registers while it can. A cell
// is a known constant, a register (a pair in 16-bit cells) or a cell still
// in memory; code is only written when a cell must be somewhere. At calls,
// at lines the optimiser does not read and at returns every cell goes back
// to memory, where the data stack pointer Y says; at a label the cells are
// where the first path that reached it left them in registers, and every
// other path puts them there.
#include "OptGen.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "Compiler.h"
#include "DefColon.h"
#include "StackNote.h"

namespace mirtolan::opt {

namespace {

// Registers of the run-time model (see 4thCore.inc).
constexpr int RegX = 26, RegY = 28, RegZ = 30;
// The first register ldi, cpi, subi, andi and ori take.
constexpr int FirstUpper = 16;
// Registers the optimiser keeps cells in. r2 to r7 stay free for "$"
// lines; r0, r1 and Z are its scratch; X and Y are the stacks.
// r16-r19 come last: the archive routines use them.
constexpr int UpperRegs8[] = {20, 21, 22, 23, 24, 25, 16, 17, 18, 19};
constexpr int LowerRegs8[] = {8, 9, 10, 11, 12, 13, 14, 15};
constexpr int UpperPairs[] = {20, 22, 24, 16, 18};
// The registers an archive routine may change besides r0, r1 and Z.
constexpr int ArchiveScratch[] = {16, 17, 18, 19};
constexpr int LowerPairs[] = {8, 10, 12, 14};
bool archiveScratch(int r)
{
    return std::find(std::begin(ArchiveScratch), std::end(ArchiveScratch), r) != std::end(ArchiveScratch);
}
// The largest displacement ldd and std take.
constexpr int MaxDisplacement = 63;
// The largest constant adiw takes.
constexpr int MaxAdiw = 63;
// Cells a label keeps in registers at most, so that loops keep room for their work.
constexpr int MaxLabelCells8 = 6;
constexpr int MaxLabelCells16 = 4;
// The stack words: the cells each takes and, by their place among those
// (0 the deepest), the cells it leaves.
struct Shuffle {
    Prim prim;          // the word
    int takes;          // cells taken
    const char* leaves; // what it leaves, bottom first
};
constexpr Shuffle Shuffles[] = {
    {Prim::Dup, 1, "00"},      {Prim::Drop, 1, ""},        {Prim::Swap, 2, "10"},     {Prim::Over, 2, "010"},
    {Prim::Rot, 3, "120"},     {Prim::MinusRot, 3, "201"}, {Prim::Nip, 2, "1"},       {Prim::Tuck, 2, "101"},
    {Prim::TwoDup, 2, "0101"}, {Prim::TwoDrop, 2, ""},     {Prim::TwoSwap, 4, "2301"}, {Prim::TwoOver, 4, "012301"},
};
const Shuffle* shuffleOf(Prim p)
{
    for (const Shuffle& s : Shuffles)
        if (s.prim == p)
            return &s;
    return nullptr;
}

// The registers an operation may take at once: cells, and of them upper
// registers (which take constants).
struct Need {
    int cells; // registers (pairs in 16-bit cells)
    int upper; // of them, ones that take constants (r16 and up)
};
Need needOf(Prim p)
{
    if (shuffleOf(p))
        return {0, 0};
    switch (p) {
    case Prim::Star:
        return {3, 0};
    case Prim::MPlus:
        return {3, 2};
    case Prim::Plus: case Prim::Minus: case Prim::And: case Prim::Or: case Prim::Xor:
    case Prim::CStore: case Prim::Store: case Prim::PlusStore:
        return {2, 1};
    case Prim::OnePlus: case Prim::OneMinus: case Prim::TwoStar: case Prim::TwoSlash: case Prim::Negate:
    case Prim::Invert: case Prim::CFetch: case Prim::Fetch: case Prim::I: case Prim::J: case Prim::ToR:
    case Prim::RFrom: case Prim::RFetch:
        return {1, 1};
    default: // the comparisons
        return {3, 1};
    }
}

std::string R(int r) { return "r" + std::to_string(r); }

// "ld r,P" or "ldd r,P+q" for the pointer P (Y or Z); st and std likewise.
std::string loadFrom(int r, const char* pointer, int q)
{
    return q == 0 ? "\tld\t" + R(r) + "," + pointer : "\tldd\t" + R(r) + "," + pointer + "+" + std::to_string(q);
}
std::string storeTo(const char* pointer, int q, int r)
{
    return q == 0 ? "\tst\t" + std::string(pointer) + "," + R(r)
                  : "\tstd\t" + std::string(pointer) + "+" + std::to_string(q) + "," + R(r);
}

std::string hex4(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", unsigned(v & 0xFFFF));
    return buf;
}

// "low(E)" and "high(E)": the two bytes of one expression E.
std::optional<std::string> inner(const std::string& expr, const char* fn)
{
    const std::string head = std::string(fn) + "(";
    if (expr.size() > head.size() + 1 && SameIgnoringCase(expr.substr(0, head.size()), head) && expr.back() == ')')
        return expr.substr(head.size(), expr.size() - head.size() - 1);
    return std::nullopt;
}

struct Condition {
    Prim prim;               // the comparison word
    bool unary;              // compares the top cell with `constant`
    std::uint32_t constant;  // what a unary comparison compares with
    bool swap;               // compares the second operand with the first
    const char* falseBranch; // the branch taken when the flag is false
};
constexpr Condition Conditions[] = {
    {Prim::Equal, false, 0, false, "brne"},     {Prim::NotEqual, false, 0, false, "breq"},
    {Prim::Less, false, 0, false, "brge"},      {Prim::Greater, false, 0, true, "brge"},
    {Prim::ULess, false, 0, false, "brsh"},     {Prim::UGreater, false, 0, true, "brsh"},
    {Prim::ZeroEqual, true, 0, false, "brne"},  {Prim::ZeroNotEqual, true, 0, false, "breq"},
    {Prim::ZeroLess, true, 0, false, "brge"},   {Prim::ZeroGreater, true, 1, false, "brlt"},
};

// 8-bit cells: the low and high cell of one address that M+ made.
bool oneAddress(const Val& lo, const Val& hi)
{
    return lo.kind == Val::Sum && hi.kind == Val::Sum && lo.half == 1 && hi.half == 2 && lo.reg == hi.reg &&
           lo.off == hi.off;
}

bool signedBranch(const std::string& b) { return b == "brge" || b == "brlt"; }

} // namespace

Gen::Gen(Compiler& c, const Ops& ops) : c_(c), ops_(ops), cb_(c.CellBits / 8), skip_(c.OptimiseSkip) {}

// ---------------------------------------------------------------- emitting

void Gen::emit(std::string text, int words, bool flags)
{
    noteWrites(text);
    out_.push_back({AsmLine::Plain, std::move(text), {}, words, origin_});
    if (flags)
        zeroFlag_ = -1;
}

void Gen::emitLabel(const std::string& name, const std::string& text)
{
    out_.push_back({AsmLine::Label, text.empty() ? name + ":" : text, name, 0, origin_});
    zeroFlag_ = -1;
    z_.valid = false;
}

// Forgets what Z holds when a line writes Z or the register Z was made
// from. Lines of other shapes (calls, lines kept as written) forget it too.
void Gen::noteWrites(const std::string& text)
{
    static constexpr std::string_view NoWrite[] = {"st", "std", "sts", "cp", "cpc", "cpi", "tst", "sbrc", "sbrs",
                                                   "cpse", "push", "nop"};
    const auto forget = [&] {
        z_.valid = false;
        zeroFlag_ = -1;
    };
    if (text.empty() || text[0] != '\t') {
        // The multiply's conditionals write nothing; any other line may.
        if (!(text.rfind(".if", 0) == 0 || text.rfind(".e", 0) == 0 || text[0] == ';'))
            forget();
        return;
    }
    const auto tab = text.find('\t', 1);
    const std::string_view mnemonic = std::string_view(text).substr(1, tab == std::string::npos ? text.size() : tab - 1);
    for (auto m : NoWrite)
        if (mnemonic == m)
            return;
    if (mnemonic.starts_with("br")) // a branch
        return;
    int first = -1;
    if (tab != std::string::npos && tab + 2 < text.size() && text[tab + 1] == 'r')
        first = std::atoi(text.c_str() + tab + 2);
    if (first < 0) {
        forget();
        return;
    }
    std::vector<int> written{first};
    if (mnemonic == "movw" || mnemonic == "adiw" || mnemonic == "sbiw")
        written.push_back(first + 1);
    if (mnemonic == "mul")
        written = {0, 1};
    for (int w : written) {
        if (w == zeroFlag_)
            zeroFlag_ = -1;
        if (z_.valid && (w == RegZ || w == RegZ + 1 || w == z_.reg || (!z_.byteIndex && w == z_.reg + 1)))
            z_.valid = false;
    }
}

void Gen::emitBranch(const std::string& mnemonic, const std::string& target)
{
    out_.push_back({AsmLine::Branch, mnemonic, target, 1, origin_});
}

void Gen::emitJump(const std::string& target) { out_.push_back({AsmLine::Jump, "rjmp", target, 1, origin_}); }

void Gen::ins(const char* m, int a, int b, bool flags) { emit("\t" + std::string(m) + "\t" + R(a) + "," + R(b), 1, flags); }

void Gen::insI(const char* m, int a, const std::string& imm, bool flags)
{
    emit("\t" + std::string(m) + "\t" + R(a) + "," + imm, 1, flags);
}

void Gen::ins1(const char* m, int a, bool flags) { emit("\t" + std::string(m) + "\t" + R(a), 1, flags); }

void Gen::pushCell(char stack, int r)
{
    for (int b = cb_ - 1; b >= 0; --b)
        emit("\tst\t-" + std::string(1, stack) + "," + R(r + b), 1, false);
}

void Gen::popCell(char stack, int r)
{
    for (int b = 0; b < cb_; ++b)
        emit("\tld\t" + R(r + b) + "," + std::string(1, stack) + "+", 1, false);
}

// ---------------------------------------------------------------- registers

bool Gen::isFree(int r) const { return refs_[r] == 0 && !pinned_[r]; }

std::span<const int> Gen::upperRegs() const
{
    return cb_ == 1 ? std::span<const int>(UpperRegs8) : std::span<const int>(UpperPairs);
}

std::span<const int> Gen::lowerRegs() const
{
    return cb_ == 1 ? std::span<const int>(LowerRegs8) : std::span<const int>(LowerPairs);
}

int Gen::freeCount(bool upperOnly) const
{
    int n = 0;
    for (int r : upperRegs())
        n += isFree(r);
    if (!upperOnly)
        for (int r : lowerRegs())
            n += isFree(r);
    return n;
}

int Gen::alloc(bool upper, const std::vector<int>& avoid, bool lowerFirst)
{
    const auto take = [&](std::span<const int> list) {
        for (int r : list)
            if (isFree(r) && std::find(avoid.begin(), avoid.end(), r) == avoid.end()) {
                refs_[r] = 1;
                return r;
            }
        return -1;
    };
    int r = -1;
    if (lowerFirst && !upper)
        r = take(lowerRegs());
    if (r < 0)
        r = take(upperRegs());
    if (r < 0 && !upper)
        r = take(lowerRegs());
    if (r < 0)
        throw GiveUp{"alloc"};
    return r;
}

int Gen::allocPair8()
{
    for (int r : UpperPairs)
        if (isFree(r) && isFree(r + 1)) {
            refs_[r] = refs_[r + 1] = 1;
            return r;
        }
    throw GiveUp{"allocPair8"};
}

void Gen::retain(const Val& v)
{
    if (v.kind == Val::Reg || v.kind == Val::Sum)
        ++refs_[v.reg];
}

void Gen::release(const Val& v)
{
    if (v.kind == Val::Reg || v.kind == Val::Sum)
        --refs_[v.reg];
}

// Makes room for an operation that needs `cells` more registers, `upper`
// of them able to take constants: the deepest cells go back to memory,
// as few as will do.
void Gen::ensureRoom(int cells, int upper)
{
    const auto enough = [&] { return freeCount(false) >= cells && freeCount(true) >= upper; };
    if (enough())
        return;
    // The cells above the spilled ones stay where they are, so none of
    // them may be a memory cell, whose place the spill moves.
    const int L = int(v_.size());
    int lowestKept = L;
    while (lowestKept > 0 && v_[std::size_t(lowestKept - 1)].kind != Val::Mem)
        --lowestKept;
    for (int k = std::max(lowestKept, 1); k <= L; ++k) {
        std::vector<Val> top(v_.begin() + k, v_.end());
        v_.resize(std::size_t(k));
        // Would spilling v_[0, k) free enough? Count as if it were done.
        int saved[32];
        std::copy(std::begin(refs_), std::end(refs_), saved);
        for (const Val& x : v_)
            release(x);
        const bool fits = enough();
        std::copy(std::begin(saved), std::end(saved), refs_);
        if (fits || k == L) {
            flush();
            v_.insert(v_.end(), top.begin(), top.end());
            break;
        }
        v_.insert(v_.end(), top.begin(), top.end());
    }
    if (!enough())
        throw GiveUp{"no registers left"};
}

// ---------------------------------------------------------------- cells

Val Gen::pop()
{
    if (!v_.empty()) {
        Val x = v_.back();
        v_.pop_back();
        return x;
    }
    Val x;
    x.kind = Val::Mem;
    x.slot = d_++;
    takenBy_.resize(std::size_t(d_));
    takenBy_.back() = origin_;
    return x;
}

Val Gen::peek(int k)
{
    const int L = int(v_.size());
    if (k < L) {
        Val x = v_[std::size_t(L - 1 - k)];
        retain(x);
        return x;
    }
    Val x;
    x.kind = Val::Mem;
    x.slot = d_ + (k - L);
    return x;
}

void Gen::push(Val v) { v_.push_back(std::move(v)); }

Val Gen::konst(const KCell& k) const
{
    Val v;
    v.kind = Val::Const;
    v.k = k;
    return v;
}

Val Gen::regVal(int r)
{
    Val v;
    v.kind = Val::Reg;
    v.reg = std::uint8_t(r);
    return v;
}

Val Gen::ranged(Val v, std::uint32_t lo, std::uint32_t hi) const
{
    v.ranged = lo <= hi && hi <= mask();
    v.lo = lo;
    v.hi = hi;
    return v;
}

// The values the cell may take, when that is known.
bool Gen::rangeOf(const Val& v, std::uint32_t& lo, std::uint32_t& hi) const
{
    if (v.kind == Val::Const) {
        if (!v.k.numeric())
            return false;
        lo = hi = cval(v);
        return true;
    }
    if (!v.ranged || (v.kind == Val::Sum && v.half != 0))
        return false;
    lo = v.lo;
    hi = v.hi;
    return true;
}

// A 16-bit cell whose high byte is known to be 0.
bool Gen::hiZero(const Val& v) const
{
    std::uint32_t lo = 0, hi = 0;
    return cb_ == 2 && rangeOf(v, lo, hi) && hi <= 0xFF;
}

// The value of a Sum into register r (which may be the Sum's own register).
void Gen::sumInto(int r, const Val& v)
{
    const auto addByte = [&](int d, std::uint32_t k) {
        k &= 0xFF;
        if (k == 1)
            ins1("inc", d);
        else if (k == 0xFF)
            ins1("dec", d);
        else if (k != 0 && d >= FirstUpper)
            insI("subi", d, std::to_string((0x100 - k) & 0xFF));
        else if (k != 0) {
            insI("ldi", RegZ, std::to_string(k), false);
            ins("add", d, RegZ);
        }
    };
    if (cb_ == 1 && v.half != 2) {
        // A byte: reg+off (the low cell of an address is the same byte).
        if (r != v.reg)
            ins("mov", r, v.reg, false);
        addByte(r, v.off);
        return;
    }
    if (cb_ == 1) {
        // The high cell of an address: a constant when no carry can come from the low byte.
        if (v.ranged && v.hi + (v.off & 0xFF) <= 0xFF) {
            KByte b;
            b.value = std::uint8_t(v.off >> 8);
            loadConstByte(r, b);
            return;
        }
        const std::uint32_t neg = (0u - v.off) & 0xFFFF;
        ins("mov", RegZ, v.reg, false);
        ins("eor", RegZ + 1, RegZ + 1);
        insI("subi", RegZ, std::to_string(neg & 0xFF));
        insI("sbci", RegZ + 1, std::to_string(neg >> 8));
        ins("mov", r, RegZ + 1, false);
        return;
    }
    // A pair: in place where the pair takes constants, else in Z.
    const int d = r >= FirstUpper ? r : RegZ;
    copyReg(d, v.reg);
    const std::uint32_t k = v.off & 0xFFFF, neg = (0u - k) & 0xFFFF;
    if (k != 0) {
        if ((d == 24 || d == RegZ) && k <= std::uint32_t(MaxAdiw)) {
            emit("\tadiw\t" + R(d) + "," + std::to_string(k));
        } else if ((d == 24 || d == RegZ) && neg <= std::uint32_t(MaxAdiw)) {
            emit("\tsbiw\t" + R(d) + "," + std::to_string(neg));
        } else if ((neg & 0xFF) == 0) {
            insI("subi", d + 1, std::to_string(neg >> 8));
        } else {
            insI("subi", d, std::to_string(neg & 0xFF));
            insI("sbci", d + 1, std::to_string(neg >> 8));
        }
    }
    copyReg(r, d);
}

// Any cell into register r.
void Gen::moveInto(int r, Val& v)
{
    switch (v.kind) {
    case Val::Reg: copyReg(r, v.reg); break;
    case Val::Const: loadConst(r, v.k); break;
    case Val::Mem: loadMem(r, v.slot); break;
    case Val::Sum: sumInto(r, v); break;
    }
}

void Gen::loadConstByte(int r, const KByte& b)
{
    if (r >= FirstUpper) {
        insI("ldi", r, b.text(), false);
    } else if (b.numeric() && b.value == 0) {
        ins("eor", r, r);
    } else {
        insI("ldi", RegZ, b.text(), false);
        ins("mov", r, RegZ, false);
    }
}

void Gen::loadConst(int r, const KCell& k)
{
    for (int b = 0; b < cb_; ++b)
        loadConstByte(r + b, k.bytes[b]);
}

int Gen::memOffset(int slot, int byte) const
{
    const int q = slot * cb_ + byte;
    if (q < 0 || q > MaxDisplacement)
        throw GiveUp{"memOffset"};
    return q;
}

void Gen::loadMem(int r, int slot, int pushed)
{
    for (int b = 0; b < cb_; ++b)
        emit(loadFrom(r + b, "Y", memOffset(slot + pushed, b)), 1, false);
    deepestRead_ = std::max(deepestRead_, slot);
}

void Gen::copyReg(int to, int from)
{
    if (to == from)
        return;
    ins(cb_ == 1 ? "mov" : "movw", to, from, false);
}

int Gen::inReg(Val& v, bool upper)
{
    if (v.kind == Val::Reg && (!upper || v.reg >= FirstUpper))
        return v.reg;
    std::uint32_t lo = 0, hi = 0;
    const bool known = rangeOf(v, lo, hi);
    const int r = alloc(upper);
    moveInto(r, v);
    release(v);
    v = known ? ranged(regVal(r), lo, hi) : regVal(r);
    return r;
}

int Gen::ownReg(Val& v, bool upper)
{
    const bool mine = (v.kind == Val::Reg || (v.kind == Val::Sum && v.half == 0)) && refs_[v.reg] == 1 &&
                      !pinned_[v.reg] && (!upper || v.reg >= FirstUpper);
    if (mine && v.kind == Val::Reg)
        return v.reg;
    std::uint32_t lo = 0, hi = 0;
    const bool known = rangeOf(v, lo, hi);
    int r = v.reg;
    if (mine) {
        sumInto(r, v);
    } else {
        // Shared, a constant or in memory: a register of its own.
        r = alloc(upper);
        moveInto(r, v);
        release(v);
    }
    v = known ? ranged(regVal(r), lo, hi) : regVal(r);
    return r;
}

// ---------------------------------------------------------------- states

// Puts the cells where `regs` says: the top cells in those registers (bottom
// first), every other cell in memory from the data stack pointer up. Moves
// are done as one parallel move: pushes first (the only stores below the
// old pointer, made with st -Y so nothing is ever written below Y), then the
// rest in an order that reads every place before it is overwritten, with r0
// (r1:r0) to break cycles; the pointer moves up last.
void Gen::reconcile(const std::vector<int>& regs)
{
    const int L = int(v_.size()), n = int(regs.size());
    const int shift = d_ + n - L; // cells the stack pointer moves up
    int pushed = 0;
    const auto off = [&](int slot, int byte) { return memOffset(slot + pushed, byte); };

    // A cell taken from memory and never read, where the stack pointer will
    // not pass: read it now, so that an underflow is caught as it happens.
    if (d_ > 0 && d_ - 1 >= shift && deepestRead_ < d_ - 1) {
        // Told at the word that took the cell.
        const LineOrigin here = origin_;
        if (std::size_t(d_) <= takenBy_.size())
            origin_ = takenBy_[std::size_t(d_ - 1)];
        emit(loadFrom(0, "Y", off(d_ - 1, 0)), 1, false);
        origin_ = here;
    }

    for (int p = L - d_ - 1; p >= n; --p) {
        const Val& x = v_[std::size_t(L - 1 - p)];
        if (x.kind == Val::Reg) {
            pushCell('Y', x.reg);
        } else if (x.kind == Val::Const) {
            for (int b = cb_ - 1; b >= 0; --b) {
                insI("ldi", RegZ + b, x.k.bytes[b].text(), false);
                emit("\tst\t-Y," + R(RegZ + b), 1, false);
            }
        } else if (x.kind == Val::Sum) {
            sumInto(RegZ, x);
            pushCell('Y', RegZ);
        } else {
            loadMem(0, x.slot, pushed);
            pushCell('Y', 0);
        }
        ++pushed;
    }

    struct Loc {
        bool mem;  // a memory cell, else a register
        int n;     // its slot, or the register
    };
    struct Move {
        Loc dst; // where the cell goes
        Val src; // the cell
    };
    std::vector<Move> moves;
    for (int p = 0; p < std::max(L, n); ++p) {
        Loc dst;
        if (p < n) {
            dst = {false, regs[std::size_t(n - 1 - p)]};
        } else if (p < L) {
            const int s = d_ + p - L;
            if (s < 0)
                continue; // pushed above
            dst = {true, s};
        } else {
            break;
        }
        Val src;
        if (p < L) {
            src = v_[std::size_t(L - 1 - p)];
        } else {
            src.kind = Val::Mem;
            src.slot = d_ + p - L;
        }
        if ((!dst.mem && src.kind == Val::Reg && src.reg == dst.n) || (dst.mem && src.kind == Val::Mem && src.slot == dst.n))
            continue;
        moves.push_back({dst, src});
    }
    const auto reads = [](const Val& s, const Loc& l) {
        return l.mem ? s.kind == Val::Mem && s.slot == l.n : (s.kind == Val::Reg || s.kind == Val::Sum) && s.reg == l.n;
    };
    const auto move = [&](const Move& m) {
        if (!m.dst.mem) {
            const int r = m.dst.n;
            if (m.src.kind == Val::Reg)
                copyReg(r, m.src.reg);
            else if (m.src.kind == Val::Const)
                loadConst(r, m.src.k);
            else if (m.src.kind == Val::Sum)
                sumInto(r, m.src);
            else
                loadMem(r, m.src.slot, pushed);
            return;
        }
        int from = 0;
        if (m.src.kind == Val::Reg) {
            from = m.src.reg;
        } else if (m.src.kind == Val::Sum) {
            from = RegZ;
            sumInto(RegZ, m.src);
        } else if (m.src.kind == Val::Const) {
            from = RegZ;
            loadConst(RegZ, m.src.k);
        } else {
            from = RegZ;
            loadMem(RegZ, m.src.slot, pushed);
        }
        for (int b = 0; b < cb_; ++b)
            emit(storeTo("Y", off(m.dst.n, b), from + b), 1, false);
    };
    while (!moves.empty()) {
        std::size_t ready = moves.size();
        for (std::size_t i = 0; i < moves.size() && ready == moves.size(); ++i) {
            bool blocked = false;
            for (std::size_t j = 0; j < moves.size() && !blocked; ++j)
                blocked = j != i && reads(moves[j].src, moves[i].dst);
            if (!blocked)
                ready = i;
        }
        if (ready < moves.size()) {
            move(moves[ready]);
            moves.erase(moves.begin() + std::ptrdiff_t(ready));
            continue;
        }
        // A cycle: the first move's destination goes to r0 (r1:r0) first.
        const Loc d = moves.front().dst;
        if (d.mem) {
            loadMem(0, d.n, pushed);
        } else {
            copyReg(0, d.n);
        }
        for (Move& m : moves)
            if (reads(m.src, d)) {
                // Now read from r0: a memory cell becomes the register, a sum keeps its offset.
                if (m.src.kind == Val::Mem)
                    m.src.kind = Val::Reg;
                m.src.reg = 0;
            }

    }

    if (shift > 0) {
        const int bytes = shift * cb_;
        if (bytes <= MaxAdiw) {
            emit("\tadiw\tr28," + std::to_string(bytes));
        } else {
            insI("subi", RegY, std::to_string((-bytes) & 0xFF));
            insI("sbci", RegY + 1, std::to_string(((-bytes) >> 8) & 0xFF));
        }
    }

    for (const Val& x : v_)
        release(x);
    v_.clear();
    for (int r : regs) {
        Val x = regVal(r);
        ++refs_[r];
        v_.push_back(x);
    }
    d_ = 0;
    deepestRead_ = -1;
    takenBy_.clear();
}

LabelState& Gen::stateFor(const std::string& label)
{
    LabelState& t = labels_[label];
    if (t.known)
        return t;
    t.known = true;
    t.loops = loops_;
    if (t.canonical || !on(OptLabels) || !on(OptRegisters))
        return t;
    const int L = int(v_.size());
    const int most = cb_ == 1 ? MaxLabelCells8 : MaxLabelCells16;
    std::vector<int> fromTop;
    for (int j = 0; j < L && j < most; ++j) {
        const Val& x = v_[std::size_t(L - 1 - j)];
        if (x.kind == Val::Mem)
            break;
        int r = -1;
        if (x.kind == Val::Reg && !pinned_[x.reg] &&
            std::find(fromTop.begin(), fromTop.end(), int(x.reg)) == fromTop.end())
            r = x.reg;
        fromTop.push_back(r);
    }
    // Cells without a register of their own get a free one.
    for (std::size_t j = 0; j < fromTop.size(); ++j) {
        if (fromTop[j] >= 0)
            continue;
        int found = -1;
        const auto pick = [&](std::span<const int> list) {
            for (int r : list)
                if (found < 0 && isFree(r) && std::find(fromTop.begin(), fromTop.end(), r) == fromTop.end())
                    found = r;
        };
        // Cells kept across a label are mostly moved and added: the lower
        // registers do, and the upper ones stay for constants.
        pick(lowerRegs());
        pick(upperRegs());
        if (found < 0) {
            fromTop.resize(j);
            break;
        }
        fromTop[j] = found;
    }
    t.regs.assign(fromTop.rbegin(), fromTop.rend());
    return t;
}

void Gen::enter(const LabelState& s)
{
    // Nothing but the cells lives at a label.
    std::fill(std::begin(refs_), std::end(refs_), 0);
    v_.clear();
    for (int r : s.regs) {
        ++refs_[r];
        v_.push_back(regVal(r));
    }
    d_ = 0;
    deepestRead_ = -1;
    takenBy_.clear();
    loops_ = s.loops;
    std::fill(std::begin(pinned_), std::end(pinned_), false);
    for (const Frame& f : loops_)
        if (f.kind == Frame::RegLoop) {
            pinned_[f.index] = true;
            if (f.limitInReg)
                pinned_[f.limit] = true;
        }
    zeroFlag_ = -1;
}

// Moves a cell the compare still needs out of a register that the moves to
// `regs` will give another cell.
void Gen::protect(Val& v, const std::vector<int>& regs)
{
    if (v.kind == Val::Mem || v.kind == Val::Sum)
        inReg(v, false);
    if (v.kind != Val::Reg || pinned_[v.reg])
        return;
    const auto at = std::find(regs.begin(), regs.end(), int(v.reg));
    if (at == regs.end())
        return;
    // The register keeps its value when the cell bound for it is already there.
    const int L = int(v_.size()), n = int(regs.size());
    const int p = n - 1 - int(at - regs.begin());
    if (p < L) {
        const Val& bound = v_[std::size_t(L - 1 - p)];
        if (bound.kind == Val::Reg && bound.reg == v.reg)
            return;
    }
    const int r = alloc(v.reg >= FirstUpper, regs);
    copyReg(r, v.reg);
    release(v);
    v.reg = std::uint8_t(r);
}

// ---------------------------------------------------------------- operations

std::vector<AsmLine> Gen::run()
{
    // Labels that lines the optimiser does not read may jump to hold every cell in memory.
    std::set<std::string, std::less<>> names;
    for (const Op& o : ops_)
        if (o.kind == OpKind::Label || o.kind == OpKind::Do)
            names.insert(o.name);
    for (const Op& o : ops_)
        if (o.kind == OpKind::Barrier)
            ForEachName(o.text, [&](std::string_view name) {
                if (const auto it = names.find(name); it != names.end())
                    labels_[*it].canonical = true;
            });
    // Loops whose body calls nothing and is entered only through DO may keep
    // their counters in registers.
    std::map<std::string, std::size_t> doAt;
    for (std::size_t i = 0; i < ops_.size(); ++i)
        if (ops_[i].kind == OpKind::Do && !doAt.emplace(ops_[i].name, i).second)
            throw GiveUp{"run"};
    std::map<std::string, std::size_t> labelAt;
    std::map<std::string, std::vector<std::size_t>> jumpsTo; // the branches to each label
    const auto branches = [](const Op& o) {
        return o.kind == OpKind::Branch0 || o.kind == OpKind::Jump || o.kind == OpKind::Of;
    };
    for (std::size_t i = 0; i < ops_.size(); ++i) {
        if (ops_[i].kind == OpKind::Label || ops_[i].kind == OpKind::Do)
            labelAt[ops_[i].name] = i;
        if (branches(ops_[i]))
            jumpsTo[ops_[i].name].push_back(i);
    }
    for (std::size_t i = 0; i < ops_.size(); ++i) {
        const Op& end = ops_[i];
        if (end.kind != OpKind::Loop && end.kind != OpKind::PlusLoop)
            continue;
        const auto it = doAt.find(end.name);
        if (it == doAt.end() || it->second > i)
            throw GiveUp{"run"};
        if (end.kind == OpKind::PlusLoop)
            plusLoops_.insert(end.name);
        const std::size_t from = it->second, to = i;
        const auto inside = [&](std::size_t at) { return at > from && at < to; };
        // Only what lies inside is looked at, so nested loops cost their depth, not their number.
        bool ok = true;
        for (std::size_t j = from + 1; j < to && ok; ++j) {
            const Op& o = ops_[j];
            if (o.kind == OpKind::Do)
                outerLoops_.insert(end.name);
            if (o.kind == OpKind::Call && o.takes >= 0)
                callLoops_.insert(end.name); // its registers must outlast the routine
            else if (o.kind == OpKind::Call || o.kind == OpKind::TailCall || o.kind == OpKind::Barrier ||
                     o.kind == OpKind::Exit)
                ok = false;
            // No branch leaves the body, and none comes in from outside.
            if (branches(o)) {
                const auto at = labelAt.find(o.name);
                ok = ok && at != labelAt.end() && inside(at->second);
            }
            if (o.kind == OpKind::Label || o.kind == OpKind::Do)
                if (const auto sources = jumpsTo.find(o.name); sources != jumpsTo.end())
                    for (std::size_t k : sources->second)
                        ok = ok && inside(k);
        }
        if (ok)
            regLoops_.insert(end.name);
    }

    for (std::size_t i = 0; i < ops_.size();)
        op(i);
    if (reachable_)
        throw GiveUp{"run"};
    return std::move(out_);
}

// Notes in the origin where the stacks' cells are as the operation's code
// begins, for the debugger; nothing when they are all in memory.
void Gen::noteStacks()
{
    origin_.stack = 0;
    if (!c_.Map || (v_.empty() && d_ == 0 && !countsInRegisters()))
        return;
    StackNote note;
    note.covered = d_;
    for (const Val& x : v_) {
        StackNote::Cell c;
        c.reg = x.reg;
        switch (x.kind) {
        case Val::Mem:
            c.kind = StackNote::Cell::Memory;
            c.slot = x.slot;
            break;
        case Val::Reg:
            c.kind = StackNote::Cell::Register;
            break;
        case Val::Const:
            c.kind = StackNote::Cell::Constant;
            c.value = x.k.numeric() ? cval(x) : 0; // an assembler expression is not known here
            break;
        case Val::Sum:
            c.kind = x.half == 1 ? StackNote::Cell::AddressLow
                     : x.half == 2 ? StackNote::Cell::AddressHigh
                                   : StackNote::Cell::Sum;
            c.value = x.off;
            break;
        }
        note.cells.push_back(c);
    }
    for (const Frame& f : loops_) {
        StackNote::Loop l;
        l.kind = f.kind == Frame::RegLoop ? StackNote::Loop::Registers
                 : f.kind == Frame::MemLoop ? StackNote::Loop::Memory
                                            : StackNote::Loop::Cell;
        l.index = f.index;
        l.limitInRegister = f.limitInReg;
        l.limit = f.limit;
        l.limitValue = f.limitInReg || !f.limitK.numeric() ? 0 : f.limitK.value(cb_);
        note.loops.push_back(l);
    }
    c_.Map->stacks.push_back(FormatStackNote(note));
    origin_.stack = std::uint32_t(c_.Map->stacks.size());
}

void Gen::op(std::size_t& i)
{
    const Op& o = ops_[i];
    before_ = origin_;
    origin_ = o.origin;
    noteStacks();
    if (!reachable_) {
        switch (o.kind) {
        case OpKind::Label:
        case OpKind::Comment:
            break;
        case OpKind::Do:
        case OpKind::Loop:
        case OpKind::PlusLoop:
        case OpKind::Barrier:
            throw GiveUp{"op"};
        default:
            ++i; // nothing reaches it
            return;
        }
    }
    switch (o.kind) {
    case OpKind::Push:
        if (on(OptFold)) {
            push(konst(o.cell));
        } else {
            ensureRoom(1, 1);
            Val k = konst(o.cell);
            inReg(k, true);
            push(k);
        }
        if (!on(OptRegisters))
            flush();
        ++i;
        return;
    case OpKind::Word:
        word(o.prim, i);
        if (!on(OptRegisters))
            flush();
        return;
    case OpKind::Call:
        call(o, i + 1 < ops_.size() && ops_[i + 1].kind == OpKind::Exit);
        ++i;
        return;
    case OpKind::TailCall:
        asWritten(o);
        reachable_ = false;
        ++i;
        return;
    case OpKind::Branch0:
        ensureRoom(2, 1);
        branchIfZero(pop(), o.name);
        ++i;
        return;
    case OpKind::Of:
        // The selector stays for the next OF where the branch lands.
        ensureRoom(2, 1);
        compareBranch(peek(0), konst(o.cell), "brne", o.name);
        ++i;
        return;
    case OpKind::Case:
        throw GiveUp{"CASE"};
    case OpKind::Jump: {
        LabelState& t = stateFor(o.name);
        if (t.loops != loops_)
            throw GiveUp{"op"};
        reconcile(t.regs);
        emitJump(o.name);
        reachable_ = false;
        ++i;
        return;
    }
    case OpKind::Label: {
        LabelState& t = reachable_ ? stateFor(o.name) : labels_[o.name];
        if (!t.known) {
            t.known = true;
            t.loops = loops_;
        }
        if (reachable_) {
            if (t.loops != loops_)
                throw GiveUp{"op"};
            // Only the path that falls through runs these moves: they are
            // the word before's, and the label's word begins at the label.
            origin_ = before_;
            reconcile(t.regs);
            origin_ = o.origin;
        }
        enter(t);
        noteStacks();
        emitLabel(o.name, o.text);
        reachable_ = true;
        ++i;
        return;
    }
    case OpKind::Do:
        doLoop(o);
        ++i;
        return;
    case OpKind::Loop:
    case OpKind::PlusLoop:
        loopEnd(o, o.kind == OpKind::PlusLoop);
        ++i;
        return;
    case OpKind::Exit:
        flush();
        if (lastCall_ >= 0 && std::size_t(lastCall_) + 1 == out_.size()) {
            std::string& t = out_.back().text;
            for (const auto& [from, to] : {std::pair{"\trcall\t", "\trjmp\t"}, std::pair{"\tZcall\t", "\tZjmp\t"}})
                if (t.rfind(from, 0) == 0) {
                    t = to + t.substr(std::string_view(from).size());
                    break;
                }
        } else {
            emit("\tret");
        }
        lastCall_ = -1;
        reachable_ = false;
        ++i;
        return;
    case OpKind::Comment:
        emit(o.text, 0, false);
        ++i;
        return;
    case OpKind::Barrier:
        asWritten(o);
        ++i;
        return;
    }
}

bool Gen::countsInRegisters() const
{
    return std::any_of(loops_.begin(), loops_.end(), [](const Frame& f) { return f.kind == Frame::RegLoop; });
}

// A line kept as the compiler wrote it: every cell in memory around it, and
// no loop counting in registers, whose counters it would not know.
void Gen::asWritten(const Op& o)
{
    if (countsInRegisters())
        throw GiveUp{"a line kept as written inside a loop counted in registers"};
    flush();
    emit(o.text, LineWords(o.text));
}

void Gen::call(const Op& o, bool last)
{
    // (A call just before the return becomes a jump: all goes to memory first.)
    if (!last && o.takes >= 0 && on(OptRegisters) && transparentCall(o))
        return;
    if (std::any_of(loops_.begin(), loops_.end(), [&](const Frame& f) {
            return f.kind == Frame::RegLoop && (o.takes < 0 || archiveScratch(f.index) || (f.limitInReg && archiveScratch(f.limit)));
        }))
        throw GiveUp{"a call inside a loop counted in registers"};
    flush();
    emit(o.text, LineWords(o.text));
    lastCall_ = int(out_.size()) - 1;
}

// A call of an archive routine that keeps to the scratch registers: only
// its arguments go to the data stack, its results come back into
// registers, and the other cells stay where they are (moved out of r16-r19
// first). False when it cannot be done so.
// The 16-bit division words: what each leaves (the remainder below the quotient).
struct Division {
    std::string_view name; // the archive word
    bool remainder;        // it leaves the remainder
    bool quotient;         // it leaves the quotient (above the remainder)
};
constexpr Division Divisions[] = {{"MOD", true, false}, {"/", false, true}, {"/MOD", true, true}};

// A 16-bit division whose operands turn out to be bytes (the divisor not 0)
// divides them as bytes, in a quarter of the time; other operands go to the
// archive routine. Both ways leave the results in the same registers.
void Gen::divide(const Op& o, bool remainder, bool quotient)
{
    Val b = pop(), a = pop();
    inReg(a, false);
    inReg(b, false);
    const int rem = remainder ? alloc(false) : -1;
    const int quot = quotient ? alloc(false) : -1;
    const std::string slow = NewLabel(c_), step = NewLabel(c_), next = NewLabel(c_), done = NewLabel(c_);
    ins("mov", RegZ + 1, a.reg + 1, false);
    ins("or", RegZ + 1, b.reg + 1);
    emitBranch("brne", slow);
    ins1("tst", b.reg);
    emitBranch("breq", slow);
    // r0 takes the dividend's bits and becomes the quotient, r1 the remainder;
    // the remainder stays below 128 until the last shift, which cannot lose a bit.
    ins("mov", 0, a.reg, false);
    ins("eor", 1, 1);
    insI("ldi", RegZ + 1, "8", false);
    emitLabel(step);
    ins1("lsl", 0);
    ins1("rol", 1);
    ins("cp", 1, b.reg);
    emitBranch("brlo", next);
    ins("sub", 1, b.reg);
    ins1("inc", 0);
    emitLabel(next);
    ins1("dec", RegZ + 1);
    emitBranch("brne", step);
    for (const auto& [r, from] : {std::pair{rem, 1}, std::pair{quot, 0}})
        if (r >= 0) {
            ins("mov", r, from, false);
            ins("eor", r + 1, r + 1);
        }
    emitJump(done);
    emitLabel(slow);
    for (const Val& x : {a, b})
        pushCell('Y', x.reg);
    emit(o.text, LineWords(o.text));
    for (const int r : {quotient ? quot : rem, quotient && remainder ? rem : -1})
        if (r >= 0)
            popCell('Y', r);
    emitLabel(done);
    release(a);
    release(b);
    if (remainder)
        push(regVal(rem));
    if (quotient)
        push(regVal(quot));
}

bool Gen::transparentCall(const Op& o)
{
    for (int r : ArchiveScratch)
        if (pinned_[r])
            return false;
    const int L = int(v_.size());
    if (L < o.takes)
        return false;
    std::vector<int> moving; // registers of the cells that stay, in r16-r19
    for (int j = 0; j < L - o.takes; ++j) {
        const Val& x = v_[std::size_t(j)];
        if ((x.kind == Val::Reg || x.kind == Val::Sum) && archiveScratch(x.reg) &&
            std::find(moving.begin(), moving.end(), int(x.reg)) == moving.end())
            moving.push_back(x.reg);
    }
    int room = 0;
    for (int r : upperRegs())
        room += isFree(r) && !archiveScratch(r);
    for (int r : lowerRegs())
        room += isFree(r);
    if (room < int(moving.size()) + o.leaves)
        return false;
    std::vector<int> avoid(std::begin(ArchiveScratch), std::end(ArchiveScratch));
    for (int old : moving) {
        const int r = alloc(false, avoid, true);
        copyReg(r, old);
        refs_[r] = 0;
        for (int j = 0; j < L - o.takes; ++j)
            if ((v_[std::size_t(j)].kind == Val::Reg || v_[std::size_t(j)].kind == Val::Sum) && v_[std::size_t(j)].reg == old) {
                v_[std::size_t(j)].reg = std::uint8_t(r);
                --refs_[old];
                ++refs_[r];
            }
    }
    if (cb_ == 2 && o.takes == 2 && o.leaves >= 1 && o.leaves <= 2) {
        for (const auto& d : Divisions)
            if (SameIgnoringCase(o.name, d.name) && o.leaves == (d.remainder && d.quotient ? 2 : 1)) {
                divide(o, d.remainder, d.quotient);
                return true;
            }
    }
    // The arguments, deepest first.
    int pushed = 0;
    for (int k = o.takes - 1; k >= 0; --k) {
        Val x = v_[std::size_t(L - 1 - k)];
        int from = x.reg;
        if (x.kind == Val::Const) {
            from = RegZ;
            loadConst(RegZ, x.k);
        } else if (x.kind == Val::Sum) {
            from = RegZ;
            sumInto(RegZ, x);
        } else if (x.kind == Val::Mem) {
            from = 0;
            loadMem(0, x.slot, pushed);
        }
        pushCell('Y', from);
        ++pushed;
    }
    for (int k = 0; k < o.takes; ++k) {
        release(v_.back());
        v_.pop_back();
    }
    emit(o.text, LineWords(o.text));
    // The results, top first off the data stack.
    std::vector<Val> results;
    for (int k = 0; k < o.leaves; ++k) {
        const int r = alloc(false);
        popCell('Y', r);
        results.push_back(regVal(r));
    }
    for (auto it = results.rbegin(); it != results.rend(); ++it)
        push(*it);
    return true;
}

void Gen::word(Prim p, std::size_t& i)
{
    const Need n = needOf(p);
    ensureRoom(n.cells, n.upper);
    if (const Shuffle* sh = shuffleOf(p)) {
        // The cells taken, bottom first, pushed again in the shuffle's order.
        std::vector<Val> taken(std::size_t(sh->takes));
        for (int k = sh->takes - 1; k >= 0; --k)
            taken[std::size_t(k)] = pop();
        std::vector<int> uses(taken.size(), 0);
        for (const char* at = sh->leaves; *at; ++at) {
            const std::size_t k = std::size_t(*at - '0');
            if (uses[k]++)
                retain(taken[k]);
            push(taken[k]);
        }
        for (std::size_t k = 0; k < taken.size(); ++k)
            if (!uses[k])
                release(taken[k]);
        ++i;
        return;
    }
    switch (p) {
    case Prim::And:
        if (on(OptBranch) && bitTest(i))
            break;
        binary(p);
        break;
    case Prim::Plus:
    case Prim::Minus:
    case Prim::Or:
    case Prim::Xor:
        binary(p);
        break;
    case Prim::OnePlus:
    case Prim::OneMinus:
    case Prim::TwoStar:
    case Prim::TwoSlash:
    case Prim::Negate:
    case Prim::Invert:
        unary(p);
        break;
    case Prim::Star:
        multiply();
        break;
    case Prim::Equal:
    case Prim::NotEqual:
    case Prim::Less:
    case Prim::Greater:
    case Prim::ULess:
    case Prim::UGreater:
    case Prim::ZeroEqual:
    case Prim::ZeroNotEqual:
    case Prim::ZeroLess:
    case Prim::ZeroGreater: {
        const bool fuse = on(OptBranch) && i + 1 < ops_.size() && ops_[i + 1].kind == OpKind::Branch0;
        if (compare(p, fuse ? &ops_[i + 1].name : nullptr))
            ++i;
        break;
    }
    case Prim::CFetch:
    case Prim::Fetch: // a cell is a byte in 8-bit cells
        fetch(p == Prim::Fetch && cb_ == 2);
        break;
    case Prim::CStore:
    case Prim::Store:
        store(p == Prim::Store && cb_ == 2);
        break;
    case Prim::PlusStore: plusStore(); break;
    case Prim::MPlus: mplus(); break;
    case Prim::I:
    case Prim::RFetch:
    case Prim::J: // above the inner loop's index and limit
        loopRead(p == Prim::J ? 2 : 0);
        break;
    case Prim::ToR: toR(); break;
    case Prim::RFrom: rFrom(); break;
    default: // the stack words, above
        break;
    }
    ++i;
}

// --- arithmetic

void Gen::binary(Prim p)
{
    Val b = pop(), a = pop();
    const bool commutative = p != Prim::Minus;
    if (numericConst(a) && numericConst(b)) {
        const std::uint32_t x = cval(a), y = cval(b);
        std::uint32_t r = 0;
        switch (p) {
        case Prim::Plus: r = x + y; break;
        case Prim::Minus: r = x - y; break;
        case Prim::And: r = x & y; break;
        case Prim::Or: r = x | y; break;
        default: r = x ^ y; break;
        }
        push(konst(KCell::of(r & mask())));
        return;
    }
    // What the result may be, from what the operands may be.
    std::uint32_t al = 0, ah = mask(), bl = 0, bh = mask();
    const bool ar = rangeOf(a, al, ah), br = rangeOf(b, bl, bh);
    bool known = false;
    std::uint32_t rl = 0, rh = mask();
    switch (p) {
    case Prim::Plus:
        known = ar && br && ah + bh <= mask();
        rl = al + bl;
        rh = ah + bh;
        break;
    case Prim::Minus:
        known = ar && br && al >= bh;
        rl = al - bh;
        rh = ah - bl;
        break;
    case Prim::And:
        known = ar || br;
        rh = std::min(ar ? ah : mask(), br ? bh : mask());
        break;
    default: // Or, Xor: below the next power of two
        known = ar && br;
        for (rh = 1; rh <= std::max(ah, bh) && rh < mask(); rh = rh * 2 + 1) {
        }
        break;
    }
    const auto result = [&](Val v) { return known ? ranged(v, rl, rh) : v; };

    if (commutative && a.kind == Val::Const && b.kind != Val::Const)
        std::swap(a, b);
    const auto exclusive = [&](const Val& v) { return v.kind == Val::Reg && refs_[v.reg] == 1 && !pinned_[v.reg]; };
    if (commutative && b.kind == Val::Reg && !exclusive(a) && exclusive(b))
        std::swap(a, b);

    if (numericConst(b)) {
        std::uint32_t k = cval(b);
        if (p == Prim::Minus) {
            p = Prim::Plus;
            k = (0u - k) & mask();
        }
        if ((p == Prim::Plus || p == Prim::Or || p == Prim::Xor) && k == 0) {
            push(a);
            return;
        }
        if (p == Prim::And && k == mask()) {
            push(a);
            return;
        }
        if (p == Prim::And && k == 0) {
            release(a);
            push(konst(KCell::of(0)));
            return;
        }
        if (p == Prim::Plus) {
            // A cell shared with others, or a sum already, stays an unwritten
            // sum: an address with a displacement, or one more constant.
            if (on(OptFold) && ((a.kind == Val::Reg && !exclusive(a)) || (a.kind == Val::Sum && a.half == 0))) {
                Val s = a;
                s.kind = Val::Sum;
                s.off = ((a.kind == Val::Sum ? a.off : 0) + k) & mask();
                s.half = 0;
                push(result(s));
                return;
            }
            if (cb_ == 1 && (k == 1 || k == 0xFF)) {
                const int r = ownReg(a, false);
                ins1(k == 1 ? "inc" : "dec", r);
                zeroFlag_ = r;
                push(result(regVal(r)));
                return;
            }
            const int r = ownReg(a, true);
            const std::uint32_t neg = (0u - k) & mask();
            if (cb_ == 2 && r == 24 && k <= MaxAdiw) {
                emit("\tadiw\tr24," + std::to_string(k));
            } else if (cb_ == 2 && r == 24 && neg <= MaxAdiw) {
                emit("\tsbiw\tr24," + std::to_string(neg));
            } else {
                insI("subi", r, std::to_string(neg & 0xFF));
                if (cb_ == 2)
                    insI("sbci", r + 1, std::to_string((neg >> 8) & 0xFF));
                else
                    zeroFlag_ = r;
            }
            push(result(regVal(r)));
            return;
        }
        bool needUpper = false;
        for (int by = 0; by < cb_; ++by) {
            const std::uint32_t kb = (k >> (8 * by)) & 0xFF;
            if (p == Prim::And && kb != 0 && kb != 0xFF)
                needUpper = true;
            if (p == Prim::Or && kb != 0)
                needUpper = true;
        }
        const int r = ownReg(a, needUpper);
        // The high byte first, so that the flags tell of the low byte at the end.
        bool zeroOfR = false;
        for (int by = cb_ - 1; by >= 0; --by) {
            const std::uint32_t kb = (k >> (8 * by)) & 0xFF;
            const int rb = r + by;
            zeroOfR = false;
            if (p == Prim::And) {
                if (kb == 0) {
                    ins("eor", rb, rb);
                    zeroOfR = true;
                } else if (kb != 0xFF) {
                    insI("andi", rb, std::to_string(kb));
                    zeroOfR = true;
                }
            } else if (p == Prim::Or) {
                if (kb == 0xFF) {
                    ins1("ser", rb, false);
                } else if (kb != 0) {
                    insI("ori", rb, std::to_string(kb));
                    zeroOfR = true;
                }
            } else if (kb == 0xFF) {
                ins1("com", rb);
                zeroOfR = true;
            } else if (kb != 0) {
                insI("ldi", RegZ + 1, std::to_string(kb), false);
                ins("eor", rb, RegZ + 1);
                zeroOfR = true;
            }
        }
        const Val out = result(regVal(r));
        // Z tells whether the whole cell is 0 when the high byte is known to be.
        if (zeroOfR && (cb_ == 1 || hiZero(out)))
            zeroFlag_ = r;
        push(out);
        return;
    }

    // Two cells in registers (a symbolic constant is loaded first).
    const int r = ownReg(a, false);
    const int rb = inReg(b, false);
    const char* lo = nullptr;
    const char* hi = nullptr;
    switch (p) {
    case Prim::Plus: lo = "add"; hi = "adc"; break;
    case Prim::Minus: lo = "sub"; hi = "sbc"; break;
    case Prim::And: lo = hi = "and"; break;
    case Prim::Or: lo = hi = "or"; break;
    default: lo = hi = "eor"; break;
    }
    ins(lo, r, rb);
    if (cb_ == 2)
        ins(hi, r + 1, rb + 1);
    else
        zeroFlag_ = r;
    release(b);
    push(result(regVal(r)));
}

void Gen::unary(Prim p)
{
    Val a = pop();
    if (numericConst(a)) {
        const std::uint32_t x = cval(a);
        std::uint32_t r = 0;
        const std::uint32_t sign = cb_ == 1 ? 0x80u : 0x8000u;
        switch (p) {
        case Prim::OnePlus: r = x + 1; break;
        case Prim::OneMinus: r = x - 1; break;
        case Prim::TwoStar: r = x << 1; break;
        case Prim::TwoSlash: r = (x >> 1) | (x & sign); break;
        case Prim::Negate: r = 0u - x; break;
        default: r = ~x; break;
        }
        push(konst(KCell::of(r & mask())));
        return;
    }
    if (p == Prim::OnePlus || p == Prim::OneMinus) {
        push(a);
        push(konst(KCell::of(p == Prim::OnePlus ? 1u : mask())));
        binary(Prim::Plus);
        return;
    }
    std::uint32_t al = 0, ah = 0;
    const bool ar = rangeOf(a, al, ah);
    const std::uint32_t sign = cb_ == 1 ? 0x80u : 0x8000u;
    const int r = ownReg(a, p == Prim::Negate && cb_ == 2);
    switch (p) {
    case Prim::TwoStar:
        ins1("lsl", r);
        if (cb_ == 2)
            ins1("rol", r + 1);
        push(ar && ah * 2 <= mask() ? ranged(regVal(r), al * 2, ah * 2) : regVal(r));
        break;
    case Prim::TwoSlash:
        if (cb_ == 2) {
            ins1("asr", r + 1);
            ins1("ror", r);
        } else {
            ins1("asr", r);
        }
        push(ar && ah < sign ? ranged(regVal(r), al / 2, ah / 2) : regVal(r));
        break;
    case Prim::Negate:
        if (cb_ == 2) {
            ins1("com", r + 1);
            ins1("neg", r);
            insI("sbci", r + 1, "255");
        } else {
            ins1("neg", r);
        }
        push(regVal(r));
        break;
    default:
        for (int b = 0; b < cb_; ++b)
            ins1("com", r + b);
        push(regVal(r));
        break;
    }
    if (cb_ == 1)
        zeroFlag_ = r;
}

// The low cell of a product: mul where the device has it (HAS_MUL, from
// the run-time header), shifts and adds where it has not.
void Gen::multiply()
{
    Val b = pop(), a = pop();
    if (numericConst(a) && numericConst(b)) {
        push(konst(KCell::of((cval(a) * cval(b)) & mask())));
        return;
    }
    if (numericConst(a))
        std::swap(a, b);
    if (numericConst(b)) {
        const std::uint32_t k = cval(b);
        if (k == 0) {
            release(a);
            push(konst(KCell::of(0)));
            return;
        }
        if ((k & (k - 1)) == 0) {
            const int r = ownReg(a, false);
            for (std::uint32_t m = k; m > 1; m >>= 1) {
                ins1("lsl", r);
                if (cb_ == 2)
                    ins1("rol", r + 1);
            }
            push(regVal(r));
            return;
        }
    }
    // A byte factor (a 16-bit cell known below 256) takes fewer multiplies
    // and turns; the multiplier is the byte one, if either is.
    std::uint32_t al = 0, ah = 0, bl = 0, bh = 0;
    const bool ar = rangeOf(a, al, ah), br = rangeOf(b, bl, bh);
    const bool product = ar && br && std::uint64_t(ah) * bh <= mask();
    if (cb_ == 2 && hiZero(a) && !hiZero(b))
        std::swap(a, b);
    const bool byteA = cb_ == 1 || hiZero(a), byteB = cb_ == 1 || hiZero(b);
    const int ra = ownReg(a, false);
    const int rb = ownReg(b, false);
    const int d = alloc(false);
    const int count = RegZ + 1; // Z is free in the multiply loop
    const std::string step = NewLabel(c_), skip = NewLabel(c_);
    emit(".if HAS_MUL", 0, false);
    ins("mul", ra, rb);
    ins(cb_ == 1 ? "mov" : "movw", d, 0, false);
    if (cb_ == 2 && !byteB) {
        ins("mul", ra, rb + 1);
        ins("add", d + 1, 0);
    }
    if (cb_ == 2 && !byteA) {
        ins("mul", ra + 1, rb);
        ins("add", d + 1, 0);
    }
    emit(".else", 0, false);
    for (int by = 0; by < cb_; ++by)
        ins("eor", d + by, d + by);
    insI("ldi", count, byteB ? "8" : "16", false);
    emitLabel(step);
    if (!byteB)
        ins1("lsr", rb + 1);
    ins1(byteB ? "lsr" : "ror", rb);
    emitBranch("brcc", skip);
    ins("add", d, ra);
    if (cb_ == 2)
        ins("adc", d + 1, ra + 1);
    emitLabel(skip);
    ins1("lsl", ra);
    if (cb_ == 2)
        ins1("rol", ra + 1);
    ins1("dec", count);
    emitBranch("brne", step);
    emit(".endif", 0, false);
    release(a);
    release(b);
    push(product ? ranged(regVal(d), al * bl, ah * bh) : regVal(d));
}

// --- comparisons

bool Gen::compare(Prim p, const std::string* branchTo)
{
    const Condition* cond = nullptr;
    for (const Condition& c : Conditions)
        if (c.prim == p)
            cond = &c;
    Val y, x;
    if (cond->unary) {
        x = pop();
        y = konst(KCell::of(cond->constant));
    } else {
        Val b = pop(), a = pop();
        x = cond->swap ? b : a;
        y = cond->swap ? a : b;
    }
    if (numericConst(x) && numericConst(y)) {
        const std::uint32_t u = cval(x), w = cval(y);
        const std::uint32_t sign = cb_ == 1 ? 0x80u : 0x8000u;
        const auto sx = std::int32_t(u ^ sign) - std::int32_t(sign), sy = std::int32_t(w ^ sign) - std::int32_t(sign);
        const std::string b = cond->falseBranch;
        bool falseNow = false;
        if (b == "brne")
            falseNow = u != w;
        else if (b == "breq")
            falseNow = u == w;
        else if (b == "brge")
            falseNow = sx >= sy;
        else if (b == "brlt")
            falseNow = sx < sy;
        else
            falseNow = u >= w; // brsh
        const Val flag = konst(KCell::of(falseNow ? 0 : mask()));
        if (branchTo) {
            branchIfZero(flag, *branchTo);
            return true;
        }
        push(flag);
        return false;
    }
    if (branchTo) {
        compareBranch(x, y, cond->falseBranch, *branchTo);
        return true;
    }
    compareFlag(x, y, cond->falseBranch);
    return false;
}

// Compares x with y (x a register, y a register or constant) so that the
// branch `falseBranch` is taken exactly when the flag would be false; it
// may change the mnemonic (a test of the sign, a byte compare).
void Gen::emitCompare(Val& x, Val& y, std::string& falseBranch)
{
    const int r = x.reg;
    const bool byteOnly = hiZero(x) && (hiZero(y) || (y.kind == Val::Const && y.k.bytes[1].numeric() &&
                                                      y.k.bytes[1].value == 0));
    if (byteOnly && signedBranch(falseBranch))
        falseBranch = falseBranch == "brge" ? "brsh" : "brlo";
    const int top = byteOnly ? 1 : cb_;
    if (y.kind == Val::Const && y.k.numeric()) {
        const std::uint32_t k = cval(y);
        if (k == 0 && (falseBranch == "brne" || falseBranch == "breq")) {
            if (zeroFlag_ == r) {
                // the flags tell already
            } else if (top == 1) {
                ins1("tst", r);
            } else if (refs_[r] == 1 && !pinned_[r]) {
                ins("or", r, r + 1);
            } else {
                ins("mov", RegZ + 1, r, false);
                ins("or", RegZ + 1, r + 1);
            }
            return;
        }
        if (k == 0 && signedBranch(falseBranch)) {
            ins1("tst", r + cb_ - 1);
            falseBranch = falseBranch == "brge" ? "brpl" : "brmi";
            return;
        }
    }
    if (y.kind == Val::Const) {
        if (r >= FirstUpper) {
            insI("cpi", r, y.k.bytes[0].text());
            if (top == 2) {
                insI("ldi", RegZ + 1, y.k.bytes[1].text(), false);
                ins("cpc", r + 1, RegZ + 1);
            }
        } else {
            for (int b = 0; b < top; ++b)
                insI("ldi", RegZ + b, y.k.bytes[b].text(), false);
            ins("cp", r, RegZ);
            if (top == 2)
                ins("cpc", r + 1, RegZ + 1);
        }
        return;
    }
    ins("cp", r, y.reg);
    if (top == 2)
        ins("cpc", r + 1, y.reg + 1);
}

void Gen::compareOperands(Val& x, Val& y, const std::string& falseBranch)
{
    if (x.kind == Val::Const && y.kind != Val::Const && (falseBranch == "brne" || falseBranch == "breq"))
        std::swap(x, y);
    if (x.kind != Val::Reg)
        inReg(x, false);
    if (y.kind == Val::Mem || y.kind == Val::Sum)
        inReg(y, false);
}

void Gen::compareBranch(Val x, Val y, std::string falseBranch, const std::string& label)
{
    compareOperands(x, y, falseBranch);
    LabelState& t = stateFor(label);
    if (t.loops != loops_)
        throw GiveUp{"compareBranch"};
    protect(x, t.regs);
    protect(y, t.regs);
    reconcile(t.regs);
    emitCompare(x, y, falseBranch);
    emitBranch(falseBranch, label);
    release(x);
    release(y);
}

void Gen::compareFlag(Val x, Val y, std::string falseBranch)
{
    // An unsigned "less than" is the carry of the compare.
    const bool carryForm = falseBranch == "brsh";
    compareOperands(x, y, falseBranch);
    const int d = alloc(false);
    if (carryForm) {
        emitCompare(x, y, falseBranch);
        ins("sbc", d, d);
    } else {
        ins("eor", d, d);
        emitCompare(x, y, falseBranch);
        const std::string skip = NewLabel(c_);
        emitBranch(falseBranch, skip);
        ins1("dec", d);
        emitLabel(skip);
    }
    if (cb_ == 2)
        ins("mov", d + 1, d, false);
    release(x);
    release(y);
    push(regVal(d));
}

// x K AND IF with a single bit K (and x K AND 0= IF): a skip over a jump.
bool Gen::bitTest(std::size_t& i)
{
    const bool inverted = i + 2 < ops_.size() && ops_[i + 1].kind == OpKind::Word &&
                          ops_[i + 1].prim == Prim::ZeroEqual && ops_[i + 2].kind == OpKind::Branch0;
    if (!inverted && !(i + 1 < ops_.size() && ops_[i + 1].kind == OpKind::Branch0))
        return false;
    Val b = pop(), a = pop();
    if (numericConst(a))
        std::swap(a, b);
    const std::uint32_t k = numericConst(b) ? cval(b) : 0;
    if (k == 0 || (k & (k - 1)) != 0 || a.kind == Val::Const) {
        push(a);
        push(b);
        return false;
    }
    int bit = 0;
    while ((1u << bit) != k)
        ++bit;
    const std::string& label = ops_[i + (inverted ? 2 : 1)].name;
    inReg(a, false);
    LabelState& t = stateFor(label);
    if (t.loops != loops_)
        throw GiveUp{"bitTest"};
    protect(a, t.regs);
    reconcile(t.regs);
    // The jump is taken when the bit is clear (after 0=: when it is set).
    emit("\t" + std::string(inverted ? "sbrc" : "sbrs") + "\t" + R(a.reg + bit / 8) + "," + std::to_string(bit % 8), 1,
         false);
    emitJump(label);
    release(a);
    i += inverted ? 2 : 1;
    return true;
}

void Gen::branchIfZero(Val flag, const std::string& label)
{
    if (numericConst(flag)) {
        if (cval(flag) == 0) {
            LabelState& t = stateFor(label);
            if (t.loops != loops_)
                throw GiveUp{"branchIfZero"};
            reconcile(t.regs);
            emitJump(label);
            reachable_ = false;
        }
        return;
    }
    compareBranch(flag, konst(KCell::of(0)), "breq", label);
}

// --- memory

Gen::Address Gen::popAddress()
{
    Address a;
    if (cb_ == 1) {
        a.cells[0] = pop();
        a.cells[1] = pop();
    } else {
        a.cells[0] = pop();
    }
    if (!on(OptFold))
        return a;
    const Val& lo = a.cells[0];
    const Val& hi = cb_ == 1 ? a.cells[1] : a.cells[0];
    if (lo.kind != Val::Const || hi.kind != Val::Const)
        return a;
    const KByte& l = lo.k.bytes[0];
    const KByte& h = cb_ == 1 ? hi.k.bytes[0] : hi.k.bytes[1];
    if (l.numeric() && h.numeric()) {
        a.konst = true;
        a.expr = hex4(std::uint32_t(l.value | h.value << 8));
    } else if (const auto le = inner(l.expr, "low"), he = inner(h.expr, "high"); le && he && *le == *he) {
        a.konst = true;
        a.expr = *le;
    }
    return a;
}

std::string Gen::addressPlus(const Address& a, int k) const
{
    if (k == 0)
        return a.expr;
    return "(" + a.expr + ")+" + std::to_string(k);
}

// Sets Z to register `reg` (zero-extended when `byteIndex`, else a pair)
// plus `off`, for an access of `span` bytes, and returns the displacement
// the access takes: none when Z holds an address near it already.
int Gen::zFor(int reg, bool byteIndex, std::uint32_t off, int span, const Val& range)
{
    off &= 0xFFFF;
    if (z_.valid && z_.reg == reg && z_.byteIndex == byteIndex) {
        const std::uint32_t delta = (off - z_.off) & 0xFFFF;
        if (delta + std::uint32_t(span) - 1 <= std::uint32_t(MaxDisplacement))
            return int(delta);
    }
    const bool small = off + std::uint32_t(span) - 1 <= std::uint32_t(MaxDisplacement);
    const std::uint32_t neg = (0u - off) & 0xFFFF;
    std::uint32_t held = 0; // what Z holds beyond the register
    // A pair known below 256 is its low byte, zero-extended.
    if (!byteIndex && cb_ == 2 && hiZero(range) && !small)
        byteIndex = true;
    if (!byteIndex) {
        ins("movw", RegZ, reg, false);
        if (!small) {
            if (off <= std::uint32_t(MaxAdiw)) {
                emit("\tadiw\tr30," + std::to_string(off));
            } else if ((neg & 0xFF) == 0) {
                insI("subi", RegZ + 1, std::to_string(neg >> 8));
            } else {
                insI("subi", RegZ, std::to_string(neg & 0xFF));
                insI("sbci", RegZ + 1, std::to_string(neg >> 8));
            }
            held = off;
        }
    } else {
        ins("mov", RegZ, reg, false);
        if (range.ranged && range.hi + (off & 0xFF) <= 0xFF) {
            // No carry out of the low byte: the high byte is the constant's.
            if (off & 0xFF)
                insI("subi", RegZ, std::to_string((0x100 - (off & 0xFF)) & 0xFF));
            insI("ldi", RegZ + 1, std::to_string(off >> 8), false);
            held = off;
        } else {
            ins("eor", RegZ + 1, RegZ + 1);
            if (!small) {
                insI("subi", RegZ, std::to_string(neg & 0xFF));
                insI("sbci", RegZ + 1, std::to_string(neg >> 8));
                held = off;
            }
        }
    }
    z_ = {true, reg, byteIndex, held};
    return int((off - held) & 0xFFFF);
}

// 8-bit cells: a cell in a register, a constant or memory into register `to`.
void Gen::byteInto(int to, const Val& v)
{
    if (v.kind == Val::Reg) {
        ins("mov", to, v.reg, false);
    } else if (v.kind == Val::Const) {
        insI("ldi", to, v.k.bytes[0].text(), false);
    } else {
        emit(loadFrom(to, "Y", memOffset(v.slot, 0)), 1, false);
        deepestRead_ = std::max(deepestRead_, v.slot);
    }
}

// Z for an address that is no constant; returns the displacement.
int Gen::addressToZ(Address& a, int span)
{
    if (cb_ == 1) {
        Val& lo = a.cells[0];
        Val& hi = a.cells[1];
        int disp = 0;
        if (oneAddress(lo, hi)) {
            // The two cells of one address that M+ made.
            disp = zFor(lo.reg, true, lo.off, span, lo);
        } else if (lo.kind == Val::Reg && hi.kind == Val::Reg && hi.reg == lo.reg + 1 && lo.reg % 2 == 0) {
            disp = zFor(lo.reg, false, 0, span, lo);
        } else {
            // Each cell by itself; a sum is worked out first, it needs Z.
            if (lo.kind == Val::Sum)
                inReg(lo, false);
            if (hi.kind == Val::Sum)
                inReg(hi, false);
            byteInto(RegZ, lo);
            byteInto(RegZ + 1, hi);
            z_.valid = false;
        }
        release(lo);
        release(hi);
        return disp;
    }
    Val& v = a.cells[0];
    int disp = 0;
    if (v.kind == Val::Sum) {
        disp = zFor(v.reg, false, v.off, span, v);
    } else if (v.kind == Val::Reg) {
        disp = zFor(v.reg, false, 0, span, v);
    } else {
        if (v.kind == Val::Const)
            loadConst(RegZ, v.k);
        else
            loadMem(RegZ, v.slot);
        z_.valid = false;
    }
    release(v);
    return disp;
}

void Gen::fetch(bool cell)
{
    Address a = popAddress();
    const int d = alloc(false);
    if (a.konst) {
        emit("\tlds\t" + R(d) + "," + a.expr, 2, false);
        if (cell)
            emit("\tlds\t" + R(d + 1) + "," + addressPlus(a, 1), 2, false);
    } else {
        const int disp = addressToZ(a, cell ? 2 : 1);
        emit(loadFrom(d, "Z", disp), 1, false);
        if (cell)
            emit(loadFrom(d + 1, "Z", disp + 1), 1, false);
    }
    if (cb_ == 2 && !cell)
        ins("eor", d + 1, d + 1);
    // A byte, as C@ (or @ in 8-bit cells) fetches it.
    push(cell ? regVal(d) : ranged(regVal(d), 0, 0xFF));
}

void Gen::store(bool cell)
{
    Address a = popAddress();
    Val x = pop();
    const int r = inReg(x, false);
    if (a.konst) {
        emit("\tsts\t" + a.expr + "," + R(r), 2, false);
        if (cell)
            emit("\tsts\t" + addressPlus(a, 1) + "," + R(r + 1), 2, false);
    } else {
        const int disp = addressToZ(a, cell ? 2 : 1);
        emit(storeTo("Z", disp, r), 1, false);
        if (cell)
            emit(storeTo("Z", disp + 1, r + 1), 1, false);
    }
    release(x);
}

void Gen::plusStore()
{
    Address a = popAddress();
    Val x = pop();
    const int r = inReg(x, false);
    const int t = alloc(false);
    int disp = 0;
    if (a.konst) {
        for (int b = 0; b < cb_; ++b)
            emit("\tlds\t" + R(t + b) + "," + addressPlus(a, b), 2, false);
    } else {
        disp = addressToZ(a, cb_);
        for (int b = 0; b < cb_; ++b)
            emit(loadFrom(t + b, "Z", disp + b), 1, false);
    }
    ins("add", t, r);
    if (cb_ == 2)
        ins("adc", t + 1, r + 1);
    for (int b = 0; b < cb_; ++b)
        emit(a.konst ? "\tsts\t" + addressPlus(a, b) + "," + R(t + b) : storeTo("Z", disp + b, t + b), a.konst ? 2 : 1,
             false);
    --refs_[t];
    release(x);
}

// M+ in 8-bit cells: ( hi lo n -- hi' lo' ), n sign-extended. An array's
// address plus an index that cannot be negative stays unwritten, for C@
// and C! to take into Z; otherwise the pair lands in two adjacent
// registers, which they take with one movw.
void Gen::mplus()
{
    Val n = pop(), lo = pop(), hi = pop();
    const auto sext = [](std::uint32_t v) { return (v & 0x80) ? (v | 0xFF00) : v; };
    if (numericConst(n) && numericConst(lo) && numericConst(hi)) {
        const std::uint32_t v = ((cval(hi) << 8 | cval(lo)) + sext(cval(n))) & 0xFFFF;
        push(konst(KCell::of(v >> 8)));
        push(konst(KCell::of(v & 0xFF)));
        return;
    }
    std::uint32_t nl = 0, nh = 0;
    const bool halves = oneAddress(lo, hi);
    if (on(OptFold) && numericConst(lo) && numericConst(hi) && (n.kind == Val::Reg || (n.kind == Val::Sum && n.half == 0)) &&
        rangeOf(n, nl, nh) && nh < 0x80) {
        // Never negative: the index as it is, the constant in the offset.
        const std::uint32_t base = cval(hi) << 8 | cval(lo);
        const std::uint32_t k = n.kind == Val::Sum ? n.off : 0;
        Val h = ranged(n, nl - k, nh - k); // the register's own range
        h.kind = Val::Sum;
        h.off = (base + k) & 0xFFFF;
        h.half = 2;
        Val l = h;
        l.half = 1;
        retain(l);
        push(h);
        push(l);
        return;
    }
    if (on(OptFold) && halves && numericConst(n)) {
        const std::uint32_t off = (lo.off + sext(cval(n))) & 0xFFFF;
        lo.off = hi.off = off;
        push(hi);
        push(lo);
        return;
    }
    if (n.kind == Val::Mem || n.kind == Val::Sum)
        inReg(n, false);
    if (lo.kind == Val::Sum)
        inReg(lo, false);
    if (hi.kind == Val::Sum)
        inReg(hi, false);
    const int p = allocPair8();
    if (numericConst(lo) && numericConst(hi) && n.kind == Val::Reg) {
        const std::uint32_t neg = (0u - (cval(hi) << 8 | cval(lo))) & 0xFFFF;
        ins("mov", p, n.reg, false);
        ins("eor", p + 1, p + 1);
        emit("\tsbrc\t" + R(n.reg) + ",7", 1, false);
        ins1("com", p + 1);
        insI("subi", p, std::to_string(neg & 0xFF));
        insI("sbci", p + 1, std::to_string(neg >> 8));
    } else {
        byteInto(p, lo);
        byteInto(p + 1, hi);
        if (numericConst(n)) {
            const std::uint32_t neg = (0u - sext(cval(n))) & 0xFFFF;
            insI("subi", p, std::to_string(neg & 0xFF));
            insI("sbci", p + 1, std::to_string(neg >> 8));
        } else {
            const int rn = inReg(n, false);
            ins("eor", RegZ + 1, RegZ + 1);
            emit("\tsbrc\t" + R(rn) + ",7", 1, false);
            ins1("com", RegZ + 1);
            ins("add", p, rn);
            ins("adc", p + 1, RegZ + 1);
        }
    }
    release(n);
    release(lo);
    release(hi);
    push(regVal(p + 1));
    push(regVal(p));
}

// --- the loop stack

// Reads the cell `depth` cells below the top of the loop stack as the
// compiler lays it out (an index above its limit, a >R cell), wherever the
// optimiser keeps it.
void Gen::loopRead(int depth)
{
    int phys = 0;
    const Frame* index = nullptr; // the loop whose index is read, for its range
    for (auto f = loops_.rbegin(); f != loops_.rend(); ++f) {
        const int size = f->kind == Frame::RCell ? 1 : 2;
        if (depth < size) {
            if (f->kind == Frame::RegLoop) {
                if (depth == 0 || f->limitInReg) {
                    Val v = regVal(depth == 0 ? f->index : f->limit);
                    retain(v);
                    push(depth == 0 && f->ranged ? ranged(v, f->lo, f->hi) : v);
                } else {
                    push(konst(f->limitK));
                }
                return;
            }
            if (f->kind == Frame::MemLoop && depth == 0 && f->ranged)
                index = &*f;
            phys += depth;
            depth = 0;
            break;
        }
        depth -= size;
        phys += f->kind == Frame::RegLoop ? 0 : size;
    }
    phys += depth;
    const int q = phys * cb_;
    if (q + cb_ - 1 > MaxDisplacement)
        throw GiveUp{"loopRead"};
    const int d = alloc(false);
    if (cb_ == 1 && q == 0) {
        emit("\tld\t" + R(d) + ",X", 1, false);
    } else {
        ins("movw", RegZ, RegX, false);
        for (int b = 0; b < cb_; ++b)
            emit(loadFrom(d + b, "Z", q + b), 1, false);
    }
    push(index ? ranged(regVal(d), index->lo, index->hi) : regVal(d));
}

void Gen::toR()
{
    Val x = pop();
    const int r = inReg(x, false);
    pushCell('X', r);
    release(x);
    Frame f;
    f.kind = Frame::RCell;
    loops_.push_back(f);
}

void Gen::rFrom()
{
    if (!loops_.empty()) {
        if (loops_.back().kind != Frame::RCell)
            throw GiveUp{"rFrom"};
        loops_.pop_back();
    }
    const int d = alloc(false);
    popCell('X', d);
    push(regVal(d));
}

void Gen::doLoop(const Op& o)
{
    ensureRoom(2, 1);
    Val start = pop(), limit = pop();
    const bool constLimit = numericConst(limit);
    const bool inRegs = on(OptLoops) && regLoops_.count(o.name) && freeCount(false) >= (constLimit ? 3 : 4);
    // An inner loop's index takes an upper register, which compares with
    // a constant and counts in one instruction; an outer loop's steps are
    // rare, and leave the upper registers to the work inside.
    const bool outer = outerLoops_.count(o.name) > 0;
    Frame f;
    f.label = o.name;
    // Counting up by one from below the limit, the index stays below it.
    std::uint32_t sl = 0, sh = 0, ll = 0, lh = 0;
    if (!plusLoops_.count(o.name) && rangeOf(start, sl, sh) && rangeOf(limit, ll, lh) && sh < ll) {
        f.ranged = true;
        f.lo = sl;
        f.hi = lh - 1;
    }
    const auto into = [&](int r, Val& v) {
        moveInto(r, v);
        release(v);
    };
    if (inRegs) {
        f.kind = Frame::RegLoop;
        // A loop that calls archive routines keeps its counters out of their registers.
        std::vector<int> avoid;
        if (callLoops_.count(o.name))
            avoid.assign(std::begin(ArchiveScratch), std::end(ArchiveScratch));
        const int ri = alloc(false, avoid, outer);
        into(ri, start);
        refs_[ri] = 0;
        pinned_[ri] = true;
        f.index = std::uint8_t(ri);
        if (constLimit) {
            f.limitK = limit.k;
            // From the lowest index up to the limit the high byte stays: only the low byte counts.
            f.lowByteCounts = cb_ == 2 && f.ranged && (f.lo >> 8) == (cval(limit) >> 8);
        } else {
            const int rl = alloc(false, avoid, true);
            into(rl, limit);
            refs_[rl] = 0;
            pinned_[rl] = true;
            f.limitInReg = true;
            f.limit = std::uint8_t(rl);
        }
    } else {
        f.kind = Frame::MemLoop;
        const int rl = inReg(limit, false);
        const int rs = inReg(start, false);
        pushCell('X', rl);
        pushCell('X', rs);
        release(limit);
        release(start);
        if (plusLoops_.count(o.name))
            labels_[o.name].canonical = true;
    }
    loops_.push_back(f);
    LabelState& t = stateFor(o.name);
    reconcile(t.regs);
    emitLabel(o.name, o.text);
    enter(t);
}

void Gen::loopEnd(const Op& o, bool plus)
{
    if (loops_.empty() || loops_.back().label != o.name || loops_.back().kind == Frame::RCell)
        throw GiveUp{"loopEnd"};
    const Frame f = loops_.back();
    LabelState& t = labels_[o.name];
    if (!t.known || t.loops != loops_)
        throw GiveUp{"loopEnd"};
    if (f.kind == Frame::MemLoop && plus) {
        flush();
        emit("\t" + std::string(CallMnemonic(c_)) + "\t+LOOP", LineWords("\t" + std::string(CallMnemonic(c_))));
        emitBranch("brcc", o.name);
        loops_.pop_back();
        return;
    }
    // The step in a register the moves to the head's registers leave alone
    // (a constant is loaded after them, into r1:r0).
    Val step;
    if (plus) {
        step = pop();
        protect(step, t.regs);
    }
    reconcile(t.regs);
    if (f.kind == Frame::RegLoop) {
        const int ri = f.index;
        if (!plus) {
            if (cb_ == 1 || f.lowByteCounts) { // (a loop whose low byte counts has a constant limit)
                ins1("inc", ri);
                if (f.limitInReg) {
                    ins("cp", ri, f.limit);
                } else if (ri >= FirstUpper) {
                    insI("cpi", ri, f.limitK.bytes[0].text());
                } else {
                    insI("ldi", RegZ + 1, f.limitK.bytes[0].text(), false);
                    ins("cp", ri, RegZ + 1);
                }
            } else if (ri >= FirstUpper || f.limitInReg) {
                if (ri == 24) {
                    emit("\tadiw\tr24,1");
                } else if (ri >= FirstUpper) {
                    insI("subi", ri, "255");
                    insI("sbci", ri + 1, "255");
                } else {
                    ins("movw", RegZ, ri, false);
                    emit("\tadiw\tr30,1");
                    ins("movw", ri, RegZ, false);
                }
                if (f.limitInReg) {
                    ins("cp", ri, f.limit);
                    ins("cpc", ri + 1, f.limit + 1);
                } else {
                    insI("cpi", ri, f.limitK.bytes[0].text());
                    insI("ldi", RegZ + 1, f.limitK.bytes[1].text(), false);
                    ins("cpc", ri + 1, RegZ + 1);
                }
            } else {
                // A lower pair counts in Z, which compares with the limit as it goes.
                ins("movw", RegZ, ri, false);
                emit("\tadiw\tr30,1");
                ins("movw", ri, RegZ, false);
                insI("cpi", RegZ, f.limitK.bytes[0].text());
                insI("sbci", RegZ + 1, f.limitK.bytes[1].text());
            }
            emitBranch("brne", o.name);
        } else {
            // As +LOOP of the archive: index-limit biased by $80 overflows
            // exactly when the step carries the index across limit-1/limit.
            int rs = 0;
            if (step.kind == Val::Reg) {
                rs = step.reg;
            } else {
                for (int b = 0; b < cb_; ++b) {
                    insI("ldi", RegZ, step.k.bytes[b].text(), false);
                    ins("mov", b, RegZ, false);
                }
            }
            copyReg(RegZ, ri);
            if (f.limitInReg) {
                ins("sub", RegZ, f.limit);
                if (cb_ == 2)
                    ins("sbc", RegZ + 1, f.limit + 1);
            } else {
                insI("subi", RegZ, f.limitK.bytes[0].text());
                if (cb_ == 2)
                    insI("sbci", RegZ + 1, f.limitK.bytes[1].text());
            }
            insI("subi", RegZ + cb_ - 1, "128");
            ins("add", ri, rs);
            if (cb_ == 2)
                ins("adc", ri + 1, rs + 1);
            ins("add", RegZ, rs);
            if (cb_ == 2)
                ins("adc", RegZ + 1, rs + 1);
            release(step);
            emitBranch("brvc", o.name);
        }
        pinned_[f.index] = false;
        if (f.limitInReg)
            pinned_[f.limit] = false;
    } else if (cb_ == 1) {
        emit("\tld\tr30,X+", 1, false);
        emit("\tld\tr31,X", 1, false);
        ins1("inc", RegZ);
        emit("\tst\t-X,r30", 1, false);
        ins("cp", RegZ, RegZ + 1);
        emitBranch("brne", o.name);
        emit("\tadiw\tr26,2");
    } else {
        const std::string done = NewLabel(c_);
        for (const char* r : {"r30", "r31", "r0", "r1"})
            emit("\tld\t" + std::string(r) + ",X+", 1, false);
        emit("\tadiw\tr30,1");
        ins("cp", RegZ, 0);
        ins("cpc", RegZ + 1, 1);
        emitBranch("breq", done);
        for (const char* r : {"r1", "r0", "r31", "r30"})
            emit("\tst\t-X," + std::string(r), 1, false);
        emitJump(o.name);
        emitLabel(done);
    }
    loops_.pop_back();
    zeroFlag_ = -1;
}

} // namespace mirtolan::opt
