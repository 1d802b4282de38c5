// What the optimiser makes of a definition's lines: a list of operations,
// each with the origin of the word that made it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "LineMap.h"

namespace mirtolan::opt {

// A byte known when the program is assembled: a number, or an assembler
// expression such as "low(PORTB+32)" or "1<<PB5".
struct KByte {
    std::string expr;       // the expression; empty for a number
    std::uint8_t value = 0; // the number, when there is no expression

    bool numeric() const { return expr.empty(); }
    std::string text() const { return numeric() ? std::to_string(value) : expr; }
    friend bool operator==(const KByte&, const KByte&) = default;
};

// A cell known when the program is assembled, its bytes low first (the
// second byte is unused in 8-bit cells).
struct KCell {
    KByte bytes[2]; // low, high

    bool numeric() const { return bytes[0].numeric() && bytes[1].numeric(); }
    // The value of a numeric cell of `cellBytes` bytes.
    std::uint32_t value(int cellBytes) const
    {
        return cellBytes == 1 ? bytes[0].value : std::uint32_t(bytes[0].value | bytes[1].value << 8);
    }
    static KCell of(std::uint32_t v)
    {
        KCell k;
        k.bytes[0].value = std::uint8_t(v);
        k.bytes[1].value = std::uint8_t(v >> 8);
        return k;
    }
    friend bool operator==(const KCell&, const KCell&) = default;
};

// The archive words the optimiser writes as code of its own.
enum class Prim : std::uint8_t {
    Dup, Drop, Swap, Over, Rot, MinusRot, Nip, Tuck, TwoDup, TwoDrop, TwoSwap, TwoOver,
    Plus, Minus, OnePlus, OneMinus, TwoStar, TwoSlash, Negate, Invert, And, Or, Xor, Star,
    Equal, NotEqual, Less, Greater, ULess, UGreater, ZeroEqual, ZeroNotEqual, ZeroLess, ZeroGreater,
    CFetch, CStore, Fetch, Store, PlusStore, MPlus,
    I, J, ToR, RFrom, RFetch,
};

enum class OpKind : std::uint8_t {
    Push,     // a cell known when assembled
    Word,     // a primitive
    Call,     // an out-of-line call of `name`, written as `text`
    TailCall, // a jump to `name` that ends the definition's path, written as `text`
    Branch0,  // takes a flag; to `name` (a label) when it is 0
    Jump,     // to `name`
    Label,    // `name`
    Do,       // takes limit and start; `name` is the loop's head label
    Loop,     // steps the index by 1; back to `name` unless the loop ends
    PlusLoop, // takes a step; back to `name` unless the loop ends
    Exit,     // returns
    Case,     // CASE takes its selector (the compiler keeps it in Ftmp2)
    Of,       // compares the selector with `cell`: to `name` when they differ
    Comment,  // `text`, no code
    Barrier,  // `text`, a line kept as it is, with every cell in memory around it
};

struct Op {
    OpKind kind = OpKind::Barrier; // what it is
    Prim prim = Prim::Dup;         // Word: which
    KCell cell;                    // Push: the cell
    std::string name;              // Call, TailCall: the word; branches, Do, Loop, Label: the label
    std::string text;              // Call, TailCall, Comment, Barrier: the line as the compiler wrote it
    // Call of an archive routine that touches only the scratch registers and
    // not the loop stack: the cells it takes and leaves; -1 for any other call.
    int takes = -1, leaves = -1;
    LineOrigin origin;             // where the op came from
};

using Ops = std::vector<Op>;

} // namespace mirtolan::opt
