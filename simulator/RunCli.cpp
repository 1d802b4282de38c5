#include "RunCli.h"

#include <charconv>
#include <optional>

namespace mirtolan {

namespace {

constexpr int CliRunError = 2; // as the tool's "nothing written"

// "--name VALUE" or "--name=VALUE".
std::optional<std::string> valueOf(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                                   std::string& error)
{
    const std::string& a = args[i];
    if (a == name) {
        if (i + 1 >= args.size()) {
            error = "option " + name + " needs a value";
            return std::string();
        }
        return args[++i];
    }
    if (a.rfind(name + "=", 0) == 0)
        return a.substr(name.size() + 1);
    return std::nullopt;
}

std::optional<std::uint64_t> number(const std::string& text)
{
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return v;
}

// Clocks a chip can run at: above zero, within what an AVR takes.
constexpr std::uint64_t MaxClockHz = 100'000'000;

} // namespace

const char* const RunUsage =
    "      --run          build, then run the program in the simulator and print\n"
    "                     a report: why it stopped, cycles and time, variables,\n"
    "                     data stack, UART0 text, pin changes, profile\n"
    "      --clock HZ     the simulated clock (default: the device's)\n"
    "      --time T       stop after T of simulated time (2s, 10ms, 500us;\n"
    "                     default 3s), one cycle to 2^63 cycles\n"
    "      --cycles N     stop after N cycles (1 to 2^63)\n"
    "      --pin PIN=L@T  drive pin PIN (PD2) to level L (0 or 1) at time T\n"
    "                     (PD2=0@10ms), within the run; may be given many times\n"
    "      --uart-in TEXT feed TEXT to UART0's receiver at the program's baud\n"
    "      --adc ADCn=V@T put V volts on the ADC input ADCn at time T\n"
    "                     (ADC0=2.5@10ms; the reference is 5 V); may be repeated\n"
    "      --vcd FILE     write every pin change to FILE (Value Change Dump)\n"
    "      --json         print the report as one JSON object\n"
    "      --words16      show variables also as 16-bit values (low byte first)\n";

bool ParseRunOption(const std::vector<std::string>& args, std::size_t& i, RunCliOptions& o, std::string& error)
{
    const std::string& a = args[i];
    if (a == "--run") {
        o.run = true;
    } else if (a == "--json") {
        o.json = true;
    } else if (a == "--words16") {
        o.style.words16 = true;
    } else if (auto v = valueOf(args, i, "--clock", error)) {
        const auto hz = number(*v);
        if (error.empty() && (!hz || *hz == 0 || *hz > MaxClockHz))
            error = "bad clock '" + *v + "': give it in Hz, as 16000000";
        else if (hz)
            o.options.clockHz = std::uint32_t(*hz);
    } else if (auto v2 = valueOf(args, i, "--time", error)) {
        if (error.empty())
            if (const auto t = ParseDuration(*v2, error)) {
                // 0 would mean "no time limit given" to the run.
                if (*t == 0)
                    error = "bad time '" + *v2 + "': a run lasts at least one cycle (and at most 2^63); give a time above 0";
                o.options.maxSeconds = *t;
            }
    } else if (auto v3 = valueOf(args, i, "--cycles", error)) {
        const auto n = number(*v3);
        if (error.empty() && (!n || *n == 0 || *n > MaxRunCycles))
            error = "bad cycle count '" + *v3 + "': give a whole number from 1 to 2^63 (9223372036854775808)";
        else if (n)
            o.options.maxCycles = *n;
    } else if (auto v4 = valueOf(args, i, "--pin", error)) {
        if (error.empty())
            if (const auto p = ParsePinStimulus(*v4, error))
                o.options.pins.push_back(*p);
    } else if (auto va = valueOf(args, i, "--adc", error)) {
        if (error.empty())
            if (const auto p = ParseAdcStimulus(*va, error))
                o.options.adc.push_back(*p);
    } else if (auto v5 = valueOf(args, i, "--uart-in", error)) {
        o.options.uartIn = *v5;
    } else if (auto v6 = valueOf(args, i, "--vcd", error)) {
        if (error.empty() && v6->empty())
            error = "option --vcd needs a file name";
        o.vcd = *v6;
    } else {
        return false;
    }
    return true;
}

int RunAndReport(const BuildResult& program, const std::string& sourceFile, const RunCliOptions& o, std::ostream& out,
                 std::ostream& err, const std::atomic<bool>* stop)
{
    RunOptions options = o.options;
    options.stop = stop;
    const RunReport report = RunProgram(program, options);
    if (report.stopped == StopReason::Error) {
        err << "mirtolanc: error: " << report.error << "\n";
        return CliRunError;
    }
    out << (o.json ? ReportJson(report, o.style) : FormatReport(report, o.style)) << std::flush;
    if (!o.vcd.empty()) {
        std::string error;
        if (!WriteVcd(report, o.vcd, error)) {
            err << "mirtolanc: error: " << error << "\n";
            return CliRunError;
        }
    }
    if (report.stopped == StopReason::Fault) {
        // Also as an editor reads it, at the faulting word's definition.
        Diagnostic d;
        d.file = sourceFile;
        d.line = report.faultWord ? report.faultWord->line : 0;
        d.text = "the program faulted: " + report.fault;
        err << d.format() << "\n";
        return CliRunFault;
    }
    return 0;
}

} // namespace mirtolan
