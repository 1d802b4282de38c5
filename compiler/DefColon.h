// The code generator: colon definitions, the number syntax and the data
// words, and the control structures. Every routine appends finished
// assembler lines to ProgramCode at once; there is no syntax tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirtolan {

struct Compiler;
struct LineOrigin;

// --- Colon definitions ---
void CompileColon(Compiler& c);
// One word of a definition's body, by the dispatch's order.
void CompileBodyWord(Compiler& c, std::string& word);
void CompileCall(Compiler& c, const std::string& name);
std::string_view CallMnemonic(const Compiler& c);
void CompileLiteral(Compiler& c, std::int32_t value);
// Pushes the cell `value`, written in decimal or (`decimal` false) in hexadecimal.
void PushCell(Compiler& c, std::int32_t value, bool decimal);
void CompileRet(Compiler& c);
void EndColon(Compiler& c);
bool IsProgramWord(const Compiler& c, const std::string& name);

// --- Facts for the build, noted only when the compile keeps a line map ---
// `value` must fit in `bits` (signed or unsigned); otherwise the build is
// told that `word` (at `line` and `column`) does not fit, with
// `role` naming what it is ("" a literal, "constant", "double", "text",
// "C,", ",", "value").
void CheckFits(Compiler& c, std::int64_t value, int bits, const std::string& word, std::uint32_t line,
               std::uint32_t column, const char* role);
// The word being compiled and its column, from the line map.
std::string CurrentWord(const Compiler& c, std::uint32_t& column);
// The word of the source that `origin` names; empty for a whole line.
std::string SourceWord(const Compiler& c, const LineOrigin& origin);

// Steps the next free data address on by `bytes`, wrapping as the target's
// 32-bit arithmetic does (a variable start near the top must not overflow).
void AdvanceVarNext(Compiler& c, std::uint32_t bytes);
// `address` plus `bytes` with the same wrapping: the bytes of a cell or of
// initialised data that starts near the top of the addresses.
std::int32_t AddressPlus(std::int32_t address, std::int64_t bytes);
// --- Numbers and data ---
// The number syntax alone: decimal with an optional sign, or "$", "x", "X",
// "0x", "0X" and hexadecimal digits. In HEX mode (`decimal` false) the text
// is read as if prefixed with "$". Empty when the text is no number.
std::optional<std::int32_t> ParseNumber(std::string_view text, bool decimal);
// Decimal digits with an optional sign, from `lowest` to `highest`; empty
// when the text is no such number.
std::optional<std::int64_t> ParseDecimal(std::string_view text, std::int64_t highest, std::int64_t lowest);
std::int32_t ConvertNumber(Compiler& c, const std::string& word);
std::int32_t EvalNumber(Compiler& c, const std::string& word);
// Reads the name after a defining word and writes its label line.
std::string DefineName(Compiler& c);
// The body of a word that pushes `address` (two bytes, high first), and its ret.
void CompileAddressPush(Compiler& c, std::int32_t address);
// The body of a word that pushes the cell `value`, and its ret.
void CompileConstantValue(Compiler& c, std::int32_t value);
// The data space grows by `count` bytes (wrapping like the target's
// arithmetic), which belong to the variable or table defined last.
void GrowData(Compiler& c, std::int32_t count);
// Notes `size` bytes of RAM at `address`, named by the definition being
// made, for the run report.
void NoteVariable(Compiler& c, std::int32_t address, std::int64_t size);
void DefVariable(Compiler& c);
void DefConstant(Compiler& c);
void DefAllot(Compiler& c);

// The value of a character literal: the code of the character after the
// apostrophe, 0 for the apostrophe alone.
std::int32_t CharLiteral(const std::string& word);

// --- Control structures ---
void CompileIf(Compiler& c);
void CompileElse(Compiler& c);
void CompileThen(Compiler& c);
void CompileBegin(Compiler& c);
void CompileUntil(Compiler& c);
void CompileAgain(Compiler& c);
void CompileWhile(Compiler& c);
void CompileRepeat(Compiler& c);
void CompileDo(Compiler& c);
void CompileLoop(Compiler& c);
void CompilePlusLoop(Compiler& c);
void CompileLoopEnd(Compiler& c, const std::string& name);
void CompileCase(Compiler& c);
void CompileOf(Compiler& c);
void CompileEndOf(Compiler& c);
void CompileEndCase(Compiler& c);
void CompileDefault(Compiler& c);
void UseRuntimeWord(Compiler& c, const std::string& name);

// ?DO: like DO, but a loop whose limit equals its start is skipped.
void CompileQDo(Compiler& c);
// LEAVE: leaves the innermost DO loop; false when no DO is open.
bool CompileLeave(Compiler& c);
// Notes, for the build, that a case constant may be left without its OF.
void SettleCaseConstant(Compiler& c);
// Notes, for the build, each structure still open where a definition ends.
void NoteOpenStructures(Compiler& c);
// A default clause without DEFAULT, as the standard writes it: after ENDOF
// (or CASE) a word that is no case constant begins it, with the selector
// on the stack again (and a number just before it), and ENDCASE drops the
// selector. False where no CASE waits for a clause.
bool BeginDefaultClause(Compiler& c);

// The control keyword's operation, or null when `upper` (an upper-cased word)
// is none of the sixteen.
using ControlOp = void (*)(Compiler&);
// The operation of a control word, matched in any letter case; null for other words.
ControlOp FindControlWord(std::string_view word);

} // namespace mirtolan
