#include "Simulator.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "avr_eeprom.h"
#include "avr_ioport.h"
#include "avr_uart.h"
#include "sim_avr.h"
#include "sim_hex.h"
#include "sim_io.h"

namespace mirtolan {

namespace {

// The AVR register file sits at the bottom of data memory.
constexpr std::uint32_t RegXL = 26;
constexpr std::uint32_t RegYL = 28;
// The stack pointer's I/O registers, as data addresses (the same on every AVR).
constexpr std::uint32_t DataSPL = 0x5D;
constexpr std::uint32_t DataSPH = 0x5E;
// I/O registers below this I/O address are reached at I/O address + 0x20 in
// data memory; the include files give the extended ones as data addresses.
constexpr std::int64_t IoSpaceSize = 0x40;
constexpr std::uint32_t IoToData = 0x20;
// Intel hex chunks from this address up are not flash (EEPROM, fuses).
constexpr std::uint32_t FlashChunkLimit = 0x800000;
// How often (in cycles) the run looks at the stop flag and reports progress:
// a few milliseconds of real time, so Stop answers at once.
constexpr std::uint64_t PollCycles = 1 << 18;
// A UART frame of 8N1: start bit, eight data bits, stop bit.
constexpr std::uint64_t BitsPerUartByte = 10;
// While the program has not enabled the receiver, input waits this long
// before looking again.
constexpr std::uint64_t UartRetryCycles = 1000;
// Ports simavr may have, A to L; a core answers for the ones its chip has.
constexpr std::string_view PortLetters = "ABCDEFGHJKL";
constexpr int PinsPerPort = 8;
// Names in the profile for flash that belongs to no word.
constexpr const char* StartupName = "(start-up)";
constexpr const char* OutsideName = "(outside the program)";
// The reset flag the watchdog sets (bit 3 in MCUSR/MCUCSR on every AVR with one).
constexpr std::uint8_t WatchdogResetFlag = 1 << 3;

// Each fault: its name, then what it means, which the report puts behind
// the word it happened in.
struct FaultText {
    FaultKind kind;   // the fault
    const char* name; // what the report calls it
    const char* why;  // what it means, in the program's terms
};
constexpr FaultText FaultTexts[] = {
    {FaultKind::DataStackUnderflow, "data stack underflow", "more cells taken than were on the stack"},
    {FaultKind::DataStackIntoVariables, "data stack overflow", "the stack grew down into the variables"},
    {FaultKind::LoopStackOverflow, "loop stack overflow", "DO loops or >R nested too deep"},
    {FaultKind::LoopStackUnderflow, "loop stack underflow", "R>, I or LOOP with nothing on the loop stack"},
    {FaultKind::HardwareStackOverflow, "hardware stack overflow", "calls nested too deep (recursion without end?)"},
    {FaultKind::HardwareStackUnderflow, "hardware stack underflow", "a return with no return address on the stack"},
    {FaultKind::UnusedFlash, "jump into unused flash", "execution reached flash the program does not occupy"},
    {FaultKind::IllegalInstruction, "illegal instruction", "an opcode the chip does not have"},
    {FaultKind::Watchdog, "watchdog reset", "the watchdog timer ran out"},
    {FaultKind::Reset, "reset", "execution went to address 0"},
    {FaultKind::SleepForever, "sleep forever", "asleep with no interrupt source running to wake the chip"},
    {FaultKind::SleepInterruptsOff, "sleep with interrupts off", "only a reset would wake the chip"},
};

const FaultText& faultText(FaultKind k)
{
    for (const FaultText& f : FaultTexts)
        if (f.kind == k)
            return f;
    return FaultTexts[0];
}

// The UART0 registers under the names of the two families of include files.
struct UartNames {
    const char* control;     // the control register that holds the receiver enable
    const char* rxEnable;    // the receiver enable's bit number
    const char* status;      // the status register that holds the double-speed bit
    const char* doubleSpeed; // the double-speed bit number (8 clocks a bit instead of 16)
    const char* baudLow;     // the baud rate divisor's low byte
    const char* baudHigh;    // its high byte
};
constexpr UartNames UartNameSets[] = {
    {"UCSR0B", "RXEN0", "UCSR0A", "U2X0", "UBRR0L", "UBRR0H"},
    {"UCSRB", "RXEN", "UCSRA", "U2X", "UBRRL", "UBRRH"},
};
// The reset flags register, by its two spellings.
constexpr const char* ResetFlagNames[] = {"MCUSR", "MCUCSR"};

struct AvrDeleter {
    void operator()(avr_t* avr) const
    {
        avr_terminate(avr);
        std::free(avr); // allocated by the core with malloc; terminate leaves it
    }
};
using AvrPtr = std::unique_ptr<avr_t, AvrDeleter>;

// free_ihex_chunks of simavr 1.6 frees the chunks' data but not the array.
struct ChunksDeleter {
    int count = 0; // chunks in the array
    void operator()(ihex_chunk_t* chunks) const
    {
        for (int i = 0; i < count; ++i)
            std::free(chunks[i].data);
        std::free(chunks);
    }
};

std::string upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string hex4(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%04X", v);
    return buf;
}

// simavr reports through one logger for all its chips; the chip's `custom`
// slot leads back to the run it belongs to.
struct Run;
void Logger(avr_t* avr, int level, const char* format, va_list ap);

struct PinWatch {
    Run* run = nullptr;     // the run the pin belongs to
    std::size_t trace = 0;  // index into Run::traces
    int level = 0;          // the last level seen
};

struct Run {
    avr_t* avr = nullptr;                 // the chip
    bool invalidOpcode = false;           // simavr met an opcode it does not know
    std::string crash;                    // simavr's last error message
    std::vector<PinTrace> traces;         // every pin watched, in port and pin order
    std::vector<PinWatch> watches;        // one per trace
    std::vector<avr_irq_t*> pinIrqs;      // one per trace, to drive the pin from outside
    std::size_t changesKept = 0;          // pin changes kept over all traces
    std::string uartOut;                  // what UART0 sent
    // Pin levels to drive, by cycle, and the next one due.
    std::vector<std::pair<std::uint64_t, PinStimulus>> events;
    std::size_t nextEvent = 0;
    // UART input: the bytes, the next to send, and where to find the receiver's registers.
    std::string uartIn;
    std::size_t uartPos = 0;
    avr_irq_t* uartInput = nullptr;
    std::optional<UartNames> uartNames;
    const std::map<std::string, std::uint32_t>* symbols = nullptr;

