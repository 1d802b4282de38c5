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
     {"prog.4th:2: error: the program faulted: data stack underflow"}},
    {"limit", ": main BEGIN AGAIN ;\n", "--cycles 5000", 0, {"Stopped: limit reached\n", "Cycles: 500"}, {}},
    {"button", ": main\n$ sbi DDRB,1\n$ _w: sbic PIND,2\n$ rjmp _w\n$ sbi PORTB,1\n;\n",
     "--pin PD2=1@0ms --pin PD2=0@1ms", 0, {"Stopped: halted", "PB1 1 change: 1@1.00", "PD2 2 changes: 1@0 us 0@1"},
     {}},
    {"vcd", ": main\n$ sbi DDRB,3\n$ sbi PORTB,3\n$ cbi PORTB,3\n;\n", "--vcd run.vcd", 0, {"PB3 2 changes"}, {}},
    // A conversion of ADC0 against the 5 V reference: 1.25 V reads 255 of 1023.
    {"adc", ": main 64 &ADMUX C! 199 &ADCSRA C! BEGIN &ADCSRA C@ 64 AND 0= UNTIL &ADCL C@ &ADCH C@ ;\n",
     "--adc ADC0=1.25@0ms", 0, {"Data stack (bottom first): 255 0\n"}, {}},
    {"bad-adc-channel", ": main ;\n", "--adc ADC8=1@0ms", 2, {}, {"has the ADC inputs ADC0 to ADC"}},
    {"bad-adc-volts", ": main ;\n", "--adc ADC0=6@0ms", 2, {}, {"bad ADC input 'ADC0=6@0ms'"}},
    {"bad-pin", ": main ;\n", "--pin PD9=0@1ms", 2, {}, {"bad pin stimulus 'PD9=0@1ms'"}},
    {"bad-time", ": main ;\n", "--time 3", 2, {}, {"bad time '3'"}},
    {"no-build", ": main frob ;\n", "", 1, {}, {"prog.4th:1: error: 'frob' is not defined"}},
};

class CliRun : public ::testing::TestWithParam<std::string> {};

TEST_P(CliRun, Cases)
{
    const bool portD = runtest::DeviceHas(*mirtolan::FindDevice(GetParam()), "PIND");
    for (const Case& c : Cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "button" && !portD)
            continue;
        const mirtolan::test::TempDir tmp;
        const fs::path dir = tmp.path();
        std::ofstream(dir / "prog.4th") << c.source;
        const std::string cmd = "cd '" + dir.string() + "' && '" MIRTOLANC_PATH "' --device " + GetParam() +
                                " --run " + c.args + " prog.4th >out.txt 2>err.txt";
        const int raw = std::system(cmd.c_str());
        const std::string out = ReadAll(dir / "out.txt"), err = ReadAll(dir / "err.txt");
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << out << err;
        for (const std::string& s : c.out)
            EXPECT_NE(out.find(s), std::string::npos) << s << "\n---\n" << out;
        for (const std::string& s : c.err)
            EXPECT_NE(err.find(s), std::string::npos) << s << "\n---\n" << err;
        if (c.status == 1 || c.status == 2) {
            EXPECT_EQ(out, "");
        }
        if (std::string(c.name) == "vcd") {
            EXPECT_NE(ReadAll(dir / "run.vcd").find("$var wire 1 ! PB3 $end"), std::string::npos);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, CliRun, ::testing::ValuesIn(runtest::DevicesWithRuntime()),
                         [](const auto& info) { return info.param; });

} // namespace
