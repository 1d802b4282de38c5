// Sizes of assembler lines kept as written, and fresh labels.
#include <array>

#include "CodeList.h"
#include "Compiler.h"
#include "OptState.h"
#include "Scanner.h"

namespace mirtolan::opt {

namespace {

// The instructions of two flash words; Zcall and Zjmp are the header's
// macros for call and jmp.
constexpr std::string_view TwoWords[] = {"CALL", "JMP", "LDS", "STS", "ZCALL", "ZJMP"};
// Every other instruction of the AVR takes one word.
constexpr std::string_view OneWord[] = {
    "ADC",  "ADD",   "ADIW",  "AND",  "ANDI", "ASR",  "BCLR", "BLD",  "BRBC", "BRBS", "BRCC",   "BRCS",
    "BREAK", "BREQ", "BRGE",  "BRHC", "BRHS", "BRID", "BRIE", "BRLO", "BRLT", "BRMI", "BRNE",   "BRPL",
    "BRSH", "BRTC",  "BRTS",  "BRVC", "BRVS", "BSET", "BST",  "CBI",  "CBR",  "CLC",  "CLH",    "CLI",
    "CLN",  "CLR",   "CLS",   "CLT",  "CLV",  "CLZ",  "COM",  "CP",   "CPC",  "CPI",  "CPSE",   "DEC",
    "DES",  "EICALL", "EIJMP", "ELPM", "EOR", "FMUL", "FMULS", "FMULSU", "ICALL", "IJMP", "IN", "INC",
    "LD",   "LDD",   "LDI",   "LPM",  "LSL",  "LSR",  "MOV",  "MOVW", "MUL",  "MULS", "MULSU", "NEG",
    "NOP",  "OR",    "ORI",   "OUT",  "POP",  "PUSH", "RCALL", "RET", "RETI", "RJMP", "ROL",  "ROR",
    "SBC",  "SBCI",  "SBI",   "SBIC", "SBIS", "SBIW", "SBR",  "SBRC", "SBRS", "SEC",  "SEH",  "SEI",
    "SEN",  "SER",   "SES",   "SET",  "SEV",  "SEZ",  "SLEEP", "SPM", "ST",   "STD",  "SUB",  "SUBI",
    "SWAP",
};

} // namespace

int LineWords(std::string_view line)
{
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
    };
    const auto token = [&] {
        const std::size_t from = i;
        while (i < line.size() && !IsBlank(line[i]) && line[i] != ';')
            ++i;
        return line.substr(from, i - from);
    };
    skipBlanks();
    if (i == line.size() || line[i] == ';')
        return 0;
    std::string_view first = token();
    // A label may stand before the instruction.
    if (!first.empty() && first.back() == ':') {
        skipBlanks();
        if (i == line.size() || line[i] == ';')
            return 0;
        first = token();
    }
    const std::string upper = FoldCase(first);
    for (auto m : TwoWords)
        if (upper == m)
            return 2;
    for (auto m : OneWord)
        if (upper == m)
            return 1;
    return -1;
}

std::string NewLabel(Compiler& c) { return "_L" + std::to_string(c.LabelCount++); }

} // namespace mirtolan::opt
