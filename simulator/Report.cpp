#include <cstdio>
#include <string>

#include "Compiler.h"
#include "Simulator.h"
#include "TextFile.h"

namespace mirtolan {

namespace {

// Callers shown in a fault; a runaway recursion has hundreds.
constexpr std::size_t CallersShown = 8;
// EEPROM bytes shown on one line of the text report.
constexpr std::size_t EepromBytesPerLine = 16;

struct StopName {
    StopReason reason; // why a run ended
    const char* name;  // as the JSON report spells it
};
constexpr StopName StopNames[] = {
    {StopReason::Halted, "halted"}, {StopReason::Limit, "limit"}, {StopReason::Stopped, "stopped"},
    {StopReason::Fault, "fault"},   {StopReason::Error, "error"},
};

std::string format(const char* fmt, auto... args)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string seconds(double s)
{
    if (s >= 1)
        return format("%.6g s", s);
    if (s >= 1e-3)
        return format("%.6g ms", s * 1e3);
    return format("%.6g us", s * 1e6);
}

// Two bytes at a time, low byte first, as AVR code keeps 16-bit values.
std::vector<unsigned> words16(const std::vector<std::uint8_t>& bytes)
{
    std::vector<unsigned> out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(bytes[i] | (bytes[i + 1] << 8));
    return out;
}

std::string printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\n' || u == '\t' || (u >= 32 && u != 127))
            out += c;
        else if (u != '\r')
            out += format("\\x%02X", u);
    }
    return out;
}

// The length of the UTF-8 sequence at s[i], 0 when none starts there
// (overlong forms, surrogates and values beyond U+10FFFF are none).
std::size_t utf8Length(std::string_view s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u; };
    const auto cont = [&](std::size_t k) { return (at(k) & 0xC0) == 0x80; };
    const unsigned b = at(0);
    if (b >= 0xC2 && b <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const bool ok = cont(1) && cont(2) && !(b == 0xE0 && at(1) < 0xA0) && !(b == 0xED && at(1) >= 0xA0);
        return ok ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const bool ok = cont(1) && cont(2) && cont(3) && !(b == 0xF0 && at(1) < 0x90) && !(b == 0xF4 && at(1) >= 0x90);
        return ok ? 4 : 0;
    }
    return 0;
}

bool isUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80)
            ++i;
        else if (const std::size_t n = utf8Length(s, i))
            i += n;
        else
            return false;
    }
    return true;
}

// Text of a source is bytes. Valid UTF-8 passes through as it is, as the
// window shows such a file; any other text is read as Latin-1, as the window
// reads it too, each byte above 127 escaped as its character. Either way
// the JSON stays valid UTF-8.
std::string jsonString(std::string_view s)
{
    const bool utf8 = isUtf8(s);
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 32 || u == 127 || (u > 127 && !utf8))
                out += format("\\u%04x", u);
            else
                out += c;
        }
    }
    return out + "\"";
}

std::string wordAt(const WordAt& w)
{
    return w.line > 0 ? w.name + " (line " + std::to_string(w.line) + ")" : w.name;
}

} // namespace

const char* StopReasonName(StopReason r)
{
    for (const StopName& s : StopNames)
        if (s.reason == r)
            return s.name;
    return "?";
}

