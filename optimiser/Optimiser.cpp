// The optimiser's passes over a definition: read its lines, put inlined
// words in place of their calls, write the code, make every branch reach,
// and put the new lines where the old ones stood, each with its origin.
#include "Optimiser.h"

#include <algorithm>
#include <map>

#include "Archive.h"
#include "Compiler.h"
#include "DefColon.h"
#include "OptGen.h"
#include "OptState.h"

namespace mirtolan {

using namespace opt;

namespace {

// Operations a colon definition may have to be written in place of its
// calls; longer ones are called.
constexpr std::size_t InlineLimit = 24;

OptimiserState& state(Compiler& c)
{
    if (!c.Optimiser)
        c.Optimiser = std::make_shared<OptimiserState>();
    return *c.Optimiser;
}

void noteDefined(OptimiserState& st, const std::string& folded)
{
    if (!st.defined.insert(folded).second)
        st.doubled.insert(folded);
}

// Constants and variables between the definitions.
void scanTopLevel(Compiler& c, OptimiserState& st, std::size_t upTo)
{
    for (std::size_t i = st.scanned; i < upTo; ++i) {
        const std::string line = c.ProgramCode[i];
        if (!IsLabelLine(line))
            continue;
        const std::string name = line.substr(0, line.size() - 1);
        const std::string folded = FoldCase(name);
        noteDefined(st, folded);
        if (const auto word = PushWordAt(c, i, upTo)) {
            if (!word->cells.empty()) {
                st.pushers[folded] = word->cells;
                st.units.push_back({i, word->end, name});
            }
            i = word->end - 1; // its lines are pushes, no labels
        }
    }
    st.scanned = std::max(st.scanned, upTo);
}

// The pushes an archive routine is made of (a register word such as &PORTB), if it is.
std::optional<std::vector<KCell>> archivePushes(const Compiler& c, OptimiserState& st, const std::string& name)
{
    const std::string folded = FoldCase(name);
    if (const auto it = st.archivePushers.find(folded); it != st.archivePushers.end())
        return it->second;
    std::optional<std::vector<KCell>> cells;
    const std::int64_t position = FindArchiveWord(c, name);
    const Archive& a = ActiveArchive(c);
    if (const auto end = a.bodyEnd.find(position); position >= 0 && end != a.bodyEnd.end() && end->second > position) {
        cells = ParsePushes(a.ArchiveList, std::size_t(position + 1), std::size_t(end->second), c.CellBits / 8, true);
        if (cells && cells->empty())
            cells.reset();
    }
    st.archivePushers[folded] = cells;
    return cells;
}

std::optional<std::pair<int, int>> transparentEffect(const Compiler& c, OptimiserState& st, const std::string& name)
{
    const std::string folded = FoldCase(name);
    if (const auto it = st.transparent.find(folded); it != st.transparent.end())
        return it->second;
    std::optional<std::pair<int, int>> effect;
    const std::int64_t position = FindArchiveWord(c, name);
    const Archive& a = ActiveArchive(c);
    if (const auto end = a.bodyEnd.find(position); position >= 0 && end != a.bodyEnd.end())
        effect = TransparentEffect(a.ArchiveList, position, end->second, c.CellBits / 8);
    st.transparent[folded] = effect;
    return effect;
}

Op pushOp(const KCell& k, const LineOrigin& origin)
{
    Op op;
    op.kind = OpKind::Push;
    op.cell = k;
    op.origin = origin;
    return op;
}

// A tail jump's line as the call it stands for.
std::string asCall(const std::string& text)
{
    for (const auto& [jump, call] : {std::pair{"\trjmp\t", "\trcall\t"}, std::pair{"\tZjmp\t", "\tZcall\t"}})
        if (text.rfind(jump, 0) == 0)
            return call + text.substr(std::string_view(jump).size());
    return text;
}

void expandCall(Compiler& c, OptimiserState& st, const Op& original, Ops& out, const std::string& self)
{
    Op call = original;
    call.kind = OpKind::Call;
    call.text = asCall(original.text);
    const bool inlining = !(c.OptimiseSkip & OptInline);
    if (!inlining) {
        out.push_back(std::move(call));
        return;
    }
    const std::string folded = FoldCase(original.name);
    if (IsProgramWord(c, original.name)) {
        if (folded == self || st.doubled.count(folded)) {
            out.push_back(std::move(call));
        } else if (const auto p = st.pushers.find(folded); p != st.pushers.end()) {
            for (const KCell& k : p->second)
                out.push_back(pushOp(k, original.origin));
        } else if (const auto w = st.inlinable.find(folded);
                   w != st.inlinable.end() && !(c.OptimiseSkip & OptWords)) {
            // A copy with labels of its own. Its lines stay at the words of
            // the definition they came from (a breakpoint there still stops,
            // a fault is told at its line), as code of the caller's.
            std::map<std::string, std::string> renamed;
            const auto rename = [&](const std::string& label) {
                auto [it, added] = renamed.try_emplace(label);
                if (added)
                    it->second = NewLabel(c);
                return it->second;
            };
            for (Op op : w->second) {
                if (op.origin.kind == OriginKind::Word)
                    op.origin.definition = original.origin.definition;
                else
                    op.origin = original.origin;
                switch (op.kind) {
                case OpKind::Label:
                case OpKind::Do: {
                    const std::string fresh = rename(op.name);
                    op.text = fresh + op.text.substr(op.name.size());
                    op.name = fresh;
                    break;
                }
                case OpKind::Branch0:
                case OpKind::Of:
                case OpKind::Jump:
                case OpKind::Loop:
                case OpKind::PlusLoop:
                    op.name = rename(op.name);
                    break;
                default:
                    break;
                }
                out.push_back(std::move(op));
            }
        } else {
            out.push_back(std::move(call));
        }
        return;
    }
    if (const auto prim = FindPrim(original.name, c.CellBits / 8)) {
        Op op;
        op.kind = OpKind::Word;
        op.prim = *prim;
        op.origin = original.origin;
        out.push_back(std::move(op));
    } else if (const auto cells = archivePushes(c, st, original.name)) {
        for (const KCell& k : *cells)
            out.push_back(pushOp(k, original.origin));
    } else {
        if (const auto effect = transparentEffect(c, st, original.name)) {
            call.takes = effect->first;
            call.leaves = effect->second;
        }
        out.push_back(std::move(call));
    }
}

// Notes a definition's operations for the calls that follow it.
void record(OptimiserState& st, const std::string& folded, const Ops& ops)
{
    if (ops.empty() || ops.back().kind != OpKind::Exit || st.doubled.count(folded))
        return;
    Ops body;
    bool pushesOnly = true;
    for (std::size_t i = 0; i + 1 < ops.size(); ++i) {
        const Op& op = ops[i];
        switch (op.kind) {
        case OpKind::Comment:
            continue;
        case OpKind::Exit:
        case OpKind::TailCall:
        case OpKind::Barrier:
            return;
        case OpKind::Push:
            break;
        default:
            pushesOnly = false;
            break;
        }
        body.push_back(op);
    }
    if (pushesOnly && !body.empty() && body.size() <= InlineLimit) {
        std::vector<KCell> cells;
        for (const Op& op : body)
            cells.push_back(op.cell);
        st.pushers[folded] = std::move(cells);
        return;
    }
    if (body.size() <= InlineLimit && !body.empty())
        st.inlinable[folded] = std::move(body);
}

const std::map<std::string, std::string> InverseBranch = {
    {"breq", "brne"}, {"brne", "breq"}, {"brlo", "brsh"}, {"brsh", "brlo"}, {"brcs", "brcc"},
    {"brcc", "brcs"}, {"brlt", "brge"}, {"brge", "brlt"}, {"brmi", "brpl"}, {"brpl", "brmi"},
    {"brvs", "brvc"}, {"brvc", "brvs"}, {"brts", "brtc"}, {"brtc", "brts"},
};
// Words a conditional branch reaches forward and back.
constexpr long BranchForward = 63, BranchBack = 64;

// A conditional branch that cannot reach its label becomes the opposite
// branch over a jump.
void relax(Compiler& c, std::vector<AsmLine>& lines)
{
    // Each pass makes every branch that cannot reach long; a long one only
    // moves others further apart, so the passes end.
    for (bool changed = true; changed;) {
        changed = false;
        std::vector<long> address(lines.size() + 1, 0);
        std::vector<int> unknown(lines.size() + 1, 0); // lines of unknown size before each line
        std::map<std::string, std::size_t> labelAt;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            address[i + 1] = address[i] + std::max(lines[i].words, 0);
            unknown[i + 1] = unknown[i] + (lines[i].words < 0);
            if (lines[i].kind == AsmLine::Label)
                labelAt[lines[i].target] = i;
        }
        std::vector<AsmLine> relaxed;
        relaxed.reserve(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            relaxed.push_back(lines[i]);
            if (lines[i].kind != AsmLine::Branch && lines[i].kind != AsmLine::Jump)
                continue;
            // A label the definition lacks (an IF without THEN): its own lines are as good.
            const auto t = labelAt.find(lines[i].target);
            if (t == labelAt.end())
                throw GiveUp{"a branch to a label the definition lacks"};
            if (lines[i].kind == AsmLine::Jump)
                continue;
            const long distance = long(address[t->second]) - long(address[i] + 1);
            const std::size_t lo = std::min(t->second, i), hi = std::max(t->second, i);
            if (distance <= BranchForward && distance >= -BranchBack && unknown[hi] == unknown[lo])
                continue;
            const auto inverse = InverseBranch.find(lines[i].text);
            if (inverse == InverseBranch.end())
                throw GiveUp{"relax"};
            const std::string skip = NewLabel(c);
            AsmLine& branch = relaxed.back();
            AsmLine jump = branch;
            jump.kind = AsmLine::Jump;
            jump.text = "rjmp";
            AsmLine label = branch;
            label.kind = AsmLine::Label;
            label.text = skip + ":";
            label.target = skip;
            label.words = 0;
            branch.text = inverse->second;
            branch.target = skip;
            relaxed.push_back(std::move(jump));
            relaxed.push_back(std::move(label));
            changed = true;
        }
        lines = std::move(relaxed);
    }
}

std::string render(const AsmLine& l)
{
    switch (l.kind) {
    case AsmLine::Branch:
        return "\t" + l.text + "\t" + l.target;
    case AsmLine::Jump:
        return "\trjmp\t" + l.target;
    default:
        return l.text;
    }
}

} // namespace

