#include "Machine.h"
#include "Board.h"

#include "StackNote.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "avr_adc.h"
#include "avr_eeprom.h"
#include "avr_ioport.h"
#include "avr_uart.h"
#include "sim_avr.h"
#include "sim_io.h"

#include "TextFile.h"

namespace mirtolan {

namespace {

// The AVR register file sits at the bottom of data memory.
constexpr std::uint32_t RegisterFileEnd = 0x20;
constexpr std::uint32_t RegXL = 26;
constexpr std::uint32_t RegYL = 28;
constexpr std::uint32_t RegZL = 30;
// The stack pointer's I/O registers, as data addresses (the same on every AVR).
constexpr std::uint32_t DataSPL = 0x5D;
constexpr std::uint32_t DataSPH = 0x5E;
// I/O registers below this I/O address are reached at I/O address + 0x20 in
// data memory; the include files give the extended ones as data addresses.
constexpr std::int64_t IoSpaceSize = 0x40;
constexpr std::uint32_t IoToData = 0x20;
// Intel hex chunks from this address up are not flash (EEPROM, fuses).
constexpr std::uint32_t FlashChunkLimit = 0x800000;
// How often (in cycles) the run looks at the stop flag, the inputs from
// outside and the pace, and reports progress: a few milliseconds of real
// time, so Stop answers at once.
constexpr std::uint64_t PollCycles = 1 << 16;
// A UART frame of 8N1: start bit, eight data bits, stop bit.
constexpr std::uint64_t BitsPerUartByte = 10;
// While the program has not enabled the receiver, input waits this long
// before looking again.
constexpr std::uint64_t UartRetryCycles = 1000;
// Ports simavr may have, A to L; a core answers for the ones its chip has.
constexpr std::string_view PortLetters = "ABCDEFGHJKL";
constexpr std::size_t MaxPorts = PortLetters.size();
constexpr int PinsPerPort = 8;
// Names for flash that belongs to no word.
constexpr const char* StartupName = "(start-up)";
constexpr const char* OutsideName = "(outside the program)";
// The reset flag the watchdog sets (bit 3 in MCUSR/MCUCSR on every AVR with one).
constexpr std::uint8_t WatchdogResetFlag = 1 << 3;
// The chip's supply and ADC reference, in millivolts: the 5 V of the boards
// these devices sit on.
constexpr std::uint32_t SupplyMillivolts = 5000;

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
    {FaultKind::StrayStore, "store outside any variable", "a store into memory that no variable, table or stack holds"},
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

std::uint64_t wallNs()
{
    return std::uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// The data address an instruction reads or writes, worked out before it
// runs. Only the forms the run-time and compiled code use to reach memory
// are told apart; the rest touch no data memory or only the stack pointer's.
struct Access {
    enum Kind { None, Load, Store } kind = None;
    std::uint32_t address = 0; // the data address
    int pointer = -1;          // the pointer register's low byte (26 X, 28 Y, 30 Z); -1 for a direct address
    bool preDecrement = false; // st -Y and its kin: a push
};

Access decode(const avr_t* avr, std::uint32_t pc)
{
    const std::uint8_t* f = avr->flash;
    const std::uint16_t w = std::uint16_t(f[pc] | (f[pc + 1] << 8));
    const auto reg16 = [avr](int low) { return std::uint32_t(avr->data[low] | (avr->data[low + 1] << 8)); };
    Access a;
    // LDD/STD Y+q and Z+q: 10q0 qqsd dddd yqqq.
    if ((w & 0xD000) == 0x8000) {
        const std::uint32_t q = ((w >> 8) & 0x20) | ((w >> 7) & 0x18) | (w & 7);
        a.pointer = (w & 0x0008) ? RegYL : RegZL;
        a.address = reg16(a.pointer) + q;
        a.kind = (w & 0x0200) ? Access::Store : Access::Load;
        return a;
    }
    if ((w & 0xFC00) == 0x9000) {
        const bool store = w & 0x0200;
        switch (w & 0x000F) {
        case 0x0: { // LDS/STS k
            a.kind = store ? Access::Store : Access::Load;
            a.address = std::uint32_t(f[pc + 2] | (f[pc + 3] << 8));
            return a;
        }
        case 0x1: case 0x2: a.pointer = RegZL; break;
        case 0x9: case 0xA: a.pointer = RegYL; break;
        case 0xC: case 0xD: case 0xE: a.pointer = RegXL; break;
        default: return a; // lpm, elpm, push, pop and the rest
        }
        a.kind = store ? Access::Store : Access::Load;
        const bool pre = (w & 0x000F) == 0x2 || (w & 0x000F) == 0xA || (w & 0x000F) == 0xE;
        a.address = reg16(a.pointer) - (pre ? 1 : 0);
        a.preDecrement = pre;
        return a;
    }
    // IN/OUT: 1011 sAAr rrrr AAAA (s set: OUT, a store); CBI/SBIC/SBI/SBIS:
    // 1001 10xr AAAA Abbb (r set: SBIC or SBIS, a read). The reads tell a
    // board which inputs the program looks at.
    if ((w & 0xF000) == 0xB000) {
        a.kind = (w & 0x0800) ? Access::Store : Access::Load;
        a.address = ((((w >> 5) & 0x30) | (w & 0x0F))) + IoToData;
        return a;
    }
    if ((w & 0xFC00) == 0x9800) {
        a.kind = (w & 0x0100) ? Access::Load : Access::Store;
        a.address = ((w >> 3) & 0x1F) + IoToData;
        return a;
    }
    return a;
}

struct AvrDeleter {
    void operator()(avr_t* avr) const
    {
        avr_terminate(avr);
        std::free(avr); // allocated by the core with malloc; terminate leaves it
    }
};

void Logger(avr_t* avr, int level, const char* format, va_list ap);

} // namespace

// simavr's chip and everything watched on it.
struct Machine::Chip {
    // A port as a board on another thread sees it: written on the run's
    // thread, read on the board's.
    struct LivePort {
        char letter = 0;                         // the port letter
        std::uint32_t ddr = 0, port = 0;         // data addresses of its DDR and PORT registers; 0 when unknown
        std::atomic<std::uint8_t> levels{0};     // the pins' levels, a bit each, as they change
        std::atomic<std::uint8_t> directions{0}; // DDR as last published
        std::atomic<std::uint8_t> everOut{0};    // every DDR bit seen set so far
        std::atomic<std::uint8_t> portBits{0};   // PORT as last published (pull-ups on the inputs)
        std::atomic<bool> read{false};           // the program has read the port's PIN register
        std::uint8_t externalMask = 0;           // the inputs driven from outside (run's thread only)
        std::uint8_t externalLevels = 0;         // the levels they are driven to
    };
    struct PinWatch {
        Chip* chip = nullptr;   // the chip the pin belongs to
        std::size_t trace = 0;  // index into traces
        int level = 0;          // the last level seen
        LivePort* live = nullptr; // its port, for a board
        std::uint8_t mask = 0;  // its bit in the port
    };
    std::unique_ptr<avr_t, AvrDeleter> avr; // the chip
    bool invalidOpcode = false;           // simavr met an opcode it does not know
    std::string crash;                    // simavr's last error message
    std::vector<PinTrace> traces;         // every pin watched, in port and pin order
    std::vector<PinWatch> watches;        // one per trace
    std::vector<avr_irq_t*> pinIrqs;      // one per trace, to drive the pin from outside
    std::array<LivePort, MaxPorts> live;  // the ports as a board sees them; the first livePorts are the chip's
    std::size_t livePorts = 0;
    std::size_t changesKept = 0;          // pin changes kept over all traces
    std::optional<std::uint64_t> cutAt;   // the cycle of the first change not kept
    std::string uartOut;                  // what UART0 sent
    // Pin levels and voltages to drive, by cycle, and the next one due.
    std::vector<std::pair<std::uint64_t, PinStimulus>> events;
    std::size_t nextEvent = 0;
    std::vector<std::pair<std::uint64_t, AdcStimulus>> adcEvents;
    std::size_t nextAdc = 0;
    // UART input: the bytes, the next to send, and where to find the receiver's registers.
    std::string uartIn;
    std::size_t uartPos = 0;
    bool uartTimer = false;               // the feeding timer is registered
    avr_irq_t* uartInput = nullptr;
    avr_irq_t* adcInputs = nullptr;       // ADC_IRQ_ADC0 and on; null without an ADC
    std::optional<UartNames> uartNames;
    const std::map<std::string, std::uint32_t>* symbols = nullptr;
    std::uint32_t resetFlags = 0;         // data address of the reset flags register; 0 when unknown

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
    void drive(const PinStimulus& p)
    {
        const std::string name = PinName(p.port, p.bit);
        for (std::size_t i = 0; i < traces.size(); ++i)
            if (traces[i].name == name) {
                // The level holds the input from now on: simavr puts it back
                // after each write of the port, which would otherwise drive
                // the pin with the pull-up's level (an external source wins
                // over a pull-up; an output pin is still the chip's).
                LivePort& port = live[i / PinsPerPort];
                const auto mask = std::uint8_t(1u << (i % PinsPerPort));
                port.externalMask |= mask;
                port.externalLevels = std::uint8_t(p.level ? port.externalLevels | mask : port.externalLevels & ~mask);
                avr_ioport_external_t external{};
                external.name = std::uint8_t(port.letter);
                external.mask = port.externalMask;
                external.value = port.externalLevels;
                avr_ioctl(avr.get(), AVR_IOCTL_IOPORT_SET_EXTERNAL(port.letter), &external);
                avr_raise_irq(pinIrqs[i], std::uint32_t(p.level));
            }
    }
    void driveAdc(int channel, double volts)
    {
        if (adcInputs && channel >= 0 && channel < ADC_IRQ_TEMP)
            avr_raise_irq(adcInputs + channel, std::uint32_t(volts * 1000.0 + 0.5));
    }
};

namespace {

void Logger(avr_t* avr, int level, const char* format, va_list ap)
{
    if (!avr || !avr->custom.data || level > LOG_WARNING)
        return;
    auto* chip = static_cast<Machine::Chip*>(avr->custom.data);
    if (std::strstr(format, "Invalid Opcode") || std::strstr(format, "invalid opcode"))
        chip->invalidOpcode = true;
    if (level <= LOG_ERROR) {
        char buf[256];
        std::vsnprintf(buf, sizeof buf, format, ap);
        chip->crash = buf;
        while (!chip->crash.empty() && std::isspace(static_cast<unsigned char>(chip->crash.back())))
            chip->crash.pop_back();
    }
}

// The run goes as fast as the host can (or as the pace sleeps); simavr would
// otherwise keep a sleeping chip in step with the wall clock by itself.
void NoSleep(avr_t*, avr_cycle_count_t) {}

void PinChanged(avr_irq_t*, std::uint32_t value, void* param)
{
    auto& w = *static_cast<Machine::Chip::PinWatch*>(param);
    const int level = value ? 1 : 0;
    if (level == w.level)
        return;
    w.level = level;
    if (level)
        w.live->levels.fetch_or(w.mask, std::memory_order_relaxed);
    else
        w.live->levels.fetch_and(std::uint8_t(~w.mask), std::memory_order_relaxed);
    PinTrace& t = w.chip->traces[w.trace];
    ++t.count;
    if (w.chip->changesKept < MaxPinChangesKept) {
        t.changes.emplace_back(w.chip->avr->cycle, level);
        ++w.chip->changesKept;
    } else {
        t.truncated = true;
        if (!w.chip->cutAt)
            w.chip->cutAt = w.chip->avr->cycle;
    }
}

void UartByte(avr_irq_t*, std::uint32_t value, void* param)
{
    static_cast<Machine::Chip*>(param)->uartOut.push_back(char(value & 0xFF));
}

avr_cycle_count_t DriveEvents(avr_t*, avr_cycle_count_t when, void* param)
{
    auto& chip = *static_cast<Machine::Chip*>(param);
    while (chip.nextEvent < chip.events.size() && chip.events[chip.nextEvent].first <= when)
        chip.drive(chip.events[chip.nextEvent++].second);
    return chip.nextEvent < chip.events.size() ? chip.events[chip.nextEvent].first : 0;
}

avr_cycle_count_t DriveAdc(avr_t*, avr_cycle_count_t when, void* param)
{
    auto& chip = *static_cast<Machine::Chip*>(param);
    while (chip.nextAdc < chip.adcEvents.size() && chip.adcEvents[chip.nextAdc].first <= when) {
        const AdcStimulus& a = chip.adcEvents[chip.nextAdc++].second;
        chip.driveAdc(a.channel, a.volts);
    }
    return chip.nextAdc < chip.adcEvents.size() ? chip.adcEvents[chip.nextAdc].first : 0;
}

// One byte each frame time at the baud the program set; input waits while
// the receiver is off, as a terminal would see nothing echoed.
avr_cycle_count_t FeedUart(avr_t* avr, avr_cycle_count_t when, void* param)
{
    auto& chip = *static_cast<Machine::Chip*>(param);
    if (chip.uartPos >= chip.uartIn.size()) {
        chip.uartTimer = false;
        return 0;
    }
    const UartNames& n = *chip.uartNames;
    if (!(avr->data[chip.dataAddress(n.control)] & (1u << chip.bit(n.rxEnable))))
        return when + UartRetryCycles;
    std::uint32_t ubrr = avr->data[chip.dataAddress(n.baudLow)];
    const std::uint8_t high = avr->data[chip.dataAddress(n.baudHigh)];
    if (!(high & 0x80)) // on the ATmega32 UBRRH shares its address with UCSRC (URSEL set)
        ubrr |= std::uint32_t(high & 0x0F) << 8;
    const bool doubled = avr->data[chip.dataAddress(n.status)] & (1u << chip.bit(n.doubleSpeed));
    const std::uint64_t cyclesPerBit = (doubled ? 8 : 16) * std::uint64_t(ubrr + 1);
    avr_raise_irq(chip.uartInput, static_cast<unsigned char>(chip.uartIn[chip.uartPos++]));
    return when + cyclesPerBit * BitsPerUartByte;
}

// The chip's EEPROM as simavr holds it; empty when the chip has none.
std::vector<std::uint8_t> readEeprom(avr_t* avr)
{
    if (!avr || !avr->e2end)
        return {};
    avr_eeprom_desc_t desc{};
    avr_ioctl(avr, AVR_IOCTL_EEPROM_GET, &desc); // with no buffer, it points at the chip's bytes
    if (!desc.ee)
        return {};
    return std::vector<std::uint8_t>(desc.ee, desc.ee + avr->e2end + 1);
}

} // namespace

// ---------------------------------------------------------------- words

namespace {

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
};

} // namespace

struct MachineWords {
    AddressMap map;
};

// ---------------------------------------------------------------- machine

namespace {
std::once_flag loggerSet;
}

Machine::Machine(const BuildResult& program, const RunOptions& options)
    : program_(program), options_(options), chip_(std::make_unique<Chip>())
{
    const Device& device = program.device ? *program.device : DefaultDevice();
    std::optional<RunPlan> plan = PlanRun(options_, device, error_);
    if (!plan)
        return;
    options_.clockHz = plan->clockHz;
    cellBytes_ = program.cellBits / 8;
    const auto symbol = [&](const char* name) -> std::optional<std::uint32_t> {
        const auto it = program.symbols.find(name);
        if (it == program.symbols.end())
            return std::nullopt;
        return it->second;
    };
    const auto dataTop = symbol("DATA_STACK_TOP"), loopTop = symbol("LOOP_STACK_TOP"), mainAt = symbol("MAIN"),
               haltAt = symbol("_HALT");
    if (!dataTop || !loopTop || !mainAt || !haltAt) {
        error_ = "the program has no run-time header or no word main, so it cannot be run";
        return;
    }
    dataTop_ = *dataTop;
    loopTop_ = *loopTop;
    // The loop stack ends where its size says; between it and the data
    // stack the run-time may keep an area of its own.
    loopBottom_ = dataTop_;
    if (const auto size = symbol("LOOP_STACK_SIZE"); size && *size < loopTop_ && loopTop_ - *size >= dataTop_)
        loopBottom_ = loopTop_ - *size;
    mainAt_ = *mainAt * 2;
    haltAt_ = *haltAt * 2;

    // simavr has one logger for all its chips; set it once, whichever
    // thread runs first, rather than race to set it on every run.
    std::call_once(loggerSet, [] { avr_global_logger_set(Logger); });

    Chip& chip = *chip_;
    chip.avr.reset(avr_make_mcu_by_name(std::string(device.simavrCore).c_str()));
    avr_t* avr = chip.avr.get();
    if (!avr) {
        error_ = "the simulator knows no " + std::string(device.title);
        return;
    }
    chip.symbols = &program.symbols;
    avr->custom.data = &chip;
    avr_init(avr);
    avr->log = LOG_WARNING;
    avr->frequency = options_.clockHz;
    avr->sleep = NoSleep;
    avr->vcc = avr->avcc = avr->aref = SupplyMillivolts;
    retBytes_ = avr->address_size;
    vectorsEnd_ = 0;
    if (const auto v = symbol("INT_VECTORS_SIZE"))
        vectorsEnd_ = *v * 2;

    // Load the program this build assembled (the file may since have been
    // replaced by another build), and note which flash words it occupies.
    std::vector<bool> used((avr->flashend + 1) / 2, false);
    {
        std::string image = program.hexImage;
        if (image.empty()) {
            try {
                image = ReadFileBytes(program.hexFile);
            } catch (const CompileError& e) {
                error_ = "cannot read the program: " + std::string(e.what());
                return;
            }
        }
        std::string error;
        auto chunks = ParseIntelHex(image, error);
        if (!chunks || chunks->empty()) {
            error_ = "cannot read the program " + program.hexFile + ": " + (chunks ? "it is empty" : error);
            return;
        }
        for (HexChunk& c : *chunks) {
            if (c.address >= FlashChunkLimit)
                continue;
            if (std::uint64_t(c.address) + c.bytes.size() > std::uint64_t(avr->flashend) + 1) {
                error_ = "the program does not fit in the flash of the " + std::string(device.title);
                return;
            }
            avr_loadcode(avr, c.bytes.data(), std::uint32_t(c.bytes.size()), c.address);
            for (std::uint32_t a = c.address / 2; a < (c.address + c.bytes.size() + 1) / 2; ++a)
                used[a] = true;
        }
    }
    words_ = std::make_unique<MachineWords>();
    AddressMap& m = words_->map;
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
    entryAt_ = options_.entry ? options_.entry : mainAt_;
    if (options_.entry && !m.isStart(entryAt_)) {
        error_ = "the entry address " + hex4(entryAt_ >> 1) + " is the start of no word of the program";
        return;
    }
    const std::size_t names = m.names.size();
    self_.assign(names, 0);
    total_.assign(names, 0);
    calls_.assign(names, 0);
    active_.assign(names, 0);
    traps_.assign(used.size(), 0);
    ioTouched_.assign(device.sramStart, false);
    pinRegisterPort_.assign(device.sramStart, 0);

    // Watch every pin of every port the chip has.
    for (const char port : PortLetters) {
        avr_irq_t* first = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(port), IOPORT_IRQ_PIN0);
        if (!first)
            continue;
        Chip::LivePort& live = chip.live[chip.livePorts];
        live.letter = port;
        live.ddr = chip.dataAddress(("DDR" + std::string(1, port)).c_str());
        live.port = chip.dataAddress(("PORT" + std::string(1, port)).c_str());
        if (const std::uint32_t pin = chip.dataAddress(("PIN" + std::string(1, port)).c_str()); pin && pin < device.sramStart)
            pinRegisterPort_[pin] = std::uint8_t(chip.livePorts + 1);
        ++chip.livePorts;
        for (int b = 0; b < PinsPerPort; ++b) {
            chip.traces.push_back(PinTrace{PinName(port, b), {}, 0, false});
            chip.pinIrqs.push_back(first + b);
        }
    }
    chip.watches.resize(chip.traces.size());
    for (std::size_t i = 0; i < chip.traces.size(); ++i) {
        chip.watches[i] = Chip::PinWatch{&chip, i, 0, &chip.live[i / PinsPerPort], std::uint8_t(1u << (i % PinsPerPort))};
        avr_irq_register_notify(chip.pinIrqs[i], PinChanged, &chip.watches[i]);
    }
    chip.adcInputs = avr_io_getirq(avr, AVR_IOCTL_ADC_GETIRQ, ADC_IRQ_ADC0);
    // The single-ended inputs in the core's multiplexer table; simavr keeps
    // a voltage for the first eight only.
    for (avr_io_t* io = avr->io_port; io; io = io->next)
        if (io->kind && std::strcmp(io->kind, "adc") == 0) {
            const auto* adc = reinterpret_cast<const avr_adc_t*>(io);
            for (const avr_adc_mux_t& m : adc->muxmode)
                if (m.kind == ADC_MUX_SINGLE)
                    adcChannels_ = std::max(adcChannels_, int(m.src) + 1);
            adcChannels_ = std::min(adcChannels_, int(std::size(adc->adc_values)));
        }