std::string FormatReport(const RunReport& r, const ReportStyle& style)
{
    if (r.stopped == StopReason::Error)
        return "cannot run: " + r.error + "\n";
    std::string out;
    switch (r.stopped) {
    case StopReason::Halted: out += "Stopped: halted (main returned)\n"; break;
    case StopReason::Limit: out += "Stopped: limit reached\n"; break;
    case StopReason::Stopped: out += "Stopped: stopped by the user\n"; break;
    default: out += "Stopped: fault: " + r.fault + "\n"; break;
    }
    for (std::size_t i = 0; i < r.callers.size() && i < CallersShown; ++i)
        out += "  called from " + wordAt(r.callers[i]) + "\n";
    if (r.callers.size() > CallersShown)
        out += format("  ... and %zu more callers\n", r.callers.size() - CallersShown);
    out += format("Cycles: %llu (%s at %.6g MHz on the %s)\n", static_cast<unsigned long long>(r.cycles),
                  seconds(r.seconds).c_str(), r.clockHz / 1e6, r.device.c_str());

    if (!r.variables.empty()) {
        out += "Variables:\n";
        std::size_t width = 4;
        for (const VariableValue& v : r.variables)
            width = std::max(width, v.name.size());
        for (const VariableValue& v : r.variables) {
            out += format("  %-*s $%04X ", int(width), v.name.c_str(), v.address);
            if (r.cellBits == 16 && v.bytes.size() == 2) {
                const unsigned w = v.bytes[0] | (v.bytes[1] << 8);
                out += format(" %u ($%04X)", w, w);
            } else if (v.bytes.size() == 1) {
                out += format(" %u ($%02X)", v.bytes[0], v.bytes[0]);
            } else {
                for (const std::uint8_t b : v.bytes)
                    out += format(" %u", b);
            }
            if ((style.words16 && v.bytes.size() >= 2) || (r.cellBits == 16 && v.bytes.size() > 2)) {
                out += "   16-bit:";
                for (const unsigned w : words16(v.bytes))
                    out += format(" %u", w);
            }
            out += "\n";
        }
    }
    out += "Data stack (bottom first):";
    for (const std::uint32_t c : r.stack)
        out += format(" %u", c);
    if (!r.stacksSetUp)
        out += " not set up yet (the run ended in the start-up code, before main)";
    else if (r.stack.empty())
        out += " empty";
    if (r.stackUnderflow)
        out += format(" (%d cells taken beyond its bottom)", r.stackUnderflow);
    out += format("\nLoop stack depth: %d\n", r.loopStackDepth);
    if (!r.uart.empty())
        out += "UART0:\n" + printable(r.uart) + (r.uart.back() == '\n' ? "" : "\n");
    if (!r.eeprom.empty()) {
        // A run of bytes at consecutive addresses on one line, from the first one's address.
        out += format("EEPROM (%zu byte%s changed):", r.eeprom.size(), r.eeprom.size() == 1 ? "" : "s");
        std::size_t onLine = 0;
        for (std::size_t i = 0; i < r.eeprom.size(); ++i) {
            const bool follows = i > 0 && r.eeprom[i].address == r.eeprom[i - 1].address + 1;
            if (!follows || onLine == EepromBytesPerLine) {
                out += format("\n  $%04X", r.eeprom[i].address);
                onLine = 0;
            }
            out += format(" %u", r.eeprom[i].value);
            ++onLine;
        }
        out += "\n";
    }
    if (!r.pins.empty()) {
        out += "Pins:\n";
        for (const PinTrace& p : r.pins) {
            out += format("  %s %llu change%s:", p.name.c_str(), static_cast<unsigned long long>(p.count),
                          p.count == 1 ? "" : "s");
            for (std::size_t i = 0; i < p.changes.size() && i < style.pinChanges; ++i)
                out += format(" %d@%s", p.changes[i].second,
                              seconds(double(p.changes[i].first) / r.clockHz).c_str());
            if (p.count > style.pinChanges)
                out += " ...";
            out += "\n";
        }
        if (r.pinsCutAt)
            out += format("  (the first %zu changes were kept; recording stopped at %s)\n", MaxPinChangesKept,
                          seconds(double(*r.pinsCutAt) / r.clockHz).c_str());
    }
    if (!r.profile.empty()) {
        out += "Profile (cycles, largest first):\n";
        out += format("  %-20s %12s %6s %12s %10s\n", "word", "self", "%", "total", "calls");
        std::uint64_t rest = 0, restCalls = 0;
        for (std::size_t i = 0; i < r.profile.size(); ++i) {
            const ProfileEntry& e = r.profile[i];
            if (i >= style.profileRows) {
                rest += e.self;
                restCalls += e.calls;
                continue;
            }
            out += format("  %-20s %12llu %5.1f%% %12llu %10llu\n", e.word.c_str(),
                          static_cast<unsigned long long>(e.self), r.cycles ? 100.0 * e.self / r.cycles : 0.0,
                          static_cast<unsigned long long>(e.total), static_cast<unsigned long long>(e.calls));
        }
        if (r.profile.size() > style.profileRows)
            out += format("  %-20s %12llu %5.1f%% %12s %10llu\n", "(the others)", static_cast<unsigned long long>(rest),
                          r.cycles ? 100.0 * rest / r.cycles : 0.0, "", static_cast<unsigned long long>(restCalls));
    }
    return out;
}

