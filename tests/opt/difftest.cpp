// The optimiser against the compiler's own code: random well-formed
// programs (nested words, loops, conditionals, the stacks, memory, printing,
// a timer interrupt firing all through the run) are built both ways, run in
// the simulator, and must leave the same variables, data stack and serial
// text, and stop the same way.
//
//   mirtolan_difftest [--seed N] [--count N | --seconds S] [--keep DIR] [--verbose]
//
// Each program takes the next seed; a difference prints the program, both
// results and the seed that makes it again, keeps the source in DIR (by
// default the work folder), and fails the run.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Build.h"
#include "Simulator.h"

using namespace mirtolan;
namespace fs = std::filesystem;

namespace {

// Runs end well within this; a program that takes longer is not compared.
constexpr std::uint64_t CycleLimit = 3'000'000;
// Cells the generator lets the data stack hold at most.
constexpr int MaxDepth = 10;
// Operations a body takes at most, before its depth is put right.
constexpr int MaxBodyOps = 12;
// Nesting of control structures inside one body.
constexpr int MaxNesting = 2;

// What a device needs said its own way.
struct Target {
    const char* device;     // the device's name
    bool uart;              // it can print
    const char* timerOn;    // the source that starts timer 0 overflowing every 2048 cycles
};
const Target Targets[] = {
    {"atmega328p", true, "2 &TCCR0B C! 1 &TIMSK0 C!"},
    {"attiny85", false, "2 &TCCR0B C! 2 &TIMSK C!"},
};

struct Word {
    std::string name; // its Forth name
    int in = 0;       // cells it takes
    int out = 0;      // cells it leaves
};

class Generator {
public:
    Generator(std::uint32_t seed, int cellBits, const Target& target)
        : rng_(seed), bits_(cellBits), target_(target)
    {
    }

    std::string program()
    {
        std::ostringstream s;
        if (bits_ == 16)
            s << "USE16BIT\n";
        s << "VARIABLE ticks\nVARIABLE isr\n";
        for (int v = 0; v < 3; ++v)
            s << "VARIABLE v" << v << "\n";
        s << "VARIABLE buf ALLOT " << (BufBytes - 1) << "\n";
        s << "CONSTANT k1 " << literal() << "\n";
        text_ = &s;
        // The interrupt handler changes only what it owns, the same way each time.
        const int isrOut = pick(1, 2);
        defineWord("tick", 0, isrOut, true);
        s << "  isr " << (bits_ == 8 ? "C!" : "!");
        if (isrOut == 2)
            s << " DROP";
        s << " ticks C@ 1+ ticks C! ;\n";
        s << "$\tINTERRUPT OVF0addr, tick\n";
        const int count = pick(2, 5);
        for (int w = 0; w < count; ++w) {
            const std::string name = "w" + std::to_string(w);
            const int in = pick(0, 3), out = pick(0, 3);
            defineWord(name, in, out, false);
            s << " ;\n";
            words_.push_back({name, in, out});
        }
        // main: the timer on, work, a wait for a tick, the timer off.
        s << ": main " << target_.timerOn << " EI\n  ";
        int depth = 0;
        body(depth, 0, MaxBodyOps, 0, 0, false);
        for (; depth > 0; --depth)
            s << (target_.uart && coin(2) ? " ." : " v0 +!");
        s << "\n  BEGIN ticks C@ UNTIL DI " << literal() << " ;\n";
        text_ = nullptr;
        return s.str();
    }

private:
    static constexpr int BufBytes = 8;

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool coin(int oneIn) { return pick(1, oneIn) == 1; }

    std::string literal()
    {
        static const int Edges8[] = {0, 1, -1, 2, 7, 127, 128, 255, -128, 3, 10};
        static const int Edges16[] = {0, 1, -1, 2, 255, 256, 32767, -32768, 65535, 1000, 3, 10};
        if (coin(2))
            return std::to_string(bits_ == 8 ? Edges8[pick(0, 10)] : Edges16[pick(0, 11)]);
        return std::to_string(bits_ == 8 ? pick(-128, 255) : pick(-32768, 65535));
    }

    void emit(const std::string& t) { *text_ << " " << t; }

    // A definition of `in` cells to `out` cells.
    void defineWord(const std::string& name, int in, int out, bool isr)
    {
        *text_ << ": " << name << "\n ";
        int depth = in;
        body(depth, out, MaxBodyOps, 0, 0, isr);
        *text_ << "\n";
    }