    // UART0: catch what it sends, keep simavr from printing it and from
    // pausing a program that polls it, feed it input.
    if (avr_irq_t* out = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT)) {
        std::uint32_t flags = 0;
        avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
        flags &= ~std::uint32_t(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
        avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
        avr_irq_register_notify(out, UartByte, &chip);
        chip.uartInput = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    }
    for (const UartNames& n : UartNameSets)
        if (program.symbols.count(n.control) && program.symbols.count(n.baudLow)) {
            chip.uartNames = n;
            break;
        }
    if (!options_.uartIn.empty()) {
        if (!chip.uartInput || !chip.uartNames) {
            error_ = "the " + std::string(device.title) + " has no UART0 to feed input to";
            return;
        }
        sendUart(options_.uartIn);
        applyInputs();
    }
    for (const auto& [cycle, p] : plan->pins) {
        const std::string name = PinName(p.port, p.bit);
        if (std::none_of(chip.traces.begin(), chip.traces.end(), [&](const PinTrace& t) { return t.name == name; })) {
            error_ = "the " + std::string(device.title) + " has no pin " + name;
            return;
        }
    }
    chip.events = std::move(plan->pins);
    if (!chip.events.empty()) {
        if (chip.events.front().first == 0)
            DriveEvents(avr, 0, &chip);
        if (chip.nextEvent < chip.events.size())
            avr_cycle_timer_register(avr, chip.events[chip.nextEvent].first, DriveEvents, &chip);
    }
    for (const auto& [cycle, a] : plan->adc) {
        if (!chip.adcInputs || adcChannels_ == 0) {
            error_ = "the " + std::string(device.title) + " has no ADC";
            return;
        }
        if (a.channel >= adcChannels_) {
            error_ = "the simulated " + std::string(device.title) + " has the ADC inputs ADC0 to ADC" +
                     std::to_string(adcChannels_ - 1) + ", not ADC" + std::to_string(a.channel);
            return;
        }
    }
    chip.adcEvents = std::move(plan->adc);
    if (!chip.adcEvents.empty()) {
        if (chip.adcEvents.front().first == 0)
            DriveAdc(avr, 0, &chip);
        if (chip.nextAdc < chip.adcEvents.size())
            avr_cycle_timer_register(avr, chip.adcEvents[chip.nextAdc].first, DriveAdc, &chip);
    }

    limit_ = plan->limit;

    // The data stack may grow down to the last variable; without variables,
    // to the start of SRAM, below which the I/O registers lie.
    varStart_ = device.sramStart;
    varEnd_ = device.sramStart;
    if (!program.variables.empty()) {
        varStart_ = UINT32_MAX;
        for (const ProgramVariable& v : program.variables) {
            varStart_ = std::min(varStart_, v.address);
            varEnd_ = std::max(varEnd_, v.address + v.size);
        }
    }
    for (const char* n : ResetFlagNames)
        if (!chip.resetFlags)
            chip.resetFlags = chip.dataAddress(n);

    eepromAtReset_ = readEeprom(avr);
    start_ = avr->cycle;
    nextPoll_ = start_ + std::min(PollCycles, limit_);
    spNow_ = std::uint32_t(avr->data[DataSPL] | (avr->data[DataSPH] << 8));
    if (options_.board)
        options_.board->attach(this);
}

