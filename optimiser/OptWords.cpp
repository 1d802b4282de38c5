// The archive words that the optimiser writes as code of its own, by name.
#include <array>

#include "CodeList.h"
#include "OptState.h"

namespace mirtolan::opt {

namespace {

struct PrimName {
    std::string_view name; // as the archive's header spells it
    Prim prim;             // what it does
    int cellBytes;         // 0: both cell sizes; else only this size
};

// M+ steps an address (two cells) in 8-bit cells; in 16-bit cells it adds
// to a 32-bit double, which stays a call.
constexpr std::array<PrimName, 45> PrimNames{{
    {"DUP", Prim::Dup, 0},         {"DROP", Prim::Drop, 0},        {"SWAP", Prim::Swap, 0},
    {"OVER", Prim::Over, 0},       {"ROT", Prim::Rot, 0},          {"-ROT", Prim::MinusRot, 0},
    {"NIP", Prim::Nip, 0},         {"TUCK", Prim::Tuck, 0},        {"2DUP", Prim::TwoDup, 0},
    {"2DROP", Prim::TwoDrop, 0},   {"2SWAP", Prim::TwoSwap, 0},    {"2OVER", Prim::TwoOver, 0},
    {"+", Prim::Plus, 0},          {"-", Prim::Minus, 0},          {"1+", Prim::OnePlus, 0},
    {"1-", Prim::OneMinus, 0},     {"2*", Prim::TwoStar, 0},       {"2/", Prim::TwoSlash, 0},
    {"NEGATE", Prim::Negate, 0},   {"INVERT", Prim::Invert, 0},    {"AND", Prim::And, 0},
    {"OR", Prim::Or, 0},           {"XOR", Prim::Xor, 0},          {"*", Prim::Star, 0},
    {"=", Prim::Equal, 0},         {"<>", Prim::NotEqual, 0},      {"<", Prim::Less, 0},
    {">", Prim::Greater, 0},       {"U<", Prim::ULess, 0},         {"U>", Prim::UGreater, 0},
    {"0=", Prim::ZeroEqual, 0},    {"0<>", Prim::ZeroNotEqual, 0}, {"0<", Prim::ZeroLess, 0},
    {"0>", Prim::ZeroGreater, 0},  {"C@", Prim::CFetch, 0},        {"C!", Prim::CStore, 0},
    {"@", Prim::Fetch, 0},         {"!", Prim::Store, 0},          {"+!", Prim::PlusStore, 0},
    {"M+", Prim::MPlus, 1},        {"I", Prim::I, 0},              {"J", Prim::J, 0},
    {">R", Prim::ToR, 0},          {"R>", Prim::RFrom, 0},         {"R@", Prim::RFetch, 0},
}};

} // namespace

std::optional<Prim> FindPrim(std::string_view name, int cellBytes)
{
    for (const auto& p : PrimNames)
        if ((p.cellBytes == 0 || p.cellBytes == cellBytes) && SameIgnoringCase(p.name, name))
            return p.prim;
    return std::nullopt;
}

} // namespace mirtolan::opt
