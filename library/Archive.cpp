#include "Archive.h"

#include "Compiler.h"
#include "DefColon.h"
#include "TextFile.h"

namespace mirtolan {

// An entry begins with this header prefix, followed by the word's name.
constexpr std::string_view HeaderPrefix = "$$ ";

// Any line that begins with this character ends an entry's body.
static bool endsBody(const std::string& line) { return !line.empty() && line[0] == '$'; }

void Archive::clear()
{
    ArchiveList.clear();
    headerIndex.clear();
    bodyEnd.clear();
    fileName.clear();
}

void Archive::assign(std::vector<std::string> lines, std::string from)
{
    clear();
    ArchiveList = std::move(lines);
    fileName = std::move(from);
    std::int64_t openHeader = -1;
    for (std::size_t i = 0; i < ArchiveList.size(); ++i) {
        const std::string& line = ArchiveList[i];
        if (!endsBody(line))
            continue;
        if (openHeader >= 0)
            bodyEnd[openHeader] = std::int64_t(i);
        openHeader = -1;
        if (line.compare(0, HeaderPrefix.size(), HeaderPrefix) == 0) {
            openHeader = std::int64_t(i);
            headerIndex.emplace(FoldCase(line), openHeader); // the first header of a name wins
        }
    }
    if (openHeader >= 0)
        bodyEnd[openHeader] = -1;
}

void ReadArchFile(Compiler& c, const std::string& path)
{
    c.archive.clear();
    c.archive.assign(ReadLines(path), path);
}

void ReadArchFiles(Compiler& c, const std::vector<std::string>& paths) { ReadArchFiles(c.archive, paths); }

void ReadArchFiles(Archive& archive, const std::vector<std::string>& paths)
{
    archive.clear();
    std::vector<std::string> lines;
    std::string names;
    for (const auto& path : paths) {
        auto more = ReadLines(path);
        lines.insert(lines.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        names += (names.empty() ? "" : " and ") + path;
    }
    archive.assign(std::move(lines), names);
}

const Archive& ActiveArchive(const Compiler& c) { return c.CellBits == WideCellBits ? c.archive16 : c.archive; }

std::int64_t FindArchiveWord(const Compiler& c, const std::string& name)
{
    const Archive& a = ActiveArchive(c);
    const auto it = a.headerIndex.find(FoldCase(std::string(HeaderPrefix) + name));
    return it == a.headerIndex.end() ? -1 : it->second;
}

void MissingArchiveWord(const Compiler& c, const std::string& name)
{
    const Archive& a = ActiveArchive(c);
    if (a.ArchiveList.empty())
        throw CompileError("No archive is loaded, so the run-time routine " + name + " is missing" +
                           (a.fileName.empty() ? "" : " (" + a.fileName + ")"));
    throw CompileError("The archive " + a.fileName + " has no routine " + name);
}

// Copies the entry at `position` and returns the name its header carries.
static std::string copyEntry(Compiler& c, std::int64_t position, const std::string& wanted)
{
    const Archive& a = ActiveArchive(c);
    const auto end = a.bodyEnd.find(position);
    if (position < 0 || end == a.bodyEnd.end())
        MissingArchiveWord(c, wanted);
    const std::string name = a.ArchiveList[std::size_t(position)].substr(HeaderPrefix.size());
    if (end->second < 0)
        throw CompileError("The archive entry " + name + " in " + a.fileName +
                           " runs to the end of the file without a closing line beginning with \"$\"");
    if (c.Map) {
        // The routine's lines are told at the word that first used it.
        LineOrigin& o = c.Map->library.current;
        o = c.Map->program.current;
        o.kind = OriginKind::Archive;
        o.entry = c.Map->intern(name);
    }
    c.LibraryCode.push_back(name + ":");
    for (auto i = position + 1; i < end->second; ++i)
        c.LibraryCode.push_back(a.ArchiveList[std::size_t(i)]);
    c.LibraryCode.push_back("\tret");
    return name;
}

void CopyArchiveWord(Compiler& c, std::int64_t position) { copyEntry(c, position, "at position " + std::to_string(position)); }

void CopyArchiveWordAndCall(Compiler& c, std::int64_t position)
{
    const std::string name = copyEntry(c, position, "at position " + std::to_string(position));
    CompileCall(c, name);
}

bool IsLibraryWord(const Compiler& c, const std::string& name) { return c.LibraryCode.containsLabel(name + ":"); }

// The routine that IF, UNTIL and WHILE call to test a flag.
constexpr const char* TestIfZero = "_TestIfZero";

void AddTestIfZero(Compiler& c)
{
    // A source that called it by name already has it; a second label would
    // not assemble.
    if (IsLibraryWord(c, TestIfZero))
        return;
    // Used by no single word: every IF, UNTIL and WHILE calls it.
    if (c.Map)
        c.Map->program.current = {OriginKind::Archive};
    copyEntry(c, FindArchiveWord(c, TestIfZero), TestIfZero);
}

} // namespace mirtolan
