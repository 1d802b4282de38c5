// A board for a front end on another thread (the window's): it watches and
// drives whatever machine runs now. The machine attaches itself when it is
// loaded and detaches before it goes, so the board never reaches a machine
// that is gone; between runs it shows the last one's pins and UART text.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Machine.h"

namespace mirtolan {

class BoardLink {
public:
    // From the machine: when it is loaded, and as it goes. Attaching puts
    // the pace and the ADC voltages chosen so far on the new machine.
    void attach(Machine* machine);
    void detach(const Machine* machine);

    // --- Any thread ---
    bool attached() const;
    // Grows with every machine attached, so a board can tell a new run.
    std::uint64_t generation() const;
    std::vector<PinState> pins() const;
    int adcChannels() const;
    // UART0 text of the machine (attached, or the last one) from byte `from` on.
    std::string uartSince(std::size_t from) const;

    // Inputs; with no machine attached the pins and the UART bytes are
    // dropped, the voltages and the pace kept for the next one.
    void drivePin(char port, int bit, int level);
    void driveAdc(int channel, double volts);
    void sendUart(const std::string& bytes);
    void setRealTime(bool on);

private:
    mutable std::mutex mutex_;        // guards everything below
    Machine* machine_ = nullptr;      // the machine running now, or none
    std::uint64_t generation_ = 0;    // machines attached so far
    bool realTime_ = false;           // the chip keeps to the wall clock
    std::map<int, double> adc_;       // volts on each ADC input, by channel
    std::vector<PinState> lastPins_;  // the pins of the last machine, as it went
    int lastAdcChannels_ = 0;         // its ADC inputs
    std::string lastUart_;            // its UART0 text
};

} // namespace mirtolan
