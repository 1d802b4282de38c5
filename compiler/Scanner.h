// The source scanner: the current line, a read position in it, and the
// routines that hand out blank-delimited words. Looking never moves the
// position; every caller advances `LinePos` by what it was given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mirtolan {

struct Compiler;

// A word is kept to this many characters; a longer run of non-blanks is read
// as several words, as the language has always done.
inline constexpr std::size_t MaxWordLength = 80;

// Characters of code 0 to 32 separate words; everything above belongs to one.
inline bool IsBlank(char ch) { return static_cast<unsigned char>(ch) <= 32; }

std::int64_t skipspace(const Compiler& c);
std::string RetrieveWord(const Compiler& c);
void NewLine(Compiler& c);
void Qnewline(Compiler& c);
std::string NextWord(Compiler& c);
void Scomment(Compiler& c);
void ColonComment(Compiler& c);
void ColonPassThrough(Compiler& c);
void SkipParenComment(Compiler& c);

// Source line `i`, or the empty line at and past the end of the source.
std::string_view SourceLine(const Compiler& c, std::int64_t i);
// True when the source has line `i`.
bool SourceHas(const Compiler& c, std::int64_t i);

// The rest of LineBuf from LinePos on (empty when LinePos lies past the end).
std::string RestOfLine(const Compiler& c);

// The next word on the current line, left unread.
std::string PeekWord(const Compiler& c);
// Gives `word`, just read, back to the scanner, which reads it again.
void GiveBack(Compiler& c, std::string_view word);
// The 1-based column of `word`, just read (it ends where the scanner
// stands); 0 when that would lie before the line.
std::uint32_t WordColumn(const Compiler& c, std::string_view word);

} // namespace mirtolan
