// mirtolanc --run end to end: the real tool builds with avra and runs in
// the simulator; exit status, report and problems per case, on each device.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BuildForTest.h"
#include "Devices.h"
#include "TempDir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p)
{
    std::stringstream s;
    s << std::ifstream(p).rdbuf();
    return s.str();
}

struct Case {
    const char* name;
    const char* source;
    const char* args;                  // after --device NAME --run
    int status;                        // exit status
    std::vector<std::string> out;      // in standard output
    std::vector<std::string> err;      // in standard error
    std::vector<std::string> optOut = {}; // in standard output of an optimised build, where not `out`
    std::vector<std::string> optErr = {}; // in its standard error, where not `err`
    bool built = false;                // status 2 after the build, which wrote the listing and .hex; else
                                       // status 2 means refused before anything was written
};

const Case Cases[] = {
    {"halt", "VARIABLE count\n: main 5 0 DO count C@ 1+ count C! LOOP 4 2 ;\n", "", 0,
     {"Stopped: halted (main returned)\n", "Variables:\n  count $0", " 5 ($05)\n", "Data stack (bottom first): 4 2\n",
      "Loop stack depth: 0\n", "  main "},
     {"mirtolanc: wrote prog.hex"}},
    {"json", "VARIABLE count\n: main 7 count C! 9 ;\n", "--json --words16", 0,
     {"{\"stopped\": \"halted\", ", "\"variables\": [{\"name\": \"count\", \"address\": ", "\"line\": 1, \"bytes\": [7], "
      "\"words16\": []}], \"stack\": [9], ", "\"profile\": [{\"word\": "},
     {}},
    {"fault", "\n: oops DROP DROP 0 ;\n: main 1 oops 0 ;\n", "", 3,
     {"Stopped: fault: data stack underflow", "Stopped: fault: data stack underflow in DROP (line 2): more cells taken than were on the stack\n", "  called from oops (line 2)\n",
      "  called from main (line 3)\n"},
     {"prog.4th:2: error: the program faulted: data stack underflow"},
     // oops is written into main, and its DROP still takes the missing cell.
     {"Stopped: fault: data stack underflow in main (line 2): more cells taken than were on the stack\n",
      "  called from (start-up)\n"}},
    {"limit", ": main BEGIN AGAIN ;\n", "--cycles 5000", 0, {"Stopped: limit reached\n", "Cycles: 500"}, {}},
    {"button", ": main\n$ sbi DDRB,1\n$ _w: sbic PIND,2\n$ rjmp _w\n$ sbi PORTB,1\n;\n",
     "--pin PD2=1@0ms --pin PD2=0@1ms", 0, {"Stopped: halted", "PB1 1 change: 1@1.00", "PD2 2 changes: 1@0 us 0@1"},
     {}},
    {"vcd", ": main\n$ sbi DDRB,3\n$ sbi PORTB,3\n$ cbi PORTB,3\n;\n", "--vcd run.vcd", 0, {"PB3 2 changes"}, {}},
    // A conversion of ADC0 against the 5 V reference: 1.25 V reads 255 of 1023.
    {"adc", ": main 64 &ADMUX C! 199 &ADCSRA C! BEGIN &ADCSRA C@ 64 AND 0= UNTIL &ADCL C@ &ADCH C@ ;\n",
     "--adc ADC0=1.25@0ms", 0, {"Data stack (bottom first): 255 0\n"}, {}},
    {"bad-adc-channel", ": main ;\n", "--adc ADC8=1@0ms", 2, {}, {"has the ADC inputs ADC0 to ADC"}, {}, {}, true},
    {"bad-adc-volts", ": main ;\n", "--adc ADC0=6@0ms", 2, {}, {"bad ADC input 'ADC0=6@0ms'"}},
    {"bad-pin", ": main ;\n", "--pin PD9=0@1ms", 2, {}, {"bad pin stimulus 'PD9=0@1ms'"}},
    {"bad-time", ": main ;\n", "--time 3", 2, {}, {"bad time '3'"}},
    {"no-build", ": main frob ;\n", "", 1, {}, {"prog.4th:1: error: 'frob' is not defined"}},
    // Limits out of range are refused before anything is built, naming the range.
    {"time-zero", ": main ;\n", "--time 0s", 2, {}, {"bad time '0s': a run lasts at least one cycle (and at most 2^63)"}},
    {"time-under-a-cycle", ": main ;\n", "--time 1ns", 2, {},
     {"the time limit 1 ns is less than one cycle: a run lasts from one cycle (", " to 2^63 cycles ("}},
    {"time-too-long", ": main ;\n", "--time 1e30s", 2, {}, {"is too long: a run lasts from one cycle ("}},
    {"cycles-too-many", ": main ;\n", "--cycles 9223372036854775809", 2, {}, {"from 1 to 2^63"}},
    {"pin-after-the-end", ": main ;\n", "--time 1ms --pin PD2=1@1.5ms", 2, {},
     {"the pin change PD2=1@1.5 ms comes after the run's end: give a time from 0 to 1 ms"}},
    {"no-header", ": main ;\n", "--no-header", 2, {}, {"--run needs the run-time header"}},
    {"vcd-without-a-name", ": main ;\n", "--vcd ''", 2, {}, {"option --vcd needs a file name"}},
    {"vcd-over-the-source", ": main ;\n", "--vcd prog.4th", 2, {},
     {"the VCD file prog.4th would overwrite the source prog.4th"}},
    {"vcd-over-the-hex", ": main ;\n", "--vcd prog.hex", 2, {},
     {"the .hex and the VCD file would both be written to prog.hex"}},
    {"device-without-a-name", ": main ;\n", "--device ''", 2, {}, {"option --device needs a device name"}},
    // Stopped before the start-up code has set the stacks: no cells to show.
    {"stacks-not-set-up", ": main 1 2 ;\n", "--cycles 1", 0,
     {"Data stack (bottom first): not set up yet", "Loop stack depth: 0\n"}, {}},
    {"stacks-not-set-up-json", ": main 1 2 ;\n", "--cycles 1 --json", 0,
     {"\"stack\": [], \"stackUnderflow\": 0, \"loopStackDepth\": 0, \"stacksSetUp\": false"}, {}},
    // A return with the stack pointer at the top of RAM: the hardware stack is empty.
    {"return-from-empty-stack",
     ": main\n$ ldi r16,low(RAMEND)\n$ out SPL,r16\n$ ldi r16,high(RAMEND)\n$ out SPH,r16\n;\n", "", 3,
     {"Stopped: fault: hardware stack underflow in main (line 6): a return with no return address on the stack\n"},
     {"prog.4th:6: error: the program faulted: hardware stack underflow in main"}},
    // Names are bytes: UTF-8 passes into the JSON as it is, other bytes are read as Latin-1.
    {"utf8-names", "VARIABLE Z\xC3\xA4hler\nVARIABLE \xE4\n: main 1 Z\xC3\xA4hler C! ;\n", "--json", 0,
     {"\"name\": \"Z\xC3\xA4hler\"", "\"name\": \"\\u00e4\""}, {}},
};

