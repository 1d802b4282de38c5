#include "DebugSession.h"

#include <cstdio>
#include <filesystem>

#include "CodeList.h"

namespace mirtolan {

namespace {

// A debugged program runs until the user stops it.
constexpr std::uint64_t EndlessCycles = UINT64_MAX / 2;
// How the name of a session's scratch folder begins.
constexpr const char* ScratchPrefix = "mirtolan-debug-";

std::string hexText(std::uint32_t v, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%0*X", digits, v);
    return buf;
}

// A register's value: "165 ($A5)".
std::string byteText(std::uint8_t v) { return std::to_string(v) + " (" + hexText(v, 2) + ")"; }

} // namespace

DebugSession::DebugSession(Listener listener) : listener_(std::move(listener)) {}

DebugSession::~DebugSession() { terminate(); }

bool DebugSession::launch(const LaunchOptions& options, std::string& error)
{
    scratch_.emplace(ScratchPrefix);
    if (scratch_->path().empty()) {
        error = scratch_->error();
        return false;
    }
    BuildOptions b = options.build;
    // The session's own listing and .hex: the user's files stay as they are.
    const std::string stem = std::filesystem::path(b.sourceFile).stem().string();
    b.listingFile = scratch_->file(stem.empty() ? "program.asm" : stem + ".asm");
    b.hexFile = scratch_->file("program.hex");
    b.includeHeader = true;
    built_ = BuildHex(b);
    if (built_.status != BuildResult::Built) {
        error = built_.status == BuildResult::Problems ? "the program has problems (see the diagnostics)" : built_.error;
        return false;
    }
    RunOptions run = options.run;
    run.maxCycles = EndlessCycles;
    run.maxSeconds = 0;
    run.stop = nullptr;
    run.progress = [this](double, std::uint64_t) { flushOutput(); };
    machine_ = std::make_unique<Machine>(built_, run);
    if (!machine_->error().empty()) {
        error = machine_->error();
        return false;
    }
    std::string symbolsError;
    const std::string dirs[] = {std::string(AvraIncludeDir)};
    if (const auto symbols = ReadDeviceSymbols(*built_.device, dirs, symbolsError))
        for (const auto& [name, s] : symbols->names)
            if (s.kind == SymbolKind::Register) {
                // I/O space addresses (below $40) are reached $20 higher in data space.
                constexpr std::int64_t IoSpace = 0x40, IoToData = 0x20;
                const auto address = std::uint32_t(s.value < IoSpace ? s.value + IoToData : s.value);
                registerNames_.try_emplace(address, name);
            }
    stopOnEntry_ = options.stopOnEntry;
    thread_ = std::thread([this] { loop(); });
    return true;
}

std::vector<Breakpoint> DebugSession::setBreakpoints(const std::vector<std::int64_t>& lines)
{
    std::vector<Breakpoint> placed;
    const auto& spots = built_.spots;
    for (const std::int64_t requested : lines) {
        Breakpoint b;
        b.id = nextBreakpointId_++;
        b.requested = requested;
        // The first word with code on the line, or on the next line that has one.
        const CodeSpot* best = nullptr;
        for (const CodeSpot& s : spots)
            if (s.line >= requested &&
                (!best || s.line < best->line || (s.line == best->line && s.column < best->column)))
                best = &s;
        if (best) {
            b.verified = true;
            b.line = best->line;
            b.address = best->address;
            if (best->line != requested)
                b.message = "line " + std::to_string(requested) + " has no code: the breakpoint moved to line " +
                            std::to_string(best->line);
        } else {
            b.message = "no code at or after line " + std::to_string(requested);
        }
        placed.push_back(b);
    }
    std::lock_guard lock(mutex_);
    breakpoints_ = placed;
    breakAt_.clear();
    for (const Breakpoint& b : placed)
        if (b.verified)
            breakAt_.insert(b.address);
    if (running_) {
        // The run stops for a moment to take them, and goes on.
        breakpointsChanged_ = true;
        if (machine_)
            machine_->pause();
    } else if (machine_) {
        placeTraps(false);
    }
    return placed;
}

void DebugSession::placeTraps(bool everySpot)
{
    machine_->clearTraps();
    if (everySpot)
        for (const CodeSpot& s : built_.spots)
            machine_->setTrap(s.address, true);
    for (const std::uint32_t a : breakAt_)
        machine_->setTrap(a, true);
}

void DebugSession::start() { command(stopOnEntry_ ? Mode::Entry : Mode::Continue); }
void DebugSession::resume() { command(Mode::Continue); }
void DebugSession::stepOver(bool byLine) { command(byLine ? Mode::OverLine : Mode::Over); }
void DebugSession::stepIn() { command(Mode::In); }
void DebugSession::stepOut() { command(Mode::Out); }

void DebugSession::pause()
{
    std::lock_guard lock(mutex_);
    if (running_ && machine_) {
        userPause_ = true;
        machine_->pause();
    }
}

void DebugSession::command(Mode mode)
{
    {
        std::lock_guard lock(mutex_);
        if (!machine_ || running_ || ended_ || quit_)
            return;
        pending_ = mode;
        running_ = true;
    }
    wake_.notify_all();
}

void DebugSession::terminate()
{
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable())
            return;
        quit_ = true;
        if (machine_)
            machine_->pause();
    }
    wake_.notify_all();
    thread_.join();
}

