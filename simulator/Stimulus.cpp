#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Simulator.h"

namespace mirtolan {

namespace {

struct TimeUnit {
    std::string_view suffix; // as written after the number
    double seconds;          // one of the unit in seconds
};
// Longest suffix first, so "ms" is not read as "s".
constexpr TimeUnit TimeUnits[] = {
    {"ms", 1e-3}, {"us", 1e-6}, {"ns", 1e-9}, {"s", 1.0},
};

} // namespace

std::optional<double> ParseDuration(std::string_view text, std::string& error)
{
    for (const TimeUnit& u : TimeUnits) {
        if (text.size() <= u.suffix.size() || text.substr(text.size() - u.suffix.size()) != u.suffix)
            continue;
        const std::string number(text.substr(0, text.size() - u.suffix.size()));
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (end && *end == '\0' && !number.empty() && value >= 0 && std::isfinite(value * u.seconds) &&
            std::isdigit(static_cast<unsigned char>(number[0])))
            return value * u.seconds;
        break;
    }
    error = "bad time '" + std::string(text) + "': give a number and s, ms, us or ns (2s, 10ms)";
    return std::nullopt;
}

std::optional<std::uint64_t> SecondsToCycles(double seconds, std::uint32_t clockHz)
{
    // Rounded, not cut: 10.5 ms at 16 MHz is 167999.99999999997 in doubles.
    const double cycles = std::nearbyint(seconds * double(clockHz));
    if (!std::isfinite(cycles) || cycles < 0 || cycles > double(MaxRunCycles))
        return std::nullopt;
    return std::uint64_t(cycles);
}

std::string FormatSeconds(double seconds)
{
    struct Scale {
        double unit;      // one of the unit in seconds
        const char* name; // its symbol
    };
    static constexpr Scale Scales[] = {{1, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}};
    const Scale* scale = &Scales[std::size(Scales) - 1];
    for (const Scale& sc : Scales)
        if (seconds >= sc.unit) {
            scale = &sc;
            break;
        }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g %s", seconds / scale->unit, scale->name);
    return buf;
}

std::optional<RunPlan> PlanRun(const RunOptions& options, const Device& device, std::string& error)
{
    RunPlan plan;
    plan.clockHz = options.clockHz ? options.clockHz : device.clockHz;
    const double cycleSeconds = 1.0 / plan.clockHz;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%.6g MHz", plan.clockHz / 1e6);
    const std::string range = "from one cycle (" + FormatSeconds(cycleSeconds) + " at " + clock + ") to 2^63 cycles (" +
                              FormatSeconds(double(MaxRunCycles) * cycleSeconds) + ")";
    std::uint64_t limit = 0;
    if (options.maxCycles) {
        if (options.maxCycles > MaxRunCycles) {
            error = "the cycle limit " + std::to_string(options.maxCycles) + " is too long: a run lasts " + range;
            return std::nullopt;
        }
        limit = options.maxCycles;
    }
    if (options.maxSeconds > 0) {
        const auto byTime = SecondsToCycles(options.maxSeconds, plan.clockHz);
        if (!byTime || *byTime == 0) {
            error = "the time limit " + FormatSeconds(options.maxSeconds) +
                    (byTime ? " is less than one cycle" : " is too long") + ": a run lasts " + range;
            return std::nullopt;
        }
        limit = limit ? std::min(limit, *byTime) : *byTime;
    }
    if (!limit)
        limit = *SecondsToCycles(DefaultRunSeconds, plan.clockHz);
    plan.limit = limit;
    for (const PinStimulus& p : options.pins) {
        const auto at = SecondsToCycles(p.seconds, plan.clockHz);
        if (!at || *at > limit) {
            error = "the pin change " + PinName(p.port, p.bit) + "=" + char('0' + p.level) + "@" +
                    FormatSeconds(p.seconds) + " comes after the run's end: give a time from 0 to " +
                    FormatSeconds(double(limit) * cycleSeconds) + ", or a longer run (--time, --cycles)";
            return std::nullopt;
        }
        plan.pins.emplace_back(*at, p);
    }
    for (const AdcStimulus& a : options.adc) {
        const auto at = SecondsToCycles(a.seconds, plan.clockHz);
        if (!at || *at > limit) {
            error = "the ADC input ADC" + std::to_string(a.channel) + " at " + FormatSeconds(a.seconds) +
                    " comes after the run's end: give a time from 0 to " + FormatSeconds(double(limit) * cycleSeconds) +
                    ", or a longer run (--time, --cycles)";
            return std::nullopt;
        }
        plan.adc.emplace_back(*at, a);
    }
    const auto byCycle = [](const auto& a, const auto& b) { return a.first < b.first; };
    std::stable_sort(plan.pins.begin(), plan.pins.end(), byCycle);
    std::stable_sort(plan.adc.begin(), plan.adc.end(), byCycle);
    return plan;
}

std::string PinName(char port, int bit) { return std::string("P") + port + char('0' + bit); }

std::optional<PinStimulus> ParsePinStimulus(std::string_view text, std::string& error)
{
    const auto bad = [&] {
        error = "bad pin stimulus '" + std::string(text) + "': write it as PD2=0@10ms (pin, level 0 or 1, time)";
        return std::nullopt;
    };
    const std::size_t eq = text.find('='), at = text.find('@');
    if (eq != 3 || at != 5 || (text[0] != 'P' && text[0] != 'p'))
        return bad();
    PinStimulus p;
    p.port = char(std::toupper(static_cast<unsigned char>(text[1])));
    if (p.port < 'A' || p.port > 'L' || text[2] < '0' || text[2] > '7' || (text[4] != '0' && text[4] != '1'))
        return bad();
    p.bit = text[2] - '0';
    p.level = text[4] - '0';
    std::string timeError;
    const auto t = ParseDuration(text.substr(6), timeError);
    if (!t) {
        error = "bad pin stimulus '" + std::string(text) + "': " + timeError;
        return std::nullopt;
    }
    p.seconds = *t;
    return p;
}

std::optional<AdcStimulus> ParseAdcStimulus(std::string_view text, std::string& error)
{
    const auto bad = [&](const std::string& why) {
        error = "bad ADC input '" + std::string(text) + "': " + why;
        return std::nullopt;
    };
    constexpr std::string_view Prefix = "ADC";
    // The channels the simulated ADCs have (ADC0 to ADC15) and the 5 V they measure against.
    constexpr int MaxChannel = 15; // the devices' multiplexers; the simulator checks its own chip
    constexpr double ReferenceVolts = 5.0;
    const std::size_t eq = text.find('='), at = text.find('@');
    if (text.size() < Prefix.size() || eq == std::string_view::npos || at == std::string_view::npos || at < eq)
        return bad("write it as ADC0=2.5@10ms (channel, volts, time)");
    for (std::size_t i = 0; i < Prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != Prefix[i])
            return bad("write it as ADC0=2.5@10ms (channel, volts, time)");
    AdcStimulus a;
    const std::string_view channel = text.substr(Prefix.size(), eq - Prefix.size());
    const auto [end, ec] = std::from_chars(channel.data(), channel.data() + channel.size(), a.channel);
    if (ec != std::errc() || end != channel.data() + channel.size() || a.channel < 0 || a.channel > MaxChannel)
        return bad("the channel is ADC0 to ADC" + std::to_string(MaxChannel));
    const std::string volts(text.substr(eq + 1, at - eq - 1));
    char* stop = nullptr;
    a.volts = std::strtod(volts.c_str(), &stop);
    if (volts.empty() || !stop || *stop != '\0' || !(a.volts >= 0 && a.volts <= ReferenceVolts))
        return bad("the voltage is a number from 0 to 5 (volts)");
    std::string timeError;
    const auto t = ParseDuration(text.substr(at + 1), timeError);
    if (!t)
        return bad(timeError);
    a.seconds = *t;
    return a;
}

} // namespace mirtolan
