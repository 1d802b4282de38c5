// Where optimised code keeps the cells of the stacks as a word's code
// begins: some in registers, some known constants, the rest in memory. The
// optimiser writes one such note for each word it writes; the debugger,
// stopped at the start of a word, reads the stacks through it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirtolan {

struct StackNote {
    struct Cell {
        enum Kind : std::uint8_t {
            Memory,      // the cell `slot` above the data stack pointer
            Register,    // register `reg` (a pair in 16-bit cells)
            Constant,    // `value`
            Sum,         // register `reg` plus `value`
            AddressLow,  // the low byte of register `reg`, zero-extended, plus `value`
            AddressHigh, // the high byte of the same
        } kind = Memory; // where the cell is
        int reg = 0;            // the register, for all but Memory and Constant
        int slot = 0;           // Memory: its place above the data stack pointer, in cells
        std::uint32_t value = 0; // Constant: the value; Sum and the address bytes: the constant added
    };
    struct Loop {
        enum Kind : std::uint8_t {
            Memory,    // a DO loop's index and limit on the loop stack
            Registers, // a DO loop's index in register `index`, its limit in `limit` or the constant `limitValue`
            Cell,      // a cell >R put on the loop stack
        } kind = Memory; // what the entry is
        int index = 0;            // Registers: the index register
        bool limitInRegister = false; // Registers: the limit is in `limit`
        int limit = 0;            // Registers: the limit register
        std::uint32_t limitValue = 0; // Registers: the constant limit
    };
    int covered = 0;          // the memory cells from the data stack pointer up that `cells` stand for
    std::vector<Cell> cells;  // the data stack's top cells, bottom first
    std::vector<Loop> loops;  // the loop stack's entries of the definition, bottom first
};

std::string FormatStackNote(const StackNote& note);
std::optional<StackNote> ParseStackNote(std::string_view text);

// Reads a byte of data memory (the registers are its first 32 bytes).
using ReadData = std::function<std::uint8_t(std::uint32_t address)>;

// The data stack's cells, bottom first, as the noted code has them: the
// stack in memory from `y` up to `top`, the noted cells above it.
std::vector<std::uint32_t> NotedDataStack(const StackNote& note, const ReadData& data, std::uint32_t y,
                                          std::uint32_t top, int cellBytes);
// The loop stack's cells, innermost first, in the layout DO and >R give it:
// a loop counted in registers shows its index above its limit.
std::vector<std::uint32_t> NotedLoopStack(const StackNote& note, const ReadData& data, std::uint32_t x,
                                          std::uint32_t top, int cellBytes);

} // namespace mirtolan
