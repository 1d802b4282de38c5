// The archive words that the optimiser writes as code of its own, by name.
#include <array>
#include <cctype>
#include <cstdlib>
#include <sstream>

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

namespace {

// Instructions that run code the body does not show, which may use any register.
constexpr std::string_view CallingOps[] = {"rcall", "call", "icall", "eicall", "ijmp", "eijmp", "zcall", "zjmp"};

// Registers an archive body may use and still leave the optimiser's alone.
// The header's macros that a body names (_REmit, _RHold...) keep to the
// scratch registers too, but Zcall and Zjmp, which go elsewhere; a macro
// that did not would be found by the optimised simulator cases.
bool scratchOnly(std::string_view line)
{
    line = line.substr(0, line.find(';'));
    {
        std::istringstream words{std::string(line)};
        std::string op;
        words >> op;
        if (!op.empty() && op.back() == ':')
            words >> op;
        for (std::string_view c : CallingOps)
            if (SameIgnoringCase(op, c))
                return false;
        // Y read as a value (DEPTH) sees cells the optimiser holds in
        // registers as missing; Y stepped over the routine's own cells is fine.
        std::string operands;
        std::getline(words, operands);
        const std::string folded = FoldCase(operands);
        const bool steps = SameIgnoringCase(op, "adiw") || SameIgnoringCase(op, "sbiw");
        if (!steps && (folded.find("YL") != std::string::npos || folded.find("YH") != std::string::npos))
            return false;
    }
    bool scratch = true;
    ForEachName(line, [&](std::string_view name) {
        const std::string w = FoldCase(name);
        // The loop stack, or a register beyond the scratch ones.
        if (w == "X" || w == "XL" || w == "XH")
            scratch = false;
        if (w.size() >= 2 && w[0] == 'R' && std::isdigit(static_cast<unsigned char>(w[1]))) {
            const int r = std::atoi(w.c_str() + 1);
            if (!(r == 0 || r == 1 || (r >= 16 && r <= 19) || r == 30 || r == 31))
                scratch = false;
        }
    });
    return scratch;
}

// Cells one item of a stack comment stands for: a double takes two, an
// address two in 8-bit cells; 0 when the item says the effect varies.
int cellsOf(std::string_view item, int cellBytes)
{
    if (item == "|" || item == "..." || item.find("...") != std::string_view::npos)
        return 0;
    std::string_view s = item;
    if (!s.empty() && s[0] == '-')
        s.remove_prefix(1);
    if (!s.empty() && s[0] == 'u')
        s.remove_prefix(1);
    if (!s.empty() && s[0] == 'd' && (s.size() == 1 || std::isdigit(static_cast<unsigned char>(s[1])) ||
                                      std::string_view("+-*/").find(s[1]) != std::string_view::npos))
        return 2;
    if (s == "xd")
        return 2;
    // c-addr, eaddr, faddr, addr+u...: two cells where cells are bytes.
    if (item.find("addr") != std::string_view::npos || item.starts_with("src") || item.starts_with("dst"))
        return cellBytes == 1 ? 2 : 1;
    return 1;
}

} // namespace

std::optional<std::pair<int, int>> TransparentEffect(const std::vector<std::string>& archive, std::int64_t header,
                                                     std::int64_t bodyEnd, int cellBytes)
{
    if (header < 1 || bodyEnd <= header)
        return std::nullopt;
    for (auto i = header + 1; i < bodyEnd; ++i)
        if (!scratchOnly(archive[std::size_t(i)]))
            return std::nullopt;
    // The doc line before the header: "$ ( before -- after ) ...".
    const std::string& doc = archive[std::size_t(header - 1)];
    if (doc.rfind("$ (", 0) != 0)
        return std::nullopt;
    const auto close = doc.find(" )");
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream items(doc.substr(3, close - 3));
    int cells[2] = {0, 0};
    int side = 0;
    for (std::string item; items >> item;) {
        if (item == "--") {
            if (++side > 1)
                return std::nullopt;
            continue;
        }
        const int n = cellsOf(item, cellBytes);
        if (n == 0)
            return std::nullopt;
        cells[side] += n;
    }
    if (side != 1)
        return std::nullopt;
    return std::pair{cells[0], cells[1]};
}

} // namespace mirtolan::opt
