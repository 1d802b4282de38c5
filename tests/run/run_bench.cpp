// Speed of a run: simulated cycles per second of real time, with the whole
// report made (profile, pin changes, stack checks), against simavr running
// the same program with nothing watching. bench/sim runs it.
//
//   run_bench DEVICE SECONDS ROUNDS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BuildForTest.h"
#include "Simulator.h"
#include "sim_avr.h"
#include "sim_hex.h"

using namespace mirtolan;

namespace {

// The tutorial's blink at full speed: nested DO loops, calls, a pin toggled.
constexpr const char* Program =
    ": wait 200 0 DO 250 0 DO LOOP LOOP ;\n"
    ": toggle\n$ in r20,PORTB\n$ ldi r21,1\n$ eor r20,r21\n$ out PORTB,r20\n;\n"
    ": main\n$ sbi DDRB,0\nBEGIN toggle wait AGAIN ;\n";

// The real chip the speed is compared with.
constexpr double ChipHz = 16e6;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// simavr alone: the same program, one instruction after another, nothing read.
double Bare(const BuildResult& b, std::uint64_t cycles)
{
    avr_t* avr = avr_make_mcu_by_name(std::string(b.device->simavrCore).c_str());
    avr_init(avr);
    avr->frequency = std::uint32_t(ChipHz);
    ihex_chunk_t* chunks = nullptr;
    const int n = read_ihex_chunks(b.hexFile.c_str(), &chunks);
    for (int i = 0; i < n; ++i)
        if (chunks[i].baseaddr < 0x800000)
            avr_loadcode(avr, chunks[i].data, chunks[i].size, chunks[i].baseaddr);
    const auto t0 = std::chrono::steady_clock::now();
    while (avr->cycle < cycles)
        avr_run(avr);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    for (int i = 0; i < n; ++i)
        std::free(chunks[i].data);
    std::free(chunks);
    avr_terminate(avr);
    std::free(avr);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: run_bench DEVICE SECONDS ROUNDS\n");
        return 2;
    }
    const Device* device = FindDevice(argv[1]);
    const double seconds = std::atof(argv[2]);
    const int rounds = std::max(1, std::atoi(argv[3]));
    if (!device) {
        std::fprintf(stderr, "run_bench: no device %s\n", argv[1]);
        return 2;
    }
    const BuildResult b = runtest::BuildForTest("bench", Program, *device);
    if (b.status != BuildResult::Built) {
        std::fprintf(stderr, "run_bench: %s\n", b.error.c_str());
        return 1;
    }
    RunOptions o;
    o.clockHz = std::uint32_t(ChipHz);
    o.maxSeconds = seconds;
    std::vector<double> run, bare;
    std::uint64_t cycles = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const RunReport r = RunProgram(b, o);
        run.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        cycles = r.cycles;
        bare.push_back(Bare(b, cycles));
    }
    const double tr = Median(run), tb = Median(bare);
    std::printf("| %s | %.0f | %.3f | %.1f | %.2fx | %.3f | %.1f | %.0f%% |\n", device->title.data(), cycles / 1e6, tr,
                cycles / tr / 1e6, cycles / tr / ChipHz, tb, cycles / tb / 1e6, 100.0 * (tr / tb - 1));
    return 0;
}
