// Colon definitions: the label line, the dispatch of every body word, calls,
// literal pushes, and the tail call or return that closes the definition.
#include "DefColon.h"

#include <cstdio>

#include "Archive.h"
#include "Compiler.h"
#include "Extensions.h"
#include "Messages.h"
#include "Optimiser.h"
#include "Scanner.h"

namespace mirtolan {

std::string_view CallMnemonic(const Compiler& c) { return c.UseZcall ? "Zcall" : "rcall"; }

void CompileCall(Compiler& c, const std::string& name) { c.ProgramCode.push_back({"\t", CallMnemonic(c), "\t", name}); }

// A number in HEX mode is written as at least four upper-case digits of its
// 32-bit two's complement, so a negative value shows all eight.
static std::string numberText(std::int32_t value, bool decimal)
{
    if (decimal)
        return std::to_string(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(static_cast<std::uint32_t>(value)));
    return buf;
}

// A 16-bit cell lies in memory low byte first, at the lower address: the
// high byte is pushed first. Two equal bytes are loaded once.
void PushCell(Compiler& c, std::int32_t value, bool decimal)
{
    if (c.CellBits != WideCellBits) {
        c.ProgramCode.push_back({"\tldi\tFtmp1,", numberText(value, decimal)});
        c.ProgramCode.push_back("\tst\t-Y,Ftmp1");
        return;
    }
    const std::int32_t high = (value >> 8) & 0xFF, low = value & 0xFF;
    c.ProgramCode.push_back({"\tldi\tFtmp1,", numberText(high, decimal)});
    c.ProgramCode.push_back("\tst\t-Y,Ftmp1");
    if (low != high)
        c.ProgramCode.push_back({"\tldi\tFtmp1,", numberText(low, decimal)});
    c.ProgramCode.push_back("\tst\t-Y,Ftmp1");
}

std::string SourceWord(const Compiler& c, const LineOrigin& o)
{
    const std::string_view line = SourceLine(c, o.line);
    return o.column > 0 && o.column - 1 < line.size() ? std::string(line.substr(o.column - 1, o.length)) : "";
}

std::string CurrentWord(const Compiler& c, std::uint32_t& column)
{
    column = 0;
    if (!c.Map)
        return {};
    column = c.Map->program.current.column;
    return SourceWord(c, c.Map->program.current);
}

void CheckFits(Compiler& c, std::int64_t value, int bits, const std::string& word, std::uint32_t line,
               std::uint32_t column, const char* role)
{
    const std::int64_t lowest = -(std::int64_t(1) << (bits - 1)), highest = (std::int64_t(1) << bits) - 1;
    if (!c.Map || (value >= lowest && value <= highest))
        return;
    c.Map->facts.push_back(
        {FactKind::WideLiteral, word, line, column, role, 0, value, bits, c.Map->program.current.definition});
}

void CompileLiteral(Compiler& c, std::int32_t value)
{
    c.CellBitsFixed = true;
    if (c.CaseExpected) {
        // A case constant waits for its OF; one that meets anything else is noted.
        SettleCaseConstant(c);
        ++c.Ext.CaseClauseConstants;
        if (c.Map)
            c.Ext.PendingCase = c.Map->program.current;
    }
    if (!c.CaseExpected) {
        PushCell(c, value, c.DecimalBase);
        return;
    }
    // A case constant is only loaded: OF compares it with the selector in
    // Ftmp2 (Ftmp2H:Ftmp2 in the 16-bit cells).
    if (c.CellBits != WideCellBits) {
        c.ProgramCode.push_back({"\tldi\tFtmp1,", numberText(value, c.DecimalBase)});
        return;
    }
    c.ProgramCode.push_back({"\tldi\tFtmp1,", numberText(value & 0xFF, c.DecimalBase)});
    c.ProgramCode.push_back({"\tldi\tFtmp1H,", numberText((value >> 8) & 0xFF, c.DecimalBase)});
}

void CompileRet(Compiler& c) { c.ProgramCode.push_back("\tret"); }

bool IsProgramWord(const Compiler& c, const std::string& name) { return c.ProgramCode.containsLabel(name + ":"); }

std::int32_t CharLiteral(const std::string& word)
{
    return word.size() < 2 ? 0 : static_cast<unsigned char>(word[1]);
}

// The call mnemonics a final line may carry (upper-cased, as read from
// characters 2 to 6) and the jump that replaces each.
struct TailJump {
    const char* call;
    const char* jump;
};
constexpr TailJump TailJumps[] = {{"RCALL", "rjmp"}, {"ZCALL", "Zjmp"}};
constexpr std::size_t MnemonicFrom = 1, MnemonicLength = 5;

void EndColon(Compiler& c)
{
    const std::string last(c.ProgramCode.back());
    const char* jump = nullptr;
    // A line written by a control word (the label THEN leaves) is never a call.
    if (last.empty() || last[0] != '_') {
        const std::string mnemonic = FoldCase(last.substr(std::min(MnemonicFrom, last.size()), MnemonicLength));
        for (const auto& t : TailJumps)
            if (mnemonic == t.call)
                jump = t.jump;
    }
    if (jump)
        c.ProgramCode.replaceBack(last.substr(0, 1) + jump + last.substr(MnemonicFrom + MnemonicLength));
    else
        CompileRet(c);
    SettleCaseConstant(c);
    if (c.CaseExpected) {
        EndCaseMissing(c);
        c.CaseExpected = false;
    }
}

// The number branch of the dispatch. `word` becomes the last word the number
// evaluation consumed, which may be the operand of a byte operator.
static void compileNumber(Compiler& c, std::string& word)
{
    const std::string asRead = word;
    const std::int32_t value = EvalNumber(c, word);
    word = c.LastToken;
    if (c.NumberValid) {
        std::uint32_t column = 0;
        const std::string current = CurrentWord(c, column);
        CheckFits(c, value, c.CellBits, asRead == c.LastToken ? current : c.LastToken, std::uint32_t(c.LineNo), column,
                  "");
        CompileLiteral(c, value);
        return;
    }
    if (c.LastToken == ";") // the closing word fails as a number, silently
        return;
    // The words beyond the classic set stand where the classic compiler
    // found nothing: no word of the program or the archive hides them.
    if (c.LastToken == asRead && CompileBodyExtension(c, asRead))
        return;
    NotDefined(c, c.LastToken);
}

// One body word, by the fixed order: control words, comment and pass-through
// words, program words, library words, archive words, character literals,
// numbers.
void CompileBodyWord(Compiler& c, std::string& word)
{
    if (ControlOp op = FindControlWord(word)) {
        op(c);
        return;
    }
    if (word == "\\\\") {
        ColonComment(c);
        return;
    }
    if (word == "$") {
        ColonPassThrough(c);
        return;
    }
    if (word == "(") {
        SkipParenComment(c);
        return;
    }
    if (!c.CaseExpected) {
        if (IsProgramWord(c, word) || IsLibraryWord(c, word)) {
            CompileCall(c, word);
            return;
        }
        const std::int64_t position = FindArchiveWord(c, word);
        if (position >= 0) {
            CopyArchiveWordAndCall(c, position);
            return;
        }
    }
    if (word[0] == '\'') {
        CompileLiteral(c, CharLiteral(word));
        return;
    }
    compileNumber(c, word);
}

void CompileColon(Compiler& c)
{
    c.CellBitsFixed = true;
    c.CaseExpected = false;
    c.CtlDepth = 1;
    c.CaseDepth = 1;
    const std::string name = NextWord(c);
    MapDefinition(c, name);
    const std::size_t labelLine = c.ProgramCode.size();
    c.Ext.CurrentName = name;
    c.Ext.CurrentLine = std::uint32_t(c.LineNo);
    c.Ext.Texts.clear();
    c.ProgramCode.push_back(name + ":");
    c.LinePos += 1; // steps over the blank that ends the name
    bool finished = false;
    do {
        c.NumberValid = true;
        std::string word = NextWord(c);
        MapWord(c, word.size());
        if (!word.empty())
            CompileBodyWord(c, word);
        finished = word == ";";
    } while (!finished && !c.SourceEnded);
    if (c.CtlDepth != 1 || c.CaseDepth != 1) {
        NoteOpenStructures(c);
        CondNotMatchedAtEnd(c);
    }
    EndColon(c);
    if (c.Optimise)
        OptimiseDefinition(c, labelLine);
    // The definition's strings follow its code, outside what the optimiser reads.
    EmitTexts(c);
}

} // namespace mirtolan
