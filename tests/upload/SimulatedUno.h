// A simulated Arduino Uno for the upload tests: an ATmega328P at 16 MHz in
// simavr running the Optiboot bootloader, its UART0 on a pseudo-terminal
// that avrdude and the serial monitor open exactly as they open a board.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace uploadtest {

// Debian's arduino-core-avr ships this build of the Uno's bootloader.
inline constexpr const char* OptibootHex =
    "/usr/share/arduino/hardware/arduino/avr/bootloaders/optiboot/optiboot_atmega328.hex";

class SimulatedUno {
public:
    // Starts the board; `portLink` becomes a symbolic link to its serial
    // port (a path of the test's own, so parallel tests do not share one).
    // Nothing, with `error` set, when simavr or the bootloader fails.
    static std::unique_ptr<SimulatedUno> Start(const std::string& portLink, std::string& error);
    ~SimulatedUno();
    SimulatedUno(const SimulatedUno&) = delete;
    SimulatedUno& operator=(const SimulatedUno&) = delete;

    const std::string& port() const;       // the link to the serial port
    std::vector<std::uint8_t> readData(std::uint16_t address, std::size_t count) const;
    void writeData(std::uint16_t address, std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> readFlash(std::uint32_t address, std::size_t count) const;
    int portOpens() const;                 // auto-resets so far: opens of the port

private:
    struct State;
    explicit SimulatedUno(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The bytes a .hex file puts in flash, from address 0 to its last byte
// (gaps 0xFF, as erased flash reads). Empty when the file is unreadable.
std::vector<std::uint8_t> HexImage(const std::string& hexFile);

} // namespace uploadtest
