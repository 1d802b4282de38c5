// Where each line of a listing came from: the run-time header, the banner,
// an archive routine, or a word of the source, with the definition it
// belongs to. The compiler keeps it beside the code lists (never inside the
// listing) when asked to, so that the assembler's messages about listing
// lines can be told at the Forth line and word that made them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mirtolan {

enum class OriginKind : std::uint8_t {
    Header,      // the four lines that include the run-time header
    Banner,      // the banner before the library
    Archive,     // the body of a routine copied from the archive
    Word,        // compiled from a word of the source (inside or outside a definition)
    PassThrough, // a source line beginning with "$", copied through
};

struct LineOrigin {
    static constexpr std::uint32_t NoLine = UINT32_MAX;

    OriginKind kind = OriginKind::Header; // what made the line
    std::uint32_t line = NoLine;   // 0-based source line of the word (of the first use, for archive lines)
    std::uint32_t column = 0;      // 1-based column of the word in that line; 0 for a whole line
    std::uint32_t length = 0;      // the word's length
    std::uint32_t definition = 0;  // 1 + index in LineMaps::names of the definition being compiled; 0 at top level
    std::uint32_t entry = 0;       // 1 + index in LineMaps::names of the archive routine; 0 for other lines
    // 1 + index in LineMaps::stacks: where optimised code keeps the stacks'
    // top cells when it begins this word's code; 0 when they are all in memory.
    std::uint32_t stack = 0;

    friend bool operator==(const LineOrigin&, const LineOrigin&) = default;
};

// The origins of the lines of one code list, kept as runs: consecutive lines
// made by one word share one entry, so the map is small beside the code.
class LineMap {
public:
    LineOrigin current; // the origin of the lines appended from now on

    // Line `index` of the list was just appended.
    void note(std::size_t index)
    {
        if (runs_.empty() || !(runs_.back().origin == current))
            runs_.push_back({index, current});
    }
    LineOrigin at(std::size_t index) const;
    // Forgets the lines from `lines` on, which the list has taken back.
    void truncate(std::size_t lines);
    void clear()
    {
        runs_.clear();
        current = {};
    }

private:
    struct Run {
        std::size_t first;  // the first line of the run
        LineOrigin origin;  // the origin of it and of the lines up to the next run
    };
    std::vector<Run> runs_; // in line order
};

// A VARIABLE as the compile allotted it.
struct VariableRecord {
    std::uint32_t name;     // 1 + index in LineMaps::names
    std::int64_t address;   // data-memory address
    std::int64_t size;      // 1, plus the counts of the ALLOTs behind it
    std::uint32_t line;     // 0-based source line of its name
};

// A colon definition, CONSTANT or VARIABLE of the source.
struct DefinitionRecord {
    std::uint32_t name;     // 1 + index in LineMaps::names
    std::uint32_t line;     // 0-based source line of its name
    std::uint32_t column;   // 1-based column of its name
};

// What a message of the compile is about. The message list keeps its
// classic texts; the build reads these records instead of the texts.
enum class MessageKind : std::uint8_t {
    NotDefined,    // "Not defined WORD"
    CaseParameter, // "WORD as Case Parameter"
    ConstExpected, // "Const.Value expected: WORD"
    Unmatched,     // a closing word with nothing to close
    Unclosed,      // a definition ends with a structure open
    EndCase,       // a definition ends inside a CASE
    Syntax,        // DEFAULT where no case constant is expected
    Other,         // any other text
};

// One message of the compile, in the order of the message list.
struct MessageRecord {
    MessageKind kind = MessageKind::Other; // what it is about
    std::string word;              // the word it names, exactly as read
    std::uint32_t line = 0;        // 0-based source line of that word
    std::uint32_t column = 0;      // its 1-based column; 0 when not known
    std::uint32_t definition = 0;  // 1 + index in LineMaps::names of the open definition; 0 at top level
};

// Something the compile noticed that the classic message list does not say.
enum class FactKind : std::uint8_t {
    OpenStructure,  // a structure still open where its definition ends
    WrongCloser,    // a closing word met a structure of another kind
    WideLiteral,    // a number that does not fit where it goes
    CaseWithoutOf,  // a case constant that no OF compares
    UnclosedText,   // a text without its closing quote
};

struct CompileFact {
    FactKind kind = FactKind::OpenStructure; // what was noticed
    std::string word;              // the word concerned (the opener, the closer, the number)
    std::uint32_t line = 0;        // 0-based source line of that word
    std::uint32_t column = 0;      // its 1-based column
    std::string other;             // a second word: the opener a closer met, the closer an opener waits for
    std::uint32_t otherLine = 0;   // 0-based line of the second word
    std::int64_t value = 0;        // the number of a WideLiteral
    int bits = 0;                  // the bits a WideLiteral had to fit
    std::uint32_t definition = 0;  // 1 + index in LineMaps::names of the definition; 0 at top level
};

// The maps of one compile's two code lists and what they refer to.
struct LineMaps {
    LineMap program;        // ProgramCode's lines
    LineMap library;        // LibraryCode's lines
    std::vector<std::string> names; // names of definitions and archive routines, as written
    std::vector<DefinitionRecord> definitions; // in source order
    std::vector<VariableRecord> variables;     // in source order
    std::vector<std::string> stacks; // the optimiser's notes of where the stacks' cells are (see StackNote)
    std::vector<MessageRecord> messages;       // one for each message the source raised, in order
    std::vector<CompileFact> facts;            // in the order noticed
    std::size_t headerLines = 0;  // listing lines before the banner
    std::size_t libraryLines = 0; // lines of the library section, known once the compile is finished

    // The index (from 1) of `name` in names, added when new.
    std::uint32_t intern(std::string_view name);
    std::string_view name(std::uint32_t index) const { return index ? std::string_view(names[index - 1]) : ""; }
    // The origin of line `index` (from 0) of the finished listing.
    LineOrigin listingLine(std::size_t index) const;
    void clear();

private:
    std::unordered_map<std::string, std::uint32_t> nameIndex_; // names -> their index
};

// Lines of the banner that stands between the header and the library.
constexpr std::size_t BannerLineCount = 3;

} // namespace mirtolan
