#include "Devices.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <fstream>

#include "CodeList.h"
#include "Scanner.h"

namespace mirtolan {

namespace {

// The ATmega32 comes first: it is the default device, matching the header in
// the run-time's top folder and the variable start 81 of a plain compile.
constexpr std::array<Device, 6> DeviceTable{{
    // name         title         simavr        avrdude  include          SRAM start, end  flash    call   UART   folder   clock      varStart
    {"atmega32",   "ATmega32",   "atmega32",   "m32",   "m32def.inc",    0x0060, 0x085F, 32768,   true,  true,  ".",     8000000,  "81"},
    {"atmega328p", "ATmega328P", "atmega328p", "m328p", "m328Pdef.inc",  0x0100, 0x08FF, 32768,   true,  true,  "m328p", 16000000, "100"},
    {"atmega2560", "ATmega2560", "atmega2560", "m2560", "m2560def.inc",  0x0200, 0x21FF, 262144,  true,  true,  "m2560", 16000000, "200"},
    {"atmega644",  "ATmega644",  "atmega644",  "m644",  "m644def.inc",   0x0100, 0x10FF, 65536,   true,  true,  "m644",  16000000, "100"},
    {"atmega168",  "ATmega168",  "atmega168",  "m168",  "m168def.inc",   0x0100, 0x04FF, 16384,   true,  true,  "m168",  16000000, "100"},
    {"attiny85",   "ATtiny85",   "attiny85",   "t85",   "tn85def.inc",   0x0060, 0x025F, 8192,    false, false, "t85",   8000000,  "60"},
}};

// The main section headings of an include file and what the names under
// each stand for. Headings of peripherals inside a section ("; ***** PORTB")
// leave the section as it is.
struct Section {
    std::string_view heading;
    SymbolKind kind;
};
constexpr std::array<Section, 10> Sections{{
    {"SPECIFY DEVICE", SymbolKind::Constant},
    {"I/O REGISTER DEFINITIONS", SymbolKind::Register},
    {"BIT DEFINITIONS", SymbolKind::Bit},
    {"LOCKSBITS", SymbolKind::Constant},
    {"FUSES", SymbolKind::Constant},
    {"CPU REGISTER DEFINITIONS", SymbolKind::CpuRegister},
    {"DATA MEMORY DECLARATIONS", SymbolKind::Constant},
    {"BOOTLOADER DECLARATIONS", SymbolKind::Constant},
    {"INTERRUPT VECTORS", SymbolKind::Vector},
    {"END OF FILE", SymbolKind::Constant},
}};

// The assembler's own names for the CPU registers, which no include file
// defines. (X, Y and Z name pointers only in ld and st operands, where no
// word is called, so words of those names are left alone.)
constexpr int CpuRegisterCount = 32;

std::string_view trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::int64_t parseValue(std::string_view v)
{
    v = trim(v);
    int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        v.remove_prefix(2);
        base = 16;
    } else if (!v.empty() && v[0] == '$') {
        v.remove_prefix(1);
        base = 16;
    } else if (v.size() > 1 && (v[0] == 'r' || v[0] == 'R')) {
        v.remove_prefix(1); // .def XL = r26
    }
    std::int64_t value = 0;
    std::from_chars(v.data(), v.data() + v.size(), value, base);
    return value;
}

} // namespace

std::span<const Device> Devices() { return DeviceTable; }

const Device& DefaultDevice() { return DeviceTable[0]; }

const Device* FindDevice(std::string_view name)
{
    for (const auto& d : DeviceTable)
        if (SameIgnoringCase(name, d.name) || SameIgnoringCase(name, d.title) || SameIgnoringCase(name, d.avrdudePart))
            return &d;
    return nullptr;
}

const DeviceSymbols::Symbol* DeviceSymbols::find(std::string_view name) const
{
    const auto it = names.find(FoldCase(name));
    return it == names.end() ? nullptr : &it->second;
}

std::optional<DeviceSymbols> ReadDeviceSymbols(const Device& d, std::span<const std::string> dirs, std::string& error)
{
    namespace fs = std::filesystem;
    std::ifstream in;
    std::string path;
    std::string searched;
    for (const auto& dir : dirs) {
        path = (fs::path(dir) / d.includeFile).string();
        in.open(path);
        if (in)
            break;
        in.clear();
        searched += (searched.empty() ? "" : ", ") + dir;
    }
    if (!in.is_open()) {
        error = "cannot find " + std::string(d.includeFile) + ", the assembler's definitions for the " +
                std::string(d.title) + " (searched " + searched + ")";
        return std::nullopt;
    }
    DeviceSymbols symbols;
    symbols.file = path;
    for (int r = 0; r < CpuRegisterCount; ++r)
        symbols.names["R" + std::to_string(r)] = {SymbolKind::CpuRegister, r};

    SymbolKind kind = SymbolKind::Constant;
    std::string line;
    while (std::getline(in, line)) {
        std::string_view l = trim(line);
        if (l.starts_with(";")) {
            if (l.find("*****") != std::string_view::npos)
                for (const auto& sec : Sections)
                    if (l.find(sec.heading) != std::string_view::npos)
                        kind = sec.kind;
            continue;
        }
        std::string_view rest;
        if (SameIgnoringCase(l.substr(0, 4), ".equ") || SameIgnoringCase(l.substr(0, 4), ".set") ||
            SameIgnoringCase(l.substr(0, 4), ".def"))
            rest = l.substr(4);
        else
            continue;
        const auto eq = rest.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view name = trim(rest.substr(0, eq));
        std::string_view value = rest.substr(eq + 1);
        if (const auto semi = value.find(';'); semi != std::string_view::npos)
            value = value.substr(0, semi);
        if (name.empty())
            continue;
        symbols.names.try_emplace(FoldCase(name), DeviceSymbols::Symbol{kind, parseValue(value)});
    }
    return symbols;
}

} // namespace mirtolan
