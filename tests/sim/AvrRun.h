// Runs an assembled program in simavr and reports what it left behind.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

// The symbols of an avra map file: labels and .equ constants by name,
// upper-cased because avra names ignore case.
using SymbolMap = std::map<std::string, std::uint32_t>;
std::optional<SymbolMap> ReadMapFile(const std::string& path, std::string& error);

struct RunRequest {
    std::string mcu;            // simavr core name, e.g. "atmega32"
    std::string hexFile;        // Intel hex from avra
    std::uint64_t cycleLimit = 0;
    std::uint16_t dataStackTop = 0; // the data stack's empty Y
    std::uint16_t loopStackTop = 0; // the loop stack's empty X
    std::uint16_t dumpStart = 0;    // SRAM bytes to report
    std::uint16_t dumpLength = 0;
    std::optional<std::uint16_t> watch; // count the changes of this byte
    std::uint32_t frequency = 0;        // the clock in Hz; 0 keeps simavr's default
    std::string uartInput;              // bytes fed to UART0's receiver once the program runs
};

enum class Ending { Slept, CycleLimit, Crashed };

struct RunResult {
    Ending ending = Ending::Crashed;
    std::uint64_t cycles = 0;
    std::vector<std::uint8_t> stack;   // bottom first, top last
    long stackUnderflow = 0;           // cells popped beyond the empty stack
    long loopStackDepth = 0;           // bytes left on the loop stack
    long hardwareStackDepth = 0;       // bytes left on the hardware stack
    std::vector<std::uint8_t> dump;
    long watchChanges = 0;
    std::vector<std::uint64_t> watchCycles; // the cycle of each change of the watched byte
    std::string uartOutput;            // what the program sent on UART0
    bool hasUart = false;              // the core has a UART0 to listen to
};

// Returns nothing and sets error when the core or the hex file is unusable.
std::optional<RunResult> RunProgram(const RunRequest& request, std::string& error);

const char* EndingName(Ending e);

} // namespace simtest