    std::uint32_t dataAddress(const char* name) const
    {
        const auto it = symbols->find(name);
        if (it == symbols->end())
            return 0;
        return it->second < IoSpaceSize ? it->second + IoToData : it->second;
    }
    std::uint32_t bit(const char* name) const
    {
        const auto it = symbols->find(name);
        return it == symbols->end() ? 0 : it->second;
    }
};

void Logger(avr_t* avr, int level, const char* format, va_list ap)
{
    if (!avr || !avr->custom.data || level > LOG_WARNING)
        return;
    Run* run = static_cast<Run*>(avr->custom.data);
    if (std::strstr(format, "Invalid Opcode") || std::strstr(format, "invalid opcode"))
        run->invalidOpcode = true;
    if (level <= LOG_ERROR) {
        char buf[256];
        std::vsnprintf(buf, sizeof buf, format, ap);
        run->crash = buf;
        while (!run->crash.empty() && std::isspace(static_cast<unsigned char>(run->crash.back())))
            run->crash.pop_back();
    }
}

// The run goes as fast as the host can; simavr would otherwise keep a
// sleeping chip in step with the wall clock.
void NoSleep(avr_t*, avr_cycle_count_t) {}

void PinChanged(avr_irq_t*, std::uint32_t value, void* param)
{
    PinWatch& w = *static_cast<PinWatch*>(param);
    const int level = value ? 1 : 0;
    if (level == w.level)
        return;
    w.level = level;
    PinTrace& t = w.run->traces[w.trace];
    ++t.count;
    if (w.run->changesKept < MaxPinChangesKept) {
        t.changes.emplace_back(w.run->avr->cycle, level);
        ++w.run->changesKept;
    }
}

void UartByte(avr_irq_t*, std::uint32_t value, void* param)
{
    static_cast<Run*>(param)->uartOut.push_back(char(value & 0xFF));
}

avr_cycle_count_t DriveEvents(avr_t* avr, avr_cycle_count_t when, void* param)
{
    Run& run = *static_cast<Run*>(param);
    while (run.nextEvent < run.events.size() && run.events[run.nextEvent].first <= when) {
        const PinStimulus& p = run.events[run.nextEvent].second;
        for (std::size_t i = 0; i < run.traces.size(); ++i)
            if (run.traces[i].name == std::string("P") + p.port + char('0' + p.bit))
                avr_raise_irq(run.pinIrqs[i], std::uint32_t(p.level));
        ++run.nextEvent;
    }
    (void)avr;
    return run.nextEvent < run.events.size() ? run.events[run.nextEvent].first : 0;
}

// One byte each frame time at the baud the program set; input waits while
// the receiver is off, as a terminal would see nothing echoed.
avr_cycle_count_t FeedUart(avr_t* avr, avr_cycle_count_t when, void* param)
{
    Run& run = *static_cast<Run*>(param);
    if (run.uartPos >= run.uartIn.size())
        return 0;
    const UartNames& n = *run.uartNames;
    if (!(avr->data[run.dataAddress(n.control)] & (1u << run.bit(n.rxEnable))))
        return when + UartRetryCycles;
    std::uint32_t ubrr = avr->data[run.dataAddress(n.baudLow)];
    const std::uint8_t high = avr->data[run.dataAddress(n.baudHigh)];
    if (!(high & 0x80)) // on the ATmega32 UBRRH shares its address with UCSRC (URSEL set)
        ubrr |= std::uint32_t(high & 0x0F) << 8;
    const bool doubled = avr->data[run.dataAddress(n.status)] & (1u << run.bit(n.doubleSpeed));
    const std::uint64_t cyclesPerBit = (doubled ? 8 : 16) * std::uint64_t(ubrr + 1);
    avr_raise_irq(run.uartInput, static_cast<unsigned char>(run.uartIn[run.uartPos++]));
    return when + cyclesPerBit * BitsPerUartByte;
}

// The words of the program by flash address: which word each flash word
// belongs to, and where each word starts.
struct AddressMap {
    std::vector<std::string> names;        // 0: outside, 1: start-up, then the words
    std::vector<std::int64_t> lines;       // source line of each name
    std::vector<std::uint32_t> starts;     // first flash word of each name
    std::vector<std::uint32_t> owner;      // per flash word: index into names; 0 where the program put no code

