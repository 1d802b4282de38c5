// Runs one program of the codegen benchmark in simavr and prints the cycles
// at which a watched byte changed (the kernel's start and end markers) and
// the bytes of its result:
//
//   codegen_cycles CORE HEXFILE CLOCK WATCH RESULT LENGTH
//
// WATCH and RESULT are data addresses in hexadecimal. Prints
//   marks CYCLE...
//   result BYTE...
// and exits 1 when the program does not end asleep within the cycle limit.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "AvrRun.h"

namespace {

// Far beyond any kernel of the benchmark; a program that runs into it hangs.
constexpr std::uint64_t CycleLimit = 200'000'000;

bool parseNumber(const char* text, int base, unsigned long& value)
{
    char* end = nullptr;
    value = std::strtoul(text, &end, base);
    return *text && end && *end == '\0';
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long clock = 0, watch = 0, result = 0, length = 0;
    if (argc != 7 || !parseNumber(argv[3], 10, clock) || !parseNumber(argv[4], 16, watch) ||
        !parseNumber(argv[5], 16, result) || !parseNumber(argv[6], 10, length) || watch > 0xFFFF ||
        result > 0xFFFF || length > 0xFFFF) {
        std::cerr << "usage: codegen_cycles CORE HEXFILE CLOCK WATCH RESULT LENGTH (addresses in hex)\n";
        return 2;
    }
    simtest::RunRequest request;
    request.mcu = argv[1];
    request.hexFile = argv[2];
    request.frequency = std::uint32_t(clock);
    request.cycleLimit = CycleLimit;
    request.watch = std::uint16_t(watch);
    request.dumpStart = std::uint16_t(result);
    request.dumpLength = std::uint16_t(length);
    std::string error;
    const auto run = simtest::RunProgram(request, error);
    if (!run) {
        std::cerr << error << "\n";
        return 2;
    }
    std::cout << "marks";
    for (auto c : run->watchCycles)
        std::cout << " " << c;
    std::cout << "\nresult";
    for (auto b : run->dump)
        std::cout << " " << int(b);
    std::cout << "\n";
    if (run->ending != simtest::Ending::Slept) {
        std::cerr << request.hexFile << ": ended by " << simtest::EndingName(run->ending) << " after " << run->cycles
                  << " cycles\n";
        return 1;
    }
    return 0;
}
