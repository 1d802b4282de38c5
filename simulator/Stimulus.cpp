#include <cctype>
#include <charconv>
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
        if (end && *end == '\0' && !number.empty() && value >= 0 && std::isdigit(static_cast<unsigned char>(number[0])))
            return value * u.seconds;
        break;
    }
    error = "bad time '" + std::string(text) + "': give a number and s, ms, us or ns (2s, 10ms)";
    return std::nullopt;
}

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