Machine::~Machine()
{
    if (options_.board && error_.empty()) {
        publishBoard();
        options_.board->detach(this);
    }
}

std::uint32_t Machine::pc() const { return chip_->avr ? chip_->avr->pc : 0; }
std::uint64_t Machine::cycles() const { return chip_->avr ? chip_->avr->cycle - start_ : 0; }
std::uint8_t Machine::data(std::uint32_t address) const
{
    return chip_->avr && address <= chip_->avr->ramend ? chip_->avr->data[address] : 0;
}
std::uint32_t Machine::y() const { return std::uint32_t(data(RegYL) | (data(RegYL + 1) << 8)); }
void Machine::setY(std::uint32_t address)
{
    if (!chip_->avr)
        return;
    chip_->avr->data[RegYL] = std::uint8_t(address & 0xFF);
    chip_->avr->data[RegYL + 1] = std::uint8_t(address >> 8);
}
std::uint32_t Machine::x() const { return std::uint32_t(data(RegXL) | (data(RegXL + 1) << 8)); }

void Machine::setTrap(std::uint32_t byteAddress, bool on)
{
    if ((byteAddress >> 1) < traps_.size())
        traps_[byteAddress >> 1] = on ? 1 : 0;
}

void Machine::clearTraps() { std::fill(traps_.begin(), traps_.end(), 0); }

