// Programs for the simulated Uno, and their build into a .hex with
// mirtolanc --hex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

namespace uploadtest {

// Stores 42 and 7+5 in its first two variables ($0100 and $0101).
extern const char* const ResultProgram;
inline constexpr std::uint16_t ResultAddress = 0x100;
inline const std::vector<std::uint8_t> ResultBytes{42, 12};

// Greets over UART0 (at the run-time's HelloBaud) with HelloText and the
// bytes $01 $FF, then echoes every byte it receives.
extern const char* const HelloProgram;
inline constexpr const char* HelloText = "Hello from the Uno";
inline constexpr unsigned HelloBaud = 9600;

// Compiles `source` for the ATmega328P into DIR/NAME.hex; returns its path,
// or empty with `error` set.
std::string BuildUnoHex(const std::string& dir, const std::string& name, const std::string& source,
                        std::string& error);

// Writes DIR/tiny.hex, a program of a few words, for uploads that are to
// fail before the program matters; returns its path.
std::string TinyHex(const std::string& dir);

using mirtolan::test::TempDir;

} // namespace uploadtest
