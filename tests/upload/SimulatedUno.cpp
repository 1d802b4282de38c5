#include "SimulatedUno.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>

extern "C" {
#include <avr_uart.h>
#include <parts/uart_pty.h>
#include <sim_avr.h>
#include <sim_hex.h>
}

namespace uploadtest {
namespace {

constexpr const char* Mcu = "atmega328p";
constexpr std::uint32_t ClockHz = 16'000'000;
// Where the Uno's fuses (BOOTRST, 512-byte boot section) send a reset; simavr
// ignores fuses, so the fixture sets it.
constexpr std::uint32_t BootResetAddress = 0x7E00;
// Cycles run between two checks of the wall clock and of a pending reset:
// one millisecond of the board's time.
constexpr avr_cycle_count_t SliceCycles = ClockHz / 1000;
// How long the port watcher waits before it looks at the stop flag again.
constexpr int WatchPollMs = 20;

// Sleep instructions advance simulated time; the slice loop holds it to the
// wall clock, so simavr's own sleeping would only slow the board down.
void NoSleep(avr_t*, avr_cycle_count_t) {}

} // namespace

struct SimulatedUno::State {
    avr_t* avr = nullptr;                  // the simulated chip
    uart_pty_t pty{};                      // UART0's pseudo-terminal bridge
    std::string link;                      // our link to the pty's slave side
    mutable std::mutex lock;               // guards the chip between slices
    std::atomic<bool> stop{false};         // asks both threads to end
    std::atomic<bool> resetPending{false}; // the port was opened: reset as DTR would
    std::atomic<int> opens{0};             // opens of the port seen
    int inotifyFd = -1;                    // watches the pty's slave for opens
    std::thread runner;                    // runs the chip in time with the wall clock
    std::thread watcher;                   // turns opens of the port into resets

    void run();
    void watch();
    ~State();
};

void SimulatedUno::State::run()
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::uint64_t simulatedCycles = 0;     // across resets, which zero avr->cycle
    while (!stop) {
        {
            std::lock_guard g(lock);
            if (resetPending.exchange(false)) {
                avr_reset(avr);
                // Optiboot stays in the bootloader only after an external reset.
                avr_regbit_setto(avr, avr->reset_flags.extrf, 1);
            }
            const avr_cycle_count_t from = avr->cycle;
            if (avr->state == cpu_Crashed || avr->state == cpu_Done) {
                simulatedCycles += SliceCycles; // a dead chip still lets time pass
            } else {
                while (avr->cycle >= from && avr->cycle - from < SliceCycles
                       && avr->state != cpu_Crashed && avr->state != cpu_Done)
                    avr_run(avr);
                // A watchdog reset in the slice restarts the count at zero.
                simulatedCycles += avr->cycle >= from ? avr->cycle - from : avr->cycle;
            }
        }
        const auto due = start + std::chrono::nanoseconds(simulatedCycles * 1000 / (ClockHz / 1'000'000));
        std::this_thread::sleep_until(due);
    }
}

