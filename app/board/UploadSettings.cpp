#include "UploadSettings.h"

namespace mirtolan {
namespace {

constexpr std::string_view Section = "Upload";
// Beyond this no serial line runs; a bigger number is a damaged file.
constexpr std::int32_t MaxBaud = 4'000'000;

unsigned ReadBaud(const IniFile& ini, std::string_view key, unsigned def)
{
    const std::int32_t v = ini.ReadInteger(Section, key, std::int32_t(def));
    return v >= 0 && v <= MaxBaud ? unsigned(v) : def;
}

} // namespace

UploadSettings ReadUploadSettings(const IniFile& ini)
{
    UploadSettings d;
    UploadSettings s;
    s.programmer = ini.ReadString(Section, "Programmer", d.programmer);
    if (s.programmer.empty())
        s.programmer = d.programmer;
    s.port = ini.ReadString(Section, "Port", d.port);
    s.baud = ReadBaud(ini, "Baud", d.baud);
    s.monitorBaud = ReadBaud(ini, "MonitorBaud", d.monitorBaud);
    if (s.monitorBaud == 0)
        s.monitorBaud = d.monitorBaud;
    return s;
}

void WriteUploadSettings(IniFile& ini, const UploadSettings& s)
{
    ini.WriteString(Section, "Programmer", s.programmer);
    ini.WriteString(Section, "Port", s.port);
    ini.WriteInteger(Section, "Baud", std::int32_t(s.baud));
    ini.WriteInteger(Section, "MonitorBaud", std::int32_t(s.monitorBaud));
}

} // namespace mirtolan
