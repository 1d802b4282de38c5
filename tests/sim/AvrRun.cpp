#include "AvrRun.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "avr_uart.h"
#include "sim_avr.h"
#include "sim_hex.h"

namespace simtest {

namespace {

// The AVR register file sits at the bottom of data memory.
constexpr std::uint16_t RegYL = 28;
constexpr std::uint16_t RegXL = 26;
// The stack pointer's I/O registers, as data addresses.
constexpr std::uint16_t DataSPL = 0x5D;
// simavr's UART0 carries this name on every core.
constexpr char Uart0 = '0';
// Bytes for the receiver are fed in once the start-up code has enabled it.
constexpr std::uint64_t UartInputCycle = 1000;
// Intel hex chunks from this address up are not flash (EEPROM, fuses).
constexpr std::uint32_t FlashChunkLimit = 0x800000;

struct AvrDeleter {
    void operator()(avr_t* avr) const
    {
        avr_terminate(avr);
        std::free(avr); // allocated by the core with malloc; terminate leaves it
    }
};
using AvrPtr = std::unique_ptr<avr_t, AvrDeleter>;

// free_ihex_chunks of simavr 1.6 frees the chunks' data but not the array
// itself, so both are released here.
struct ChunksDeleter {
    int count = 0;
    void operator()(ihex_chunk_t* chunks) const
    {
        for (int i = 0; i < count; ++i)
            std::free(chunks[i].data);
        std::free(chunks);
    }
};

std::uint16_t word16(const avr_t& avr, std::uint16_t low)
{
    return std::uint16_t(avr.data[low] | (avr.data[low + 1] << 8));
}

bool loadHex(avr_t& avr, const std::string& file, std::string& error)
{
    ihex_chunk_t* raw = nullptr;
    const int count = read_ihex_chunks(file.c_str(), &raw);
    std::unique_ptr<ihex_chunk_t, ChunksDeleter> chunks(raw, ChunksDeleter{count});
    if (count <= 0) {
        error = "cannot read the hex file " + file;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const ihex_chunk_t& c = raw[i];
        if (c.baseaddr >= FlashChunkLimit)
            continue;
        if (std::uint64_t(c.baseaddr) + c.size > std::uint64_t(avr.flashend) + 1) {
            error = "the program does not fit in flash";
            return false;
        }
        avr_loadcode(&avr, c.data, c.size, c.baseaddr);
    }
    return true;
}

void collectUartByte(avr_irq_t*, std::uint32_t value, void* param)
{
    static_cast<std::string*>(param)->push_back(char(value & 0xFF));
}

} // namespace

std::optional<SymbolMap> ReadMapFile(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the map file " + path;
        return std::nullopt;
    }
    SymbolMap symbols;
    std::string line;
    while (std::getline(in, line)) {
        // name, kind (C constant, L label), hex value, decimal value
        std::istringstream fields(line);
        std::string name, kind, hex;
        if (!(fields >> name >> kind >> hex))
            continue;
        for (char& ch : name)
            ch = char(std::toupper(static_cast<unsigned char>(ch)));
        char* end = nullptr;
        const unsigned long value = std::strtoul(hex.c_str(), &end, 16);
        if (end && *end == '\0')
            symbols[name] = std::uint32_t(value);
    }
    return symbols;
}

std::optional<RunResult> RunProgram(const RunRequest& request, std::string& error)
{
    AvrPtr avr(avr_make_mcu_by_name(request.mcu.c_str()));
    if (!avr) {
        error = "simavr knows no core " + request.mcu;
        return std::nullopt;
    }
    avr_init(avr.get());
    avr->log = LOG_ERROR;
    avr->frequency = request.frequency ? request.frequency : 8000000;
    if (!loadHex(*avr, request.hexFile, error))
        return std::nullopt;

    RunResult result;
    avr_irq_t* uartOut = avr_io_getirq(avr.get(), AVR_IOCTL_UART_GETIRQ(Uart0), UART_IRQ_OUTPUT);
    avr_irq_t* uartIn = avr_io_getirq(avr.get(), AVR_IOCTL_UART_GETIRQ(Uart0), UART_IRQ_INPUT);
    result.hasUart = uartOut != nullptr;
    if (uartOut) {
        // simavr would also echo the text to its console.
        std::uint32_t flags = 0;
        avr_ioctl(avr.get(), AVR_IOCTL_UART_GET_FLAGS(Uart0), &flags);
        flags &= ~std::uint32_t(AVR_UART_FLAG_STDIO);
        avr_ioctl(avr.get(), AVR_IOCTL_UART_SET_FLAGS(Uart0), &flags);
        avr_irq_register_notify(uartOut, collectUartByte, &result.uartOutput);
    }
    bool inputSent = request.uartInput.empty() || !uartIn;
    std::optional<std::uint8_t> watched;
    if (request.watch && *request.watch <= avr->ramend)
        watched = avr->data[*request.watch];
    for (;;) {
        const int state = avr_run(avr.get());
        if (watched && avr->data[*request.watch] != *watched) {
            watched = avr->data[*request.watch];
            ++result.watchChanges;
            result.watchCycles.push_back(avr->cycle);
        }
        if (!inputSent && avr->cycle >= UartInputCycle) {
            for (char ch : request.uartInput)
                avr_raise_irq(uartIn, std::uint8_t(ch));
            inputSent = true;
        }
        if (state == cpu_Done) {
            result.ending = Ending::Slept;
            break;
        }
        if (state == cpu_Crashed) {
            result.ending = Ending::Crashed;
            break;
        }
        if (avr->cycle >= request.cycleLimit) {
            result.ending = Ending::CycleLimit;
            break;
        }
    }
    result.cycles = avr->cycle;
    if (uartOut)
        avr_irq_unregister_notify(uartOut, collectUartByte, &result.uartOutput);

    const std::uint16_t y = word16(*avr, RegYL);
    if (y > request.dataStackTop)
        result.stackUnderflow = long(y) - request.dataStackTop;
    else
        for (std::uint32_t a = request.dataStackTop; a > y; --a)
            result.stack.push_back(avr->data[a - 1]);
    result.loopStackDepth = long(request.loopStackTop) - long(word16(*avr, RegXL));
    result.hardwareStackDepth = long(avr->ramend) - long(word16(*avr, DataSPL));
    for (std::uint32_t a = request.dumpStart; a < std::uint32_t(request.dumpStart) + request.dumpLength; ++a)
        result.dump.push_back(a <= avr->ramend ? avr->data[a] : 0);
    return result;
}

const char* EndingName(Ending e)
{
    switch (e) {
    case Ending::Slept: return "slept";
    case Ending::CycleLimit: return "cycle limit";
    case Ending::Crashed: return "crashed";
    }
    return "?";
}

} // namespace simtest
