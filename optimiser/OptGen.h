// The code generator's state: the cells of the data stack as the compile
// knows them (in registers, known constants, or still in memory), the loop
// stack, and what each label expects.
#pragma once

#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "Optimiser.h"
#include "OptState.h"

namespace mirtolan::opt {

// The optimiser cannot write this definition; its own lines stay.
struct GiveUp {
    const char* why; // what the optimiser could not do, for its tests
};

// A cell of the data stack while code is written.
struct Val {
    enum Kind : std::uint8_t {
        Const, // known when assembled: `k`
        Reg,   // in register `reg` (16-bit cells: the pair reg, reg+1)
        Mem,   // in memory, cell `slot` above the data stack pointer of the last sync
        Sum,   // register `reg` plus `off`, the addition not yet written (see `half`)
    } kind = Const;         // where the cell is
    std::uint8_t reg = 0;   // Reg, Sum: the register
    int slot = 0;           // Mem: the cell's place
    KCell k;                // Const: the value
    std::uint32_t off = 0;  // Sum: the constant added
    // Sum in 8-bit cells: 0 the cell reg+off (a byte); 1 and 2 the low and
    // high cell of the address reg+off (reg zero-extended), which M+ made.
    std::uint8_t half = 0;
    bool ranged = false;    // the value lies in [lo, hi] (unsigned); for the halves of an address, reg does
    std::uint32_t lo = 0;   // the least value, when ranged
    std::uint32_t hi = 0;   // the greatest value, when ranged
};

// An entry of the loop stack: a DO loop or a cell that >R put there.
struct Frame {
    enum Kind : std::uint8_t {
        MemLoop, // index and limit on the loop stack in memory
        RegLoop, // index (and limit) in registers, nothing on the loop stack
        RCell,   // a cell >R moved to the loop stack
    } kind = MemLoop;          // what the entry is
    std::uint8_t index = 0;    // RegLoop: the index register
    bool limitInReg = false;   // RegLoop: the limit is in `limit`, else the constant `limitK`
    std::uint8_t limit = 0;    // RegLoop: the limit register
    KCell limitK;              // RegLoop: the constant limit
    std::string label;         // loops: the head label
    bool ranged = false;       // loops: the index stays in [lo, hi]
    std::uint32_t lo = 0;      // the least index, when ranged
    std::uint32_t hi = 0;      // the greatest index, when ranged
    bool lowByteCounts = false; // RegLoop, 16-bit cells: the index's high byte never changes up to the limit
    friend bool operator==(const Frame&, const Frame&) = default;
};

// What a label expects: the top cells in these registers, the rest in
// memory from the data stack pointer up, and this loop stack.
struct LabelState {
    bool known = false;          // fixed by the first path that reached it
    bool canonical = false;      // every cell must be in memory (a line the optimiser does not read jumps here)
    std::vector<int> regs;       // the registers of the top cells, bottom first
    std::vector<Frame> loops;    // the loop stack there
};

class Gen {
public:
    Gen(Compiler& c, const Ops& ops);
    std::vector<AsmLine> run();

private:
    // --- Emitting ---
    void emit(std::string text, int words = 1, bool flags = true);
    void emitLabel(const std::string& name, const std::string& text = {});
    void emitBranch(const std::string& mnemonic, const std::string& target);
    void emitJump(const std::string& target);
    void ins(const char* m, int a, int b, bool flags = true);
    void insI(const char* m, int a, const std::string& imm, bool flags = true);
    void ins1(const char* m, int a, bool flags = true);
    // The cell in register r (a pair in 16-bit cells) onto the stack that
    // `stack` (Y or X) points to, high byte first; and off it into r.
    void pushCell(char stack, int r);
    void popCell(char stack, int r);

    // --- Registers ---
    bool isFree(int r) const;
    // The registers (pairs in 16-bit cells) that take constants, and the others, in the order they are taken.
    std::span<const int> upperRegs() const;
    std::span<const int> lowerRegs() const;
    int freeCount(bool upperOnly) const;
    int alloc(bool upper, const std::vector<int>& avoid = {}, bool lowerFirst = false);
    int allocPair8(); // 8-bit cells: two adjacent upper registers, low even
    void retain(const Val& v);
    void release(const Val& v);
    void ensureRoom(int cells, int upper);