void SimulatedUno::State::watch()
{
    alignas(inotify_event) char buffer[4096];
    while (!stop) {
        pollfd p{inotifyFd, POLLIN, 0};
        if (poll(&p, 1, WatchPollMs) <= 0)
            continue;
        const ssize_t n = read(inotifyFd, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->mask & IN_OPEN) {
                ++opens;
                resetPending = true;
            }
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
}

SimulatedUno::State::~State()
{
    stop = true;
    if (watcher.joinable())
        watcher.join();
    if (runner.joinable())
        runner.join();
    if (inotifyFd >= 0)
        close(inotifyFd);
    // uart_pty_stop waits on a thread that never looks at its stop flag;
    // cancelling it at its blocking select ends it.
    if (pty.thread) {
        pthread_cancel(pty.thread);
        pthread_join(pty.thread, nullptr);
    }
    for (auto& port : pty.port)
        if (port.s > 0)
            close(port.s);
    if (!link.empty())
        unlink(link.c_str());
    if (avr)
        avr_terminate(avr);
}

std::unique_ptr<SimulatedUno> SimulatedUno::Start(const std::string& portLink, std::string& error)
{
    auto s = std::make_unique<State>();
    s->avr = avr_make_mcu_by_name(Mcu);
    if (!s->avr || avr_init(s->avr) != 0) {
        error = "simavr has no core for " + std::string(Mcu);
        return nullptr;
    }
    avr_t* avr = s->avr;
    avr->frequency = ClockHz;
    avr->sleep = NoSleep;
    avr->log = 0;

    ihex_chunk_p chunks = nullptr;
    const int count = read_ihex_chunks(OptibootHex, &chunks);
    if (count <= 0) {
        error = std::string("cannot read the bootloader ") + OptibootHex + " (Debian package arduino-core-avr)";
        return nullptr;
    }
    for (int i = 0; i < count; ++i) {
        // The image runs a few bytes past the end of flash: drop those.
        const std::uint32_t base = chunks[i].baseaddr;
        if (base > avr->flashend)
            continue;
        const std::uint32_t n = std::min<std::uint32_t>(chunks[i].size, avr->flashend + 1 - base);
        std::memcpy(avr->flash + base, chunks[i].data, n);
    }
    free_ihex_chunks(chunks);
    avr->codeend = avr->flashend;
    avr->reset_pc = BootResetAddress;
    avr->pc = BootResetAddress;
    avr_regbit_setto(avr, avr->reset_flags.extrf, 1);

    // The monitor and avrdude pace the line themselves: no sleeping in the
    // UART while it is polled, no echo of its bytes on our standard output.
    std::uint32_t flags = 0;
    avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~std::uint32_t(AVR_UART_FLAG_POLL_SLEEP | AVR_UART_FLAG_STDIO);
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);

    uart_pty_init(avr, &s->pty);
    uart_pty_connect(&s->pty, '0');
    const std::string slave = s->pty.pty.slavename;
    unlink(portLink.c_str());
    if (symlink(slave.c_str(), portLink.c_str()) != 0) {
        error = "cannot link " + portLink + " to " + slave + ": " + std::strerror(errno);
        return nullptr;
    }
    s->link = portLink;

    s->inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (s->inotifyFd < 0 || inotify_add_watch(s->inotifyFd, slave.c_str(), IN_OPEN) < 0) {
        error = "cannot watch " + slave + ": " + std::strerror(errno);
        return nullptr;
    }
    State* raw = s.get();
    s->runner = std::thread([raw] { raw->run(); });
    s->watcher = std::thread([raw] { raw->watch(); });
    return std::unique_ptr<SimulatedUno>(new SimulatedUno(std::move(s)));
}

SimulatedUno::SimulatedUno(std::unique_ptr<State> state) : state_(std::move(state)) {}
SimulatedUno::~SimulatedUno() = default;

const std::string& SimulatedUno::port() const { return state_->link; }
int SimulatedUno::portOpens() const { return state_->opens; }

std::vector<std::uint8_t> SimulatedUno::readData(std::uint16_t address, std::size_t count) const
{
    std::lock_guard g(state_->lock);
    const avr_t* avr = state_->avr;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count && address + i <= avr->ramend; ++i)
        out.push_back(avr->data[address + i]);
    return out;
}

void SimulatedUno::writeData(std::uint16_t address, std::span<const std::uint8_t> bytes)
{
    std::lock_guard g(state_->lock);
    avr_t* avr = state_->avr;
    for (std::size_t i = 0; i < bytes.size() && address + i <= avr->ramend; ++i)
        avr->data[address + i] = bytes[i];
}

std::vector<std::uint8_t> SimulatedUno::readFlash(std::uint32_t address, std::size_t count) const
{
    std::lock_guard g(state_->lock);
    const avr_t* avr = state_->avr;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < count && address + i <= avr->flashend; ++i)
        out.push_back(avr->flash[address + i]);
    return out;
}

std::vector<std::uint8_t> HexImage(const std::string& hexFile)
{
    ihex_chunk_p chunks = nullptr;
    const int count = read_ihex_chunks(hexFile.c_str(), &chunks);
    std::vector<std::uint8_t> image;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t end = chunks[i].baseaddr + chunks[i].size;
        if (image.size() < end)
            image.resize(end, 0xFF);
        std::memcpy(image.data() + chunks[i].baseaddr, chunks[i].data, chunks[i].size);
    }
    if (count > 0)
        free_ihex_chunks(chunks);
    return image;
}

} // namespace uploadtest
