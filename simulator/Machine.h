// A built program on a simulated chip, run an instruction at a time, with
// what the run-time model lets a Forth programmer see: the word executing,
// the calls that led to it (tail jumps and interrupts included), the data
// and loop stacks, the variables, and the faults a program makes, caught at
// the instruction that makes them.
//
// RunProgram runs a machine to its end; the debugger stops one at
// breakpoints and steps it word by word; the test runner starts one at each
// test word.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Simulator.h"

struct avr_t;

namespace mirtolan {

// How a frame of the call shadow was entered.
enum class FrameKind : std::uint8_t {
    Call,      // rcall, call or icall: a return address was pushed
    TailJump,  // a jump to a word's start that ended the word before it
    Interrupt, // the chip took an interrupt
};

// One word on the way down to the instruction executing.
struct CallFrame {
    std::uint32_t word = 0;     // index into the machine's words (0 outside the program, 1 the start-up)
    std::uint32_t site = 0;     // byte address of the instruction that entered it (the interrupted one for an interrupt)
    FrameKind kind = FrameKind::Call; // how it was entered
    std::uint64_t entry = 0;    // the cycle it was entered, for the profile
    bool counted = false;       // its word's outermost activation, whose time the profile counts
    bool closed = false;        // its time is counted already (a tail jump ended it)
};

// A byte the program stored somewhere it has no business.
struct StrayStore {
    std::uint32_t address = 0; // data address written
    std::uint32_t pc = 0;      // byte address of the storing instruction
};

struct MachineWords;
struct StackNote;

// A pin as a board shows it, read from any thread while the program runs.
struct PinState {
    char port = 'B';         // the port letter
    int bit = 0;             // the pin within the port, 0 to 7
    bool level = false;      // the level on the pin now
    bool output = false;     // its direction bit is set: the chip drives it
    bool everOutput = false; // the program made it an output at some time in the run
    bool pullUp = false;     // an input with its pull-up on (its PORT bit set)
    bool portRead = false;   // the program has read its port's PIN register
};

class Machine {
public:
    struct Chip; // simavr's chip and the watches on it (defined where it is used)

    // Loads the program onto a fresh chip; on failure `error()` says why
    // and the machine cannot run.
    Machine(const BuildResult& program, const RunOptions& options);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    const std::string& error() const { return error_; }

    // Runs until the program halts, faults, reaches the limit or is
    // stopped, or until `atTrap` (called when execution reaches a trapped
    // flash address, before that instruction runs) returns true; the
    // result is then Trapped. A run after Trapped goes on from there.
    enum class Outcome { Ended, Trapped, Paused };
    Outcome run(const std::function<bool()>& atTrap = {});
    // Why the run ended, once run() said Ended.
    StopReason stopped() const { return stopped_; }

    // Trapped flash addresses (byte addresses), for breakpoints and steps.
    void setTrap(std::uint32_t byteAddress, bool on);
    void clearTraps();
    // Asks a running run() to return Paused at the next instruction; any thread.
    void pause() { pauseRequested_.store(true); }
    // Runs the chip at the pace of the wall clock instead of as fast as it can.
    void setRealTime(bool on) { realTime_.store(on); }

    // Levels and voltages from outside while the program runs; any thread.
    // They take effect at the next instruction the run executes.
    void drivePin(char port, int bit, int level);
    void driveAdc(int channel, double volts);
    void sendUart(const std::string& bytes);

    // --- For a board on another thread, while the program runs ---
    // Every pin of every port, by port and pin. Levels follow each change;
    // directions, pull-ups and reads are as of the run's last look, every
    // few milliseconds of simulated time and whenever run() returns.
    std::vector<PinState> pinStates() const;
    // The single-ended ADC inputs the chip has (ADC0 up); fixed once loaded.
    int adcChannels() const { return adcChannels_; }
    // What the program has sent on UART0 from byte `from` on, as far as
    // the run's last look has published it (only with a board in the options).
    std::string uartSince(std::size_t from) const;

    // --- What the chip holds now ---
    std::uint32_t pc() const;           // byte address of the next instruction
    std::uint64_t cycles() const;       // cycles since the start
    std::uint8_t data(std::uint32_t address) const;
    std::uint32_t y() const;            // the data stack pointer
    // Moves the data stack pointer, between instructions: the test runner's
    // -> and }T take values off the stack as Forth-2012's tester does.
    void setY(std::uint32_t address);
    std::uint32_t x() const;            // the loop stack pointer
    int cellBytes() const { return cellBytes_; }
    // The data stack's cells, bottom first, each as its bytes read low
    // byte first; empty before the start-up has set the stacks.
    std::vector<std::uint32_t> stackCells() const;
    // The cells that lie in data memory from `low` up to `high` (not
    // included), the one at the highest address first: a stretch of the
    // data stack, bottom first.
    std::vector<std::uint32_t> cellsBetween(std::uint32_t low, std::uint32_t high) const;
    // The loop stack's cells, innermost (top) first.
    std::vector<std::uint32_t> loopCells() const;
    // The calls that led here, outermost first.
    const std::vector<CallFrame>& frames() const { return frames_; }
    // The word that owns a flash byte address, and its name and line.
    WordAt wordAt(std::uint32_t byteAddress) const;
    std::uint32_t wordIndexAt(std::uint32_t byteAddress) const;
    // The spot (the word of the source) whose code holds the byte address,
    // when the address lies in the code of a source word; null in archive
    // routines and the start-up.
    const CodeSpot* spotAt(std::uint32_t byteAddress) const;
    // The source line the program stands at when it executes the byte
    // address: its spot's, or, inside an archive routine, the line of the
    // innermost call into it that a spot holds; 0 when none does.
    std::int64_t sourceLine(std::uint32_t byteAddress) const;
    // The I/O registers the program wrote, by data address, in order of address.
    std::vector<std::uint32_t> touchedIo() const;
    // EEPROM bytes that differ from their state at reset.
    std::vector<EepromByte> eepromChanges() const;
    // What the program has sent on UART0 so far.
    const std::string& uartOutput() const;

