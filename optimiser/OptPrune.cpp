// Dropping what nothing uses any more, once the compile is over: the
// definitions, constants and variables whose every call was written in
// place, and the archive routines nothing calls.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "Archive.h"
#include "Compiler.h"
#include "DefColon.h"
#include "LabelFilter.h"
#include "Optimiser.h"
#include "OptState.h"

namespace mirtolan {

namespace {

// A word whose lines may go: its place in its code list and the labels in it.
struct Droppable {
    std::size_t first = 0, end = 0;    // lines [first, end)
    std::vector<std::string> labels;   // folded: as written and as the label filter spells them
    bool library = false;              // in LibraryCode, else ProgramCode
    bool kept = false;                 // something uses it
    bool read = false;                 // the names in its lines are counted as used
};

// The names a line may refer to: the operand of a call or jump, and every
// run of letters, digits and underscores (a label in an instruction or a
// directive such as INTERRUPT).
void namesIn(std::string_view line, std::unordered_set<std::string>& out)
{
    std::size_t i = 0;
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ')
        ++i;
    std::size_t j = i;
    while (j < line.size() && static_cast<unsigned char>(line[j]) > ' ')
        ++j;
    if (i > 0 && j < line.size()) {
        const std::string mnemonic = FoldCase(line.substr(i, j - i));
        if (mnemonic == "RCALL" || mnemonic == "ZCALL" || mnemonic == "RJMP" || mnemonic == "ZJMP") {
            std::size_t k = j;
            while (k < line.size() && static_cast<unsigned char>(line[k]) <= ' ')
                ++k;
            std::size_t e = k;
            while (e < line.size() && static_cast<unsigned char>(line[e]) > ' ' && line[e] != ';')
                ++e;
            out.insert(FoldCase(line.substr(k, e - k)));
        }
    }
    // A comment names nothing.
    opt::ForEachName(line.substr(0, line.find(';')), [&](std::string_view name) { out.insert(FoldCase(name)); });
}

// A line that is no code: empty, or a comment.
bool isComment(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ')
        ++i;
    return i == line.size() || line[i] == ';';
}

// A line after which execution never goes on to the next.
bool endsPath(std::string_view line)
{
    return line == "\tret" || line.rfind("\trjmp\t", 0) == 0 || line.rfind("\tZjmp\t", 0) == 0;
}

} // namespace

void FinishOptimiser(Compiler& c)
{
    if (!c.Optimiser)
        return;
    OptimiserState& st = *c.Optimiser;
    if (c.OptimiseSkip & OptDead)
        return;

    // The words of the program and the routines of the library.
    std::vector<Droppable> words;
    Compiler filter; // the label filter's working line
    const auto labelsOf = [&](const CodeList& list, std::size_t first, std::size_t end) {
        std::vector<std::string> labels;
        for (std::size_t i = first; i < end; ++i) {
            const std::string line = list[i];
            if (!opt::IsLabelLine(line))
                continue;
            const std::string name = line.substr(0, line.size() - 1);
            labels.push_back(FoldCase(name));
            labels.push_back(FoldCase(SpelledLabel(filter, name)));
        }
        return labels;
    };
    // A unit runs from its label to its end; a variable found later in the
    // scan of the top level may follow the last definition.
    std::vector<ProgramUnit> units = st.units;
    for (std::size_t i = st.scanned; i < c.ProgramCode.size(); ++i) {
        const std::string line = c.ProgramCode[i];
        if (!opt::IsLabelLine(line))
            continue;
        if (const auto word = opt::PushWordAt(c, i, c.ProgramCode.size())) {
            units.push_back({i, word->end, line.substr(0, line.size() - 1)});
            i = word->end - 1;
        }
    }
    std::sort(units.begin(), units.end(), [](const ProgramUnit& a, const ProgramUnit& b) { return a.first < b.first; });
    for (const ProgramUnit& u : units) {
        Droppable d;
        d.first = u.first;
        d.end = u.end;
        d.labels = labelsOf(c.ProgramCode, u.first, u.end);
        // Only a word that nothing runs into may go, and never a name defined twice.
        // (The program's first line follows the library, whose routines end in ret.)
        std::size_t before = u.first;
        while (before > 0 && isComment(c.ProgramCode[before - 1]))
            --before;
        const bool entered = before > 0 && !endsPath(c.ProgramCode[before - 1]);
        const bool keptByName = !c.OptimiseKeep.empty() && u.name.size() >= c.OptimiseKeep.size() &&
                                SameIgnoringCase(std::string_view(u.name).substr(0, c.OptimiseKeep.size()), c.OptimiseKeep);
        d.kept = entered || keptByName || st.doubled.count(FoldCase(u.name)) || SameIgnoringCase(u.name, "main");
        words.push_back(std::move(d));
    }
    const Archive& archive = ActiveArchive(c);
    for (std::size_t i = 0; i < c.LibraryCode.size();) {
        const std::string line = c.LibraryCode[i];
        const std::string name = opt::IsLabelLine(line) ? line.substr(0, line.size() - 1) : std::string();
        const std::int64_t position = name.empty() ? -1 : FindArchiveWord(c, name);
        const auto end = archive.bodyEnd.find(position);
        if (position < 0 || end == archive.bodyEnd.end() || end->second < position) {
            ++i; // not the start of a routine as the archive has it: keep
            continue;
        }
        Droppable d;
        d.first = i;
        d.end = i + std::size_t(end->second - position) + 1; // label, body, ret
        d.end = std::min(d.end, c.LibraryCode.size());
        d.labels = labelsOf(c.LibraryCode, d.first, d.end);
        d.library = true;
        // A routine named like a word of the program stays, so the assembler still tells the clash.
        d.kept = IsProgramWord(c, name);
        const std::size_t next = d.end;
        words.push_back(std::move(d));
        i = next;
    }

    // What the kept lines name, until nothing more is kept.
    std::vector<char> inWord(c.ProgramCode.size(), 0), inRoutine(c.LibraryCode.size(), 0);
    for (const Droppable& d : words)
        for (std::size_t i = d.first; i < d.end; ++i)
            (d.library ? inRoutine : inWord)[i] = 1;
    // Each name once: the words it keeps are read in turn for theirs.
    std::unordered_map<std::string, std::vector<std::size_t>> byLabel;
    for (std::size_t k = 0; k < words.size(); ++k)
        for (const std::string& l : words[k].labels)
            byLabel[l].push_back(k);
    std::unordered_set<std::string> named;
    std::vector<std::size_t> toRead;
    const auto keep = [&](std::size_t k) {
        if (!words[k].read) {
            words[k].kept = words[k].read = true;
            toRead.push_back(k);
        }
    };
    const auto name = [&](std::string_view line) {
        std::unordered_set<std::string> found;
        namesIn(line, found);
        for (const std::string& n : found)
            if (named.insert(n).second)
                if (const auto it = byLabel.find(n); it != byLabel.end())
                    for (std::size_t k : it->second)
                        keep(k);
    };
    for (std::size_t i = 0; i < c.ProgramCode.size(); ++i)
        if (!inWord[i])
            name(c.ProgramCode[i]);
    for (std::size_t i = 0; i < c.LibraryCode.size(); ++i)
        if (!inRoutine[i])
            name(c.LibraryCode[i]);
    for (std::size_t k = 0; k < words.size(); ++k)
        if (words[k].kept)
            keep(k);
    while (!toRead.empty()) {
        const Droppable& d = words[toRead.back()];
        toRead.pop_back();
        const CodeList& list = d.library ? c.LibraryCode : c.ProgramCode;
        for (std::size_t i = d.first; i < d.end; ++i)
            name(list[i]);
    }

    // The lists again without the dropped lines, each kept line with its origin.
    const auto rebuild = [&](CodeList& list, LineMap* map, bool library) {
        std::vector<char> drop(list.size(), 0);
        bool any = false;
        for (const Droppable& d : words)
            if (!d.kept && d.library == library) {
                for (std::size_t i = d.first; i < d.end; ++i)
                    drop[i] = 1;
                any = true;
            }
        if (!any)
            return;
        CodeList kept;
        LineMap keptMap;
        if (map)
            kept.mapTo(&keptMap);
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (drop[i])
                continue;
            if (map)
                keptMap.current = map->at(i);
            kept.push_back(list[i]);
        }
        if (map) {
            keptMap.current = map->current;
            *map = keptMap;
        }
        list = std::move(kept);
        list.mapTo(map);
    };
    rebuild(c.ProgramCode, c.Map ? &c.Map->program : nullptr, false);
    rebuild(c.LibraryCode, c.Map ? &c.Map->library : nullptr, true);
}

} // namespace mirtolan