    // Writes operations from `depth` cells (none below `floor` may be
    // taken) to `target` cells. `loops` DO loops are open around it and
    // their indexes readable (none inside >R).
    void body(int& depth, int target, int budget, int nesting, int loops, bool isr, int floor = 0)
    {
        const int ops = pick(1, budget);
        for (int i = 0; i < ops; ++i)
            step(depth, nesting, loops, isr, floor);
        while (depth > target) {
            emit(depth - floor >= 2 && coin(3) ? "+" : "DROP");
            --depth;
        }
        while (depth < target) {
            emit(literal());
            ++depth;
        }
    }

    void step(int& depth, int nesting, int loops, bool isr, int floor)
    {
        const int free = depth - floor;
        const int room = MaxDepth - depth;
        switch (pick(0, 21)) {
        case 0:
        case 1:
            if (room > 0) {
                emit(coin(6) ? "k1" : literal());
                ++depth;
            }
            return;
        case 2:
            if (free >= 1) {
                static const char* Unary[] = {"1+", "1-", "2*", "2/", "NEGATE", "INVERT", "0=", "0<>", "0<", "0>", "ABS"};
                emit(Unary[pick(0, 10)]);
            }
            return;
        case 3:
        case 4:
            if (free >= 2) {
                static const char* Binary[] = {"+", "-", "AND", "OR", "XOR", "*", "=", "<>", "<", ">", "U<", "U>", "MIN", "MAX", "MOD"};
                emit(Binary[pick(0, 14)]);
                --depth;
            }
            return;
        case 5:
            if (free >= 1 && room > 0) {
                emit("DUP");
                ++depth;
            } else if (free >= 1) {
                emit("DROP");
                --depth;
            }
            return;
        case 6:
            if (free >= 2) {
                static const char* Stack[] = {"SWAP", "NIP", "OVER", "TUCK", "2DUP", "2DROP"};
                static const int Effect[] = {0, -1, 1, 1, 2, -2};
                const int k = pick(0, 5);
                if (depth + Effect[k] <= MaxDepth) {
                    emit(Stack[k]);
                    depth += Effect[k];
                }
            }
            return;
        case 7:
            if (free >= 4 && coin(2))
                emit(coin(2) ? "2SWAP" : "2OVER 2DROP");
            else if (free >= 3)
                emit(coin(2) ? "ROT" : "-ROT");
            return;
        case 8: { // a variable of the program (the handler keeps to isr)
            const std::string v = isr ? "isr" : "v" + std::to_string(pick(0, 2));
            const bool cell = bits_ == 16 && coin(2);
            if (free >= 1 && coin(2)) {
                // (The handler's stores are the same each time it runs.)
                emit(v + (cell ? " !" : coin(3) && !isr ? " +!" : " C!"));
                --depth;
            } else if (room > 0 && !isr) {
                emit(v + (cell ? " @" : " C@"));
                ++depth;
            }
            return;
        }
        case 9: // the bytes of buf, by an index
            if (isr || free < 1)
                return;
            if (loops > 0 && coin(3)) {
                // By the loop's index: a register and a displacement.
                if (coin(2) && room > 0) {
                    emit(bits_ == 8 ? "buf I 7 AND M+ C@ buf I 1+ 7 AND M+ C@ +" : "buf I 7 AND + C@ buf I 1+ 7 AND + C@ +");
                    ++depth;
                } else {
                    emit(bits_ == 8 ? "buf I 7 AND M+ C!" : "buf I 7 AND + C!");
                    --depth;
                }
            } else if (free >= 2 && coin(2)) {
                emit(bits_ == 8 ? "7 AND buf ROT M+ C!" : "7 AND buf + C!");
                depth -= 2;
            } else {
                emit(bits_ == 8 ? "7 AND buf ROT M+ C@" : "7 AND buf + C@");
            }
            return;
        case 10:
        case 11:
            if (free >= 1 && nesting < MaxNesting)
                conditional(depth, nesting, loops, isr, floor);
            return;
        case 12:
        case 13:
            if (nesting < MaxNesting && room >= 2)
                doLoop(depth, nesting, loops, isr, floor);
            return;
        case 14:
            if (nesting < MaxNesting && room >= 2)
                beginLoop(depth, nesting, isr, floor);
            return;
        case 15:
            if (room > 0 && loops > 0) {
                emit(loops > 1 && coin(2) ? "J" : "I");
                ++depth;
            }
            return;
        case 16:
            if (!words_.empty() && !isr) {
                const Word& w = words_[std::size_t(pick(0, int(words_.size()) - 1))];
                if (free >= w.in && depth - w.in + w.out <= MaxDepth) {
                    emit(w.name);
                    depth += w.out - w.in;
                }
            }
            return;
        case 17:
            if (free >= 1 && target_.uart && !isr && coin(3)) {
                emit(coin(2) ? "." : "127 AND 32 MAX EMIT");
                --depth;
            }
            return;
        case 18:
            if (free >= 1 && nesting < MaxNesting)
                caseOf(depth, nesting, loops, isr, floor);
            return;
        case 19: // a line the optimiser keeps as it is
            *text_ << "\n  $\tnop\n ";
            return;
        case 20: // a cell parked on the loop stack
            if (free >= 1 && nesting < MaxNesting) {
                emit(">R");
                --depth;
                int inner = depth;
                body(inner, depth, MaxBodyOps / 3, nesting + 1, 0, isr, floor);
                emit(coin(3) ? "R@ DROP R>" : "R>");
                ++depth;
            }
            return;
        default:
            if (room > 0 && free >= 2) {
                emit("OVER OVER =");
                ++depth;
            }
            return;
        }
    }

