// The microcontrollers a program can be built for: one table of facts per
// device, and the names its avra include file defines (registers, bits,
// vectors), read from that file rather than written out by hand.
#pragma once

#include <cstdint>
#include <optional>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace mirtolan {

struct Device {
    std::string_view name;          // our name, as avra's device list and simavr spell it in lower case: "atmega328p"
    std::string_view title;         // as the datasheet writes it, for messages: "ATmega328P"
    std::string_view simavrCore;    // simavr's core name
    std::string_view avrdudePart;   // avrdude's -p part id
    std::string_view includeFile;   // avra's device definitions, in avra's include directory
    std::uint32_t sramStart;        // first SRAM address in data space (below it: registers and I/O)
    std::uint32_t sramEnd;          // last SRAM address in data space
    std::uint32_t flashBytes;       // size of program memory
    bool hasCallJmp;                // has the two-word call and jmp (Zcall needs them)
    bool hasUart;                   // has UART0, which the serial words use
    std::string_view headerFolder;  // run-time folder under share/mirtolan/ (and runtime/) holding 4thHead.asm
    std::uint32_t clockHz;          // default clock, which the run-time header's timing assumes
    std::string_view varStart;      // default variable start, hexadecimal without "$"
};

// Every device we ship a run-time for, the default first.
std::span<const Device> Devices();
const Device& DefaultDevice();
// Finds a device by its name, ignoring case and accepting the title and
// avrdude's part id as well ("ATmega328P", "m328p").
const Device* FindDevice(std::string_view name);

// What a name of a device's include file stands for.
enum class SymbolKind {
    Register,    // an I/O register (PORTB, SREG)
    Bit,         // a bit number within a register (MSTR, PB0)
    Vector,      // an interrupt vector address (INT0addr)
    CpuRegister, // r0..r31 and the pointer halves XL..ZH
    Constant,    // anything else: memory sizes, signatures, fuses
};

// The names an include file defines with .equ, .def or .set, upper-cased
// (the assembler ignores case), with what each stands for and its value.
struct DeviceSymbols {
    struct Symbol {
        SymbolKind kind;     // the section of the include file that defines it
        std::int64_t value;  // its value; for a .def, the register number
    };
    std::map<std::string, Symbol, std::less<>> names; // every name defined, by upper-cased name
    std::string file;        // the include file read

    const Symbol* find(std::string_view name) const; // ignores case
};
// Reads `includeFile` from the first of `dirs` that holds it; nothing when
// none does (the error then names the folders searched).
std::optional<DeviceSymbols> ReadDeviceSymbols(const Device& d, std::span<const std::string> dirs, std::string& error);

// avra's include directory on this system.
constexpr std::string_view AvraIncludeDir = "/usr/share/avra";

} // namespace mirtolan