void Machine::drivePin(char port, int bit, int level)
{
    std::lock_guard lock(inputsMutex_);
    inputs_.push_back(Input{port, bit, level, 0, {}, false});
    inputsPending_ = true;
}

void Machine::driveAdc(int channel, double volts)
{
    std::lock_guard lock(inputsMutex_);
    inputs_.push_back(Input{0, channel, 0, volts, {}, false});
    inputsPending_ = true;
}

void Machine::sendUart(const std::string& bytes)
{
    std::lock_guard lock(inputsMutex_);
    inputs_.push_back(Input{0, 0, 0, 0, bytes, true});
    inputsPending_ = true;
}

void Machine::applyInputs()
{
    std::vector<Input> pending;
    {
        std::lock_guard lock(inputsMutex_);
        pending.swap(inputs_);
        inputsPending_ = false;
    }
    Chip& chip = *chip_;
    for (const Input& in : pending) {
        if (in.uart) {
            if (!chip.uartInput || !chip.uartNames)
                continue;
            chip.uartIn += in.bytes;
            if (!chip.uartTimer) {
                chip.uartTimer = true;
                avr_cycle_timer_register(chip.avr.get(), UartRetryCycles, FeedUart, &chip);
            }
        } else if (in.port) {
            chip.drive(PinStimulus{in.port, in.bit, in.level, 0});
        } else {
            chip.driveAdc(in.bit, in.volts);
        }
    }
}

