// A Forth program under the debugger: built for the simulated chip, run on
// a thread of its own, stopped at breakpoints on Forth lines, stepped a word
// or a line at a time, and looked into while it stands: the words that led
// there, the data and loop stacks, the variables, the I/O registers it
// wrote. The window and `mirtolanc --dap` both drive it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Build.h"
#include "Machine.h"
#include "Scratch.h"
#include "Simulator.h"

namespace mirtolan {

struct LaunchOptions {
    BuildOptions build;       // the source, device, cell size and run-time folders; the outputs go to a scratch folder
    RunOptions run;           // clock and stimulus (pins, ADC inputs, UART input); limits are ignored
    bool stopOnEntry = false; // stop before main's first word
};

// Why the program stands still.
enum class StopKind {
    Entry,      // at main's first word, as asked
    Breakpoint, // at a breakpoint's line
    Step,       // a step has ended
    Pause,      // paused from outside
    Exception,  // the program faulted
};

struct DebugEvent {
    enum Kind {
        Stopped, // the program stands still: see stop and text
        Output,  // the program sent text on UART0
        Exited,  // the program has ended (halted, or the session was ended)
    };
    Kind kind = Stopped;       // what happened
    StopKind stop = StopKind::Pause; // why it stopped (Stopped)
    std::string text;          // the fault (an exception), the output (Output), why it ended (Exited)
    std::vector<int> breakpoints; // the breakpoints hit (their ids), for Breakpoint
    int exitCode = 0;          // 0 halted, 1 faulted or stopped (Exited)
};

// A breakpoint as it was placed.
struct Breakpoint {
    int id = 0;                // its number in this session
    std::int64_t requested = 0; // the line asked for
    std::int64_t line = 0;     // the line with code where it stands; 0 when none was found
    bool verified = false;     // it stands on code
    std::string message;       // why it moved or could not be placed
    std::uint32_t address = 0; // where in flash
};

// One word on the way to where the program stands, innermost first.
struct Frame {
    std::string name;          // the word
    std::int64_t line = 0;     // the source line it stands at; 0 for an archive routine or the start-up
    std::int64_t column = 0;   // the column of the word there
    std::uint32_t address = 0; // the flash byte address it stands at
    bool interrupted = false;  // an interrupt entered the frame above it here
};

// A value to show: a cell, a variable, a register.
struct Shown {
    std::string name;          // what it is called
    std::string value;         // its value as text
    std::vector<Shown> parts;  // its cells or bytes, for a table
};

class DebugSession {
public:
    using Listener = std::function<void(const DebugEvent&)>;
    // `listener` is told every event, on the session's thread.
    explicit DebugSession(Listener listener);
    ~DebugSession();
    DebugSession(const DebugSession&) = delete;
    DebugSession& operator=(const DebugSession&) = delete;

    // Builds the program into a scratch folder and loads it; false with the
    // reason in `error` (and the build's diagnostics in program()) when it
    // cannot be run.
    bool launch(const LaunchOptions& options, std::string& error);
    const BuildResult& program() const { return built_; }

    // Replaces the breakpoints (source lines); also while the program runs.
    std::vector<Breakpoint> setBreakpoints(const std::vector<std::int64_t>& lines);
    // Starts the program: to main's first word when stopOnEntry, else on.
    void start();
    void resume();                 // on to the next breakpoint
    void stepOver(bool byLine);    // over the current word (or line)
    void stepIn();                 // into the word the current one calls
    void stepOut();                // back to the caller
    void pause();
    // Ends the run and the session's thread; the listener hears Exited.
    void terminate();

    // --- While the program stands still (empty otherwise) ---
    bool stopped() const;
    std::vector<Frame> stackTrace() const;
    std::vector<Shown> dataStack() const;
    std::vector<Shown> variables() const;
    std::vector<Shown> loopStack() const;
    std::vector<Shown> registers() const;
    // A variable's or register's value by name (ignoring case).
    std::optional<Shown> evaluate(const std::string& name) const;
    // The report of the run so far.
    RunReport report() const;

private:
    enum class Mode { Continue, Over, OverLine, In, Out, Entry };
    void command(Mode mode);
    void loop();
    void runOnce(Mode mode);
    void placeTraps(bool everySpot);
    std::string cellText(std::uint32_t cell) const;
    // The cells as rows "[0]", "[1]"..., in the order given.
    std::vector<Shown> numbered(const std::vector<std::uint32_t>& cells) const;
    void flushOutput();

    Listener listener_;                 // told every event
    BuildResult built_;                 // the program
    std::optional<PrivateFolder> scratch_; // the folder of its listing and .hex, removed at the end
    std::unique_ptr<Machine> machine_;  // the chip running it
    std::map<std::uint32_t, std::string> registerNames_; // data address -> the device's register name
    mutable std::mutex mutex_;          // guards the fields below
    std::condition_variable wake_;      // the session's thread waits on it for a command
    std::optional<Mode> pending_;       // the command for the session's thread
    bool running_ = false;              // the program runs (queries then answer nothing)
    bool ended_ = false;                // the run has ended
    bool quit_ = false;                 // the session's thread is to stop
    bool stopOnEntry_ = false;
    std::vector<Breakpoint> breakpoints_; // as placed, by line
    std::set<std::uint32_t> breakAt_;   // their addresses
    bool breakpointsChanged_ = false;   // placed anew while the program ran: the run picks them up
    bool userPause_ = false;            // the pause was asked for from outside
    int nextBreakpointId_ = 1;
    std::size_t uartSent_ = 0;          // UART bytes already told as output
    std::thread thread_;                // runs the program
};

} // namespace mirtolan