std::string ReportJson(const RunReport& r, const ReportStyle& style)
{
    std::string o = "{";
    o += "\"stopped\": " + jsonString(StopReasonName(r.stopped));
    if (r.stopped == StopReason::Error)
        o += ", \"error\": " + jsonString(r.error);
    if (r.stopped == StopReason::Fault) {
        o += ", \"fault\": " + jsonString(r.fault);
        if (r.faultWord)
            o += ", \"faultWord\": {\"word\": " + jsonString(r.faultWord->name) +
                 ", \"line\": " + std::to_string(r.faultWord->line) + "}";
        o += ", \"callers\": [";
        for (std::size_t i = 0; i < r.callers.size(); ++i)
            o += std::string(i ? ", " : "") + "{\"word\": " + jsonString(r.callers[i].name) +
                 ", \"line\": " + std::to_string(r.callers[i].line) + "}";
        o += "]";
    }
    o += ", \"device\": " + jsonString(r.device);
    o += ", \"clock\": " + std::to_string(r.clockHz);
    o += ", \"cellBits\": " + std::to_string(r.cellBits);
    o += ", \"cycles\": " + std::to_string(r.cycles);
    o += ", \"seconds\": " + format("%.9g", r.seconds);
    o += ", \"variables\": [";
    for (std::size_t i = 0; i < r.variables.size(); ++i) {
        const VariableValue& v = r.variables[i];
        o += std::string(i ? ", " : "") + "{\"name\": " + jsonString(v.name) + ", \"address\": " +
             std::to_string(v.address) + ", \"line\": " + std::to_string(v.line) + ", \"bytes\": [";
        for (std::size_t k = 0; k < v.bytes.size(); ++k)
            o += std::string(k ? ", " : "") + std::to_string(v.bytes[k]);
        o += "]";
        if (style.words16 || r.cellBits == 16) {
            o += ", \"words16\": [";
            const auto w = words16(v.bytes);
            for (std::size_t k = 0; k < w.size(); ++k)
                o += std::string(k ? ", " : "") + std::to_string(w[k]);
            o += "]";
        }
        o += "}";
    }
    o += "], \"stack\": [";
    for (std::size_t i = 0; i < r.stack.size(); ++i)
        o += std::string(i ? ", " : "") + std::to_string(r.stack[i]);
    o += "], \"stackUnderflow\": " + std::to_string(r.stackUnderflow);
    o += ", \"loopStackDepth\": " + std::to_string(r.loopStackDepth);
    o += ", \"stacksSetUp\": " + std::string(r.stacksSetUp ? "true" : "false");
    o += ", \"uart\": " + jsonString(r.uart);
    o += ", \"eeprom\": [";
    for (std::size_t i = 0; i < r.eeprom.size(); ++i)
        o += std::string(i ? ", " : "") + "{\"address\": " + std::to_string(r.eeprom[i].address) +
             ", \"value\": " + std::to_string(r.eeprom[i].value) + "}";
    o += "]";
    o += ", \"pins\": [";
    for (std::size_t i = 0; i < r.pins.size(); ++i) {
        o += std::string(i ? ", " : "") + "{\"pin\": " + jsonString(r.pins[i].name) +
             ", \"count\": " + std::to_string(r.pins[i].count) + ", \"changes\": [";
        for (std::size_t k = 0; k < r.pins[i].changes.size(); ++k)
            o += std::string(k ? ", " : "") + "[" + std::to_string(r.pins[i].changes[k].first) + ", " +
                 std::to_string(r.pins[i].changes[k].second) + "]";
        o += "]}";
    }
    o += "]";
    if (r.pinsCutAt)
        o += ", \"pinsCutAt\": " + std::to_string(*r.pinsCutAt);
    o += ", \"profile\": [";
    for (std::size_t i = 0; i < r.profile.size(); ++i) {
        const ProfileEntry& e = r.profile[i];
        o += std::string(i ? ", " : "") + "{\"word\": " + jsonString(e.word) + ", \"line\": " + std::to_string(e.line) +
             ", \"self\": " + std::to_string(e.self) + ", \"total\": " + std::to_string(e.total) +
             ", \"calls\": " + std::to_string(e.calls) + "}";
    }
    o += "]}\n";
    return o;
}

bool WriteVcd(const RunReport& r, const std::string& path, std::string& error)
{
    // One identifier character per pin, from '!' on, as the format allows.
    constexpr char FirstId = '!';
    std::string out = "$date simulated run $end\n$version mirtolan $end\n$timescale 1 ns $end\n"
                      "$scope module " + std::string(r.device.empty() ? "chip" : r.device) + " $end\n";
    for (std::size_t i = 0; i < r.pins.size(); ++i)
        out += format("$var wire 1 %c %s $end\n", char(FirstId + i), r.pins[i].name.c_str());
    out += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (std::size_t i = 0; i < r.pins.size(); ++i)
        out += format("0%c\n", char(FirstId + i));
    out += "$end\n";
    // Merge the pins' changes into one time order.
    std::vector<std::tuple<std::uint64_t, int, std::size_t>> all;
    for (std::size_t i = 0; i < r.pins.size(); ++i)
        for (const auto& [cycle, level] : r.pins[i].changes)
            all.emplace_back(cycle, level, i);
    std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
    // Cycles to the file's nanoseconds, rounded, in integers: a double
    // would cut 10.5 ms to 10499999 ns.
    const auto nanoseconds = [&](std::uint64_t cycle) {
        const unsigned __int128 scaled = static_cast<unsigned __int128>(cycle) * 1'000'000'000u + r.clockHz / 2;
        return static_cast<std::uint64_t>(scaled / r.clockHz);
    };
    std::uint64_t last = ~std::uint64_t(0);
    const auto at = [&](std::uint64_t cycle) {
        const std::uint64_t ns = nanoseconds(cycle);
        if (ns != last)
            out += "#" + std::to_string(ns) + "\n";
        last = ns;
    };
    for (const auto& [cycle, level, i] : all) {
        at(cycle);
        out += format("%d%c\n", level, char(FirstId + i));
    }
    // Where the recording stopped, every pin is unknown from there on, so
    // a viewer does not show the last kept levels as if they held.
    if (r.pinsCutAt) {
        at(*r.pinsCutAt);
        out += format("$comment recording stopped here: only the first %zu pin changes are kept $end\n",
                      MaxPinChangesKept);
        for (std::size_t i = 0; i < r.pins.size(); ++i)
            out += format("x%c\n", char(FirstId + i));
    }
    at(r.cycles);
    try {
        WriteFileSafely(path, out);
    } catch (const CompileError& e) {
        error = e.what();
        return false;
    }
    return true;
}

} // namespace mirtolan