class CliRun : public ::testing::TestWithParam<runtest::Setting> {};

TEST_P(CliRun, Cases)
{
    const std::string device = GetParam().device;
    const bool optimised = GetParam().optimise;
    const bool portD = runtest::DeviceHas(*mirtolan::FindDevice(device), "PIND");
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "button" && !portD)
            continue;
        const mirtolan::test::TempDir tmp;
        const fs::path dir = tmp.path();
        std::ofstream(dir / "prog.4th") << c.source;
        const std::string cmd = "cd '" + dir.string() + "' && '" MIRTOLANC_PATH "' --device " + device +
                                (optimised ? " --opt" : "") + " --run " + c.args + " prog.4th >out.txt 2>err.txt";
        const int raw = std::system(cmd.c_str());
        const std::string out = ReadAll(dir / "out.txt"), err = ReadAll(dir / "err.txt");
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << out << err;
        for (const std::string& s : optimised && !c.optOut.empty() ? c.optOut : c.out)
            EXPECT_NE(out.find(s), std::string::npos) << s << "\n---\n" << out;
        for (const std::string& s : optimised && !c.optErr.empty() ? c.optErr : c.err)
            EXPECT_NE(err.find(s), std::string::npos) << s << "\n---\n" << err;
        if (c.status == 1 || c.status == 2) {
            EXPECT_EQ(out, "");
        }
        if (c.status == 2 && !c.built) {
            // Refused before anything was written.
            EXPECT_EQ(ReadAll(dir / "prog.4th"), c.source);
            EXPECT_FALSE(fs::exists(dir / "prog.asm"));
            EXPECT_FALSE(fs::exists(dir / "prog.hex"));
        }
        if (std::string(c.name) == "vcd") {
            EXPECT_NE(ReadAll(dir / "run.vcd").find("$var wire 1 ! PB3 $end"), std::string::npos);
        }
    }
}