namespace opt {

Ops Expand(Compiler& c, const Ops& body, const std::string& self)
{
    OptimiserState& st = state(c);
    Ops out;
    for (const Op& op : body) {
        if (op.kind == OpKind::Call || op.kind == OpKind::TailCall) {
            expandCall(c, st, op, out, self);
            if (op.kind == OpKind::TailCall) {
                Op exit;
                exit.kind = OpKind::Exit;
                exit.origin = op.origin;
                out.push_back(std::move(exit));
            }
        } else {
            out.push_back(op);
        }
    }
    return out;
}

std::optional<std::vector<AsmLine>> Generate(Compiler& c, const Ops& ops)
{
    try {
        Gen g(c, ops);
        std::vector<AsmLine> lines = g.run();
        relax(c, lines);
        return lines;
    } catch (const GiveUp& e) {
        state(c).lastGiveUp = e.why;
        return std::nullopt;
    }
}

} // namespace opt

std::optional<unsigned> ParseOptSteps(std::string_view list)
{
    unsigned bits = 0;
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view name = list.substr(0, comma);
        bool found = false;
        for (const auto& s : OptStepNames)
            if (s.name == name) {
                bits |= s.step;
                found = true;
            }
        if (!found)
            return std::nullopt;
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return bits;
}

void StartOptimiser(Compiler& c) { c.Optimiser = std::make_shared<OptimiserState>(); }

