// Flashes a built .hex into a chip with avrdude: finds the board's serial
// port, runs avrdude under a time limit, turns its progress bars into a
// percentage, and explains a failure with its likely cause and remedy.
//
// Both front ends call Upload: the command-line tool with --upload, the
// window from a worker thread (UploadController).
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Devices.h"

namespace mirtolan {

// A programmer avrdude knows, with what it takes to talk to it.
struct Programmer {
    std::string_view id;        // avrdude's -c id
    std::string_view title;     // what people call it
    bool serialPort;            // talks over a serial port (-P /dev/tty...); else over USB
    unsigned defaultBaud;       // -b speed; 0: the programmer sets its own
    bool eraseFirst;            // avrdude erases the chip before writing; a bootloader erases page by page itself
};

// The programmers people use, the Uno's bootloader first.
std::span<const Programmer> Programmers();
// By avrdude id; null when the table does not know it (avrdude may still).
const Programmer* FindProgrammer(std::string_view id);
constexpr std::string_view DefaultProgrammer = "arduino";

// The serial ports a board may sit on: /dev/ttyACM* (boards with a USB chip
// of their own, as the Uno) before /dev/ttyUSB* (USB-serial adapters), each
// in number order. `devDir` is the folder to look in.
std::vector<std::string> BoardPorts(const std::string& devDir = "/dev");

// How an upload ended.
enum class UploadOutcome {
    Uploaded,        // written and verified
    NoPort,          // no port given and none found, or the port is not there
    PortPermission,  // the port is there but may not be opened
    NoAnswer,        // nothing, or the wrong thing, answers on the port
    WrongDevice,     // the chip's signature is not the device built for
    VerifyFailed,    // the read-back differs from the .hex
    AvrdudeMissing,  // avrdude is not installed (not on PATH)
    Stopped,         // the user stopped it
    TimedOut,        // avrdude ran past the time limit
    Failed,          // any other failure: avrdude's own words say why
};

// The plain explanation of an outcome.
struct UploadAdvice {
    UploadOutcome outcome; // the outcome explained
    std::string_view what; // what happened
    std::string_view cause; // its likely cause
    std::string_view remedy; // what to do about it
};
const UploadAdvice& AdviceFor(UploadOutcome outcome);

// The command that lets a user open serial ports (after logging in again).
constexpr std::string_view DialoutCommand = "sudo usermod -aG dialout $USER";

// avrdude's time limit: it spins for ever when a port vanishes mid-session.
constexpr std::chrono::seconds DefaultUploadTimeLimit{120};

struct UploadProgress {
    std::string phase;  // "Writing", "Verifying", or "Connecting" before either
    int phasePercent = 0; // of the phase, 0..100
    int percent = 0;      // of the whole upload, 0..100
};

struct UploadOptions {
    std::string hexFile;                 // the program to flash
    std::string hexImage;                // the program's text as built; when set, avrdude reads a private copy
                                         // of it, named like hexFile, whatever becomes of that file meanwhile
    const Device* device = nullptr;      // the chip; null: the default device
    std::string programmer{DefaultProgrammer}; // avrdude's -c id
    std::string port;                    // empty: the first board port found
    std::string portsDir = "/dev";       // where board ports are looked for
    unsigned baud = 0;                   // 0: the programmer's default
    std::string avrdude = "avrdude";     // the program run, looked up on PATH
    std::chrono::milliseconds timeLimit = DefaultUploadTimeLimit; // avrdude is stopped after it
    std::function<void(const UploadProgress&)> progress; // told as the bars grow
    std::function<void(const std::string& line)> output; // each line avrdude writes
    std::function<void(const std::vector<std::string>& command)> starting; // told the avrdude command as it starts
    const std::atomic<bool>* cancel = nullptr; // set from another thread to stop avrdude
};

struct UploadResult {
    UploadOutcome outcome = UploadOutcome::Failed; // how it ended
    std::string port;              // the port used (empty when none)
    bool portFound = false;        // the port was found, not given
    std::vector<std::string> command; // the avrdude command run, program first
    int exitStatus = -1;           // avrdude's exit status; -1 when it did not exit by itself
    std::string log;               // all avrdude wrote
    std::string detail;            // avrdude's own line that decided the outcome, if any

    bool ok() const { return outcome == UploadOutcome::Uploaded; }
    // The outcome for people: what happened ("upload failed: ..."), its cause
// and remedy, on lines.
    std::string explain() const;
};

// The avrdude arguments for an upload to `port` (program name first).
std::vector<std::string> AvrdudeCommand(const UploadOptions& options, const std::string& port);

UploadResult Upload(const UploadOptions& options);

// Follows avrdude's progress bars in what it writes, fed in pieces as they
// come: "Writing | ####  ...  | 100% 0.32s", one '#' per 2 %.
class ProgressReader {
public:
    // True when the progress changed.
    bool feed(std::string_view text);
    const UploadProgress& progress() const { return progress_; }

private:
    UploadProgress progress_{"Connecting", 0, 0};
    std::string line_;   // the line written so far: a bar grows within one line
    bool wrote_ = false; // a Writing bar was seen: a Reading bar now is the verify
};

// Decides an outcome from avrdude's output and exit status; sets `detail`
// to the line that decided it. Success needs avrdude's line that the flash
// was verified: avrdude also ends well after printing its configuration or
// a list, having uploaded nothing.
UploadOutcome ClassifyAvrdude(std::string_view log, int exitStatus, std::string& detail);

// True for a programmer id as avrdude names them (letters, digits, '_',
// '-', '.'). Others ask avrdude for something else than an upload: "?"
// lists the programmers, "ID/s" prints a configuration.
bool IsProgrammerId(std::string_view id);

// Runs Upload and tells what happens as a command-line tool does: the
// command and the port it found on `out`, the progress in steps of
// ProgressStep percent, and the outcome; a failure, with its cause and
// remedy, on `err`, as "PROGRAM: error: upload failed: ...".
constexpr int ProgressStep = 10;
UploadResult UploadWithReport(UploadOptions options, std::ostream& out, std::ostream& err, std::string_view program);

} // namespace mirtolan