    // Both branches end with the same depth.
    void conditional(int& depth, int nesting, int loops, bool isr, int floor)
    {
        --depth;
        const int target = std::max(floor, depth + pick(-1, 1));
        emit("IF");
        int a = depth;
        body(a, target, MaxBodyOps / 2, nesting + 1, loops, isr, floor);
        if (coin(2)) {
            emit("ELSE");
            int b = depth;
            body(b, target, MaxBodyOps / 2, nesting + 1, loops, isr, floor);
        } else if (target != depth) {
            emit("ELSE");
            int b = depth;
            body(b, target, 1, nesting + 1, loops, isr, floor);
        }
        emit("THEN");
        depth = target;
    }

    void caseOf(int& depth, int nesting, int loops, bool isr, int floor)
    {
        --depth;
        const int target = std::max(floor, depth + pick(-1, 1));
        emit("3 AND CASE");
        const int cases = pick(1, 3);
        for (int k = 0; k < cases; ++k) {
            emit(std::to_string(k) + " OF");
            int a = depth;
            body(a, target, MaxBodyOps / 3, nesting + 1, loops, isr, floor);
            emit("ENDOF");
        }
        emit("DEFAULT");
        int b = depth;
        body(b, target, MaxBodyOps / 3, nesting + 1, loops, isr, floor);
        emit("ENDCASE");
        depth = target;
    }

    void doLoop(int& depth, int nesting, int loops, bool isr, int floor)
    {
        const int start = pick(0, 3);
        const int count = pick(1, 5);
        const bool plus = coin(3);
        const bool down = plus && coin(2);
        if (down)
            emit("0 " + std::to_string(start + count) + " DO");
        else if (!plus && !isr && coin(3)) // a limit known only when it runs: 1 to 4 turns more
            emit("v" + std::to_string(pick(0, 2)) + " C@ 3 AND " + std::to_string(start + 1) + " + " +
                 std::to_string(start) + " DO");
        else
            emit(std::to_string(start + count) + " " + std::to_string(start) + " DO");
        int inner = depth;
        body(inner, depth, MaxBodyOps / 2, nesting + 1, loops + 1, isr, floor);
        if (plus)
            emit(down ? "-1 +LOOP" : std::to_string(pick(1, 3)) + " +LOOP");
        else
            emit("LOOP");
    }

    void beginLoop(int& depth, int nesting, bool isr, int floor)
    {
        emit(std::to_string(pick(1, 4)));
        if (coin(2)) {
            emit("BEGIN >R");
            int inner = depth;
            body(inner, depth, MaxBodyOps / 2, nesting + 1, 0, isr, floor);
            emit("R> 1- DUP 0= UNTIL DROP");
        } else {
            emit("BEGIN DUP WHILE >R");
            int inner = depth;
            body(inner, depth, MaxBodyOps / 2, nesting + 1, 0, isr, floor);
            emit("R> 1- REPEAT DROP");
        }
    }