    // The report of the run so far (the whole run once it has ended).
    RunReport report() const;

    const BuildResult& program() const { return program_; }

private:
    bool checkAccess(std::uint32_t pc);
    std::optional<StackNote> noteHere() const;
    void afterInstruction(std::uint32_t pc, std::uint64_t before);
    void enter(std::uint32_t word, std::uint32_t site, FrameKind kind);
    void leave();
    void fault(FaultKind kind, std::uint32_t pc);
    void applyInputs();
    bool poll();
    // Publishes the ports' directions and pull-ups, and the UART output, for pinStates() and uartSince().
    void publishBoard();

    const BuildResult& program_;     // the program and its words
    RunOptions options_;             // limits, clock and stimulus
    std::string error_;              // why the machine cannot run; empty when it can
    std::unique_ptr<Chip> chip_;     // simavr's chip and the watches on it
    std::unique_ptr<MachineWords> words_; // the program's words by flash address
    std::uint32_t dataTop_ = 0, loopTop_ = 0, mainAt_ = 0, haltAt_ = 0; // from the program's symbols
    std::uint32_t loopBottom_ = 0;   // the lowest byte the loop stack may take
    std::uint32_t entryAt_ = 0;      // the word the start-up's call of main goes to instead (main itself by default)
    std::uint32_t varStart_ = 0, varEnd_ = 0; // the variables' data addresses (end exclusive)
    std::uint32_t vectorsEnd_ = 0;   // byte address where the interrupt vectors end
    std::uint32_t retBytes_ = 2;     // bytes of a return address
    int cellBytes_ = 1;              // bytes of a cell
    std::uint64_t start_ = 0;        // the chip's cycle when the run began
    std::uint64_t limit_ = 0;        // cycles the run may take
    std::uint64_t nextPoll_ = 0;     // the cycle of the next look at the stop flag and the inputs
    std::uint32_t spNow_ = 0;        // the stack pointer after the last instruction
    bool started_ = false;           // the entry word has been entered: the stacks are set up and checked
    StopReason stopped_ = StopReason::Limit; // why the run ended
    bool ended_ = false;             // the run has ended
    FaultKind faultKind_ = FaultKind::None;
    std::uint32_t faultPc_ = 0;      // the instruction that faulted
    std::optional<StrayStore> stray_; // the store that faulted, for a stray store
    std::vector<CallFrame> frames_;  // the call shadow, outermost first
    std::vector<std::uint64_t> self_, total_, calls_; // the profile, per word
    std::vector<std::uint32_t> active_; // activations of each word on the shadow
    std::vector<std::uint8_t> eepromAtReset_; // the EEPROM when the run began
    std::vector<std::uint8_t> traps_; // per flash word: trapped
    std::vector<bool> ioTouched_;    // per data address below SRAM: written by the program
    std::atomic<bool> pauseRequested_{false};
    std::atomic<bool> realTime_{false}; // keep to the wall clock's pace
    std::uint64_t realStartNs_ = 0;  // the wall clock when the real-time pace began
    std::uint64_t realStartCycle_ = 0; // the cycle then
    mutable std::mutex inputsMutex_; // guards pending inputs from other threads
    struct Input {
        char port = 0;      // a pin's port letter, or 0 for an ADC channel or UART bytes
        int bit = 0;        // the pin, or the ADC channel
        int level = 0;      // the pin's level
        double volts = 0;   // the ADC channel's voltage
        std::string bytes;  // UART bytes; a pin or ADC input has none
        bool uart = false;  // this input is UART bytes
    };
    std::vector<Input> inputs_;      // pending inputs from outside
    std::atomic<bool> inputsPending_{false};
    int adcChannels_ = 0;            // single-ended ADC inputs of the chip
    std::vector<std::uint8_t> pinRegisterPort_; // per data address below SRAM: 1 + the port whose PIN register it is, else 0
    mutable std::mutex uartMutex_;   // guards uartShared_
    std::string uartShared_;         // UART0 output as published for a board
};

} // namespace mirtolan