std::uint32_t Machine::wordIndexAt(std::uint32_t byteAddress) const { return words_ ? words_->map.at(byteAddress) : 0; }

const CodeSpot* Machine::spotAt(std::uint32_t byteAddress) const
{
    const auto& spots = program_.spots;
    auto it = std::upper_bound(spots.begin(), spots.end(), byteAddress,
                               [](std::uint32_t a, const CodeSpot& s) { return a < s.address; });
    if (it == spots.begin())
        return nullptr;
    --it;
    // The spot is this address's only when no other word starts between them.
    if (wordIndexAt(it->address) != wordIndexAt(byteAddress))
        return nullptr;
    return &*it;
}

std::int64_t Machine::sourceLine(std::uint32_t byteAddress) const
{
    if (const CodeSpot* s = spotAt(byteAddress))
        return s->line;
    for (std::size_t i = frames_.size(); i-- > 0;)
        if (const CodeSpot* s = spotAt(frames_[i].site))
            return s->line;
    return 0;
}

WordAt Machine::wordAt(std::uint32_t byteAddress) const
{
    const std::uint32_t i = wordIndexAt(byteAddress);
    return WordAt{words_ ? words_->map.names[i] : OutsideName, words_ ? words_->map.lines[i] : 0, byteAddress};
}

