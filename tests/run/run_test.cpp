// Programs with known results, built and run on every device with a
// run-time: what the report says about their variables, stacks, serial
// output, pins, faults and profile.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>
#include <sstream>

#include "BuildForTest.h"
#include "TempDir.h"
#include "RunCli.h"
#include "Simulator.h"

using namespace mirtolan;

namespace {

// What differs between the devices' sources: register names and how they
// are reached (out for the low I/O space, sts above it).
struct DeviceText {
    const char* device;
    std::map<std::string, std::string> text; // placeholder -> source text
};

const DeviceText Texts[] = {
    {"atmega32", {
        {"{UART}",
         ": uart-init\n$ ldi r20,51\n$ out UBRRL,r20\n$ ldi r20,(1<<RXEN)|(1<<TXEN)\n$ out UCSRB,r20\n;\n"
         ": tx\n$ ld Ftmp1,Y+\n$ _txw: sbis UCSRA,UDRE\n$ rjmp _txw\n$ out UDR,Ftmp1\n;\n"
         ": rx\n$ _rxw: sbis UCSRA,RXC\n$ rjmp _rxw\n$ in Ftmp1,UDR\n$ st -Y,Ftmp1\n;\n"},
        {"{SLEEP}", "$ ldi r20,(1<<SE)\n$ out MCUCR,r20\n$ sleep\n"},
        {"{WATCHDOG}", "$ ldi r20,(1<<WDE)\n$ out WDTCR,r20\n"},
    }},
    {"attiny85", {
        {"{SLEEP}", "$ ldi r20,(1<<SE)\n$ out MCUCR,r20\n$ sleep\n"},
        {"{WATCHDOG}", "$ ldi r20,(1<<WDE)\n$ out WDTCR,r20\n"},
    }},
    // The ATmega328P and the other megaAVRs with its register names.
    {"*", {
        {"{UART}",
         ": uart-init\n$ ldi r20,103\n$ sts UBRR0L,r20\n$ ldi r20,(1<<RXEN0)|(1<<TXEN0)\n$ sts UCSR0B,r20\n;\n"
         ": tx\n$ ld Ftmp1,Y+\n$ _txw: lds r20,UCSR0A\n$ sbrs r20,UDRE0\n$ rjmp _txw\n$ sts UDR0,Ftmp1\n;\n"
         ": rx\n$ _rxw: lds r20,UCSR0A\n$ sbrs r20,RXC0\n$ rjmp _rxw\n$ lds Ftmp1,UDR0\n$ st -Y,Ftmp1\n;\n"},
        {"{SLEEP}", "$ ldi r20,(1<<SE)\n$ out SMCR,r20\n$ sleep\n"},
        {"{WATCHDOG}", "$ ldi r20,(1<<WDE)\n$ sts WDTCSR,r20\n"},
    }},
};

class Run : public ::testing::TestWithParam<runtest::Setting> {
protected:
    const Device& device() const { return *FindDevice(GetParam().device); }
    bool optimised() const { return GetParam().optimise; }

    std::string source(std::string text) const
    {
        // The device's own texts, else those of the megaAVRs ("*", last).
        const DeviceText* chosen = &Texts[std::size(Texts) - 1];
        for (const DeviceText& d : Texts)
            if (std::string(d.device) == GetParam().device) {
                chosen = &d;
                break;
            }
        for (const auto& [key, value] : chosen->text)
            for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), value);
        return text;
    }

    RunReport run(const std::string& name, const std::string& text, RunOptions options = {})
    {
        program = runtest::BuildForTest(name, source(text), device(), optimised());
        EXPECT_EQ(program.status, BuildResult::Built) << program.error;
        if (!options.maxCycles && !options.maxSeconds)
            options.maxSeconds = 0.5;
        RunReport r = RunProgram(program, options);
        EXPECT_NE(r.stopped, StopReason::Error) << r.error;
        return r;
    }

    double cyclesPerMs() const { return device().clockHz / 1000.0; }

    BuildResult program;
};