void DebugSession::loop()
{
    for (;;) {
        Mode mode;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_.has_value(); });
            if (quit_)
                break;
            mode = *pending_;
            pending_.reset();
        }
        runOnce(mode);
    }
    bool wasEnded = false;
    {
        std::lock_guard lock(mutex_);
        wasEnded = ended_;
        ended_ = true;
        running_ = false;
    }
    if (!wasEnded) {
        DebugEvent e;
        e.kind = DebugEvent::Exited;
        e.exitCode = 1;
        e.text = "stopped";
        listener_(e);
    }
}

void DebugSession::flushOutput()
{
    const std::string& out = machine_->uartOutput();
    if (out.size() <= uartSent_)
        return;
    DebugEvent e;
    e.kind = DebugEvent::Output;
    e.text = out.substr(uartSent_);
    uartSent_ = out.size();
    listener_(e);
}

// Runs in `mode` until the program stands still or ends, and tells why.
void DebugSession::runOnce(Mode mode)
{
    Machine& m = *machine_;
    const std::size_t depth = m.frames().size();
    const std::int64_t fromLine = m.sourceLine(m.pc());
    const bool stepping = mode != Mode::Continue;
    {
        std::lock_guard lock(mutex_);
        placeTraps(stepping);
    }
    // At main's first word: the entry stop lies where main's code starts.
    const CodeSpot* mainSpot = nullptr;
    if (mode == Mode::Entry)
        for (const CodeSpot& s : built_.spots)
            if (SameIgnoringCase(s.definition, "main") && (!mainSpot || s.address < mainSpot->address))
                mainSpot = &s;
    std::vector<int> hit;
    StopKind why = StopKind::Step;
    const auto atTrap = [&]() {
        const std::uint32_t pc = m.pc();
        hit.clear();
        if (mode == Mode::Entry) {
            why = StopKind::Entry;
            return mainSpot && pc == mainSpot->address;
        }
        {
            std::lock_guard lock(mutex_);
            if (breakAt_.count(pc))
                for (const Breakpoint& b : breakpoints_)
                    if (b.verified && b.address == pc)
                        hit.push_back(b.id);
        }
        if (!hit.empty()) {
            why = StopKind::Breakpoint;
            return true;
        }
        const std::size_t d = m.frames().size();
        why = StopKind::Step;
        switch (mode) {
        case Mode::Continue: return false;
        case Mode::Entry: return false; // told above
        case Mode::In: return true;
        case Mode::Over: return d <= depth;
        case Mode::OverLine: return d <= depth && m.sourceLine(pc) != fromLine;
        case Mode::Out: return d < depth;
        }
        return false;
    };
    Machine::Outcome outcome;
    for (;;) {
        outcome = m.run(atTrap);
        if (outcome != Machine::Outcome::Paused)
            break;
        std::lock_guard lock(mutex_);
        if (quit_ || userPause_)
            break;
        if (breakpointsChanged_) {
            breakpointsChanged_ = false;
            placeTraps(stepping);
        }
    }
    flushOutput();
    DebugEvent e;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        if (outcome == Machine::Outcome::Paused) {
            userPause_ = false;
            if (quit_)
                return;
            why = StopKind::Pause;
        }
    }
    if (outcome == Machine::Outcome::Ended) {
        if (m.stopped() == StopReason::Fault) {
            // The program stands at its fault, to be looked into; going on ends it.
            e.kind = DebugEvent::Stopped;
            e.stop = StopKind::Exception;
            e.text = m.report().fault;
            listener_(e);
            std::lock_guard lock(mutex_);
            ended_ = true;
            return;
        }
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        e.kind = DebugEvent::Exited;
        e.exitCode = m.stopped() == StopReason::Halted ? 0 : 1;
        e.text = m.stopped() == StopReason::Halted ? "main returned" : StopReasonName(m.stopped());
        listener_(e);
        return;
    }
    e.kind = DebugEvent::Stopped;
    e.stop = why;
    e.breakpoints = hit;
    listener_(e);
}

