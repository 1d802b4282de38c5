// The optimiser (mirtolanc --opt): at the ";" of each colon definition it
// reads back the lines the one-pass compiler has just written, understands
// their few regular shapes (calls, literal pushes, the tests and branches of
// the control words, DO and LOOP), and writes the definition again as
// register code: archive words, constants and variables inlined, the cells
// of the data stack kept in registers while they can be, loop counters in
// registers, comparisons fused into branches. A line of any other shape is
// a barrier: the cells go back to the data stack in memory, and the line
// stays as it was. Every line it writes keeps the origin (source line and
// word) of the word that made it.
//
// At the end of the compile it drops the definitions and archive routines
// that nothing uses any more.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mirtolan {

struct Compiler;

// The steps of the optimiser, as bits: each can be left out (Compiler's
// OptimiseSkip) to measure what it gains.
enum OptStep : unsigned {
    OptInline = 1u << 0,   // archive words, constants and variables inlined; DO, LOOP and IF without calls
    OptRegisters = 1u << 1, // cells kept in registers within a block
    OptFold = 1u << 2,     // literals as immediate operands, constant addresses as lds/sts
    OptBranch = 1u << 3,   // a comparison that feeds IF, WHILE or UNTIL becomes a compare and one branch
    OptWords = 1u << 4,    // short colon definitions inlined
    OptLoops = 1u << 5,    // DO index and limit in registers in loops that call nothing
    OptLabels = 1u << 6,   // the top cells kept in registers across labels
    OptDead = 1u << 7,     // definitions and archive routines nothing uses dropped
};

// The steps by name, for the command line ("inline,labels").
struct OptStepName {
    std::string_view name; // as the command line spells it
    OptStep step;          // the bit
};
inline constexpr OptStepName OptStepNames[] = {
    {"inline", OptInline}, {"registers", OptRegisters}, {"fold", OptFold}, {"branch", OptBranch},
    {"words", OptWords},   {"loops", OptLoops},         {"labels", OptLabels}, {"dead", OptDead},
};
// The bits of a comma-separated list of step names; none when a name is unknown.
std::optional<unsigned> ParseOptSteps(std::string_view list);

// At the start of a compile with Optimise on.
void StartOptimiser(Compiler& c);
// At the end of a colon definition whose label line is line `labelLine` of ProgramCode.
void OptimiseDefinition(Compiler& c, std::size_t labelLine);
// Before the listing is assembled: drops what nothing uses.
void FinishOptimiser(Compiler& c);

// The listing fact that tells the run-time header the program was optimised.
inline constexpr std::string_view OptimisedFact = ".equ\t_ROPT\t= 1";

} // namespace mirtolan