// Two builds and runs of one source at once, for different variable
// starts: each runs the program it built, never the other's.
TEST(CliRunTogether, ConcurrentRunsOfOneSourceRunTheirOwnProgram)
{
    constexpr int Pairs = 60;
    const mirtolan::test::TempDir tmp;
    const fs::path dir = tmp.path();
    std::ofstream(dir / "prog.4th") << "VARIABLE v\n: main 5 v C! ;\n";
    const char* const starts[] = {"100", "180"};
    int crossed = 0;
    for (int pair = 0; pair < Pairs; ++pair) {
        std::string out[2];
        std::thread runs[2];
        for (int k = 0; k < 2; ++k)
            runs[k] = std::thread([&, k] {
                const std::string file = (dir / ("out" + std::to_string(k))).string();
                const std::string cmd = "cd '" + dir.string() + "' && '" MIRTOLANC_PATH
                                        "' --device atmega328p --run --varbeg " + starts[k] + " prog.4th >'" + file +
                                        "' 2>/dev/null";
                if (std::system(cmd.c_str()) == 0)
                    out[k] = ReadAll(file);
            });
        for (auto& t : runs)
            t.join();
        for (int k = 0; k < 2; ++k)
            if (out[k].find(std::string("v    $0") + starts[k] + "  5 ($05)") == std::string::npos) {
                ++crossed;
                ADD_FAILURE() << "pair " << pair << ", varbeg " << starts[k] << ":\n" << out[k];
            }
    }
    EXPECT_EQ(crossed, 0);
}

// The pid of a child of `parent` whose command is `name`, 0 when none.
pid_t ChildNamed(pid_t parent, const std::string& name)
{
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string stat = ReadAll(e.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || stat.find("(" + name + ")") == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            return pid_t(std::stoi(e.path().filename().string()));
    }
    return 0;
}

// Told to stop while avra works (here it waits on a FIFO for ever), the
// tool stops avra, removes its scratch folder and ends by the signal.
TEST(CliRunTogether, StopSignalEndsTheAssemblerAndRemovesTheScratchFolder)
{
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const mirtolan::test::TempDir work, temp;
        ASSERT_EQ(::mkfifo((work / "hang.inc").c_str(), 0600), 0);
        std::ofstream(work / "prog.4th") << "$.include \"hang.inc\"\n: main ;\n";
        // Everything the child needs is made before the fork: after it, only
        // calls that are safe in a copy of a threaded process.
        std::vector<std::string> env{"TMPDIR=" + temp.path()};
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).substr(0, 7) != "TMPDIR=")
                env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const char* const argv[] = {"mirtolanc", "--device", "atmega328p", "--run", "prog.4th", nullptr};
        const std::string log = work / "err.txt";
        const pid_t tool = ::fork();
        if (tool == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || ::chdir(work.path().c_str()) != 0 || ::dup2(fd, 2) < 0)
                ::_exit(126);
            ::execve(MIRTOLANC_PATH, const_cast<char* const*>(argv), envp.data());
            ::_exit(127);
        }
        ASSERT_GT(tool, 0);
        pid_t avra = 0;
        for (int i = 0; i < 200 && !avra; ++i, ::usleep(50'000))
            avra = ChildNamed(tool, "avra");
        ASSERT_NE(avra, 0) << ReadAll(work / "err.txt");
        ::kill(tool, signal);
        int status = 0;
        const auto start = std::chrono::steady_clock::now();
        while (::waitpid(tool, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
            ::usleep(20'000);
        // Whatever happened, nobody stays blocked on the FIFO.
        const int unblock = ::open((work / "hang.inc").c_str(), O_WRONLY | O_NONBLOCK);
        if (unblock >= 0)
            ::close(unblock);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_FALSE(fs::exists("/proc/" + std::to_string(avra))) << "avra still runs";
        EXPECT_TRUE(fs::is_empty(temp.path())) << "a scratch folder was left";
        EXPECT_NE(ReadAll(work / "err.txt").find("mirtolanc: stopped by signal " + std::to_string(signal)),
                  std::string::npos)
            << ReadAll(work / "err.txt");
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, CliRun, ::testing::ValuesIn(runtest::Settings()),
                         [](const auto& info) { return runtest::SettingName(info.param); });

} // namespace