    // --- Cells ---
    Val pop();
    Val peek(int k);
    void push(Val v);
    Val konst(const KCell& k) const;
    Val regVal(int r);
    Val ranged(Val v, std::uint32_t lo, std::uint32_t hi) const;
    bool rangeOf(const Val& v, std::uint32_t& lo, std::uint32_t& hi) const;
    bool hiZero(const Val& v) const;
    void sumInto(int r, const Val& v);
    void moveInto(int r, Val& v);
    void loadConst(int r, const KCell& k);
    void loadConstByte(int r, const KByte& b);
    // Memory cell `slot` into r; `pushed`: cells pushed below the data stack pointer since the slots were counted.
    void loadMem(int r, int slot, int pushed = 0);
    void copyReg(int to, int from);
    int inReg(Val& v, bool upper);
    int ownReg(Val& v, bool upper);
    int memOffset(int slot, int byte) const;
    bool numericConst(const Val& v) const { return v.kind == Val::Const && v.k.numeric(); }
    std::uint32_t cval(const Val& v) const { return v.k.value(cb_); }
    std::uint32_t mask() const { return cb_ == 1 ? 0xFFu : 0xFFFFu; }

    // --- States ---
    void reconcile(const std::vector<int>& regs);
    void flush() { reconcile({}); }
    LabelState& stateFor(const std::string& label);
    void enter(const LabelState& s);
    void protect(Val& v, const std::vector<int>& regs);

    // --- Operations ---
    void op(std::size_t& i);
    void word(Prim p, std::size_t& i);
    void binary(Prim p);
    void unary(Prim p);
    void multiply();
    bool compare(Prim p, const std::string* branchTo);
    // Puts a constant on the right of an equality test and the rest where
    // the compare reads it (a register, or a constant for the right).
    void compareOperands(Val& x, Val& y, const std::string& falseBranch);
    void compareBranch(Val x, Val y, std::string falseBranch, const std::string& label);
    void compareFlag(Val x, Val y, std::string falseBranch);
    void emitCompare(Val& x, Val& y, std::string& falseBranch);
    void branchIfZero(Val flag, const std::string& label);
    bool bitTest(std::size_t& i);
    void fetch(bool cell);
    void store(bool cell);
    void plusStore();
    void mplus();
    void loopRead(int depth);
    void toR();
    void rFrom();
    void doLoop(const Op& op);
    void loopEnd(const Op& op, bool plus);
    void call(const Op& op, bool last);
    void noteStacks();
    void asWritten(const Op& op);
    bool countsInRegisters() const; // a loop on the loop stack counts in registers
    bool transparentCall(const Op& op);
    void divide(const Op& op, bool remainder, bool quotient);

    struct Address {
        bool konst = false;   // a constant address, `expr`
        std::string expr;     // the constant address as the assembler takes it
        Val cells[2];         // otherwise the address cells (8-bit: low, high)
    };
    // What Z holds, so that the next access near it takes a displacement
    // instead of setting Z again: register `reg` (zero-extended when
    // `byteIndex`, else a pair) plus `off`.
    struct ZHolds {
        bool valid = false;     // Z holds what the rest says
        int reg = 0;            // the register it was made from
        bool byteIndex = false; // that register alone, zero-extended; else the pair
        std::uint32_t off = 0;  // the constant added to it
    } z_;
    Address popAddress();
    int addressToZ(Address& a, int span);
    void byteInto(int to, const Val& v);
    int zFor(int reg, bool byteIndex, std::uint32_t off, int span, const Val& range);
    void noteWrites(const std::string& text);
    std::string addressPlus(const Address& a, int k) const;

    Compiler& c_;
    const Ops& ops_;
    const int cb_;          // bytes in a cell
    const unsigned skip_;   // optimiser steps left out
    bool on(OptStep s) const { return !(skip_ & s); }

    std::vector<AsmLine> out_;
    LineOrigin origin_;     // the origin of the lines being written
    LineOrigin before_;     // the origin of the operation before

    std::vector<Val> v_;    // the cells above memory, bottom first
    int d_ = 0;             // memory cells taken into v_ or dropped, from the data stack pointer up
    std::vector<Frame> loops_;
    bool reachable_ = true;
    int refs_[32] = {};
    bool pinned_[32] = {};
    int zeroFlag_ = -1;     // 8-bit cells: the register whose zero test the Z flag holds
    int deepestRead_ = -1;  // the deepest memory cell read since the last sync
    std::vector<LineOrigin> takenBy_; // per memory cell taken since the last sync: the word that took it
    std::map<std::string, LabelState> labels_;
    std::set<std::string> regLoops_;  // head labels of the loops that may keep their counters in registers
    std::set<std::string> plusLoops_; // head labels of the loops that end in +LOOP
    std::set<std::string> outerLoops_; // head labels of the loops with loops inside
    std::set<std::string> callLoops_;  // head labels of the loops that call archive routines (which use r16-r19)
    int lastCall_ = -1;     // out_ index of the last call written, while nothing follows it
};

} // namespace mirtolan::opt