    std::uint32_t at(std::uint32_t bytePc) const
    {
        const std::uint32_t w = bytePc >> 1;
        return w < owner.size() ? owner[w] : 0;
    }
    bool isStart(std::uint32_t bytePc) const
    {
        const std::uint32_t i = at(bytePc);
        return i > 1 && starts[i] == bytePc >> 1;
    }
    WordAt word(std::uint32_t bytePc) const
    {
        const std::uint32_t i = at(bytePc);
        return WordAt{names[i], lines[i], bytePc};
    }
};

AddressMap MakeAddressMap(const BuildResult& program, const std::vector<bool>& used)
{
    AddressMap m;
    m.names = {OutsideName, StartupName};
    m.lines = {0, 0};
    m.starts = {0, 0};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byStart; // flash word, name index
    for (const ProgramWord& w : program.words) {
        const auto it = program.symbols.find(upper(w.label));
        if (it == program.symbols.end())
            continue;
        m.names.push_back(w.name);
        m.lines.push_back(w.line);
        m.starts.push_back(it->second);
        byStart.emplace_back(it->second, std::uint32_t(m.names.size() - 1));
    }
    std::sort(byStart.begin(), byStart.end());
    m.owner.assign(used.size(), 0);
    std::size_t next = 0;
    std::uint32_t current = 1;
    for (std::uint32_t a = 0; a < used.size(); ++a) {
        while (next < byStart.size() && byStart[next].first <= a)
            current = byStart[next++].second;
        m.owner[a] = used[a] ? current : 0;
    }
    return m;
}

// A word on the way down the call chain, for the self-and-callees count.
struct Frame {
    std::uint32_t word = 0;    // index into AddressMap::names
    std::uint64_t entry = 0;   // cycle it was entered
    bool counted = false;      // the outermost activation of its word, whose time counts
};

// The chip's EEPROM as simavr holds it, `size` bytes (E2END + 1 of the
// device's definitions); empty when the chip has none.
std::vector<std::uint8_t> readEeprom(avr_t* avr, std::optional<std::uint32_t> lastAddress)
{
    if (!lastAddress)
        return {};
    avr_eeprom_desc_t desc{};
    avr_ioctl(avr, AVR_IOCTL_EEPROM_GET, &desc); // with no buffer, it points at the chip's bytes
    if (!desc.ee)
        return {};
    return std::vector<std::uint8_t>(desc.ee, desc.ee + *lastAddress + 1);
}

} // namespace

RunReport RunProgram(const BuildResult& program, const RunOptions& options)
{
    RunReport report;
    const Device& device = program.device ? *program.device : DefaultDevice();
    report.device = std::string(device.title);
    report.clockHz = options.clockHz ? options.clockHz : device.clockHz;

    const auto symbol = [&](const char* name) -> std::optional<std::uint32_t> {
        const auto it = program.symbols.find(name);
        if (it == program.symbols.end())
            return std::nullopt;
        return it->second;
    };
    const auto dataTop = symbol("DATA_STACK_TOP");
    const auto loopTop = symbol("LOOP_STACK_TOP");
    const auto mainAt = symbol("MAIN");
    const auto haltAt = symbol("_HALT");
    if (!dataTop || !loopTop || !mainAt || !haltAt) {
        report.error = "the program has no run-time header or no word main, so it cannot be run";
        return report;
    }

    // simavr has one logger for all its chips; set it once, whichever
    // thread runs first, rather than race to set it on every run.
    static std::once_flag loggerSet;
    std::call_once(loggerSet, [] { avr_global_logger_set(Logger); });

    AvrPtr avr(avr_make_mcu_by_name(std::string(device.simavrCore).c_str()));
    if (!avr) {
        report.error = "the simulator knows no " + std::string(device.title);
        return report;
    }
    Run run;
    run.avr = avr.get();
    run.symbols = &program.symbols;
    avr->custom.data = &run;
    avr_init(avr.get());
    avr->log = LOG_WARNING;
    avr->frequency = report.clockHz;
    avr->sleep = NoSleep;

    // Load the program, and note which flash words it occupies.
    std::vector<bool> used((avr->flashend + 1) / 2, false);
    {
        ihex_chunk_t* raw = nullptr;
        const int count = read_ihex_chunks(program.hexFile.c_str(), &raw);
        std::unique_ptr<ihex_chunk_t, ChunksDeleter> chunks(raw, ChunksDeleter{count});
        if (count <= 0) {
            report.error = "cannot read the program " + program.hexFile;
            return report;
        }
        for (int i = 0; i < count; ++i) {
            const ihex_chunk_t& c = raw[i];
            if (c.baseaddr >= FlashChunkLimit)
                continue;
            if (std::uint64_t(c.baseaddr) + c.size > std::uint64_t(avr->flashend) + 1) {
                report.error = "the program does not fit in the flash of the " + report.device;
                return report;
            }
            avr_loadcode(avr.get(), c.data, c.size, c.baseaddr);
            for (std::uint32_t a = c.baseaddr / 2; a < (c.baseaddr + c.size + 1) / 2; ++a)
                used[a] = true;
        }
    }
    const AddressMap map = MakeAddressMap(program, used);

    // Watch every pin of every port the chip has.
    for (const char port : PortLetters) {
        avr_irq_t* first = avr_io_getirq(avr.get(), AVR_IOCTL_IOPORT_GETIRQ(port), IOPORT_IRQ_PIN0);
        if (!first)
            continue;
        for (int b = 0; b < PinsPerPort; ++b) {
            run.traces.push_back(PinTrace{std::string("P") + port + char('0' + b), {}, 0});
            run.pinIrqs.push_back(first + b);
        }
    }
    run.watches.resize(run.traces.size());
    for (std::size_t i = 0; i < run.traces.size(); ++i) {
        run.watches[i] = PinWatch{&run, i, 0};
        avr_irq_register_notify(run.pinIrqs[i], PinChanged, &run.watches[i]);
    }

    // UART0: catch what it sends, keep simavr from printing it and from
    // pausing a program that polls it, feed it input.
    if (avr_irq_t* out = avr_io_getirq(avr.get(), AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT)) {
        std::uint32_t flags = 0;
        avr_ioctl(avr.get(), AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
        flags &= ~std::uint32_t(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
        avr_ioctl(avr.get(), AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
        avr_irq_register_notify(out, UartByte, &run);
        run.uartInput = avr_io_getirq(avr.get(), AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    }
    if (!options.uartIn.empty()) {
        for (const UartNames& n : UartNameSets)
            if (program.symbols.count(n.control) && program.symbols.count(n.baudLow)) {
                run.uartNames = n;
                break;
            }
        if (!run.uartInput || !run.uartNames) {
            report.error = "the " + report.device + " has no UART0 to feed input to";
            return report;
        }
        run.uartIn = options.uartIn;
        avr_cycle_timer_register(avr.get(), UartRetryCycles, FeedUart, &run);
    }
    for (const PinStimulus& p : options.pins) {
        const std::string name = std::string("P") + p.port + char('0' + p.bit);
        if (std::none_of(run.traces.begin(), run.traces.end(), [&](const PinTrace& t) { return t.name == name; })) {
            report.error = "the " + report.device + " has no pin " + name;
            return report;
        }
        run.events.emplace_back(std::uint64_t(p.seconds * report.clockHz), p);
    }
    std::stable_sort(run.events.begin(), run.events.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    if (!run.events.empty()) {
        if (run.events.front().first == 0)
            DriveEvents(avr.get(), 0, &run);
        if (run.nextEvent < run.events.size())
            avr_cycle_timer_register(avr.get(), run.events[run.nextEvent].first, DriveEvents, &run);
    }

    // The limit: cycles, time, or by default a few simulated seconds.
    std::uint64_t limit = options.maxCycles;
    if (options.maxSeconds > 0) {
        const auto byTime = std::uint64_t(options.maxSeconds * report.clockHz);
        limit = limit ? std::min(limit, byTime) : byTime;
    }
    if (!limit)
        limit = std::uint64_t(DefaultRunSeconds * report.clockHz);

    // The data stack may grow down to the last variable; without variables,
    // to the start of SRAM, below which the I/O registers lie.
    std::uint32_t varEnd = device.sramStart;
    for (const ProgramVariable& v : program.variables)
        varEnd = std::max(varEnd, v.address + v.size);
    std::uint32_t resetFlags = 0;
    for (const char* n : ResetFlagNames)
        if (!resetFlags)
            resetFlags = run.dataAddress(n);

    const std::uint8_t* data = avr->data;
    const std::uint32_t ramEnd = avr->ramend;
    const std::uint32_t retBytes = avr->address_size;
    const auto sp = [data] { return std::uint32_t(data[DataSPL] | (data[DataSPH] << 8)); };
    const auto reg16 = [data](std::uint32_t low) { return std::uint32_t(data[low] | (data[low + 1] << 8)); };

    const std::size_t names = map.names.size();
    std::vector<std::uint64_t> self(names, 0), total(names, 0), calls(names, 0);
    std::vector<std::uint32_t> active(names, 0);
    std::vector<Frame> frames;
    frames.reserve(ramEnd / retBytes);
    // More frames than return addresses fit in RAM mean calls that never
    // returned (a program that resets the stack pointer); the oldest go.
    const std::size_t maxFrames = ramEnd / retBytes;
    const auto enter = [&](std::uint32_t word, std::uint64_t now) {
        ++calls[word];
        if (frames.size() >= maxFrames) {
            const Frame f = frames.front();
            frames.erase(frames.begin());
            --active[f.word];
            if (f.counted)
                total[f.word] += now - f.entry;
        }
        frames.push_back(Frame{word, now, active[word]++ == 0});
    };
    const auto leave = [&](std::uint64_t now) {
        if (frames.empty())
            return;
        const Frame f = frames.back();
        frames.pop_back();
        --active[f.word];
        if (f.counted)
            total[f.word] += now - f.entry;
    };

    const auto eepromEnd = symbol("E2END");
    const std::vector<std::uint8_t> eepromAtReset = readEeprom(avr.get(), eepromEnd);

    const std::uint64_t start = avr->cycle;
    std::uint64_t nextPoll = start + std::min(PollCycles, limit);
    std::uint32_t spNow = sp();
    bool checking = false; // the stacks are set up once main is entered
    std::uint32_t faultPc = 0;

    const auto fault = [&](FaultKind kind, std::uint32_t pc) {
        report.stopped = StopReason::Fault;
        report.faultKind = kind;
        faultPc = pc;
    };

    // The hot loop: one instruction per turn, so everything in it is kept to
    // a few loads and compares; the ranges are tested with one unsigned
    // compare each, and the fault is worked out only when one fails.
    const std::uint32_t* owner = map.owner.data();
    const std::uint32_t ownerSize = std::uint32_t(map.owner.size());
    std::uint64_t* selfCycles = self.data();
    const std::uint32_t yLow = varEnd, ySpan = *dataTop - varEnd;
    const std::uint32_t xLow = *dataTop, xSpan = *loopTop - *dataTop;
    const std::uint32_t spLow = *loopTop - 1, spSpan = ramEnd - spLow;
    const auto ownerOf = [&](std::uint32_t bytePc) { return (bytePc >> 1) < ownerSize ? owner[bytePc >> 1] : 0; };
    for (;;) {
        const std::uint32_t pc = avr->pc;
        const std::uint64_t before = avr->cycle;
        avr->run(avr.get());
        const int state = avr->state;
        const std::uint64_t now = avr->cycle;
        const std::uint32_t here = ownerOf(pc);
        selfCycles[here] += now - before;
        const std::uint32_t newPc = avr->pc;
        const std::uint32_t newSp = sp();
        if (newSp != spNow) {
            if (newSp + retBytes == spNow)
                enter(ownerOf(newPc), now);
            else if (newSp == spNow + retBytes)
                leave(now);
            spNow = newSp;
        } else if (ownerOf(newPc) != here && map.isStart(newPc) && !frames.empty()) {
            // A tail call: the jump ends the caller and enters the callee in its place.
            leave(now);
            enter(ownerOf(newPc), now);
        }

        if (checking) {
            const std::uint32_t y = reg16(RegYL), x = reg16(RegXL);
            if (y - yLow > ySpan || x - xLow > xSpan || newSp - spLow > spSpan || !ownerOf(newPc) || newPc == 0 ||
                run.invalidOpcode) {
                if (run.invalidOpcode)
                    fault(FaultKind::IllegalInstruction, pc);
                else if (newPc == 0)
                    fault(resetFlags && (data[resetFlags] & WatchdogResetFlag) ? FaultKind::Watchdog : FaultKind::Reset, pc);
                else if (!ownerOf(newPc))
                    fault(FaultKind::UnusedFlash, pc);
                else if (y > *dataTop)
                    fault(FaultKind::DataStackUnderflow, pc);
                else if (y < varEnd)
                    fault(FaultKind::DataStackIntoVariables, pc);
                else if (x < *dataTop)
                    fault(FaultKind::LoopStackOverflow, pc);
                else if (x > *loopTop)
                    fault(FaultKind::LoopStackUnderflow, pc);
                else if (newSp < spLow)
                    fault(FaultKind::HardwareStackOverflow, pc);
                else
                    fault(FaultKind::HardwareStackUnderflow, pc);
                break;
            }
        } else if (newPc == *mainAt * 2) {
            checking = true;
        }

        if (state != cpu_Running) {
            if (state == cpu_Done) {
                const std::uint32_t w = newPc >> 1;
                if (w == *haltAt || w == *haltAt + 1)
                    report.stopped = StopReason::Halted;
                else
                    fault(FaultKind::SleepInterruptsOff, pc);
                break;
            }
            if (state == cpu_Crashed) {
                if (run.invalidOpcode)
                    fault(FaultKind::IllegalInstruction, pc);
                else if (run.crash.find("WATCHDOG") != std::string::npos || run.crash.find("atchdog") != std::string::npos)
                    fault(FaultKind::Watchdog, pc);
                else {
                    fault(FaultKind::Reset, pc);
                    report.fault = "the simulator stopped the chip (" + run.crash + ")";
                }
                break;
            }
            if (state == cpu_Sleeping && !avr->cycle_timers.timer) {
                fault(FaultKind::SleepForever, pc);
                break;
            }
        }
        if (now >= nextPoll) {
            nextPoll = now + PollCycles;
            if (now - start >= limit) {
                report.stopped = StopReason::Limit;
                break;
            }
            if (options.stop && options.stop->load(std::memory_order_relaxed)) {
                report.stopped = StopReason::Stopped;
                break;
            }
            if (options.progress)
                options.progress(double(now - start) / double(limit), now - start);
            nextPoll = std::min(nextPoll, start + limit);
        }
    }

    const std::uint64_t end = avr->cycle;
    report.cycles = end - start;
    report.seconds = double(report.cycles) / double(report.clockHz);

    // The chain of callers, from the return addresses on the hardware stack.
    if (report.stopped == StopReason::Fault) {
        report.faultWord = map.word(faultPc);
        for (std::uint32_t a = sp() + 1; a + retBytes - 1 <= ramEnd; a += retBytes) {
            std::uint32_t ret = 0;
            for (std::uint32_t k = 0; k < retBytes; ++k)
                ret = (ret << 8) | data[a + k];
            if (ret == 0)
                continue;
            WordAt caller = map.word((ret - 1) * 2);
            caller.address = ret * 2;
            report.callers.push_back(caller);
        }
        const FaultText& f = faultText(report.faultKind);
        std::string text = f.name;
        if (report.faultKind == FaultKind::UnusedFlash)
            text += " at " + hex4(avr->pc >> 1);
        if (report.faultKind == FaultKind::IllegalInstruction)
            text += " " + hex4(avr->flash[faultPc] | (avr->flash[faultPc + 1] << 8)) + " at " + hex4(faultPc >> 1);
        text += " in " + report.faultWord->name;
        if (report.faultWord->line > 0)
            text += " (line " + std::to_string(report.faultWord->line) + ")";
        std::string why = report.fault.empty() ? std::string(f.why) : report.fault;
        if (report.faultKind == FaultKind::DataStackIntoVariables && program.variables.empty())
            why = "the stack grew down to the start of SRAM";
        text += ": " + why;
        report.fault = text;
    }

    for (std::size_t i = frames.size(); i-- > 0;)
        leave(end);

    const std::vector<std::uint8_t> eepromAtEnd = readEeprom(avr.get(), eepromEnd);
    for (std::size_t a = 0; a < eepromAtEnd.size() && a < eepromAtReset.size(); ++a)
        if (eepromAtEnd[a] != eepromAtReset[a])
            report.eeprom.push_back({std::uint32_t(a), eepromAtEnd[a]});

    for (const ProgramVariable& v : program.variables) {
        VariableValue value{v.name, v.address, v.line, {}};
        for (std::uint32_t a = v.address; a < v.address + v.size && a <= ramEnd; ++a)
            value.bytes.push_back(data[a]);
        report.variables.push_back(std::move(value));
    }
    const std::uint32_t y = reg16(RegYL);
    if (y > *dataTop)
        report.stackUnderflow = int(y - *dataTop);
    else
        for (std::uint32_t a = *dataTop; a > std::max(y, device.sramStart); --a)
            report.stack.push_back(data[a - 1]);
    report.loopStackDepth = int(*loopTop) - int(reg16(RegXL));
    report.uart = std::move(run.uartOut);
    for (PinTrace& t : run.traces)
        if (t.count)
            report.pins.push_back(std::move(t));
    for (std::size_t i = 0; i < names; ++i)
        if (self[i] || calls[i])
            report.profile.push_back(ProfileEntry{map.names[i], map.lines[i], self[i], std::max(total[i], self[i]), calls[i]});
    std::stable_sort(report.profile.begin(), report.profile.end(),
                     [](const ProfileEntry& a, const ProfileEntry& b) { return a.self > b.self; });
    return report;
}

} // namespace mirtolan