void Machine::enter(std::uint32_t word, std::uint32_t site, FrameKind kind)
{
    ++calls_[word];
    // More frames than return addresses fit in RAM mean calls that never
    // returned (a program that resets the stack pointer); the oldest go.
    const std::size_t maxFrames = chip_->avr->ramend / retBytes_;
    if (frames_.size() >= maxFrames) {
        const CallFrame f = frames_.front();
        frames_.erase(frames_.begin());
        --active_[f.word];
        if (f.counted && !f.closed)
            total_[f.word] += chip_->avr->cycle - f.entry;
    }
    frames_.push_back(CallFrame{word, site, kind, chip_->avr->cycle, active_[word]++ == 0, false});
}

// A return ends the frame it returns from and the words that frame
// tail-jumped through.
void Machine::leave()
{
    const std::uint64_t now = chip_->avr->cycle;
    while (!frames_.empty()) {
        const CallFrame f = frames_.back();
        frames_.pop_back();
        --active_[f.word];
        if (f.counted && !f.closed)
            total_[f.word] += now - f.entry;
        if (f.kind != FrameKind::TailJump)
            return;
    }
}

void Machine::fault(FaultKind kind, std::uint32_t pc)
{
    stopped_ = StopReason::Fault;
    faultKind_ = kind;
    faultPc_ = pc;
    ended_ = true;
}

// Checks the memory access of the instruction at `pc` before it runs: a
// read beyond the data stack's bottom is an underflow at the word taking
// the cell; a store into the registers, below the variables, or into the
// free space under the data stack (other than a push onto a stack, whose
// overflow the stacks' bounds tell) is a stray store.
bool Machine::checkAccess(std::uint32_t pc)
{
    const Access a = decode(chip_->avr.get(), pc);
    if (a.kind == Access::None)
        return true;
    const std::uint32_t ramEnd = chip_->avr->ramend;
    if (a.kind == Access::Load) {
        if (a.pointer == int(RegYL) && a.address >= dataTop_ && a.address < loopTop_) {
            fault(FaultKind::DataStackUnderflow, pc);
            return false;
        }
        if (a.address < pinRegisterPort_.size())
            if (const std::uint8_t port = pinRegisterPort_[a.address])
                chip_->live[port - 1u].read.store(true, std::memory_order_relaxed);
        return true;
    }
    const std::uint32_t sramStart = std::uint32_t(ioTouched_.size());
    if (a.address >= RegisterFileEnd && a.address < sramStart) {
        ioTouched_[a.address] = true;
        return true;
    }
    const bool stray = a.address < RegisterFileEnd || a.address > ramEnd ||
                       (a.address >= sramStart && a.address < varStart_) ||
                       (a.address >= varEnd_ && a.address < y() && !a.preDecrement);
    if (stray) {
        stray_ = StrayStore{a.address, pc};
        fault(FaultKind::StrayStore, pc);
        return false;
    }
    return true;
}

void Machine::afterInstruction(std::uint32_t pc, std::uint64_t before)
{
    avr_t* avr = chip_->avr.get();
    const std::uint8_t* d = avr->data;
    const AddressMap& m = words_->map;
    const std::uint32_t here = m.at(pc);
    self_[here] += avr->cycle - before;
    std::uint32_t newPc = avr->pc;
    // The start-up's call of main goes to the entry word instead (a test
    // word): the return address stays the start-up's, so its return ends
    // the run as main's would.
    if (!started_ && newPc == mainAt_ && entryAt_ != mainAt_) {
        avr->pc = entryAt_;
        newPc = entryAt_;
    }
    const std::uint32_t there = m.at(newPc);
    const std::uint32_t newSp = std::uint32_t(d[DataSPL] | (d[DataSPH] << 8));
    if (newSp != spNow_) {
        if (newSp + retBytes_ == spNow_)
            enter(there, pc, newPc < vectorsEnd_ ? FrameKind::Interrupt : FrameKind::Call);
        else if (newSp == spNow_ + retBytes_)
            leave();
        spNow_ = newSp;
    } else if (there != here && m.isStart(newPc) && !frames_.empty()) {
        // A tail call ends the caller's time, but its frame stays on the
        // shadow, so that the chain still names it.
        CallFrame& f = frames_.back();
        if (f.counted && !f.closed)
            total_[f.word] += avr->cycle - f.entry;
        f.closed = true;
        enter(there, pc, FrameKind::TailJump);
    }

    if (started_) {
        const std::uint32_t yv = std::uint32_t(d[RegYL] | (d[RegYL + 1] << 8));
        const std::uint32_t xv = std::uint32_t(d[RegXL] | (d[RegXL + 1] << 8));
        const std::uint32_t spLow = loopTop_ - 1;
        if (yv - varEnd_ > dataTop_ - varEnd_ || xv - loopBottom_ > loopTop_ - loopBottom_ ||
            newSp - spLow > avr->ramend - spLow || !there || newPc == 0 || chip_->invalidOpcode) {
            if (chip_->invalidOpcode)
                fault(FaultKind::IllegalInstruction, pc);
            else if (newSp > avr->ramend)
                fault(FaultKind::HardwareStackUnderflow, pc);
            else if (newPc == 0)
                fault(chip_->resetFlags && (d[chip_->resetFlags] & WatchdogResetFlag) ? FaultKind::Watchdog
                                                                                       : FaultKind::Reset,
                      pc);
            else if (!there)
                fault(FaultKind::UnusedFlash, pc);
            else if (yv > dataTop_)
                fault(FaultKind::DataStackUnderflow, pc);
            else if (yv < varEnd_)
                fault(FaultKind::DataStackIntoVariables, pc);
            else if (xv < loopBottom_)
                fault(FaultKind::LoopStackOverflow, pc);
            else if (xv > loopTop_)
                fault(FaultKind::LoopStackUnderflow, pc);
            else
                fault(FaultKind::HardwareStackOverflow, pc);
            return;
        }
    } else if (newPc == entryAt_) {
        started_ = true;
    }

    const int state = avr->state;
    if (state != cpu_Running) {
        if (state == cpu_Done) {
            if (newPc == haltAt_ || newPc == haltAt_ + 2) {
                stopped_ = StopReason::Halted;
                ended_ = true;
            } else {
                fault(FaultKind::SleepInterruptsOff, pc);
            }
        } else if (state == cpu_Crashed) {
            if (chip_->invalidOpcode)
                fault(FaultKind::IllegalInstruction, pc);
            else if (chip_->crash.find("atchdog") != std::string::npos || chip_->crash.find("WATCHDOG") != std::string::npos)
                fault(FaultKind::Watchdog, pc);
            else
                fault(FaultKind::Reset, pc);
        } else if (state == cpu_Sleeping && !avr->cycle_timers.timer) {
            fault(FaultKind::SleepForever, pc);
        }
    }
}