std::uint64_t SelfSum(const RunReport& r)
{
    return std::accumulate(r.profile.begin(), r.profile.end(), std::uint64_t(0),
                           [](std::uint64_t s, const ProfileEntry& e) { return s + e.self; });
}

const ProfileEntry* Profiled(const RunReport& r, const std::string& word)
{
    for (const ProfileEntry& e : r.profile)
        if (e.word == word)
            return &e;
    return nullptr;
}

const PinTrace* Pin(const RunReport& r, const std::string& name)
{
    for (const PinTrace& p : r.pins)
        if (p.name == name)
            return &p;
    return nullptr;
}

TEST_P(Run, VariablesStackAndProfileAfterAHalt)
{
    const RunReport r = run("vars",
                            "VARIABLE count\nVARIABLE buf ALLOT 3\n"
                            ": bump count C@ 1+ count C! ;\n"
                            ": main 5 0 DO bump LOOP 7 buf C! 9 buf 2 + C! 1 2 3 ;\n");
    ASSERT_EQ(r.stopped, StopReason::Halted) << r.fault;
    ASSERT_EQ(r.variables.size(), 2u);
    EXPECT_EQ(r.variables[0].name, "count");
    EXPECT_EQ(r.variables[0].bytes, std::vector<std::uint8_t>{5});
    EXPECT_EQ(r.variables[1].name, "buf");
    EXPECT_EQ(r.variables[1].address, r.variables[0].address + 1);
    EXPECT_EQ(r.variables[1].bytes, (std::vector<std::uint8_t>{7, 0, 9, 0}));
    EXPECT_EQ(r.stack, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(r.loopStackDepth, 0);

    EXPECT_EQ(SelfSum(r), r.cycles);
    if (optimised()) {
        // bump and C@ are written into main, and their cycles are main's.
        const ProfileEntry* main = Profiled(r, "main");
        ASSERT_TRUE(main);
        EXPECT_EQ(main->calls, 1u);
        EXPECT_FALSE(Profiled(r, "bump"));
        EXPECT_FALSE(Profiled(r, "Cat"));
        EXPECT_LT(main->total, r.cycles);
        return;
    }
    const ProfileEntry* bump = Profiled(r, "bump");
    const ProfileEntry* main = Profiled(r, "main");
    const ProfileEntry* cat = Profiled(r, "Cat");
    ASSERT_TRUE(bump && main && cat);
    EXPECT_EQ(bump->calls, 5u);
    EXPECT_EQ(main->calls, 1u);
    EXPECT_EQ(cat->calls, 5u);
    // bump's time holds its callees', the tail-called C! included; main's holds bump's.
    EXPECT_GT(bump->total, bump->self + cat->self);
    EXPECT_GT(main->total, bump->total);
    EXPECT_LT(main->total, r.cycles);
    EXPECT_NEAR(r.seconds, double(r.cycles) / device().clockHz, 1e-12);
}

TEST_P(Run, UartTextOfAProgramThatPrints)
{
    if (!device().hasUart)
        GTEST_SKIP() << "no UART";
    const RunReport r = run("hello", "{UART}: main uart-init 'h tx 'i tx 10 tx ;\n");
    ASSERT_EQ(r.stopped, StopReason::Halted) << r.fault;
    EXPECT_EQ(r.uart, "hi\n");
}

TEST_P(Run, EchoDrivenByUartInput)
{
    if (!device().hasUart)
        GTEST_SKIP() << "no UART";
    RunOptions o;
    o.uartIn = "abc";
    const RunReport r = run("echo", "{UART}: main uart-init 3 0 DO rx 1+ tx LOOP ;\n", o);
    ASSERT_EQ(r.stopped, StopReason::Halted) << r.fault;
    EXPECT_EQ(r.uart, "bcd");
    // At 9600 baud a byte takes over a millisecond: the input arrives at the line's pace.
    EXPECT_GT(r.cycles, 3 * cyclesPerMs());
}

TEST_P(Run, SerialWordsOfTheArchive)
{
    if (!device().hasUart)
        GTEST_SKIP() << "no UART";
    RunOptions o;
    o.uartIn = "a";
    const RunReport r = run("serial", ": main 42 U. 'k EMIT CR KEY 1+ EMIT ;\n", o);
    ASSERT_EQ(r.stopped, StopReason::Halted) << r.fault;
    EXPECT_EQ(r.uart, "42 k\r\nb");
}

// The EEPROM bytes a program wrote, against their erased state at reset.
TEST_P(Run, EepromBytesTheProgramChanged)
{
    const RunReport r = run("eeprom", ": main 42 0 10 EEC! 7 0 11 EEC! 255 0 12 EEC! 9 1 0 EE! 0 10 EEC@ ;\n");
    ASSERT_EQ(r.stopped, StopReason::Halted) << r.fault;
    EXPECT_EQ(r.stack, std::vector<std::uint32_t>{42});
    ASSERT_EQ(r.eeprom.size(), 3u); // 255 at 12 is what an erased byte holds
    EXPECT_EQ(r.eeprom[0].address, 10u);
    EXPECT_EQ(r.eeprom[1].value, 7u);
    EXPECT_EQ(r.eeprom[2].address, 256u);
    const std::string text = FormatReport(r, {});
    EXPECT_NE(text.find("EEPROM (3 bytes changed):\n  $000A 42 7\n  $0100 9\n"), std::string::npos) << text;
    EXPECT_NE(ReportJson(r, {}).find("\"eeprom\": [{\"address\": 10, \"value\": 42}, {\"address\": 11, \"value\": 7}, "
                                     "{\"address\": 256, \"value\": 9}]"),
              std::string::npos);
}

TEST_P(Run, BlinkPeriodFromThePinChanges)
{
    RunOptions o;
    o.maxSeconds = 0.02;
    const RunReport r = run("blink",
                            ": toggle\n$ in r20,PORTB\n$ ldi r21,1\n$ eor r20,r21\n$ out PORTB,r20\n;\n"
                            ": wait 100 0 DO LOOP ;\n"
                            ": main\n$ sbi DDRB,0\nBEGIN toggle wait AGAIN ;\n",
                            o);
    ASSERT_EQ(r.stopped, StopReason::Limit);
    const PinTrace* pb0 = Pin(r, "PB0");
    ASSERT_TRUE(pb0);
    ASSERT_GT(pb0->changes.size(), 10u);
    const std::uint64_t period = pb0->changes[1].first - pb0->changes[0].first;
    for (std::size_t i = 1; i < pb0->changes.size(); ++i) {
        EXPECT_EQ(pb0->changes[i].second, 1 - pb0->changes[i - 1].second);
        EXPECT_EQ(pb0->changes[i].first - pb0->changes[i - 1].first, period) << "change " << i;
    }
    // A hundred LOOPs of a dozen cycles or so each, or of four in registers.
    EXPECT_GT(period, optimised() ? 300u : 1000u);
    EXPECT_LT(period, optimised() ? 1000u : 3000u);
    EXPECT_EQ(pb0->changes.size(), (r.cycles - pb0->changes[0].first) / period + 1);
    EXPECT_FALSE(Pin(r, "PB1"));
}

TEST_P(Run, ButtonDrivenByPinStimulus)
{
    if (!runtest::DeviceHas(device(), "PIND"))
        GTEST_SKIP() << "no port D";
    std::string error;
    RunOptions o;
    o.pins = {*ParsePinStimulus("PD2=0@2ms", error), *ParsePinStimulus("PD2=1@0ms", error)};
    const RunReport r = run("button",
                            ": pressed?\n$ clr Ftmp1\n$ sbis PIND,2\n$ ser Ftmp1\n$ st -Y,Ftmp1\n;\n"
                            ": main\n$ sbi DDRB,1\nBEGIN pressed? UNTIL\n$ sbi PORTB,1\n;\n",
                            o);
    ASSERT_EQ(r.stopped, StopReason::Halted) << r.fault;
    const PinTrace* led = Pin(r, "PB1");
    const PinTrace* button = Pin(r, "PD2");
    ASSERT_TRUE(led && button);
    ASSERT_EQ(led->changes.size(), 1u);
    EXPECT_GE(led->changes[0].first, 2 * cyclesPerMs());
    EXPECT_LT(led->changes[0].first, 2 * cyclesPerMs() + 100);
    ASSERT_EQ(button->changes.size(), 2u);
    EXPECT_EQ(button->changes[0], (std::pair<std::uint64_t, int>{0, 1}));
    EXPECT_EQ(button->changes[1].second, 0);
}

// Each fault kind, raised by a small program, with the word it happened in
// and the words that called it.
struct FaultCase {
    const char* name;
    const char* source;
    FaultKind kind;
    const char* word;                 // the word executing
    std::vector<std::string> callers; // the first callers, innermost first
    const char* text = "";            // the start of the fault's text
    // Optimised, where inlined words are their caller's code: the word
    // executing and its first callers (null and none: as above).
    const char* optWord = nullptr;
    std::optional<std::vector<std::string>> optCallers = std::nullopt;
};

const FaultCase FaultCases[] = {
    {"underflow", ": oops DROP DROP 0 ;\n: main 1 oops 0 ;\n", FaultKind::DataStackUnderflow, "DROP", {"oops", "main"},
     "", "main", std::vector<std::string>{}},
    {"into-variables", "VARIABLE v\n: fill BEGIN 1 AGAIN ;\n: main fill 0 ;\n", FaultKind::DataStackIntoVariables,
     "fill", {"main"}, "data stack overflow in fill: the stack grew down into the variables", "main",
     std::vector<std::string>{}},
    {"into-io", ": fill BEGIN 1 AGAIN ;\n: main fill 0 ;\n", FaultKind::DataStackIntoVariables, "fill", {"main"},
     "data stack overflow in fill: the stack grew down to the start of SRAM", "main", std::vector<std::string>{}},
    {"loop-overflow", ": nest BEGIN 1 >R AGAIN ;\n: main nest 0 ;\n", FaultKind::LoopStackOverflow, "RarR",
     {"nest", "main"}},
    // R> is take's tail jump: the chain still names take.
    {"loop-underflow", ": take R> ;\n: main take 0 ;\n", FaultKind::LoopStackUnderflow, "RRar", {"take", "main"}, "",
     "main", std::vector<std::string>{}},
    {"stray-store", "VARIABLE v\n: poke 5 v 100 M+ C! ;\n: main poke 0 ;\n", FaultKind::StrayStore, "Cstr",
     {"poke", "main"}, "store outside any variable at $0", "main", std::vector<std::string>{}},
    {"recursion", ": deep deep 0 ;\n: main deep 0 ;\n", FaultKind::HardwareStackOverflow, "deep", {"deep", "deep"}},
    {"unused-flash", ": far\n$ ldi ZL,low(2000)\n$ ldi ZH,high(2000)\n$ ijmp\n;\n: main far 0 ;\n",
     FaultKind::UnusedFlash, "far", {"main"}, "jump into unused flash at $07D0 in far: "},
    {"illegal", ": bad\n$ .dw 0x0001\n;\n: main bad 0 ;\n", FaultKind::IllegalInstruction, "bad", {"main"},
     "illegal instruction $0001 at $"},
    {"watchdog", ": guard\n{WATCHDOG};\n: main guard BEGIN AGAIN ;\n", FaultKind::Watchdog, "main", {}},
    {"sleep-forever", ": nap\n$ sei\n{SLEEP};\n: main nap 0 ;\n", FaultKind::SleepForever, "nap", {"main"}},
    {"sleep-off", ": nap\n{SLEEP};\n: main nap 0 ;\n", FaultKind::SleepInterruptsOff, "nap", {"main"}},
};

TEST_P(Run, EachFaultNamedWithItsWord)
{
    for (const FaultCase& c : FaultCases) {
        SCOPED_TRACE(c.name);
        const RunReport r = run(c.name, c.source);
        ASSERT_EQ(r.stopped, StopReason::Fault) << StopReasonName(r.stopped);
        EXPECT_EQ(r.faultKind, c.kind) << r.fault;
        ASSERT_TRUE(r.faultWord);
        const std::string word = optimised() && c.optWord ? c.optWord : c.word;
        const auto& callers = optimised() && c.optCallers ? *c.optCallers : c.callers;
        EXPECT_EQ(r.faultWord->name, word) << r.fault;
        EXPECT_NE(r.fault.find(" in " + word), std::string::npos) << r.fault;
        std::string text = c.text;
        if (const auto at = text.find(" in " + std::string(c.word)); at != std::string::npos)
            text.replace(at + 4, std::string(c.word).size(), word);
        EXPECT_EQ(r.fault.rfind(text, 0), 0u) << r.fault;
        ASSERT_GE(r.callers.size(), callers.size());
        for (std::size_t i = 0; i < callers.size(); ++i)
            EXPECT_EQ(r.callers[i].name, callers[i]) << "caller " << i;
        EXPECT_EQ(SelfSum(r), r.cycles);
    }
}

TEST_P(Run, LimitsAndStop)
{
    RunOptions o;
    o.maxCycles = 100000;
    RunReport r = run("forever", ": main BEGIN AGAIN ;\n", o);
    EXPECT_EQ(r.stopped, StopReason::Limit);
    EXPECT_GE(r.cycles, 100000u);
    EXPECT_LT(r.cycles, 100004u);
    EXPECT_EQ(SelfSum(r), r.cycles);

    o = {};
    o.maxSeconds = 0.001;
    r = run("forever", ": main BEGIN AGAIN ;\n", o);
    EXPECT_EQ(r.stopped, StopReason::Limit);
    EXPECT_NEAR(r.seconds, 0.001, 1e-6);

    std::atomic<bool> stop{true};
    o = {};
    o.stop = &stop;
    o.maxSeconds = 10;
    r = run("forever", ": main BEGIN AGAIN ;\n", o);
    EXPECT_EQ(r.stopped, StopReason::Stopped);
    EXPECT_LT(r.seconds, 0.1);

    // The clock sets how much time a cycle is.
    o = {};
    o.clockHz = 1000000;
    o.maxSeconds = 0.01;
    r = run("forever", ": main BEGIN AGAIN ;\n", o);
    EXPECT_NEAR(double(r.cycles), 10000, 4);
}

TEST_P(Run, CallsThatNeverReturnKeepTheProfileBounded)
{
    // Each round resets the stack pointer and calls again: a million calls,
    // none returning, the stack never overflowing.
    RunOptions o;
    o.maxCycles = 4'000'000;
    const RunReport r = run("respin",
                            ": spin\n$ ldi r20,low(RAMEND)\n$ out SPL,r20\n$ ldi r20,high(RAMEND)\n$ out SPH,r20\n"
                            "spin 0 ;\n: main spin ;\n",
                            o);
    EXPECT_EQ(r.stopped, StopReason::Limit) << r.fault;
    EXPECT_EQ(SelfSum(r), r.cycles);
    const ProfileEntry* spin = Profiled(r, "spin");
    ASSERT_TRUE(spin);
    EXPECT_GT(spin->calls, 300000u);
    EXPECT_LE(spin->total, r.cycles);
}

INSTANTIATE_TEST_SUITE_P(Devices, Run, ::testing::ValuesIn(runtest::Settings()),
                         [](const auto& info) { return runtest::SettingName(info.param); });

TEST(Stimulus, ParsesPinsAndTimes)
{
    struct Good {
        const char* text;
        char port;
        int bit, level;
        double seconds;
    };
    for (const Good& g : {Good{"PD2=0@10ms", 'D', 2, 0, 0.010}, Good{"pb7=1@2s", 'B', 7, 1, 2.0},
                          Good{"PC0=1@250us", 'C', 0, 1, 250e-6}, Good{"PA3=0@0ns", 'A', 3, 0, 0}}) {
        std::string error;
        const auto p = ParsePinStimulus(g.text, error);
        ASSERT_TRUE(p) << g.text << ": " << error;
        EXPECT_EQ(p->port, g.port);
        EXPECT_EQ(p->bit, g.bit);
        EXPECT_EQ(p->level, g.level);
        EXPECT_NEAR(p->seconds, g.seconds, 1e-12);
    }
    for (const char* bad : {"PD8=0@1ms", "PD2=2@1ms", "PD2=0", "D2=0@1ms", "PD2=0@10", "PD2=0@-1ms", "PD2=0@ms",
                            "PZ1=0@1ms", "PD2=0@1xs"}) {
        std::string error;
        EXPECT_FALSE(ParsePinStimulus(bad, error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

TEST(Report, TextAndVcdOfARun)
{
    RunReport r;
    r.stopped = StopReason::Fault;
    r.fault = "data stack underflow in DROP (line 3)";
    r.callers = {WordAt{"oops", 3, 0}, WordAt{"main", 4, 0}};
    r.device = "ATmega328P";
    r.clockHz = 16000000;
    r.cycles = 1600;
    r.seconds = 1e-4;
    r.variables = {VariableValue{"count", 0x100, 1, {5}}, VariableValue{"wide", 0x101, 2, {0x34, 0x12}}};
    r.stack = {1, 2};
    r.uart = "ok\r\n";
    // PB5 changed five times, the last two beyond what was kept.
    r.pins = {PinTrace{"PB5", {{160, 1}, {320, 0}, {480, 1}}, 5}, PinTrace{"PD2", {{160, 1}}, 1}};
    r.profile = {ProfileEntry{"main", 4, 1000, 1600, 1}, ProfileEntry{"DROP", 0, 600, 600, 2}};

    ReportStyle style;
    style.words16 = true;
    style.pinChanges = 2;
    const std::string text = FormatReport(r, style);
    for (const char* expected : {"Stopped: fault: data stack underflow in DROP (line 3)\n", "  called from oops (line 3)\n",
                                 "Cycles: 1600 (100 us at 16 MHz on the ATmega328P)", "count $0100  5 ($05)\n",
                                 "wide  $0101  52 18   16-bit: 4660\n", "Data stack (bottom first): 1 2\n",
                                 "UART0:\nok\n", "PB5 5 changes: 1@10 us 0@20 us ...\n", "PD2 1 change: 1@10 us\n",
                                 "main", "62.5%"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n---\n" << text;

    const mirtolan::test::TempDir tmp;
    const std::string vcd = tmp / "run.vcd";
    std::string error;
    ASSERT_TRUE(WriteVcd(r, vcd, error)) << error;
    std::stringstream in;
    in << std::ifstream(vcd).rdbuf();
    const std::string body = in.str();
    for (const char* expected : {"$timescale 1 ns $end", "$var wire 1 ! PB5 $end", "$var wire 1 \" PD2 $end",
                                 "#10000\n1!\n1\"\n#20000\n0!\n#30000\n1!\n#100000\n"})
        EXPECT_NE(body.find(expected), std::string::npos) << expected << "\n---\n" << body;
}

} // namespace

namespace {

TEST(RunCli, TakesTheRunOptionsAndLeavesTheRest)
{
    const std::vector<std::string> args{"--run", "--clock", "1000000", "--time=20ms", "--cycles", "5000",
                                        "--pin", "PD2=0@1ms", "--pin=PB1=1@2ms", "--uart-in", "hi",
                                        "--vcd", "out.vcd", "--json", "--words16", "--zcall", "x.4th"};
    RunCliOptions o;
    std::size_t taken = 0, i = 0;
    for (; i < args.size(); ++i) {
        std::string error;
        if (!ParseRunOption(args, i, o, error))
            break;
        EXPECT_EQ(error, "") << args[i];
        ++taken;
    }
    EXPECT_EQ(args[i], "--zcall");
    EXPECT_EQ(taken, 10u);
    EXPECT_TRUE(o.run && o.json && o.style.words16);
    EXPECT_EQ(o.options.clockHz, 1000000u);
    EXPECT_NEAR(o.options.maxSeconds, 0.02, 1e-12);
    EXPECT_EQ(o.options.maxCycles, 5000u);
    ASSERT_EQ(o.options.pins.size(), 2u);
    EXPECT_EQ(o.options.pins[1].port, 'B');
    EXPECT_EQ(o.options.uartIn, "hi");
    EXPECT_EQ(o.vcd, "out.vcd");

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--clock", "0"}, {"--clock", "16MHz"}, {"--time", "2"}, {"--cycles", "-5"}, {"--pin", "PD9=0@1ms"},
             {"--vcd"}}) {
        RunCliOptions b;
        std::string error;
        std::size_t k = 0;
        EXPECT_TRUE(ParseRunOption(bad, k, b, error)) << bad[0];
        EXPECT_NE(error, "") << bad[0];
    }
}

// Times become cycles rounded to the nearest, never cut: 10.5 ms at 16 MHz
// is 167999.99999999997 cycles in doubles, and cycle 168,000 it is.
TEST(RunPlan, TimesRoundToTheNearestCycle)
{
    const Device& d = *FindDevice("atmega328p");
    const struct {
        double seconds;
        std::uint32_t clock;
        std::uint64_t cycles;
    } cases[] = {
        {0.0105, 16'000'000, 168'000}, {62.5e-9, 16'000'000, 1}, {0.7, 8'000'000, 5'600'000},
        {0.29e-6, 10'000'000, 3},      {3.0, 16'000'000, 48'000'000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SecondsToCycles(c.seconds, c.clock), c.cycles) << c.seconds;
        RunOptions o;
        o.clockHz = c.clock;
        o.maxSeconds = c.seconds;
        o.pins = {PinStimulus{'D', 2, 1, c.seconds}};
        std::string error;
        const auto plan = PlanRun(o, d, error);
        ASSERT_TRUE(plan) << error;
        EXPECT_EQ(plan->limit, c.cycles) << c.seconds;
        EXPECT_EQ(plan->pins.at(0).first, c.cycles) << c.seconds;
    }
    EXPECT_FALSE(SecondsToCycles(1e30, 16'000'000));

    // The pin lands on its cycle in a run, too.
    const BuildResult b = runtest::BuildForTest("pin-cycle", ": main\n$ _w: nop\n$ nop\n$ nop\n$ rjmp _w\n;\n", d);
    RunOptions o;
    o.maxSeconds = 0.011;
    o.pins = {PinStimulus{'D', 2, 1, 0.0105}};
    const RunReport r = RunProgram(b, o);
    ASSERT_EQ(r.stopped, StopReason::Limit) << r.error;
    ASSERT_EQ(r.pins.size(), 1u);
    EXPECT_GE(r.pins[0].changes.at(0).first, 168'000u);
    EXPECT_LE(r.pins[0].changes.at(0).first, 168'001u);
}

// A pin that toggles without end fills the cap of kept changes: the report
// says where recording stopped, and the VCD marks every pin unknown from there.
TEST(RunReportCap, WhereRecordingStoppedIsMarked)
{
    const BuildResult b = runtest::BuildForTest("toggle", ": main\n$ sbi DDRB,0\n$ _t: sbi PINB,0\n$ rjmp _t\n;\n",
                                                *FindDevice("atmega328p"));
    RunOptions o;
    o.maxCycles = 4 * MaxPinChangesKept + 100'000; // four cycles a toggle
    const RunReport r = RunProgram(b, o);
    ASSERT_EQ(r.stopped, StopReason::Limit) << r.error;
    const PinTrace* pb0 = Pin(r, "PB0");
    ASSERT_TRUE(pb0);
    EXPECT_EQ(pb0->changes.size(), MaxPinChangesKept);
    EXPECT_GT(pb0->count, MaxPinChangesKept);
    ASSERT_TRUE(r.pinsCutAt);
    EXPECT_GT(*r.pinsCutAt, pb0->changes.back().first);
    EXPECT_NE(FormatReport(r, {}).find("(the first 4000000 changes were kept; recording stopped at "), std::string::npos);
    EXPECT_NE(ReportJson(r, {}).find("\"pinsCutAt\": " + std::to_string(*r.pinsCutAt)), std::string::npos);

    const mirtolan::test::TempDir tmp;
    std::string error;
    ASSERT_TRUE(WriteVcd(r, tmp / "cap.vcd", error)) << error;
    std::stringstream in;
    in << std::ifstream(tmp / "cap.vcd").rdbuf();
    const std::string vcd = in.str();
    const auto mark = vcd.find("$comment recording stopped here");
    ASSERT_NE(mark, std::string::npos);
    const std::string when = "#" + std::to_string((*r.pinsCutAt * 1000 + 8) / 16) + "\n";
    EXPECT_EQ(vcd.rfind(when, mark), mark - when.size());
    EXPECT_EQ(vcd.find("x!\n", mark), vcd.find("\n", mark) + 1);
}

TEST(RunCli, ReportExitStatusAndFaultLine)
{
    const Device& d = *FindDevice("atmega328p");
    RunCliOptions o;
    o.json = true;
    const mirtolan::test::TempDir tmp;
    o.vcd = tmp / "cli.vcd";
    std::ostringstream out, err;
    EXPECT_EQ(RunAndReport(runtest::BuildForTest("cli-ok", ": main 1\n$ sbi DDRB,5\n$ sbi PORTB,5\n;\n", d), "ok.4th", o,
                           out, err),
              0);
    EXPECT_EQ(out.str().rfind("{\"stopped\": \"halted\"", 0), 0u) << out.str();
    EXPECT_NE(out.str().find("\"pins\": [{\"pin\": \"PB5\", \"count\": 1, \"changes\": [["), std::string::npos)
        << out.str();
    EXPECT_EQ(err.str(), "");
    std::stringstream vcd;
    vcd << std::ifstream(o.vcd).rdbuf();
    EXPECT_NE(vcd.str().find("PB5 $end"), std::string::npos);

    // A fault: exit 3, and the faulting word's line as an editor reads it.
    BuildResult b = runtest::BuildForTest("cli-fault", ": oops DROP DROP 0 ;\n: main 1 oops 0 ;\n", d);
    for (ProgramWord& w : b.words)
        if (w.name == "oops")
            w.line = 1;
    o = {};
    out.str("");
    err.str("");
    EXPECT_EQ(RunAndReport(b, "f.4th", o, out, err), CliRunFault);
    EXPECT_EQ(out.str().rfind("Stopped: fault: data stack underflow", 0), 0u) << out.str();
    EXPECT_NE(out.str().find("  called from oops (line 1)\n"), std::string::npos) << out.str();
    EXPECT_EQ(err.str(), "f.4th: error: the program faulted: data stack underflow in DROP: more cells taken than were "
                         "on the stack\n");

    // No run-time header: nothing runs.
    b.symbols.erase("DATA_STACK_TOP");
    err.str("");
    EXPECT_EQ(RunAndReport(b, "f.4th", o, out, err), 2);
    EXPECT_NE(err.str().find("no run-time header"), std::string::npos);
}

} // namespace