bool DebugSession::stopped() const
{
    std::lock_guard lock(mutex_);
    return machine_ && !running_;
}

std::vector<Frame> DebugSession::stackTrace() const
{
    std::vector<Frame> out;
    if (!stopped())
        return out;
    const Machine& m = *machine_;
    const auto& frames = m.frames();
    const auto frameAt = [&](std::uint32_t address) {
        Frame f;
        f.name = m.wordAt(address).name;
        f.address = address;
        if (const CodeSpot* s = m.spotAt(address)) {
            f.line = s->line;
            f.column = s->column;
        }
        return f;
    };
    out.push_back(frameAt(m.pc()));
    // Each frame's site lies in the word below it; the start-up's is left out.
    for (std::size_t i = frames.size(); i-- > 1;) {
        Frame f = frameAt(frames[i].site);
        f.interrupted = frames[i].kind == FrameKind::Interrupt;
        out.push_back(f);
    }
    return out;
}

std::string DebugSession::cellText(std::uint32_t cell) const { return std::to_string(cell); }

std::vector<Shown> DebugSession::numbered(const std::vector<std::uint32_t>& cells) const
{
    std::vector<Shown> out;
    for (std::size_t i = 0; i < cells.size(); ++i)
        out.push_back({"[" + std::to_string(i) + "]", cellText(cells[i]), {}});
    return out;
}

std::vector<Shown> DebugSession::dataStack() const
{
    return stopped() ? numbered(machine_->stackCells()) : std::vector<Shown>{};
}

std::vector<Shown> DebugSession::loopStack() const
{
    return stopped() ? numbered(machine_->loopCells()) : std::vector<Shown>{};
}

std::vector<Shown> DebugSession::variables() const
{
    std::vector<Shown> out;
    if (!stopped())
        return out;
    const Machine& m = *machine_;
    const std::uint32_t cell = std::uint32_t(m.cellBytes());
    for (const ProgramVariable& v : built_.variables) {
        Shown s;
        s.name = v.name;
        if (v.size <= cell) {
            s.value = cellText(m.cellsBetween(v.address, v.address + cell).front());
        } else {
            // A table: its bytes, each a part.
            s.value = "[";
            for (std::uint32_t k = 0; k < v.size; ++k) {
                const std::string b = std::to_string(m.data(v.address + k));
                s.value += (k ? " " : "") + b;
                s.parts.push_back({"[" + std::to_string(k) + "]", b, {}});
            }
            s.value += "]";
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<Shown> DebugSession::registers() const
{
    std::vector<Shown> out;
    if (!stopped())
        return out;
    for (const std::uint32_t a : machine_->touchedIo()) {
        const auto it = registerNames_.find(a);
        out.push_back({it == registerNames_.end() ? hexText(a, 4) : it->second, byteText(machine_->data(a)), {}});
    }
    return out;
}

std::optional<Shown> DebugSession::evaluate(const std::string& name) const
{
    if (!stopped())
        return std::nullopt;
    for (const Shown& v : variables())
        if (SameIgnoringCase(v.name, name))
            return v;
    for (const auto& [address, reg] : registerNames_)
        if (SameIgnoringCase(reg, name))
            return Shown{reg, byteText(machine_->data(address)), {}};
    return std::nullopt;
}

RunReport DebugSession::report() const
{
    if (!stopped())
        return {};
    return machine_->report();
}

} // namespace mirtolan
