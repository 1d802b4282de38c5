// Runs a built program on a simulated chip and reports what it did in Forth
// terms: why it stopped (and in which word, called from where), its
// variables by name, its stacks, its serial output, its pins over time and
// where its cycles went.
//
// Both front ends call RunProgram: the command-line tool with --run, the
// window from a worker thread. The report renders as text, as JSON and as
// a VCD file of the pin changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Build.h"

namespace mirtolan {

class BoardLink;

// Without a limit given, a run stops after this much simulated time: long
// enough for a start-up and a few blinks, short enough to answer at once.
constexpr double DefaultRunSeconds = 3.0;

// Pin changes kept over all pins of a run (16 bytes each): a fast PWM
// would otherwise fill memory in a few simulated seconds.
constexpr std::size_t MaxPinChangesKept = 4'000'000;

// The longest run, in cycles: cycles are counted in 64 bits, and this keeps
// a limit plus the step between two looks at the clock clear of overflow.
// At 16 MHz it is some 18,000 years.
constexpr std::uint64_t MaxRunCycles = std::uint64_t(1) << 63;

// A level driven onto a port pin from outside at a moment of the run.
struct PinStimulus {
    char port = 'B';         // the port letter, upper case
    int bit = 0;             // the pin within the port, 0 to 7
    int level = 0;           // 0 or 1
    double seconds = 0;      // when, in simulated seconds from reset
};

// A voltage put on an ADC input at a moment of the run.
struct AdcStimulus {
    int channel = 0;         // ADC0 is 0
    double volts = 0;        // 0 to the reference (5 V)
    double seconds = 0;      // when, in simulated seconds from reset
};

// "ADC0=2.5@10ms": channel, volts and moment; nothing (and error set) when malformed.
std::optional<AdcStimulus> ParseAdcStimulus(std::string_view text, std::string& error);

// "PD2=0@10ms": pin, level and moment; nothing (and error set) when malformed.
std::optional<PinStimulus> ParsePinStimulus(std::string_view text, std::string& error);
// A pin's name as reports and stimuli write it: "PB5".
std::string PinName(char port, int bit);
// "2s", "10ms", "250us", "100ns": a span of simulated time in seconds.
std::optional<double> ParseDuration(std::string_view text, std::string& error);
// `seconds` at `clockHz` as whole cycles, rounded to the nearest; nothing
// when that is beyond MaxRunCycles (or the time is no finite number).
std::optional<std::uint64_t> SecondsToCycles(double seconds, std::uint32_t clockHz);
// A span of simulated time as people read it: "62.5 ns", "10.5 ms", "3 s".
std::string FormatSeconds(double seconds);

struct RunOptions {
    std::uint32_t clockHz = 0;        // the chip's clock; 0: the device's default
    std::uint64_t maxCycles = 0;      // stop after this many cycles; 0: no cycle limit
    double maxSeconds = 0;            // stop after this much simulated time; 0 with no cycle limit: DefaultRunSeconds
    std::vector<PinStimulus> pins;    // levels driven onto pins, in any order
    std::vector<AdcStimulus> adc;     // voltages put on ADC inputs, in any order
    std::string uartIn;               // bytes fed to UART0's receiver, one per character time at its baud
    std::uint32_t entry = 0;          // byte address in flash of the word the start-up calls instead of main; 0: main
    // Told now and then how far the run has come (0 to 1 of the limit) and the cycles so far.
    std::function<void(double fraction, std::uint64_t cycles)> progress;
    const std::atomic<bool>* stop = nullptr; // set from another thread to end the run early
    std::shared_ptr<BoardLink> board; // watches and drives the chip from another thread while it runs; may be null
};

// A run's limit and stimulus in cycles, checked.
struct RunPlan {
    std::uint32_t clockHz = 0; // the clock simulated
    std::uint64_t limit = 0;   // cycles the run may last, 1 to MaxRunCycles
    std::vector<std::pair<std::uint64_t, PinStimulus>> pins; // each pin stimulus at its cycle, in time order
    std::vector<std::pair<std::uint64_t, AdcStimulus>> adc;  // each ADC stimulus at its cycle, in time order
};
// Nothing, with `error` naming the accepted range, when the limit comes to
// less than one cycle or more than MaxRunCycles, or an input is driven
// after the run's end. `clockHz` 0 takes the device's clock.
std::optional<RunPlan> PlanRun(const RunOptions& options, const Device& device, std::string& error);

// Why a run ended.
enum class StopReason {
    Halted,   // main returned and the header put the chip to sleep with interrupts off
    Limit,    // the time or cycle limit was reached
    Stopped,  // the stop flag was set
    Fault,    // the program went wrong: see RunReport::fault
    Error,    // the run could not start: see RunReport::error
};

// What went wrong, when a run ended in a fault.
enum class FaultKind {
    None,
    DataStackUnderflow,    // more cells taken off the data stack than were on it
    DataStackIntoVariables, // the data stack grew down into the variables
    LoopStackOverflow,     // the loop stack grew down into the data stack
    LoopStackUnderflow,    // more taken off the loop stack than was put on
    HardwareStackOverflow, // calls nested so deep the return stack ran into the loop stack
    HardwareStackUnderflow, // a return with no return address on the hardware stack
    UnusedFlash,           // execution reached flash the program does not occupy
    IllegalInstruction,    // an opcode the chip does not have
    Watchdog,              // the watchdog timer reset the chip
    Reset,                 // execution went back to address 0 without a watchdog
    SleepForever,          // asleep with interrupts on but nothing that could wake it
    SleepInterruptsOff,    // asleep with interrupts off, outside the header's end of main
    StrayStore,            // a store into the registers or into memory no variable, table or stack holds
};

// A word of the program, as a fault or a caller names it.
struct WordAt {
    std::string name;        // the Forth name; "(start-up)" for the header's code
    std::int64_t line = 0;   // the source line it stood at (the call's, the fault's), else its definition's; 0 when unknown
    std::uint32_t address = 0; // the byte address in flash concerned (the PC, or the return address)
};

struct VariableValue {
    std::string name;        // the Forth name
    std::uint32_t address = 0; // its data-memory address
    std::int64_t line = 0;   // the source line of its definition
    std::vector<std::uint8_t> bytes; // its bytes at the end of the run, lowest address first
};

// An EEPROM byte that the run changed.
struct EepromByte {
    std::uint32_t address = 0; // its EEPROM address
    std::uint8_t value = 0;    // its value at the end of the run
};

struct PinTrace {
    std::string name;        // "PB5"
    // Each change as (cycle, level), in time order; the level before the first is 0.
    // At most MaxPinChangesKept over all pins are kept; `count` goes on counting.
    std::vector<std::pair<std::uint64_t, int>> changes;
    std::uint64_t count = 0; // changes in the whole run, kept or not
    bool truncated = false;  // changes after the last kept one were counted but not kept
};

struct ProfileEntry {
    std::string word;        // the Forth name, or "(start-up)" / "(outside the program)"
    std::int64_t line = 0;   // the source line of its definition; 0 when none
    std::uint64_t self = 0;  // cycles spent in its own instructions
    std::uint64_t total = 0; // cycles from its entries to its returns, callees included
    std::uint64_t calls = 0; // times it was called or jumped to by a tail call
};

struct RunReport {
    StopReason stopped = StopReason::Error;
    std::string error;                 // why the run could not start (StopReason::Error)
    FaultKind faultKind = FaultKind::None;
    std::string fault;                 // the fault in words, with the word and its callers
    std::optional<WordAt> faultWord;   // the word executing when the fault happened
    std::vector<WordAt> callers;       // the words that called it, innermost first
    std::string device;                // the device's title
    std::uint32_t clockHz = 0;         // the clock simulated
    int cellBits = 8;                  // the program's cell size
    std::uint64_t cycles = 0;          // cycles run
    double seconds = 0;                // simulated time: cycles at the clock
    std::vector<VariableValue> variables; // in order of definition
    bool stacksSetUp = true;           // false when the run ended before main: the start-up code had not set the
                                       // stacks, so `stack` and `loopStackDepth` say nothing
    std::vector<std::uint32_t> stack;  // the data stack's cells, bottom first, unsigned
    int stackUnderflow = 0;            // cells taken beyond the empty data stack (the stack is then empty)
    int loopStackDepth = 0;            // bytes on the loop stack
    std::string uart;                  // what the program sent on UART0
    std::vector<PinTrace> pins;        // the pins that changed, by port and pin
    std::vector<EepromByte> eeprom;    // the EEPROM bytes that differ from their state at reset, by address
    std::optional<std::uint64_t> pinsCutAt; // the cycle of the first pin change not kept (MaxPinChangesKept
                                       // were); none when all were kept
    std::vector<ProfileEntry> profile; // largest self first; the self cycles add up to `cycles`
};

RunReport RunProgram(const BuildResult& program, const RunOptions& options);

// How a report is written out.
struct ReportStyle {
    bool words16 = false;     // show each variable also as 16-bit values, low byte first
    std::size_t pinChanges = 8; // changes shown per pin in the text; the rest are counted
    std::size_t profileRows = 20; // words shown in the text profile; the rest are summed
};

const char* StopReasonName(StopReason r); // "halted", "limit", "stopped", "fault", "error"
std::string FormatReport(const RunReport& report, const ReportStyle& style);
std::string ReportJson(const RunReport& report, const ReportStyle& style);
// Writes every pin change as a Value Change Dump, via a temporary file beside `path`.
bool WriteVcd(const RunReport& report, const std::string& path, std::string& error);

} // namespace mirtolan