// The periodic look: limit, stop flag, progress, pace, inputs. False when the run ends.
bool Machine::poll()
{
    const std::uint64_t now = chip_->avr->cycle;
    nextPoll_ = std::min(now + PollCycles, start_ + limit_);
    if (now - start_ >= limit_) {
        stopped_ = StopReason::Limit;
        ended_ = true;
        return false;
    }
    if (options_.stop && options_.stop->load(std::memory_order_relaxed)) {
        stopped_ = StopReason::Stopped;
        ended_ = true;
        return false;
    }
    publishBoard();
    if (options_.progress)
        options_.progress(double(now - start_) / double(limit_), now - start_);
    if (realTime_.load(std::memory_order_relaxed)) {
        const std::uint64_t wall = wallNs();
        if (!realStartNs_) {
            realStartNs_ = wall;
            realStartCycle_ = now;
        }
        const double due = double(now - realStartCycle_) * 1e9 / options_.clockHz;
        const double ahead = due - double(wall - realStartNs_);
        if (ahead > 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(std::uint64_t(ahead)));
    } else {
        realStartNs_ = 0;
    }
    return true;
}

Machine::Outcome Machine::run(const std::function<bool()>& atTrap)
{
    if (ended_ || !error_.empty())
        return Outcome::Ended;
    // However the run returns, a board sees where the chip stands.
    struct Publish {
        Machine* machine; // the machine to publish
        ~Publish() { machine->publishBoard(); }
    } publish{this};
    avr_t* avr = chip_->avr.get();
    const std::uint8_t* traps = traps_.data();
    const std::uint32_t trapWords = std::uint32_t(traps_.size());
    bool first = true; // the instruction the run stands on runs, trapped or not
    for (;;) {
        const std::uint32_t pc = avr->pc;
        if (!first && atTrap && (pc >> 1) < trapWords && traps[pc >> 1] && atTrap())
            return Outcome::Trapped;
        first = false;
        if (pauseRequested_.load(std::memory_order_relaxed) && pauseRequested_.exchange(false))
            return Outcome::Paused;
        if (inputsPending_.load(std::memory_order_relaxed))
            applyInputs();
        if (started_ && !checkAccess(pc))
            return Outcome::Ended;
        const std::uint64_t before = avr->cycle;
        avr->run(avr);
        afterInstruction(pc, before);
        if (ended_)
            return Outcome::Ended;
        if (avr->cycle >= nextPoll_ && !poll())
            return Outcome::Ended;
    }
}

// In optimised code standing at the start of a word, the note of where its
// cells are; null elsewhere, where the stacks are all in memory, as an empty
// note reads them.
std::optional<StackNote> Machine::noteHere() const
{
    const std::uint32_t at = pc();
    const CodeSpot* s = spotAt(at);
    if (!s || s->address != at || s->stack.empty())
        return std::nullopt;
    return ParseStackNote(s->stack);
}

std::vector<std::uint32_t> Machine::stackCells() const
{
    if (!started_)
        return {};
    return NotedDataStack(noteHere().value_or(StackNote{}), [this](std::uint32_t a) { return data(a); },
                          std::max(y(), varEnd_), dataTop_, cellBytes_);
}

std::vector<std::uint32_t> Machine::cellsBetween(std::uint32_t low, std::uint32_t high) const
{
    return NotedDataStack(StackNote{}, [this](std::uint32_t a) { return data(a); }, low, high, cellBytes_);
}

std::vector<std::uint32_t> Machine::loopCells() const
{
    if (!started_)
        return {};
    return NotedLoopStack(noteHere().value_or(StackNote{}), [this](std::uint32_t a) { return data(a); }, x(),
                          loopTop_, cellBytes_);
}

const std::string& Machine::uartOutput() const { return chip_->uartOut; }

void Machine::publishBoard()
{
    const std::uint8_t* d = chip_->avr->data;
    for (std::size_t i = 0; i < chip_->livePorts; ++i) {
        Chip::LivePort& p = chip_->live[i];
        const std::uint8_t ddr = p.ddr ? d[p.ddr] : 0;
        p.directions.store(ddr, std::memory_order_relaxed);
        p.everOut.fetch_or(ddr, std::memory_order_relaxed);
        p.portBits.store(p.port ? d[p.port] : 0, std::memory_order_relaxed);
    }
    if (!options_.board)
        return;
    const std::string& out = chip_->uartOut;
    std::lock_guard lock(uartMutex_);
    if (uartShared_.size() < out.size())
        uartShared_.append(out, uartShared_.size());
}

