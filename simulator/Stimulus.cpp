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

} // namespace mirtolan