    std::mt19937 rng_;
    int bits_;
    const Target& target_;
    std::vector<Word> words_;
    std::ostringstream* text_ = nullptr;
};

struct Outcome {
    bool built = false; // the build made a .hex
    std::string error;  // why not
    RunReport report;   // the run of the .hex
};

Outcome buildAndRun(const fs::path& source, const Target& target, bool optimise)
{
    Outcome o;
    BuildOptions b;
    b.sourceFile = source.string();
    b.listingFile = (source.parent_path() / (source.stem().string() + (optimise ? "-opt" : "") + ".asm")).string();
    b.device = FindDevice(target.device);
    b.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    b.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    b.optimise = optimise;
    const BuildResult built = BuildHex(b);
    if (built.status != BuildResult::Built) {
        o.error = built.error;
        for (const auto& d : built.diagnostics)
            o.error += "\n" + d.format();
        return o;
    }
    o.built = true;
    RunOptions r;
    r.maxCycles = CycleLimit;
    o.report = RunProgram(built, r);
    return o;
}

std::string describe(const RunReport& r)
{
    std::ostringstream s;
    s << StopReasonName(r.stopped) << " " << r.fault << "\n  stack:";
    for (auto c : r.stack)
        s << " " << c;
    s << "\n  variables:";
    for (const auto& v : r.variables) {
        s << " " << v.name << "=";
        for (auto b : v.bytes)
            s << int(b) << ",";
    }
    s << "\n  uart: " << r.uart << "\n";
    return s.str();
}

// The results a correct optimiser leaves alone: all but the tick count,
// which depends on how fast the program ran.
bool same(const RunReport& a, const RunReport& b)
{
    if (a.stopped != b.stopped || a.faultKind != b.faultKind || a.stack != b.stack || a.uart != b.uart ||
        a.variables.size() != b.variables.size())
        return false;
    for (std::size_t i = 0; i < a.variables.size(); ++i)
        if (a.variables[i].name != "ticks" && a.variables[i].bytes != b.variables[i].bytes)
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::uint32_t seed = 1;
    long count = 20;
    double seconds = 0;
    fs::path keep = fs::path(OPT_TEST_WORK_DIR);
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seed" && i + 1 < argc)
            seed = std::uint32_t(std::strtoul(argv[++i], nullptr, 10));
        else if (a == "--count" && i + 1 < argc)
            count = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--seconds" && i + 1 < argc)
            seconds = std::strtod(argv[++i], nullptr);
        else if (a == "--keep" && i + 1 < argc)
            keep = argv[++i];
        else if (a == "--verbose")
            verbose = true;
        else {
            std::cerr << "usage: mirtolan_difftest [--seed N] [--count N | --seconds S] [--keep DIR] [--verbose]\n";
            return 2;
        }
    }
    fs::create_directories(keep);
    const auto start = std::chrono::steady_clock::now();
    long compared = 0, skipped = 0;
    for (long n = 0;; ++n) {
        if (seconds > 0 ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds
                        : n >= count)
            break;
        const std::uint32_t s = seed + std::uint32_t(n);
        const Target& target = Targets[s % std::size(Targets)];
        const int bits = (s / 2) % 2 ? 16 : 8;
        const std::string text = Generator(s, bits, target).program();
        const fs::path source = keep / ("prog-" + std::to_string(s) + ".4th");
        std::ofstream(source) << text;
        const Outcome plain = buildAndRun(source, target, false);
        const Outcome optimised = buildAndRun(source, target, true);
        const auto forget = [&] {
            for (const char* suffix : {".4th", ".asm", "-opt.asm", ".hex", "-opt.hex"})
                fs::remove(keep / ("prog-" + std::to_string(s) + suffix));
        };
        if (!plain.built || plain.report.stopped == StopReason::Limit) {
            // Not a program the comparison can judge (too long for its branches, or for the time).
            if (verbose)
                std::cerr << "not compared, seed " << s << ": " << (plain.built ? "limit" : plain.error) << "\n";
            ++skipped;
            forget();
            continue;
        }
        ++compared;
        if (optimised.built && same(plain.report, optimised.report)) {
            forget();
            continue;
        }
        std::cerr << "difference for seed " << s << " (" << target.device << ", " << bits << "-bit cells), kept in "
                  << source.string() << ":\n"
                  << text << "\nwithout --opt: " << describe(plain.report) << "with --opt: "
                  << (optimised.built ? describe(optimised.report) : "build failed: " + optimised.error) << "\n";
        return 1;
    }
    std::cout << compared << " programs alike with and without --opt (" << skipped << " not comparable), seeds "
              << seed << " on\n";
    return compared > 0 ? 0 : 1;
}