std::vector<PinState> Machine::pinStates() const
{
    std::vector<PinState> pins;
    for (std::size_t i = 0; i < chip_->livePorts; ++i) {
        const Chip::LivePort& p = chip_->live[i];
        const std::uint8_t levels = p.levels.load(std::memory_order_relaxed);
        const std::uint8_t directions = p.directions.load(std::memory_order_relaxed);
        const std::uint8_t everOut = p.everOut.load(std::memory_order_relaxed);
        const std::uint8_t portBits = p.portBits.load(std::memory_order_relaxed);
        const bool read = p.read.load(std::memory_order_relaxed);
        for (int b = 0; b < PinsPerPort; ++b) {
            const auto bit = [b](std::uint8_t v) { return ((v >> b) & 1) != 0; };
            pins.push_back(PinState{p.letter, b, bit(levels), bit(directions), bit(everOut),
                                    bit(portBits) && !bit(directions), read});
        }
    }
    return pins;
}

std::string Machine::uartSince(std::size_t from) const
{
    std::lock_guard lock(uartMutex_);
    return from < uartShared_.size() ? uartShared_.substr(from) : std::string();
}

std::vector<std::uint32_t> Machine::touchedIo() const
{
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = 0; a < ioTouched_.size(); ++a)
        if (ioTouched_[a])
            out.push_back(a);
    return out;
}

std::vector<EepromByte> Machine::eepromChanges() const
{
    std::vector<EepromByte> out;
    const std::vector<std::uint8_t> now = readEeprom(chip_->avr.get());
    for (std::uint32_t a = 0; a < now.size() && a < eepromAtReset_.size(); ++a)
        if (now[a] != eepromAtReset_[a])
            out.push_back(EepromByte{a, now[a]});
    return out;
}

RunReport Machine::report() const
{
    RunReport report;
    const Device& device = program_.device ? *program_.device : DefaultDevice();
    report.device = std::string(device.title);
    report.clockHz = options_.clockHz;
    report.cellBits = program_.cellBits;
    if (!error_.empty()) {
        report.stopped = StopReason::Error;
        report.error = error_;
        return report;
    }
    report.stopped = ended_ ? stopped_ : StopReason::Stopped;
    report.cycles = cycles();
    report.seconds = double(report.cycles) / double(report.clockHz);
    const AddressMap& m = words_->map;

    if (report.stopped == StopReason::Fault) {
        report.faultKind = faultKind_;
        report.faultWord = wordAt(faultPc_);
        if (const std::int64_t line = sourceLine(faultPc_))
            report.faultWord->line = line;
        // The chain of callers, innermost first, from the call shadow: each
        // frame's site is the call, jump or interrupted instruction in the
        // word below it.
        for (std::size_t i = frames_.size(); i-- > 0;) {
            WordAt caller = wordAt(frames_[i].site);
            if (const CodeSpot* s = spotAt(frames_[i].site))
                caller.line = s->line;
            report.callers.push_back(caller);
        }
        const FaultText& f = faultText(faultKind_);
        std::string text = f.name;
        if (faultKind_ == FaultKind::UnusedFlash)
            text += " at " + hex4(pc() >> 1);
        if (faultKind_ == FaultKind::IllegalInstruction) {
            const std::uint8_t* flash = chip_->avr->flash;
            text += " " + hex4(std::uint32_t(flash[faultPc_] | (flash[faultPc_ + 1] << 8))) + " at " + hex4(faultPc_ >> 1);
        }
        if (faultKind_ == FaultKind::StrayStore && stray_)
            text += " at " + hex4(stray_->address);
        text += " in " + report.faultWord->name;
        if (report.faultWord->line > 0)
            text += " (line " + std::to_string(report.faultWord->line) + ")";
        std::string why = f.why;
        if (faultKind_ == FaultKind::Reset && !chip_->crash.empty())
            why = "the simulator stopped the chip (" + chip_->crash + ")";
        if (faultKind_ == FaultKind::DataStackIntoVariables && program_.variables.empty())
            why = "the stack grew down to the start of SRAM";
        if (faultKind_ == FaultKind::StrayStore && stray_ && stray_->address < RegisterFileEnd)
            why = "a store into the register file r" + std::to_string(stray_->address);
        report.fault = text + ": " + why;
    }

    for (const ProgramVariable& v : program_.variables) {
        VariableValue value{v.name, v.address, v.line, {}};
        for (std::uint32_t a = v.address; a < v.address + v.size && a <= chip_->avr->ramend; ++a)
            value.bytes.push_back(data(a));
        report.variables.push_back(std::move(value));
    }
    // Before main the start-up code may not have set the stack pointers yet,
    // and whatever they hold is no stack.
    report.stacksSetUp = started_;
    if (started_) {
        const std::uint32_t yv = y();
        if (yv > dataTop_)
            report.stackUnderflow = int((yv - dataTop_) / std::uint32_t(cellBytes_));
        else
            report.stack = stackCells();
        report.loopStackDepth = int(loopTop_) - int(x());
    }
    report.uart = chip_->uartOut;
    for (const PinTrace& t : chip_->traces)
        if (t.count)
            report.pins.push_back(t);
    report.pinsCutAt = chip_->cutAt;
    report.eeprom = eepromChanges();
    // Frames still open count up to now.
    std::vector<std::uint64_t> total = total_;
    for (const CallFrame& f : frames_)
        if (f.counted && !f.closed)
            total[f.word] += chip_->avr->cycle - f.entry;
    for (std::size_t i = 0; i < m.names.size(); ++i)
        if (self_[i] || calls_[i])
            report.profile.push_back(ProfileEntry{m.names[i], m.lines[i], self_[i], std::max(total[i], self_[i]), calls_[i]});
    std::stable_sort(report.profile.begin(), report.profile.end(),
                     [](const ProfileEntry& a, const ProfileEntry& b) { return a.self > b.self; });
    return report;
}

} // namespace mirtolan
