// Reading back the lines the compiler wrote for a definition: each of their
// few shapes becomes an operation; any other line is a barrier.
#include <array>
#include <span>

#include "Compiler.h"
#include "DefColon.h"
#include "OptState.h"

namespace mirtolan::opt {

namespace {

constexpr std::string_view CallMnemonics[] = {"rcall", "Zcall"};
constexpr std::string_view JumpMnemonics[] = {"rjmp", "Zjmp"};

// "\tMNEMONIC\tOPERAND" with one of `mnemonics` and an operand without blanks.
std::optional<std::string> operandOf(std::string_view line, std::span<const std::string_view> mnemonics)
{
    for (auto m : mnemonics) {
        if (line.size() > m.size() + 2 && line[0] == '\t' && line.substr(1, m.size()) == m && line[m.size() + 1] == '\t') {
            const std::string_view operand = line.substr(m.size() + 2);
            for (char ch : operand)
                if (static_cast<unsigned char>(ch) <= ' ' || ch == ';')
                    return std::nullopt;
            return std::string(operand);
        }
    }
    return std::nullopt;
}

// "_L<digits>" or "_LC<digits>".
bool isControlLabel(std::string_view s)
{
    if (s.size() < 3 || s.substr(0, 2) != "_L")
        return false;
    std::size_t i = s[2] == 'C' ? 3 : 2;
    if (i >= s.size())
        return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// A control label line: "_L5:" or "_L5:\t\t\t\t; KEYWORD". The label, and the keyword if any.
std::optional<std::string> labelOf(std::string_view line, std::string_view* keyword = nullptr)
{
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !isControlLabel(line.substr(0, colon)))
        return std::nullopt;
    const std::string_view rest = line.substr(colon + 1);
    constexpr std::string_view Comment = "\t\t\t\t; ";
    if (!rest.empty() && rest.substr(0, Comment.size()) != Comment)
        return std::nullopt;
    if (keyword)
        *keyword = rest.empty() ? std::string_view() : rest.substr(Comment.size());
    return std::string(line.substr(0, colon));
}

// "\tbranch\t_Ln" with an optional "\t\t; KEYWORD"; the label.
std::optional<std::string> branchTo(std::string_view line, std::string_view mnemonic, std::string_view keyword)
{
    const std::string head = "\t" + std::string(mnemonic) + "\t";
    if (line.substr(0, head.size()) != head)
        return std::nullopt;
    std::string_view rest = line.substr(head.size());
    std::string_view label = rest;
    if (!keyword.empty()) {
        const std::string tail = "\t\t; " + std::string(keyword);
        if (rest.size() <= tail.size() || rest.substr(rest.size() - tail.size()) != tail)
            return std::nullopt;
        label = rest.substr(0, rest.size() - tail.size());
    }
    if (!isControlLabel(label))
        return std::nullopt;
    return std::string(label);
}

// The operand of "ldi Ftmp1,X" (or r16), as a byte: a number, or with
// `expressions` any other text.
std::optional<KByte> loadOperand(std::string_view operand, bool expressions)
{
    KByte b;
    if (const auto v = ParseNumber(operand, true)) {
        // A literal wider than a byte stays as written: the build warns about it.
        if (*v < -128 || *v > 255)
            return std::nullopt;
        b.value = std::uint8_t(*v);
        return b;
    }
    if (!expressions || operand.empty())
        return std::nullopt;
    b.expr = std::string(operand);
    return b;
}

constexpr std::string_view PushRegisters[] = {"Ftmp1", "r16"};

// The byte an "ldi/clr/ser Ftmp1" line loads, if it is one.
std::optional<KByte> loadOf(std::string_view line, bool expressions, bool& isLoad)
{
    isLoad = false;
    for (auto reg : PushRegisters) {
        const std::string ldi = "\tldi\t" + std::string(reg) + ",";
        if (line.substr(0, ldi.size()) == ldi) {
            isLoad = true;
            return loadOperand(line.substr(ldi.size()), expressions);
        }
        if (line == "\tclr\t" + std::string(reg)) {
            isLoad = true;
            return KByte{};
        }
        if (line == "\tser\t" + std::string(reg)) {
            isLoad = true;
            KByte b;
            b.value = 0xFF;
            return b;
        }
    }
    return std::nullopt;
}

// "\tCALL\t_TestIfZero \t; IF" and the same for UNTIL and WHILE.
bool isFlagTest(std::string_view line)
{
    for (auto m : CallMnemonics)
        for (std::string_view k : {"IF", "UNTIL", "WHILE"})
            if (line == "\t" + std::string(m) + "\t_TestIfZero \t; " + std::string(k))
                return true;
    return false;
}

bool isPush(std::string_view line)
{
    for (auto reg : PushRegisters)
        if (line == "\tst\t-Y," + std::string(reg))
            return true;
    return false;
}

// Gathers pushed bytes into cells: in 16-bit cells the high byte is pushed first.
std::optional<std::vector<KCell>> cellsOf(const std::vector<KByte>& bytes, int cellBytes)
{
    if (bytes.size() % std::size_t(cellBytes))
        return std::nullopt;
    std::vector<KCell> cells;
    for (std::size_t i = 0; i < bytes.size(); i += std::size_t(cellBytes)) {
        KCell k;
        if (cellBytes == 1) {
            k.bytes[0] = bytes[i];
        } else {
            k.bytes[1] = bytes[i];
            k.bytes[0] = bytes[i + 1];
        }
        cells.push_back(std::move(k));
    }
    return cells;
}

// The case constant and label of an OF standing at line i.
std::optional<std::pair<KCell, std::string>> ofAt(const std::vector<std::string>& lines, std::size_t i, int cellBytes)
{
    const std::size_t n = cellBytes == 1 ? 3 : 5;
    if (i + n > lines.size())
        return std::nullopt;
    constexpr std::string_view Low = "\tldi\tFtmp1,", High = "\tldi\tFtmp1H,";
    const std::string_view low = lines[i];
    if (!low.starts_with(Low))
        return std::nullopt;
    KCell k;
    const auto lo = loadOperand(low.substr(Low.size()), false);
    if (!lo)
        return std::nullopt;
    k.bytes[0] = *lo;
    std::size_t at = i + 1;
    if (cellBytes == 2) {
        const std::string_view high = lines[at++];
        if (!high.starts_with(High))
            return std::nullopt;
        const auto hi = loadOperand(high.substr(High.size()), false);
        if (!hi)
            return std::nullopt;
        k.bytes[1] = *hi;
    }
    if (lines[at++] != "\tcp\tFtmp1,Ftmp2\t; OF")
        return std::nullopt;
    if (cellBytes == 2 && lines[at++] != "\tcpc\tFtmp1H,Ftmp2H")
        return std::nullopt;
    const auto target = branchTo(lines[at], "brne", "");
    if (!target)
        return std::nullopt;
    return std::pair{k, *target};
}

} // namespace

std::optional<std::vector<KCell>> ParsePushes(const std::vector<std::string>& lines, std::size_t i, std::size_t end,
                                              int cellBytes, bool expressions)
{
    std::vector<KByte> bytes;
    std::optional<KByte> loaded;
    for (; i < end; ++i) {
        bool isLoad = false;
        const auto b = loadOf(lines[i], expressions, isLoad);
        if (isLoad) {
            if (!b)
                return std::nullopt;
            loaded = b;
        } else if (isPush(lines[i]) && loaded) {
            bytes.push_back(*loaded);
        } else {
            return std::nullopt;
        }
    }
    return cellsOf(bytes, cellBytes);
}

std::optional<PushWord> PushWordAt(const Compiler& c, std::size_t label, std::size_t upTo)
{
    std::vector<std::string> body;
    std::size_t j = label + 1;
    for (; j < upTo; ++j) {
        std::string l = c.ProgramCode[j];
        if (l == "\tret")
            break;
        body.push_back(std::move(l));
    }
    if (j >= upTo || body.empty())
        return std::nullopt;
    auto cells = ParsePushes(body, 0, body.size(), c.CellBits / 8, true);
    if (!cells)
        return std::nullopt;
    return PushWord{j + 1, std::move(*cells)};
}

Ops ParseBody(const Compiler& c, std::size_t first, std::size_t end)
{
    const int cellBytes = c.CellBits / 8;
    std::vector<std::string> lines;
    std::vector<LineOrigin> origins;
    for (std::size_t i = first; i < end; ++i) {
        lines.push_back(c.ProgramCode[i]);
        origins.push_back(c.Map ? c.Map->program.at(i) : LineOrigin{});
    }
    const bool ownTest = IsProgramWord(c, "_TestIfZero"); // IF would call the program's own
    Ops ops;
    const auto add = [&](OpKind kind, std::size_t at, std::string name = {}, std::string text = {}) -> Op& {
        Op op;
        op.kind = kind;
        op.name = std::move(name);
        op.text = std::move(text);
        op.origin = origins[at];
        ops.push_back(std::move(op));
        return ops.back();
    };
    const std::size_t n = lines.size();
    for (std::size_t i = 0; i < n;) {
        const std::string& line = lines[i];
        const std::string_view next = i + 1 < n ? std::string_view(lines[i + 1]) : std::string_view();
        // A run of literal pushes, the lines of one literal at a time.
        {
            std::size_t j = i;
            std::vector<KByte> bytes;
            std::optional<KByte> loaded;
            std::size_t runEnd = i;
            while (j < n) {
                bool isLoad = false;
                const auto b = loadOf(lines[j], false, isLoad);
                if (isLoad && b && j + 1 < n && isPush(lines[j + 1])) {
                    loaded = b;
                    ++j;
                    continue;
                }
                if (isPush(lines[j]) && loaded) {
                    bytes.push_back(*loaded);
                    ++j;
                    // A cell is complete: the run may end here.
                    if (bytes.size() % std::size_t(cellBytes) == 0)
                        runEnd = j;
                    continue;
                }
                break;
            }
            if (runEnd > i) {
                bytes.resize((bytes.size() / std::size_t(cellBytes)) * std::size_t(cellBytes));
                const auto cells = cellsOf(bytes, cellBytes);
                // Each cell takes the origin of the line that starts it.
                std::size_t at = i;
                for (const KCell& k : *cells) {
                    add(OpKind::Push, at).cell = k;
                    // Skip this cell's lines: loads and cellBytes pushes.
                    int pushes = 0;
                    while (at < runEnd && pushes < cellBytes) {
                        if (isPush(lines[at]))
                            ++pushes;
                        ++at;
                    }
                }
                i = runEnd;
                continue;
            }
        }
        if (line.empty() || line[0] == ';' || line == "\t\t\t\t; DEFAULT") {
            add(OpKind::Comment, i, {}, line);
            ++i;
            continue;
        }
        // CASE: the selector into Ftmp2 (and Ftmp2H in 16-bit cells).
        if (line == "\tld\tFtmp2,Y+\t; CASE" && (cellBytes == 1 || next == "\tld\tFtmp2H,Y+")) {
            add(OpKind::Case, i);
            i += std::size_t(cellBytes);
            continue;
        }
        // A case constant and OF: "ldi Ftmp1,K" ("ldi Ftmp1H,K"), "cp Ftmp1,Ftmp2 ; OF" ("cpc"), "brne _Ln".
        if (const auto k = ofAt(lines, i, cellBytes)) {
            add(OpKind::Of, i, k->second).cell = k->first;
            i += std::size_t(3 + 2 * (cellBytes - 1));
            continue;
        }
        if (line == "\tret") {
            add(OpKind::Exit, i);
            ++i;
            continue;
        }
        if (const auto label = labelOf(line)) {
            add(OpKind::Label, i, *label, line);
            ++i;
            continue;
        }
        // IF, UNTIL, WHILE: "call _TestIfZero \t; KEYWORD" then "breq _Ln".
        if (!ownTest && isFlagTest(line))
            if (const auto target = branchTo(next, "breq", "")) {
                add(OpKind::Branch0, i, *target);
                i += 2;
                continue;
            }
        if (const auto name = operandOf(line, CallMnemonics)) {
            std::string_view keyword;
            if (SameIgnoringCase(*name, "DO") && labelOf(next, &keyword) && keyword == "DO") {
                add(OpKind::Do, i, *labelOf(next), std::string(next));
                i += 2;
                continue;
            }
            if (SameIgnoringCase(*name, "LOOP"))
                if (const auto target = branchTo(next, "brcc", "LOOP")) {
                    add(OpKind::Loop, i, *target);
                    i += 2;
                    continue;
                }
            if (SameIgnoringCase(*name, "+LOOP"))
                if (const auto target = branchTo(next, "brcc", "+LOOP")) {
                    add(OpKind::PlusLoop, i, *target);
                    i += 2;
                    continue;
                }
            add(OpKind::Call, i, *name, line);
            ++i;
            continue;
        }
        bool jumped = false;
        for (auto k : {"ELSE", "AGAIN", "REPEAT", "ENDOF"})
            if (const auto target = branchTo(line, "rjmp", k)) {
                add(OpKind::Jump, i, *target);
                jumped = true;
                break;
            }
        if (jumped) {
            ++i;
            continue;
        }
        if (const auto name = operandOf(line, JumpMnemonics)) {
            add(OpKind::TailCall, i, *name, line);
            ++i;
            continue;
        }
        add(OpKind::Barrier, i, {}, line);
        ++i;
    }
    return ops;
}

std::optional<Ops> LowerCases(const Ops& ops)
{
    struct Open {
        std::size_t at;       // where the CASE stood in the result
        std::string lastOf;   // the label the last OF so far branches to
    };
    std::vector<Open> open;
    Ops out;
    const auto drop = [](const LineOrigin& origin) {
        Op d;
        d.kind = OpKind::Word;
        d.prim = Prim::Drop;
        d.origin = origin;
        return d;
    };
    for (const Op& op : ops) {
        if (op.kind == OpKind::Case) {
            open.push_back({out.size(), {}});
            continue;
        }
        if (op.kind == OpKind::Of) {
            if (open.empty())
                return std::nullopt;
            out.push_back(op);
            out.push_back(drop(op.origin)); // matched: the selector goes
            open.back().lastOf = op.name;
            continue;
        }
        // A line that uses the selector where the compiler keeps it (an OF
        // the optimiser could not read): the structure stays as written.
        if (!open.empty() && op.kind == OpKind::Barrier && op.text.find("Ftmp2") != std::string::npos)
            return std::nullopt;
        out.push_back(op);
        if (op.kind != OpKind::Label || !op.text.ends_with("; ENDCASE"))
            continue;
        if (open.empty())
            return std::nullopt;
        const Open c = open.back();
        open.pop_back();
        const std::size_t endcase = out.size() - 1;
        if (c.lastOf.empty()) {
            // No OF: the selector goes at once.
            out.insert(out.begin() + std::ptrdiff_t(c.at), drop(out[endcase].origin));
            continue;
        }
        // The last OF failed: the selector goes where its branch lands.
        std::size_t k = endcase;
        while (k > c.at && !(out[k].kind == OpKind::Label && out[k].name == c.lastOf))
            --k;
        if (k == c.at)
            return std::nullopt;
        out.insert(out.begin() + std::ptrdiff_t(k + 1), drop(out[k].origin));
    }
    if (!open.empty())
        return std::nullopt;
    return out;
}

} // namespace mirtolan::opt