void OptimiseDefinition(Compiler& c, std::size_t labelLine)
{
    OptimiserState& st = state(c);
    scanTopLevel(c, st, labelLine);
    const std::string label = c.ProgramCode[labelLine];
    const std::string name = label.substr(0, label.size() - 1);
    const std::string folded = FoldCase(name);
    noteDefined(st, folded);
    const std::size_t end = c.ProgramCode.size();
    if (name.empty()) {
        st.scanned = end;
        return;
    }
    const auto body = LowerCases(ParseBody(c, labelLine + 1, end));
    const Ops ops = body ? Expand(c, *body, folded) : Ops{};
    if (const auto code = body ? Generate(c, ops) : std::nullopt) {
        const LineOrigin saved = c.Map ? c.Map->program.current : LineOrigin{};
        c.ProgramCode.truncate(labelLine + 1);
        for (const AsmLine& l : *code) {
            if (c.Map)
                c.Map->program.current = l.origin;
            c.ProgramCode.push_back(render(l));
        }
        if (c.Map)
            c.Map->program.current = saved;
        record(st, folded, ops);
    } else {
        st.keptAsWritten.emplace_back(name, body ? st.lastGiveUp : "CASE and OF do not match");
    }
    st.units.push_back({labelLine, c.ProgramCode.size(), name});
    st.scanned = c.ProgramCode.size();
}

} // namespace mirtolan
